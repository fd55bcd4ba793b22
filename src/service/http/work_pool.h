#pragma once

// Threads of their own for the slow work of requests (decoding and processing
// photos), so that a request that takes seconds holds up no connection but
// its own: the I/O threads go on reading, answering small routes and writing.

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <cstddef>
#include <functional>

namespace tarvek::http {

class WorkPool {
public:
    // `threads` run jobs; at most `queue` more wait for one.
    WorkPool(unsigned threads, std::size_t queue);
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;
    // Stops: waiting jobs are dropped, running ones finish first.
    ~WorkPool();

    // Queues the job; false, and the job is dropped, when the queue is full.
    // Safe from any thread.
    bool trySubmit(std::function<void()> job);

private:
    boost::asio::thread_pool threads_;
    std::atomic<std::size_t> taken_{0}; // jobs queued or running
    std::size_t capacity_;              // threads + queue
};

} // namespace tarvek::http
