#include "printable.h"

#include <algorithm>
#include <cstdio>

namespace tarvek {
namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when none starts there. The lead byte's
// range for the second byte rules out overlong forms, surrogates and code points past U+10FFFF.
std::size_t sequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    }
    if (length == 0 || at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = at + 2; i < at + length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    return length;
}

// U+0080 to U+009F, which some terminals take as the start of an escape sequence.
bool isC1Control(std::string_view sequence)
{
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
           static_cast<unsigned char>(sequence[1]) < 0xA0;
}

std::string hexEscaped(std::string_view bytes)
{
    std::string escaped;
    for (const char c : bytes) {
        char code[5];
        std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
        escaped += code;
    }
    return escaped;
}

std::string escapedCharacter(char c)
{
    switch (c) {
    case '\\':
        return "\\\\";
    case '\n':
        return "\\n";
    case '\t':
        return "\\t";
    case '\r':
        return "\\r";
    default:
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? hexEscaped({&c, 1}) : std::string(1, c);
    }
}

}  // namespace

std::string escapedForTerminal(std::string_view text)
{
    std::string escaped;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        const std::string_view sequence = text.substr(at, length ? length : 1);
        if (length == 1)
            escaped += escapedCharacter(sequence[0]);
        else if (length == 0 || isC1Control(sequence))
            escaped += hexEscaped(sequence);
        else
            escaped += sequence;
        at += sequence.size();
    }
    return escaped;
}

std::string validUtf8(std::string_view text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        valid += length ? text.substr(at, length) : std::string_view("\xEF\xBF\xBD");
        at += length ? length : 1;
    }
    return valid;
}

}  // namespace tarvek
