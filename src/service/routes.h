#pragma once

#include "api_keys.h"
#include "http/http_server.h"
#include "reading_tools.h"

#include <memory>
#include <string>

namespace tarvek::service {

struct RouteOptions {
    std::string pageName = "index.html"; // the template of GET "/", in the template folder
    std::shared_ptr<const ApiKeys> keys; // nullptr: every route is open
    bool protectMetrics = false;         // with keys: /metrics needs one too
    http::PoolLimits readingPool = readingPoolLimits(); // threads and queue of the reading routes
};

// GET "/" renders the page template; POST "/recognize_receipt" and
// "/recognize_estimate" run the recognition of kind 0 and 1; POST
// "/v1/document/{detect,rectify,binarize,clean}" are the document tools;
// POST "/v1/document/read" and "/v1/receipt/fields" read text on a pool of
// their own; GET "/v1/health", "/v1/ready" and "/metrics" are for the people
// who run the server, the first two always open.
void addRoutes(http::App& app, const RouteOptions& options = {});

} // namespace tarvek::service
