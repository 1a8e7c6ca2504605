// Work that may run on several threads at once, as the caller decides: the codec's writers
// split their work into tasks and hand them to a Parallel, and never start a thread themselves.
#pragma once

#include <cstdint>
#include <functional>

struct Parallel {
    // Runs task(0) to task(count - 1), count at most `most`, and returns when all are done.
    using Run = std::function<void(uint32_t count, const std::function<void(uint32_t)>& task)>;
    uint32_t most = 1;  // tasks that may run at once; 1: the writer does its work in one piece
    Run run;            // empty: one task after another on the calling thread

    void operator()(uint32_t count, const std::function<void(uint32_t)>& task) const {
        if (run) {
            run(count, task);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) task(i);
    }
};

// Up to `most` tasks at once: the calling thread runs task 0 and a thread of its own each of
// the others; a task whose thread the system will not start runs on the calling thread. (Its
// own file, so that a program that never calls it, the window, links no threads.)
Parallel onThreads(uint32_t most);
