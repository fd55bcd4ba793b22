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
// that is not installed, or a language named twice. Parts are separated by '+'
// or spaces (see normalisedLanguages). Each distinct set starts an engine of
// its own, so repeats, which would only add sets, are refused.
std::string languagesProblem(const std::string& languages);

} // namespace tarvek::reading
