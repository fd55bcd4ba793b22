#include "progress.h"

#include "printable.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#include <unistd.h>

namespace tarvek::cli {
namespace {

constexpr int BAR_WIDTH = 30;
// Redrawing at most ten times a second keeps the terminal cheap with thousands of small photos.
constexpr std::chrono::milliseconds REDRAW_INTERVAL{100};

std::string minutesAndSeconds(double seconds)
{
    const long whole = static_cast<long>(seconds + 0.5);
    std::ostringstream text;
    text << whole / 60 << ':' << (whole % 60 < 10 ? "0" : "") << whole % 60;
    return text.str();
}

}  // namespace

Progress::Progress(std::size_t total, Style style) : total_(total), style_(style) {}

void Progress::record(const std::string& path, const std::string& state, const std::string& detail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_;
    const bool noted = state == "failed" || state == "not read";
    if (style_ == Style::lines || noted) {
        clearBar();
        std::cerr << state << ' ' << escapedForTerminal(path) << (detail.empty() ? "" : ": " + escapedForTerminal(detail))
                  << '\n';
    }
    if (style_ == Style::bar)
        drawBar();
}

void Progress::finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (style_ == Style::bar) {
        lastDrawn_ = {};
        drawBar();
        std::cerr << '\n';
    }
}

void Progress::drawBar()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < REDRAW_INTERVAL && finished_ < total_)
        return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double perSecond = seconds > 0 ? finished_ / seconds : 0;
    const std::size_t filled = total_ ? BAR_WIDTH * finished_ / total_ : BAR_WIDTH;
    std::ostringstream line;
    line << "\r[" << std::string(filled, '#') << std::string(BAR_WIDTH - filled, ' ') << "] " << finished_ << '/'
         << total_ << "  " << static_cast<int>(perSecond * 10) / 10.0 << " photos/s";
    if (perSecond > 0)
        line << "  " << minutesAndSeconds((total_ - finished_) / perSecond) << " left";
    std::cerr << line.str() << "\x1b[K" << std::flush;
}

void Progress::clearBar()
{
    if (style_ == Style::bar)
        std::cerr << "\r\x1b[K";
}

Progress::Style progressStyle(bool quiet)
{
    if (quiet)
        return Progress::Style::quiet;
    return isatty(STDERR_FILENO) ? Progress::Style::bar : Progress::Style::lines;
}

}  // namespace tarvek::cli
