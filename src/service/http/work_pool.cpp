#include "work_pool.h"

#include <algorithm>

namespace tarvek::http {

WorkPool::WorkPool(unsigned threads, QueueBounds bounds) : bounds_(bounds)
{
    threads = std::max(threads, 1u);
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { serve(); });
}

WorkPool::~WorkPool()
{
    close();
    for (std::thread& thread : threads_)
        thread.join();
}

std::optional<std::string> WorkPool::refusal(std::size_t bytes, Clock::time_point now) const
{
    if (closed_)
        return "the server is stopping";
    if (queue_.size() >= bounds_.count)
        return "the work queue is full";
    // One body larger than the bound may wait alone: the body limit bounds it already.
    if (!queue_.empty() && queuedBytes_ + bytes > bounds_.bytes)
        return "the work queue holds " + std::to_string(queuedBytes_) + " bytes";
    if (!queue_.empty() && now - queue_.front().queued > bounds_.oldest)
        return "the oldest request has waited over " + std::to_string(bounds_.oldest.count()) + " ms";
    return std::nullopt;
}

std::optional<std::string> WorkPool::trySubmit(std::shared_ptr<Work> work, std::size_t bytes,
                                               std::function<void()> job)
{
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard lock(mutex_);
        forgetWithdrawn();
        // A free thread takes the job at once, whatever waits: nothing does then.
        if (queue_.size() + running_ >= threads_.size())
            if (auto refused = refusal(bytes, now))
                return refused;
        if (closed_)
            return "the server is stopping";
        queue_.push_back({std::move(work), bytes, now, std::move(job)});
        queuedBytes_ += bytes;
    }
    ready_.notify_one();
    return std::nullopt;
}

void WorkPool::forgetWithdrawn()
{
    const auto withdrawn = [](const Entry& entry) { return entry.work->withdrawn(); };
    for (const Entry& entry : queue_)
        if (withdrawn(entry))
            queuedBytes_ -= entry.bytes;
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), withdrawn), queue_.end());
}

void WorkPool::serve()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Entry entry = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= entry.bytes;
        if (!entry.work->start())
            continue;
        ++running_;
        lock.unlock();
        {
            CurrentWork current(*entry.work);
            entry.job();
        }
        entry = {}; // what the job holds (its connection) goes before the lock is taken again
        lock.lock();
        --running_;
        idle_.notify_all();
    }
}

void WorkPool::close()
{
    std::deque<Entry> dropped;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (Entry& entry : queue_)
            entry.work->withdraw();
        dropped.swap(queue_);
        queuedBytes_ = 0;
    }
    ready_.notify_all();
}

bool WorkPool::waitUntilIdle(Clock::time_point until)
{
    std::unique_lock lock(mutex_);
    return idle_.wait_until(lock, until, [this] { return running_ == 0; });
}

} // namespace tarvek::http
