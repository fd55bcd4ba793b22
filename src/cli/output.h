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
    // Why the task fails without being run ("" when it runs): its folder cannot be
    // listed, or an earlier task writes the same output.
    std::string refusal;
};

// Each file's result under folder at the file's relative path, with the
// extension of the format; without a folder the tasks have no output file.
// Decided before any work starts, so that nothing is overwritten in silence: a
// file whose output is already an earlier file's output (c1/doc.jpg and
// c1/doc.png, or a/doc.jpg and b/doc.jpg named) is refused, naming the
// earlier one; the same file reached twice for the same output gets one task.
std::vector<Task> tasksFor(const std::vector<FoundFile>& files, const std::filesystem::path& folder,
                           const std::string& extension);

// The first output path that is one of the inputs, if any: writing it would
// destroy a photo before (or instead of) processing it.
std::optional<std::filesystem::path> outputOverwritingInput(const std::vector<Task>& tasks);

// Removes, anywhere under folder, the hidden temporary files that an earlier
// run of this program left when it was killed before renaming them. Files of
// any other name, and those of a run still going, stay; what cannot be read or
// removed is passed over.
void removeLeftTemporaries(const std::filesystem::path& folder);

// Writes bytes to a hidden temporary file beside path and renames it to path,
// so that path never holds part of a file. Throws std::runtime_error on failure.
void writeFileAtomically(const std::filesystem::path& path, const std::string& bytes);

}  // namespace tarvek::cli
