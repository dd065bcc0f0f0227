// Ending the process from any thread: the registered end steps run, output is flushed, and the
// process ends at once, without static destructors or exit handlers (other threads may still be
// working). The same on every system; only the last call differs.
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/process.h"

namespace platform {
namespace {

struct EndSteps {
    std::mutex lock;
    std::map<unsigned long, std::function<void()>> steps; // by registration order
    unsigned long nextId = 0;
};

EndSteps& endSteps() {
    // Never destroyed: endProcess may run while static destructors would.
    static auto* steps = new EndSteps;
    return *steps;
}

} // namespace

EndStep::EndStep(std::function<void()> step) {
    EndSteps& all = endSteps();
    std::lock_guard guard(all.lock);
    id_ = all.nextId++;
    all.steps.emplace(id_, std::move(step));
}

EndStep::~EndStep() {
    EndSteps& all = endSteps();
    std::lock_guard guard(all.lock);
    all.steps.erase(id_);
}

void endProcess(int exitCode) {
    std::vector<std::function<void()>> steps;
    {
        EndSteps& all = endSteps();
        std::lock_guard guard(all.lock);
        for (auto it = all.steps.rbegin(); it != all.steps.rend(); ++it) steps.push_back(it->second);
    }
    for (const auto& step : steps) step();
    std::fflush(stdout);
    std::fflush(stderr);
    exitImmediately(exitCode);
}

} // namespace platform
