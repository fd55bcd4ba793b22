#include "work_pool.h"

#include <boost/asio/post.hpp>

#include <algorithm>

namespace tarvek::http {

WorkPool::WorkPool(unsigned threads, std::size_t queue)
    : threads_(std::max(threads, 1u)), capacity_(std::max(threads, 1u) + queue)
{
}

WorkPool::~WorkPool()
{
    threads_.stop();
    threads_.join();
}

bool WorkPool::trySubmit(std::function<void()> job)
{
    // Counted before it is queued, so that two threads cannot both take the last place.
    if (taken_.fetch_add(1, std::memory_order_relaxed) >= capacity_) {
        taken_.fetch_sub(1, std::memory_order_relaxed);
        return false;
    }
    boost::asio::post(threads_, [this, job = std::move(job)] {
        job();
        taken_.fetch_sub(1, std::memory_order_relaxed);
    });
    return true;
}

} // namespace tarvek::http
