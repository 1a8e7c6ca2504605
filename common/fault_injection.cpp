#include "common/fault_injection.h"

#ifdef TAVIMORE_FAULT_INJECTION
#include <atomic>

namespace faults {
namespace {

// Test-build bookkeeping only; the shipped programs carry none of it.
struct Record {
    std::atomic<uint32_t> calls[size_t(Point::count)]{};
    std::atomic<uint32_t> failAt[size_t(Point::count)]{};
    std::atomic<int> blocks{0};
    std::atomic<int> handles{0};
};

Record& record() {
    static Record r;
    return r;
}

}  // namespace

bool refuse(Point point) {
    Record& r = record();
    uint32_t n = ++r.calls[size_t(point)];
    uint32_t failAt = r.failAt[size_t(point)];
    return failAt != 0 && n == failAt;
}

void blockObtained() { ++record().blocks; }
void blockReleased() { --record().blocks; }
void handleOpened() { ++record().handles; }
void handleClosed() { --record().handles; }

void arm(Point point, uint32_t nth) {
    disarm();
    record().failAt[size_t(point)] = nth;
}

void disarm() {
    Record& r = record();
    for (size_t i = 0; i < size_t(Point::count); ++i) {
        r.calls[i] = 0;
        r.failAt[i] = 0;
    }
}

uint32_t calls(Point point) { return record().calls[size_t(point)]; }
int liveBlocks() { return record().blocks; }
int liveHandles() { return record().handles; }

}  // namespace faults
#endif
