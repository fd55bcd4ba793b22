#pragma once

// The command line of the tarvek program: one subcommand and its options.

#include "binarization_methods.h"
#include "reading/reading.h"

#include <string>
#include <variant>
#include <vector>

namespace tarvek::cli {

enum class Action { detect, rectify, binarize, clean, read, fields, scramble, unscramble };

struct Settings {
    Action action = Action::detect;
    std::vector<std::string> paths;
    std::string out;  // folder (image actions) or file (scramble, unscramble); empty for detect
    unsigned jobs = 1;
    bool quiet = false;
    bool skipExisting = false;
    std::string strategy;  // detect, rectify
    std::string kind;      // detect, rectify
    std::string format;    // rectify, binarize, clean: jpeg, png or webp
    std::string method;    // binarize
    binarization::MethodOptions methodOptions;  // binarize: the given options over the method's defaults
    std::string keyFile;   // scramble, unscramble; empty: the built-in key
    bool upright = false;  // rectify: the page turned upright
    reading::ReadOptions reading;  // read, fields
};

// Whether the action writes a JSON line per photo rather than image files.
bool writesLines(Action action);

// The settings of a valid command line, or the exit status after --help
// (0) or a usage error (2), whose message has then been printed.
std::variant<Settings, int> parseArguments(int argc, char** argv);

}  // namespace tarvek::cli
