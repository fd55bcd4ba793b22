#include "memory_budget.h"

#include <algorithm>
#include <fstream>
#include <string>

#include <unistd.h>

namespace tarvek::service {
namespace {

std::uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
}

// memory.max of cgroup v2 ("max" when unlimited), or v1's limit_in_bytes; nothing without one.
std::uint64_t controlGroupLimit()
{
    for (const char* path : {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
        std::ifstream file(path);
        std::string text;
        if (file >> text && text != "max")
            try {
                return std::stoull(text);
            } catch (const std::exception&) {
            }
    }
    return 0;
}

} // namespace

std::optional<MemoryBudget::Reservation> MemoryBudget::reserve(std::uint64_t bytes)
{
    std::uint64_t held = held_.load();
    do {
        if (bytes > total_.load() || held > total_.load() - bytes)
            return std::nullopt;
    } while (!held_.compare_exchange_weak(held, held + bytes));
    return Reservation(*this, bytes);
}

std::uint64_t defaultMemoryBudget()
{
    std::uint64_t memory = physicalMemory();
    if (const std::uint64_t limit = controlGroupLimit(); limit != 0)
        memory = memory == 0 ? limit : std::min(memory, limit);
    // A machine that tells nothing gets the budget of a small one.
    return memory == 0 ? std::uint64_t{1} << 30 : memory / 2;
}

MemoryBudget& memoryBudget()
{
    static MemoryBudget budget(defaultMemoryBudget());
    return budget;
}

} // namespace tarvek::service
