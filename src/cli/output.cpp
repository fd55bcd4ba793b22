#include "output.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <utility>
#include <set>
#include <stdexcept>
#include <system_error>

#include <signal.h>
#include <unistd.h>

namespace tarvek::cli {
namespace fs = std::filesystem;
namespace {

// Absolute and normalised without requiring the file to exist, so that an
// output that is not written yet compares with the inputs.
fs::path comparable(const fs::path& path)
{
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? fs::absolute(path).lexically_normal() : canonical;
}

// Unique per process and per call: two workers never share a temporary file.
// The writer's process id in the name tells a later run whether the file is
// still being written.
fs::path temporaryBeside(const fs::path& path)
{
    static std::atomic<unsigned> counter{0};
    const std::string name = "." + path.filename().string() + ".tarvek-" + std::to_string(getpid()) + "-" +
                             std::to_string(counter++) + ".part";
    return path.parent_path() / name;
}

// Whether name is a temporary file of temporaryBeside whose writer has ended
// without renaming it (killed, or its machine stopped). A writer that still
// runs, this process or another run into the same folder, keeps its files.
bool leftByEndedWriter(const std::string& name)
{
    static const std::regex pattern(R"(\..+\.tarvek-([0-9]{1,9})-[0-9]+\.part)");
    std::smatch match;
    if (!std::regex_match(name, match, pattern))
        return false;
    const pid_t writer = static_cast<pid_t>(std::stol(match[1].str()));
    return writer > 0 && writer != getpid() && kill(writer, 0) != 0 && errno == ESRCH;
}

std::runtime_error writeError(const fs::path& path)
{
    return std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

std::vector<Task> tasksFor(const std::vector<FoundFile>& files, const fs::path& folder, const std::string& extension)
{
    std::vector<Task> tasks;
    std::set<std::pair<fs::path, fs::path>> seen;  // input and output, comparable
    std::map<fs::path, fs::path> writers;          // each output, comparable, and the first file it is for
    for (const FoundFile& file : files) {
        Task task{file, {}, file.error};
        if (!folder.empty() && file.error.empty())
            task.output = (folder / file.relative).replace_extension(extension);
        const fs::path output = task.output.empty() ? fs::path() : comparable(task.output);
        if (file.error.empty() && !seen.emplace(comparable(file.path), output).second)
            continue;  // the same photo reached twice (named, and in a named folder) is done once
        if (!output.empty()) {
            const auto [writer, first] = writers.emplace(output, file.path);
            if (!first)
                task.refusal = "would overwrite " + task.output.string() + ", the result of " + writer->second.string();
        }
        tasks.push_back(std::move(task));
    }
    return tasks;
}

std::optional<fs::path> outputOverwritingInput(const std::vector<Task>& tasks)
{
    std::set<fs::path> inputs;
    for (const Task& task : tasks)
        inputs.insert(comparable(task.input.path));
    for (const Task& task : tasks)
        if (!task.output.empty() && inputs.count(comparable(task.output)))
            return task.output;
    return std::nullopt;
}

void removeLeftTemporaries(const fs::path& folder)
{
    std::error_code error;
    fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        if (entry->is_regular_file(ignored) && !entry->is_symlink(ignored) &&
            leftByEndedWriter(entry->path().filename().string()))
            fs::remove(entry->path(), ignored);
    }
}

void writeFileAtomically(const fs::path& path, const std::string& bytes)
{
    if (path.has_parent_path()) {
        std::error_code error;
        fs::create_directories(path.parent_path(), error);
        if (error)
            throw std::runtime_error("cannot create " + path.parent_path().string() + ": " + error.message());
    }
    const fs::path temporary = temporaryBeside(path);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            const auto error = writeError(path);
            fs::remove(temporary);
            throw error;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary);
        throw std::runtime_error("cannot write " + path.string() + ": " + error.message());
    }
}

}  // namespace tarvek::cli
