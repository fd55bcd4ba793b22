#pragma once

// Where results go, and how they are written.

#include "walk.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvek::cli {

// A file to process and the file its result goes to (empty when the result
// goes to standard output).
struct Task {
    FoundFile input;
    std::filesystem::path output;
};

// Each file's result under folder at the file's relative path, with the
// extension of the format; without a folder the tasks have no output file.
std::vector<Task> tasksFor(const std::vector<FoundFile>& files, const std::filesystem::path& folder,
                           const std::string& extension);

// The first output path that is one of the inputs, if any: writing it would
// destroy a photo before (or instead of) processing it.
std::optional<std::filesystem::path> outputOverwritingInput(const std::vector<Task>& tasks);

// Writes bytes to a hidden temporary file beside path and renames it to path,
// so that path never holds part of a file. Throws std::runtime_error on failure.
void writeFileAtomically(const std::filesystem::path& path, const std::string& bytes);

}  // namespace tarvek::cli
