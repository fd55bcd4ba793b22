#pragma once

// Threads of their own for the slow work of requests (decoding and processing
// photos, reading text), so that a request that takes seconds holds up no
// connection but its own: the I/O threads go on reading, answering small
// routes and writing. The queue in front of them is bounded by what it holds,
// the bytes of the bodies waiting and how long the oldest has waited, rather
// than by a count alone: many small requests queue, a few huge ones do not.

#include "work.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvek::http {

struct QueueBounds {
    std::size_t count = 1024;                     // requests waiting
    std::size_t bytes = 256u << 20;               // bytes of their bodies
    std::chrono::milliseconds oldest{10000};      // longest wait of the oldest, beyond which no more are taken
};

class WorkPool {
public:
    WorkPool(unsigned threads, QueueBounds bounds);
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;
    // Withdraws the work waiting, waits for the work running.
    ~WorkPool();

    // Queues the job, which runs with its work as the thread's current work
    // unless the work is withdrawn first. Nothing when it was queued, or why
    // it was not: the queue holds as much as it may. Safe from any thread.
    std::optional<std::string> trySubmit(std::shared_ptr<Work> work, std::size_t bytes, std::function<void()> job);

    // Withdraws the work waiting; no more is queued.
    void close();
    // Waits until no job runs or the time has come; whether none runs.
    bool waitUntilIdle(Clock::time_point until);

private:
    struct Entry {
        std::shared_ptr<Work> work;
        std::size_t bytes;
        Clock::time_point queued;
        std::function<void()> job;
    };

    void serve();
    // Drops the entries whose work was withdrawn while they waited (mutex_ held).
    void forgetWithdrawn();
    std::optional<std::string> refusal(std::size_t bytes, Clock::time_point now) const;

    const QueueBounds bounds_;
    std::mutex mutex_;
    std::condition_variable ready_; // work queued, or closing
    std::condition_variable idle_;  // a job ended
    std::deque<Entry> queue_;
    std::size_t queuedBytes_ = 0;
    std::size_t running_ = 0;
    bool closed_ = false;
    std::vector<std::thread> threads_;
};

} // namespace tarvek::http
