#pragma once

// Reading over HTTP: the text lines of a photographed page, and a receipt's
// fields. Photos come as on the document tools (raw image or JSON with
// Base64) with the options "lang", "rectify", "upright" and "deadline_ms";
// mistakes are thrown as ClientError.

#include "http/http_server.h"

#include <chrono>
#include <optional>

namespace tarvek::service {

// 200 JSON: lines (text, box, confidence, words), cut_short, page_found,
// corners, rotation, width, height, elapsed_ms.
http::Response readDocument(const http::Request& request);
// 200 JSON: business_name, telephone, date and total (each null when no line
// qualifies), cut_short, elapsed_ms; the lines too on "lines".
http::Response readReceiptFields(const http::Request& request);

// The pool reading runs on: a thread a core, as reading keeps a core busy for
// seconds.
http::PoolLimits readingPoolLimits();

// A reading request's deadline, from its arrival: its "deadline_ms" (query
// parameter or JSON member), or the default. Nothing for a value the handler
// refuses anyway.
std::optional<std::chrono::milliseconds> readingDeadline(const http::Request& request);

} // namespace tarvek::service
