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

inline void appendPlainJson(const boost::json::value& json, std::string& text)
{
    switch (json.kind()) {
    case boost::json::kind::double_: appendPlainNumber(json.get_double(), text); return;
    case boost::json::kind::array: {
        text += '[';
        for (const auto& element : json.get_array()) {
            appendPlainJson(element, text);
            text += ',';
        }
        if (text.back() == ',')
            text.back() = ']';
        else
            text += ']';
        return;
    }
    case boost::json::kind::object: {
        text += '{';
        for (const auto& member : json.get_object()) {
            text += boost::json::serialize(member.key());
            text += ':';
            appendPlainJson(member.value(), text);
            text += ',';
        }
        if (text.back() == ',')
            text.back() = '}';
        else
            text += '}';
        return;
    }
    default: text += boost::json::serialize(json);
    }
}

inline std::string plainJson(const boost::json::value& json)
{
    std::string text;
    appendPlainJson(json, text);
    return text;
}

} // namespace tarvek
