// When a reading gives up: a point in time, and a flag another thread may set.
// Preparation looks at it between its stages, recognition through Tesseract's monitor.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>

namespace tarvek::reading {

struct Deadline {
    std::chrono::steady_clock::time_point end = std::chrono::steady_clock::time_point::max();
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    bool passed() const { return cancelled() || std::chrono::steady_clock::now() >= end; }

    // Whole milliseconds left, 0 once passed.
    int remainingMs() const
    {
        if (passed())
            return 0;
        using namespace std::chrono;
        const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
        return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
    }
};

} // namespace tarvek::reading
