// UTF-8 text as wide strings of one code point per element, the form the
// edit distances compare, and back.
#pragma once

#include <string>
#include <string_view>

namespace tarvek::reading {

// Bytes that are not valid UTF-8 become U+FFFD.
std::wstring widened(std::string_view utf8);
std::string narrowed(const std::wstring& text);

} // namespace tarvek::reading
