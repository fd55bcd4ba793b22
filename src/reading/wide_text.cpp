#include "reading/wide_text.h"

#include "printable.h"

namespace tarvek::reading {

std::wstring widened(std::string_view utf8)
{
    const std::string valid = validUtf8(utf8);
    std::wstring text;
    text.reserve(valid.size());
    for (size_t i = 0; i < valid.size();) {
        const auto lead = static_cast<unsigned char>(valid[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        // The lead byte keeps 7, 5, 4 or 3 bits; each continuation byte adds 6.
        unsigned long code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        text.push_back(static_cast<wchar_t>(code));
        i += length;
    }
    return text;
}

std::string narrowed(const std::wstring& text)
{
    std::string utf8;
    utf8.reserve(text.size());
    for (const wchar_t c : text) {
        auto code = static_cast<unsigned long>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        if (code < 0x80) {
            utf8.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            utf8.push_back(static_cast<char>(0xC0 | (code >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            utf8.push_back(static_cast<char>(0xE0 | (code >> 12)));
            utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            utf8.push_back(static_cast<char>(0xF0 | (code >> 18)));
            utf8.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return utf8;
}

} // namespace tarvek::reading
