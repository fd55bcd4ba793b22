#pragma once

// JSON text as Boost.JSON writes it, but numbers with a fraction in plain
// decimal ("17.9", "0.93") where Boost.JSON writes an exponent ("1.79E1",
// "9.3E-1"): what people read in answers and log lines. Header-only, for the
// programs that write JSON; the library itself does not.

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include <charconv>
#include <cmath>
#include <string>

namespace tarvek {

// The shortest text that reads back as the same double, in plain decimal
// unless an exponent is shorter (1e+20); null for what JSON cannot hold.
inline void appendPlainNumber(double number, std::string& text)
{
    if (!std::isfinite(number)) {
        text += "null";
        return;
    }
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    text.append(digits, end);
}

// Over the comma after the last element, or after the opening bracket of an empty container.
inline void closeContainer(std::string& text, char bracket)
{
    if (text.back() == ',')
        text.back() = bracket;
    else
        text += bracket;
}

// Appends an array's or an object's text with each element or member value
// written by append(value, text); false, and nothing appended, for other values.
template <typename Append>
bool appendContainer(const boost::json::value& json, std::string& text, Append append)
{
    if (const auto* array = json.if_array()) {
        text += '[';
        for (const auto& element : *array) {
            append(element, text);
            text += ',';
        }
        closeContainer(text, ']');
        return true;
    }
    if (const auto* object = json.if_object()) {
        text += '{';
        for (const auto& member : *object) {
            text += boost::json::serialize(member.key());
            text += ':';
            append(member.value(), text);
            text += ',';
        }
        closeContainer(text, '}');
        return true;
    }
    return false;
}

inline void appendPlainJson(const boost::json::value& json, std::string& text)
{
    if (appendContainer(json, text, appendPlainJson))
        return;
    if (json.is_double())
        appendPlainNumber(json.get_double(), text);
    else
        text += boost::json::serialize(json);
}

inline std::string plainJson(const boost::json::value& json)
{
    std::string text;
    appendPlainJson(json, text);
    return text;
}

} // namespace tarvek
