#include "routes.h"

#include "page.h"
#include "recognition.h"

namespace tarvek::service {

void addRoutes(http::App& app)
{
    app.route(http::Method::get, "/",
              [](const http::Request&) { return http::Response(200, renderTemplate("index.html")); });
    app.route(http::Method::post, "/recognize_receipt",
              [](const http::Request& request) { return run_request(request, 0); });
    app.route(http::Method::post, "/recognize_estimate",
              [](const http::Request& request) { return run_request(request, 1); });
}

} // namespace tarvek::service
