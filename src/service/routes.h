#pragma once

#include "http_server.h"

namespace tarvek::service {

// GET "/" renders "index.html"; POST "/recognize_receipt" and
// "/recognize_estimate" run the recognition of kind 0 and 1.
void addRoutes(http::App& app);

} // namespace tarvek::service
