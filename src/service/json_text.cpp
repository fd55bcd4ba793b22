#include "json_text.h"

#include <boost/json/serialize.hpp>

#include <string_view>

namespace tarvek::http {
namespace {

// About the length of the value's JSON text: exact for the structure and for
// strings with nothing to escape, a generous guess for numbers.
std::size_t textSizeOf(const boost::json::value& json)
{
    switch (json.kind()) {
    case boost::json::kind::string: return json.get_string().size() + 2;
    case boost::json::kind::array: {
        std::size_t size = 2;
        for (const auto& element : json.get_array())
            size += textSizeOf(element) + 1;
        return size;
    }
    case boost::json::kind::object: {
        std::size_t size = 2;
        for (const auto& member : json.get_object())
            size += member.key().size() + 4 + textSizeOf(member.value());
        return size;
    }
    default: return 24; // numbers, booleans, null
    }
}

// Below this estimated length an answer, or a part of one, is left to the
// library's serialiser whole.
constexpr std::size_t largeText = 4096;

// Whether JSON writes the text other than as it is: control characters, quote
// and backslash are escaped.
bool needsEscapes(std::string_view text)
{
    return anyByte(text, [](std::uint8_t c) { return (c < 0x20) | (c == '"') | (c == '\\'); });
}

// Appends the value's JSON text as the library writes it. A long string with
// nothing to escape (a photo in Base64) is copied whole, where the library
// would look at each character.
void appendJson(const boost::json::value& json, std::string& text)
{
    if (textSizeOf(json) < largeText) {
        text += boost::json::serialize(json);
        return;
    }
    switch (json.kind()) {
    case boost::json::kind::string: {
        const std::string_view string = json.get_string();
        if (needsEscapes(string))
            break;
        text.append(1, '"').append(string).append(1, '"');
        return;
    }
    case boost::json::kind::array: {
        text += '[';
        for (const auto& element : json.get_array()) {
            appendJson(element, text);
            text += ',';
        }
        text.back() = ']'; // over the last comma; an empty array is no large text
        return;
    }
    case boost::json::kind::object: {
        text += '{';
        for (const auto& member : json.get_object()) {
            text += boost::json::serialize(member.key());
            text += ':';
            appendJson(member.value(), text);
            text += ',';
        }
        text.back() = '}';
        return;
    }
    default: break;
    }
    text += boost::json::serialize(json);
}

} // namespace

std::string jsonText(const boost::json::value& json)
{
    const std::size_t estimate = textSizeOf(json);
    if (estimate < largeText)
        return boost::json::serialize(json);
    std::string text;
    text.reserve(estimate);
    appendJson(json, text);
    return text;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 when none
// starts there: no overlong forms, surrogates or code points past U+10FFFF.
std::size_t sequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = at + 2; i < at + length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string validUtf8(std::string_view text)
{
    if (!anyByte(text, [](std::uint8_t c) { return c >= 0x80; }))
        return std::string(text);
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        valid.append(length ? text.substr(at, length) : std::string_view("\xEF\xBF\xBD"));
        at += length ? length : 1;
    }
    return valid;
}

} // namespace tarvek::http
