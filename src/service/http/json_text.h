#pragma once

// The JSON text of an answer, byte for byte as Boost.JSON serialises it (but
// numbers with a fraction in plain decimal, as plain_json.h writes them), and
// written once into a string reserved at about its length. A large answer (a
// photo in Base64) would otherwise be grown by doubling and looked at one
// character at a time.

#include <boost/json/value.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvek::http {

// Whether any byte of the text passes the test. One pass without early exit,
// the result gathered in a byte: the compiler turns this loop into vector
// instructions, which it does not do with a bool or an early return. The test
// should combine its comparisons with | rather than ||, for the same reason.
template <class ByteTest>
bool anyByte(std::string_view text, ByteTest test)
{
    std::uint8_t found = 0;
    for (const char c : text)
        found |= static_cast<std::uint8_t>(test(static_cast<std::uint8_t>(c)));
    return found != 0;
}

// A small value is the library's own text, kept in the string's inline buffer.
std::string jsonText(const boost::json::value& json);

} // namespace tarvek::http
