#pragma once

// Text from outside made safe to print: a file name may hold any byte but '/' and NUL, a request
// target or option name what a client sends, including newlines, terminal escape sequences and bytes
// that are not UTF-8.

#include <string>
#include <string_view>

namespace tarvek {

// text for one line on a terminal: backslash, newline, tab and carriage return as \\, \n, \t and
// \r; every other control character (C0, DEL, C1) and every byte that is not part of valid UTF-8
// as \xNN.
std::string escapedForTerminal(std::string_view text);

// text with each byte that is not part of valid UTF-8 replaced by U+FFFD, as JSON requires.
std::string validUtf8(std::string_view text);

}  // namespace tarvek
