#pragma once

// The document tools over HTTP: find the page in a photo, flatten it,
// binarize it, clean its background. Each handler takes the photo and its
// options as ToolRequest reads them and throws ClientError for the client's
// mistakes.

#include "http/http_server.h"

namespace tarvek::service {

// 200 JSON: found, corners (top-left, top-right, bottom-right, bottom-left),
// strategy, width, height, elapsed_ms.
http::Response detectDocument(const http::Request& request);
// The flattened page as JPEG, PNG or WebP, turned upright on "upright"; 422
// when no page is found.
http::Response rectifyDocument(const http::Request& request);
// The binarized photo as PNG.
http::Response binarizeDocument(const http::Request& request);
// The photo with its paper background removed, as JPEG; 422 when that fails.
http::Response cleanDocument(const http::Request& request);

} // namespace tarvek::service
