#include "memory_policy.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tarvek::service {

void keepLargeBlocksWhileBusy()
{
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void restartWithHugePageAdvice(char* argv[])
{
    const std::string tunable = "glibc.malloc.hugetlb";
    const char* given = std::getenv("GLIBC_TUNABLES");
    std::string tunables = given ? given : "";
    if (tunables.find(tunable) != std::string::npos)
        return;
    tunables += (tunables.empty() ? "" : ":") + tunable + "=1";
    if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) == 0)
        execv("/proc/self/exe", argv);
}

IdleTrim::IdleTrim(std::chrono::milliseconds quiet, std::function<void()> trim)
    : quiet_(quiet), trim_(std::move(trim)), thread_([this] { run(); })
{
}

IdleTrim::~IdleTrim()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void IdleTrim::trimHeaps() { malloc_trim(0); }

void IdleTrim::started() { started_.fetch_add(1, std::memory_order_relaxed); }

void IdleTrim::finished(const std::string&, int, std::chrono::steady_clock::duration, std::size_t, std::size_t)
{
    finished_.fetch_add(1, std::memory_order_relaxed);
    // Only the first answer after a trim wakes the thread; under load the flag stays set.
    if (pending_.load(std::memory_order_relaxed) || pending_.exchange(true))
        return;
    std::lock_guard lock(mutex_); // the thread is between its check of the flag and its wait, or waiting
    wake_.notify_one();
}

void IdleTrim::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || pending_.load(); });
        if (!waitForQuiet(lock))
            return;
        // Requests answered from here on ask for another round; those before are
        // done, and their memory is free.
        pending_.store(false);
        lock.unlock();
        trim_();
        lock.lock();
    }
}

bool IdleTrim::waitForQuiet(std::unique_lock<std::mutex>& lock)
{
    for (;;) {
        const std::uint64_t before = started_.load();
        if (wake_.wait_for(lock, quiet_, [this] { return stopping_; }))
            return false;
        const std::uint64_t now = started_.load();
        if (now == before && finished_.load() == now)
            return true;
    }
}

} // namespace tarvek::service
