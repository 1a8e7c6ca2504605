#include "common/parallel.h"

#include <system_error>
#include <thread>
#include <vector>

Parallel onThreads(uint32_t most) {
    Parallel parallel;
    parallel.most = most < 1 ? 1 : most;
    parallel.run = [](uint32_t count, const std::function<void(uint32_t)>& task) {
        std::vector<std::thread> helpers;
        uint32_t started = 1;
        try {
            for (; started < count; ++started) helpers.emplace_back(task, started);
        } catch (const std::system_error&) {
            // Fewer threads than tasks: this one runs the rest after its own.
        }
        if (count > 0) task(0);
        for (uint32_t i = started; i < count; ++i) task(i);
        for (std::thread& helper : helpers) helper.join();
    };
    return parallel;
}
