#pragma once

#include "http/http_server.h"

namespace tarvek::service {

// GET "/" renders "index.html"; POST "/recognize_receipt" and
// "/recognize_estimate" run the recognition of kind 0 and 1; POST
// "/v1/document/{detect,rectify,binarize,clean}" are the document tools;
// GET "/v1/health" and "/metrics" are for the people who run the server.
void addRoutes(http::App& app);

} // namespace tarvek::service
