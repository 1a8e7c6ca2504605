// Test builds can make the Nth allocation, open, create, read, write or placing of an output
// fail, and count live page blocks and file handles. In the shipped programs every hook is an
// empty inline function.
#pragma once

#include <cstdint>

namespace faults {

enum class Point : uint8_t { allocation, open, create, read, write, place, count };

#ifdef TAVIMORE_FAULT_INJECTION
// True when this call is the one chosen to fail at its point (counted from 1).
bool refuse(Point point);
void blockObtained();
void blockReleased();
void handleOpened();
void handleClosed();

// Arms point to fail its nth call from now on (0 disarms); resets every counter of calls.
void arm(Point point, uint32_t nth);
void disarm();
uint32_t calls(Point point);
int liveBlocks();
int liveHandles();
#else
inline bool refuse(Point) { return false; }
inline void blockObtained() {}
inline void blockReleased() {}
inline void handleOpened() {}
inline void handleClosed() {}
#endif

}  // namespace faults
