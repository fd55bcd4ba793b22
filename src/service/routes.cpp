#include "routes.h"

#include "client_error.h"
#include "document_tools.h"
#include "metrics.h"
#include "page.h"
#include "recognition.h"
#include "version.h"

#include <memory>

namespace tarvek::service {

namespace {

// 200 while the server takes work, 503 while it starts or drains, so that a
// load balancer sends requests elsewhere.
http::Response readiness(const http::App& app)
{
    switch (app.state()) {
    case http::ServerState::serving: return boost::json::value{{"status", "ready"}};
    case http::ServerState::starting: return http::Response(503, R"({"status":"starting"})", "application/json");
    case http::ServerState::draining: break;
    }
    return http::Response(503, R"({"status":"draining"})", "application/json");
}

} // namespace

void addRoutes(http::App& app, const RouteOptions& options)
{
    app.route(http::Method::get, "/",
              [page = options.pageName](const http::Request&) { return http::Response(200, renderTemplate(page)); });
    // Photos are decoded and processed on the work pool.
    app.pooledRoute(
        http::Method::post, "/recognize_receipt",
        answeringClientErrors([](const http::Request& request) { return run_request(request, 0); }), mayDecodeImage);
    app.pooledRoute(
        http::Method::post, "/recognize_estimate",
        answeringClientErrors([](const http::Request& request) { return run_request(request, 1); }), mayDecodeImage);

    app.pooledRoute(http::Method::post, "/v1/document/detect", answeringClientErrors(detectDocument));
    app.pooledRoute(http::Method::post, "/v1/document/rectify", answeringClientErrors(rectifyDocument));
    app.pooledRoute(http::Method::post, "/v1/document/binarize", answeringClientErrors(binarizeDocument));
    app.pooledRoute(http::Method::post, "/v1/document/clean", answeringClientErrors(cleanDocument));

    // Reading keeps a thread for seconds: on a pool of its own, it cannot hold up the other tools.
    const http::PoolId reading = app.workPool(options.readingPool);
    app.pooledRoute(http::Method::post, "/v1/document/read", answeringClientErrors(readDocument), {}, reading,
                    readingDeadline);
    app.pooledRoute(http::Method::post, "/v1/receipt/fields", answeringClientErrors(readReceiptFields), {}, reading,
                    readingDeadline);

    app.route(http::Method::get, "/v1/health", [](const http::Request&) {
        return boost::json::value{{"status", "ok"}, {"version", tarvek::version()}};
    });
    app.route(http::Method::get, "/v1/ready", [&app](const http::Request&) { return readiness(app); });
    auto metrics = std::make_shared<Metrics>();
    app.observe(metrics);
    app.route(http::Method::get, "/metrics", [metrics](const http::Request&) {
        // The content type of the Prometheus text format, version 0.0.4.
        return http::Response(200, metrics->exposition(), "text/plain; version=0.0.4; charset=utf-8");
    });
    if (options.keys) {
        std::vector<std::string> open{"/v1/health", "/v1/ready"};
        if (!options.protectMetrics)
            open.emplace_back("/metrics");
        app.gate(requireKeys(options.keys, std::move(open)));
    }
}

} // namespace tarvek::service
