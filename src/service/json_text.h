#pragma once

// The JSON text of an answer, byte for byte as Boost.JSON serialises it, but
// written once into a string reserved at about its length. A large answer (a
// photo in Base64) would otherwise be grown by doubling and looked at one
// character at a time.

#include <boost/json/value.hpp>

#include <string>

namespace tarvek::http {

// A small value is the library's own text, kept in the string's inline buffer.
std::string jsonText(const boost::json::value& json);

} // namespace tarvek::http
