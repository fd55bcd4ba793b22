#include "work.h"

namespace tarvek::http {
namespace {

thread_local Work* current = nullptr;

} // namespace

bool Work::start()
{
    State queued = State::queued;
    return state_.compare_exchange_strong(queued, State::running);
}

bool Work::withdraw()
{
    State queued = State::queued;
    return state_.compare_exchange_strong(queued, State::withdrawn);
}

Work* currentWork() { return current; }

void checkWork()
{
    if (current && current->abandoned())
        throw Abandoned();
}

CurrentWork::CurrentWork(Work& work) : previous_(current) { current = &work; }

CurrentWork::~CurrentWork() { current = previous_; }

} // namespace tarvek::http
