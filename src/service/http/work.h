#pragma once

// One request's slow work as its connection and the thread doing it share it:
// when the request arrived, when its deadline passes, whether it has been
// taken up, and whether it is still wanted. A connection whose client leaves,
// or a server whose grace period runs out, abandons the work; the handler
// looks at it between its stages (checkWork) or hands the flag to a library
// that looks at it itself.

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>

namespace tarvek::http {

using Clock = std::chrono::steady_clock;

class Work {
public:
    explicit Work(Clock::time_point arrival, std::optional<Clock::time_point> deadline = std::nullopt)
        : arrival_(arrival), deadline_(deadline)
    {
    }

    Clock::time_point arrival() const { return arrival_; }
    std::optional<Clock::time_point> deadline() const { return deadline_; }

    // Queued to running; false when it was withdrawn first.
    bool start();
    // Queued to withdrawn, so that it never starts; false when it had started.
    bool withdraw();
    bool started() const { return state_.load() == State::running; }
    bool withdrawn() const { return state_.load() == State::withdrawn; }

    // Nobody waits for the answer any more: the work stops at its next check.
    void abandon() { abandoned_.store(true); }
    bool abandoned() const { return abandoned_.load(); }
    // For libraries that poll a flag of their own.
    const std::atomic<bool>& abandonedFlag() const { return abandoned_; }

private:
    enum class State { queued, running, withdrawn };

    Clock::time_point arrival_;
    std::optional<Clock::time_point> deadline_;
    std::atomic<State> state_{State::queued};
    std::atomic<bool> abandoned_{false};
};

// Thrown by checkWork when the work has been abandoned; the server answers
// nobody for it.
class Abandoned : public std::runtime_error {
public:
    Abandoned() : std::runtime_error("the request's work was abandoned") {}
};

// The work the calling thread does for a request, nullptr outside the work pools.
Work* currentWork();
// Throws Abandoned when the calling thread's work has been abandoned.
void checkWork();

// Makes work the calling thread's current work while it lives.
class CurrentWork {
public:
    explicit CurrentWork(Work& work);
    ~CurrentWork();
    CurrentWork(const CurrentWork&) = delete;
    CurrentWork& operator=(const CurrentWork&) = delete;

private:
    Work* previous_;
};

} // namespace tarvek::http
