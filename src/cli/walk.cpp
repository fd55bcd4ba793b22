#include "walk.h"

#include <algorithm>
#include <system_error>

namespace tarvek::cli {
namespace fs = std::filesystem;
namespace {

bool isExcluded(const fs::path& path, const fs::path& excluded)
{
    std::error_code error;
    return !excluded.empty() && fs::equivalent(path, excluded, error);
}

// Regular files and symbolic links: a link that leads nowhere is reported as unreadable rather than
// silently passed over. Fifos, sockets and devices are left alone, since reading them could block.
bool isCandidate(const fs::directory_entry& entry)
{
    std::error_code error;
    return entry.is_symlink(error) ? !entry.is_directory(error) : entry.is_regular_file(error);
}

// A folder itself, not a link to one: links to folders are not followed, so that a link that
// leads back up the tree cannot make the walk endless.
bool isFolder(const fs::directory_entry& entry)
{
    std::error_code error;
    return !entry.is_symlink(error) && entry.is_directory(error);
}

// Appends the files under folder, with paths relative to top, and an entry with the error for
// each folder that cannot be listed, which would otherwise hide its photos without a word.
void addFilesUnder(const fs::path& folder, const fs::path& top, const fs::path& excluded, std::vector<FoundFile>& found)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (isFolder(*it)) {
            if (!isExcluded(it->path(), excluded))
                addFilesUnder(it->path(), top, excluded, found);
        } else if (isCandidate(*it)) {
            found.push_back({it->path(), it->path().lexically_relative(top), false, ""});
        }
    }
    if (error)
        found.push_back({folder, folder.lexically_relative(top), false, "cannot list the folder: " + error.message()});
}

std::vector<FoundFile> filesUnder(const fs::path& folder, const fs::path& excluded)
{
    std::vector<FoundFile> found;
    addFilesUnder(folder, folder, excluded, found);
    std::sort(found.begin(), found.end(), [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
    return found;
}

}  // namespace

std::vector<FoundFile> findFiles(const std::vector<std::string>& paths, const fs::path& excluded)
{
    std::vector<FoundFile> found;
    for (const fs::path path : paths) {
        if (fs::is_directory(path)) {
            const auto under = filesUnder(path, excluded);
            found.insert(found.end(), under.begin(), under.end());
        } else {
            found.push_back({path, path.filename(), true, ""});
        }
    }
    return found;
}

}  // namespace tarvek::cli
