#pragma once

// Request metrics in the Prometheus text exposition format (version 0.0.4):
// requests by route and status, a request-duration histogram per route, the
// requests in flight and the body bytes received and sent.

#include "http/http_server.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tarvek::service {

class Metrics final : public http::RequestObserver {
public:
    // Upper bounds of the duration buckets, in seconds.
    static constexpr std::array<double, 12> bucketBounds = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                            0.5,   1.0,  2.5,   5.0,  10.0, 30.0};

    void started() override;
    void finished(const std::string& route, int status, std::chrono::steady_clock::duration elapsed,
                  std::size_t bytesIn, std::size_t bytesOut) override;

    // Every metric with its HELP and TYPE lines, label values escaped.
    std::string exposition() const;

private:
    struct Histogram {
        std::array<std::uint64_t, bucketBounds.size()> buckets{}; // not cumulative; summed when written
        std::uint64_t count = 0;
        double sum = 0;
    };

    struct RouteCounts {
        std::map<int, std::uint64_t> statuses; // requests by HTTP status
        Histogram durations;
    };

    void writeRequests(std::string& text) const;
    void writeDurations(std::string& text) const;

    mutable std::mutex mutex_;
    std::map<std::string, RouteCounts> routes_;
    std::atomic<std::int64_t> inFlight_{0}; // counted without the lock: every request starts here
    std::uint64_t bytesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
};

} // namespace tarvek::service
