#pragma once

// A budget of the memory that photos in work may take at once, shared by
// every route and pool: a request reserves what its photo will take before
// the photo is decoded, and a request that would pass the budget is answered
// at once instead of being started and failing (or taking the machine's
// memory from everything else).

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

namespace tarvek::service {

class MemoryBudget {
public:
    // Bytes held until it goes.
    class Reservation {
    public:
        Reservation(MemoryBudget& budget, std::uint64_t bytes) : budget_(&budget), bytes_(bytes) {}
        Reservation(Reservation&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) { other.bytes_ = 0; }
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;
        Reservation& operator=(Reservation&& other) noexcept
        {
            std::swap(budget_, other.budget_);
            std::swap(bytes_, other.bytes_);
            return *this;
        }
        ~Reservation() { budget_->release(bytes_); }

    private:
        MemoryBudget* budget_;
        std::uint64_t bytes_;
    };

    explicit MemoryBudget(std::uint64_t total) : total_(total) {}

    // The bytes reserved, or nothing when they would pass the budget beside
    // what is held now.
    std::optional<Reservation> reserve(std::uint64_t bytes);
    std::uint64_t total() const { return total_.load(); }
    void setTotal(std::uint64_t total) { total_.store(total); }
    std::uint64_t held() const { return held_.load(); }

private:
    void release(std::uint64_t bytes) { held_.fetch_sub(bytes); }

    std::atomic<std::uint64_t> total_;
    std::atomic<std::uint64_t> held_{0};
};

// Half of the memory the process may use: the machine's, or its control
// group's limit when that is lower. The rest is for the program, its
// connections and bodies, the reading engines and the system's cache.
std::uint64_t defaultMemoryBudget();

// The process's budget, which the routes reserve from (defaultMemoryBudget()
// until it is set).
MemoryBudget& memoryBudget();

} // namespace tarvek::service
