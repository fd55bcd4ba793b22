#pragma once

#include "http/http_server.h"
#include "reading_tools.h"

namespace tarvek::service {

// GET "/" renders "index.html"; POST "/recognize_receipt" and
// "/recognize_estimate" run the recognition of kind 0 and 1; POST
// "/v1/document/{detect,rectify,binarize,clean}" are the document tools;
// POST "/v1/document/read" and "/v1/receipt/fields" read text on a pool of
// their own of the given size; GET "/v1/health" and "/metrics" are for the
// people who run the server.
void addRoutes(http::App& app, const http::PoolLimits& readingPool = readingPoolLimits());

} // namespace tarvek::service
