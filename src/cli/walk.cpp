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

std::vector<FoundFile> filesUnder(const fs::path& folder, const fs::path& excluded)
{
    std::vector<FoundFile> found;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (it->is_directory(error) && isExcluded(it->path(), excluded))
            it.disable_recursion_pending();
        else if (isCandidate(*it))
            found.push_back({it->path(), it->path().lexically_relative(folder), false});
    }
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
            found.push_back({path, path.filename(), true});
        }
    }
    return found;
}

}  // namespace tarvek::cli
