#pragma once

// The body of the two recognition routes: takes a photo (JSON {"image": Base64}
// or the raw file bytes), checks that it decodes as an image and answers the
// status, the image back as Base64 and the recognised field values.

#include "http/http_server.h"

#include <boost/json/value.hpp>

#include <string>

namespace tarvek::service {

// kind 0: receipt, 1: estimate; any other kind has no field values (status -3).
boost::json::value run_request(const http::Request& request, int kind);

// Whether run_request may decode an image for this request: false for JSON
// bodies that it answers from the JSON alone (no "image", or one that is no
// text), which need not wait for the work pool.
bool mayDecodeImage(const http::Request& request);

// UTF-8 of a wide string holding one code point per element; invalid code
// points are skipped.
std::string to_string(const std::wstring& text);

} // namespace tarvek::service
