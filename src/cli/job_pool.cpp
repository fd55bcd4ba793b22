#include "job_pool.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace tarvek::cli {

void runJobs(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& job,
             const std::atomic<bool>& stop)
{
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count && !stop; i = next++)
            job(i);
    };
    std::vector<std::thread> workers;
    const std::size_t helpers = std::min<std::size_t>(std::max(threads, 1u), count);
    for (std::size_t t = 1; t < helpers; ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
}

}  // namespace tarvek::cli
