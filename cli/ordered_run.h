// Several files at once for both programs: workers make each file's output in memory and write
// the files made in the order of the command line, so that the results are those of a
// one-by-one run.
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
// it was taken (a large picture) holds the writing, which takes the files in order, and with it
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
    uint64_t waiting = 0;  // bytes of the made files not yet being written
    unsigned busy = 0;
    bool writing = false;  // a worker is writing files
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
                    // The file next to be written, still being made or written.
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
            std::unique_lock lock(mutex);
            --busy;
            if (stop) return;  // the run is over: the slot's buffers go with it
            waiting += heldBytes(slot);
            slots[i] = std::move(slot);
            ready[i] = true;
            // The files next in order are written by the worker that finds them made, one
            // worker at a time: no writer thread of its own to wake for each file or to take a
            // processor from the workers, and a file is mostly written where it was made.
            while (!writing && !stop && committed < count && ready[committed]) {
                writing = true;
                const size_t next = committed;
                bool goOn;
                {
                    Slot made = std::move(slots[next]);
                    waiting -= heldBytes(made);
                    lock.unlock();
                    goOn = finish(next, made);
                }
                lock.lock();
                writing = false;
                committed = next + 1;
                stop = !goOn;
                changed.notify_all();
            }
        }
    };
    // The calling thread is one of the workers.
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
}
