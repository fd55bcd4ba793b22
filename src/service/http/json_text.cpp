#include "json_text.h"

#include "plain_json.h"

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

bool containsDouble(const boost::json::value& json)
{
    switch (json.kind()) {
    case boost::json::kind::double_: return true;
    case boost::json::kind::array:
        for (const auto& element : json.get_array())
            if (containsDouble(element))
                return true;
        return false;
    case boost::json::kind::object:
        for (const auto& member : json.get_object())
            if (containsDouble(member.value()))
                return true;
        return false;
    default: return false;
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
        if (containsDouble(json))
            appendPlainJson(json, text);
        else
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
    case boost::json::kind::array:
    case boost::json::kind::object: appendContainer(json, text, appendJson); return;
    case boost::json::kind::double_: appendPlainNumber(json.get_double(), text); return;
    default: break;
    }
    text += boost::json::serialize(json);
}

} // namespace

std::string jsonText(const boost::json::value& json)
{
    const std::size_t estimate = textSizeOf(json);
    if (estimate < largeText && !containsDouble(json))
        return boost::json::serialize(json);
    std::string text;
    text.reserve(estimate);
    appendJson(json, text);
    return text;
}

} // namespace tarvek::http
