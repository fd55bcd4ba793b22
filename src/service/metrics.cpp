#include "metrics.h"

#include <fmt/format.h>

namespace tarvek::service {
namespace {

// Requests to paths outside the route table share one label, so that probing
// clients cannot grow the metrics without bound.
const std::string& routeLabel(const std::string& route)
{
    static const std::string other = "other";
    return route.empty() ? other : route;
}

// Label values escape backslash, double quote and line feed.
std::string escaped(const std::string& value)
{
    std::string text;
    text.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == '"')
            text += '\\';
        if (c == '\n') {
            text += "\\n";
            continue;
        }
        text += c;
    }
    return text;
}

void writeHeader(std::string& text, const char* name, const char* type, const char* help)
{
    fmt::format_to(std::back_inserter(text), "# HELP {} {}\n# TYPE {} {}\n", name, help, name, type);
}

} // namespace

void Metrics::started() { inFlight_.fetch_add(1, std::memory_order_relaxed); }

void Metrics::finished(const std::string& route, int status, std::chrono::steady_clock::duration elapsed,
                       std::size_t bytesIn, std::size_t bytesOut)
{
    const double seconds = std::chrono::duration<double>(elapsed).count();
    inFlight_.fetch_sub(1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    // Found without a copy of the label once the route has been seen.
    RouteCounts& counts = routes_[routeLabel(route)];
    ++counts.statuses[status];
    Histogram& histogram = counts.durations;
    std::size_t bucket = 0;
    while (bucket < bucketBounds.size() && seconds > bucketBounds[bucket])
        ++bucket;
    if (bucket < bucketBounds.size())
        ++histogram.buckets[bucket];
    ++histogram.count;
    histogram.sum += seconds;
    bytesIn_ += bytesIn;
    bytesOut_ += bytesOut;
}

std::string Metrics::exposition() const
{
    std::string text;
    std::lock_guard lock(mutex_);
    writeRequests(text);
    writeDurations(text);
    writeHeader(text, "tarvek_http_requests_in_flight", "gauge", "Requests being answered.");
    fmt::format_to(std::back_inserter(text), "tarvek_http_requests_in_flight {}\n", inFlight_.load());
    writeHeader(text, "tarvek_http_request_body_bytes_total", "counter", "Request body bytes received.");
    fmt::format_to(std::back_inserter(text), "tarvek_http_request_body_bytes_total {}\n", bytesIn_);
    writeHeader(text, "tarvek_http_response_body_bytes_total", "counter", "Response body bytes sent.");
    fmt::format_to(std::back_inserter(text), "tarvek_http_response_body_bytes_total {}\n", bytesOut_);
    return text;
}

void Metrics::writeRequests(std::string& text) const
{
    writeHeader(text, "tarvek_http_requests_total", "counter", "Requests answered, by route and HTTP status.");
    for (const auto& [route, counts] : routes_)
        for (const auto& [status, count] : counts.statuses)
            fmt::format_to(std::back_inserter(text),
                           "tarvek_http_requests_total{{route=\"{}\",status=\"{}\"}} {}\n", escaped(route), status,
                           count);
}

void Metrics::writeDurations(std::string& text) const
{
    writeHeader(text, "tarvek_http_request_duration_seconds", "histogram",
                "Time from a request's header to its answer written, by route.");
    for (const auto& [route, counts] : routes_) {
        const Histogram& histogram = counts.durations;
        const std::string label = escaped(route);
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b < bucketBounds.size(); ++b) {
            cumulative += histogram.buckets[b];
            fmt::format_to(std::back_inserter(text),
                           "tarvek_http_request_duration_seconds_bucket{{route=\"{}\",le=\"{}\"}} {}\n", label,
                           bucketBounds[b], cumulative);
        }
        fmt::format_to(std::back_inserter(text),
                       "tarvek_http_request_duration_seconds_bucket{{route=\"{}\",le=\"+Inf\"}} {}\n"
                       "tarvek_http_request_duration_seconds_sum{{route=\"{}\"}} {}\n"
                       "tarvek_http_request_duration_seconds_count{{route=\"{}\"}} {}\n",
                       label, histogram.count, label, histogram.sum, label, histogram.count);
    }
}

} // namespace tarvek::service
