#include "common/parallel.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

Parallel onThreads(uint32_t most) {
    Parallel parallel;
    parallel.most = most < 1 ? 1 : most;
    parallel.run = [](uint32_t count, const std::function<void(uint32_t)>& task) {
        // Tasks go in order to whichever thread asks first, this one included: a helper the
        // system starts late (another program holding the other processors) finds its task
        // already done here, so the work never waits for a thread to begin. With no helper
        // at all, this thread runs every task.
        std::atomic<uint32_t> next{0};
        auto work = [&] {
            for (uint32_t i; (i = next.fetch_add(1)) < count;) task(i);
        };
        std::vector<std::thread> helpers;
        try {
            for (uint32_t started = 1; started < count; ++started) helpers.emplace_back(work);
        } catch (const std::system_error&) {
            // Fewer threads than tasks: those there are, this one included, share them.
        }
        work();
        for (std::thread& helper : helpers) helper.join();
    };
    return parallel;
}
