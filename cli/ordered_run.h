// Several files at once for both programs: workers make each file's output in memory, ahead of
// the writer, which takes them in the order of the command line, so that the results are those
// of a one-by-one run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// How far the workers may run ahead of the writer: two files each, so that memory stays that
// of a few files however long the run; eight each while the outputs waiting are small
// (kSmallBytesAhead), so that a worker done with several small files does not sit idle behind
// a larger one another is still making. But a file still being made or written kLongFile after
// it was taken (a large picture) holds the writer, which takes the files in order, and with it
// the other workers once they are that far ahead: until it is written they go on, up to
// kMostFilesAhead files and kMostBytesAhead bytes of output waiting, so the run does not pause
// on it.
inline constexpr std::chrono::milliseconds kLongFile{200};
inline constexpr size_t kMostFilesAhead = 1024;
inline constexpr uint64_t kMostBytesAhead = uint64_t(512) << 20;
inline constexpr size_t kSmallFilesAhead = 8;
inline constexpr uint64_t kSmallBytesAhead = uint64_t(64) << 20;

// The output bytes a made file holds until it is written.
template <class Slot>
uint64_t heldBytes(const Slot& slot) {
    uint64_t bytes = slot.image.length;
    for (const auto& region : slot.image.regions) bytes += region.length;
    return bytes;
}

// make(i, threads, state, slot) fills slot for file i, with state kept by its worker between
// files; threads is how many processors the file may use (the last files of the run take those
// of the workers left idle). finish(i, slot) writes it; false stops the run.
template <class Slot, class WorkerState, class Make, class Finish>
void runInOrder(size_t count, unsigned workers, Make make, Finish finish) {
    using Clock = std::chrono::steady_clock;
    std::vector<Slot> slots(count);
    std::vector<bool> ready(count, false);
    std::vector<Clock::time_point> started(count);
    const size_t window = 2 * size_t(workers);
    std::mutex mutex;
    std::condition_variable changed;
    size_t taken = 0, committed = 0;
    uint64_t waiting = 0;  // bytes of the made files not yet taken by the writer
    unsigned busy = 0;
    bool stop = false;

    auto work = [&] {
        unsigned threads = 1;
        WorkerState state;
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex);
                for (;;) {
                    if (stop || taken >= count) return;
                    if (taken < committed + window) break;
                    if (taken < committed + kSmallFilesAhead * workers &&
                        waiting < kSmallBytesAhead)
                        break;
                    // The file the writer is on, still being made or written.
                    if (committed < taken &&
                        taken < committed + kMostFilesAhead && waiting < kMostBytesAhead) {
                        const Clock::time_point late = started[committed] + kLongFile;
                        if (Clock::now() >= late) break;
                        changed.wait_until(lock, late);
                    } else {
                        changed.wait(lock);
                    }
                }
                i = taken++;
                started[i] = Clock::now();
                ++busy;
                if (taken == count) threads = workers - busy + 1;
            }
            Slot slot;
            make(i, threads, state, slot);
            {
                std::lock_guard lock(mutex);
                --busy;
                if (stop) return;  // the run is over: the slot's buffers go with it
                waiting += heldBytes(slot);
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
            waiting -= heldBytes(slot);
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
