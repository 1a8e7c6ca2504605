// Several files at once for both programs: workers make each file's output in memory, a few
// files ahead of the writer, which takes them in the order of the command line, so that the
// results are those of a one-by-one run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

// make(i, threads, state, slot) fills slot for file i, with state kept by its worker between
// files; threads is how many processors the file may use (the last files of the run take those
// of the workers left idle). finish(i, slot) writes it; false stops the run.
template <class Slot, class WorkerState, class Make, class Finish>
void runInOrder(size_t count, unsigned workers, Make make, Finish finish) {
    std::vector<Slot> slots(count);
    std::vector<bool> ready(count, false);
    const size_t window = 2 * size_t(workers);  // made files waiting to be written, at most
    std::mutex mutex;
    std::condition_variable changed;
    size_t taken = 0, committed = 0;
    unsigned busy = 0;
    bool stop = false;

    auto work = [&] {
        unsigned threads = 1;
        WorkerState state;
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock,
                             [&] { return stop || taken >= count || taken < committed + window; });
                if (stop || taken >= count) return;
                i = taken++;
                ++busy;
                if (taken == count) threads = workers - busy + 1;
            }
            Slot slot;
            make(i, threads, state, slot);
            {
                std::lock_guard lock(mutex);
                --busy;
                if (stop) return;  // the run is over: the slot's buffers go with it
                slots[i] = std::move(slot);
                ready[i] = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) threads.emplace_back(work);
    for (size_t i = 0; i < count; ++i) {
        Slot slot;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return bool(ready[i]); });
            slot = std::move(slots[i]);
        }
        const bool goOn = finish(i, slot);
        {
            std::lock_guard lock(mutex);
            committed = i + 1;
            stop = !goOn;
        }
        changed.notify_all();
        if (!goOn) break;
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads) thread.join();
}
