#pragma once

// What a run tells the person watching it, on standard error.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace tarvek::cli {

class Progress {
public:
    // bar: a progress bar redrawn in place (standard error is a terminal);
    // lines: one line per file; quiet: neither. Failures are always reported.
    enum class Style { bar, lines, quiet };

    Progress(std::size_t total, Style style);

    // Thread-safe. state is "done", "not read", "skipped" or "failed"; detail the output or the
    // reason. A failure and a page not read are written in every style.
    // Control characters in path and detail are escaped, so that each file gets one line.
    void record(const std::string& path, const std::string& state, const std::string& detail);

    // Ends the bar's line.
    void finish();

private:
    void drawBar();
    void clearBar();

    std::mutex mutex_;
    const std::size_t total_;
    const Style style_;
    std::size_t finished_ = 0;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_{};
};

// The style for standard error: a bar on a terminal, lines otherwise, or quiet.
Progress::Style progressStyle(bool quiet);

}  // namespace tarvek::cli
