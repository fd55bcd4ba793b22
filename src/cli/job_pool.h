#pragma once

// Runs independent jobs on a fixed number of threads.

#include <atomic>
#include <cstddef>
#include <functional>

namespace tarvek::cli {

// Calls job(i) for every i below count, at most `threads` at a time, each i
// once, and returns when all calls have returned. Once stop is set no further
// call starts; the ones under way finish.
void runJobs(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& job,
             const std::atomic<bool>& stop);

}  // namespace tarvek::cli
