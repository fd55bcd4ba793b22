#pragma once

// What each subcommand does to one file.

#include "arguments.h"
#include "output.h"

#include <string>
#include <vector>

namespace tarvek::cli {

struct Outcome {
    // notRead: read and fields answered, but the page was not read (its JSON line says why too).
    enum Kind { done, notRead, skipped, failed } kind = done;
    std::string reason;  // why the file was skipped, failed or not read
    std::string json;    // detect, read, fields: the photo's JSON line
};

// The extension of the files the settings' subcommand writes ("" for detect).
std::string outputExtension(const Settings& settings);

// Runs the settings' subcommand on one task. Never throws: a failure is an outcome.
Outcome process(const Settings& settings, const Task& task);

}  // namespace tarvek::cli
