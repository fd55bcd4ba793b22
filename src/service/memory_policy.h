#pragma once

// How the server's memory goes back to the system. Request bodies, decoded
// photos and answers are megabytes each and live for one request. Mapping each
// by itself and unmapping it when its request ends costs a page fault per 4 KiB
// (or a zeroed huge page) every time, a tenth of a small photo's CPU; keeping
// them in the allocator's heap while requests come and returning the heap's
// free memory once the server is quiet costs neither, and resident memory at
// rest still comes back to where it was.

#include "http/http_server.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvek::service {

// Keeps blocks up to 32 MiB (glibc's largest setting) in the heap and free
// memory at its top up to 64 MiB, where glibc by default returns the top after
// every large request. Fixed values, because glibc's own moving threshold
// keeps the largest blocks it has seen for good. All threads share one heap:
// glibc trims the top of no other when asked, and small blocks are taken from
// per-thread caches before any heap is locked. Call before starting threads.
void keepLargeBlocksWhileBusy();

// Blocks over the heap's limit (the 36 MB of a 12-megapixel photo) are mapped
// and faulted in page by page on every request, and the heap grows page by page
// too. glibc's hugetlb tunable advises both as transparent huge pages: a
// fraction of the faults. glibc reads tunables only when a process starts, so
// this adds it to the environment and starts the program once more, keeping
// its PID and arguments; it returns only when the tunable is already set (a
// value the operator set is left as it is) or the restart failed, and the
// program then runs on without. Call first thing in main.
void restartWithHugePageAdvice(char* argv[]);

// Returns the heap's free memory to the system (glibc's malloc_trim) once no
// request has started for a whole quiet period and none is under way, after
// each burst of requests. Its thread sleeps until a request has been answered.
class IdleTrim final : public http::RequestObserver {
public:
    explicit IdleTrim(std::chrono::milliseconds quiet, std::function<void()> trim = trimHeaps);
    ~IdleTrim() override;
    IdleTrim(const IdleTrim&) = delete;
    IdleTrim& operator=(const IdleTrim&) = delete;

    void started() override;
    void finished(const std::string& route, int status, std::chrono::steady_clock::duration elapsed,
                  std::size_t bytesIn, std::size_t bytesOut) override;

    static void trimHeaps();

private:
    void run();
    // Waits until a quiet period has passed; false when stopping.
    bool waitForQuiet(std::unique_lock<std::mutex>& lock);

    const std::chrono::milliseconds quiet_;
    const std::function<void()> trim_;
    std::atomic<std::uint64_t> started_{0};
    std::atomic<std::uint64_t> finished_{0};
    std::atomic<bool> pending_{false}; // a request was answered since the last trim
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace tarvek::service
