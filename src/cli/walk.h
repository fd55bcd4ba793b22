#pragma once

// The files a command line names: files as given, folders searched recursively.

#include <filesystem>
#include <string>
#include <vector>

namespace tarvek::cli {

struct FoundFile {
    std::filesystem::path path;
    // path relative to the folder it was found in; a named file's own name.
    std::filesystem::path relative;
    // Named on the command line rather than found in a folder: such a file
    // that is not an image is a failure instead of being skipped.
    bool named = false;
    // Set for a folder that could not be listed: why not.
    std::string error;
};

// Every non-folder entry under paths, each folder's entries in name order, and
// each folder that cannot be listed (with its error).
// The folder excluded (where results go) is not entered, so that a second run
// does not take the first run's results as photos.
std::vector<FoundFile> findFiles(const std::vector<std::string>& paths, const std::filesystem::path& excluded);

}  // namespace tarvek::cli
