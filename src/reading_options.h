#pragma once

// The reading options that the server, the command line and the Python package
// take from their users, checked the same way everywhere.

#include <string>

namespace tarvek::reading {

// The bounds of a page's deadline: long enough to read a receipt, short
// enough that a page of noise gives its thread back soon.
constexpr int minDeadlineMs = 100;
constexpr int maxDeadlineMs = 60000;

// What is wrong with a language set a user names ("" when nothing is): a part
// that is not installed, or a language named twice. Each distinct set starts
// engines of its own on every reading thread, so repeats are refused rather
// than let a client grow them without end.
std::string languagesProblem(const std::string& languages);

} // namespace tarvek::reading
