#include "run.h"

#include "actions.h"
#include "job_pool.h"
#include "output.h"
#include "printable.h"
#include "progress.h"
#include "walk.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <csignal>
#include <iostream>
#include <mutex>

namespace tarvek::cli {
namespace fs = std::filesystem;
namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

void requestStop(int signal)
{
    stopSignal = signal;
    stopRequested = true;
}

void stopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Ends the process by the signal that stopped it, so that a calling shell or script sees the
// interruption (and stops a loop) instead of a normal exit.
[[noreturn]] void endBySignal()
{
    std::signal(stopSignal, SIG_DFL);
    std::raise(stopSignal);
    std::abort();
}

bool writesImages(Action action)
{
    return action == Action::rectify || action == Action::binarize || action == Action::clean;
}

std::vector<Task> tasksOf(const Settings& settings)
{
    if (settings.action == Action::scramble || settings.action == Action::unscramble) {
        const fs::path input = settings.paths.front();
        return {{{input, input.filename(), true, ""}, settings.out, ""}};
    }
    const fs::path folder = writesImages(settings.action) ? fs::path(settings.out) : fs::path();
    return tasksFor(findFiles(settings.paths, folder), folder, outputExtension(settings));
}

const char* stateOf(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::done:
        return "done";
    case Outcome::notRead:
        return "not read";
    case Outcome::skipped:
        return "skipped";
    default:
        return "failed";
    }
}

}  // namespace

int runCommand(const Settings& settings)
{
    const std::vector<Task> tasks = tasksOf(settings);
    if (const auto clash = outputOverwritingInput(tasks)) {
        std::cerr << "tarvek: refusing to write " << escapedForTerminal(clash->string()) << ", which is one of the inputs\n";
        return 2;
    }
    // Photos already run in parallel; OpenCV's own threads on top would only compete with them.
    if (settings.jobs > 1)
        cv::setNumThreads(1);
    if (writesImages(settings.action))
        removeLeftTemporaries(settings.out);
    stopOnSignals();

    Progress progress(tasks.size(), progressStyle(settings.quiet));
    std::mutex outputMutex;
    std::atomic<bool> anyFailed{false};
    runJobs(
        tasks.size(), settings.jobs,
        [&](std::size_t i) {
            const Task& task = tasks[i];
            const Outcome outcome = process(settings, task);
            if (!outcome.json.empty()) {
                std::lock_guard<std::mutex> lock(outputMutex);
                std::cout << outcome.json << std::endl;
            }
            if (outcome.kind == Outcome::failed)
                anyFailed = true;
            const std::string detail = outcome.kind == Outcome::done ? task.output.string() : outcome.reason;
            progress.record(task.input.path.string(), stateOf(outcome.kind), detail);
        },
        stopRequested);
    progress.finish();
    if (stopRequested)
        endBySignal();
    return anyFailed ? 1 : 0;
}

}  // namespace tarvek::cli
