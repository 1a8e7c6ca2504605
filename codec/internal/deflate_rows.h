// Deflate for a band of filtered PNG rows, made for pictures whose filtered rows repeat (smooth
// shading, flat colour, transparency): matches are looked for only where a pixel starts, where
// a picture's repeats start, which is a third or a quarter of the work of looking at every
// byte and finds as much. Dynamic blocks with codes of their own, the band ended as
// deflate_blocks.h's bands are, so that it strings into a PNG's stream with them. What it
// writes follows from the band's bytes alone.
#pragma once

#include <cstdint>
#include <span>

// The work area for a band of `length` bytes of rows of pixels of `pixelSize` bytes (3 or 4).
uint64_t deflateRowsWorkSize(uint64_t length, uint32_t pixelSize);

// Writes the rows (each its filter byte, then its pixels; rowSize bytes) as deflate blocks
// into out, the last of them final when `last`, otherwise followed by an empty stored block.
// Returns the bytes written, or 0 when out is short (what it holds is then undefined).
uint64_t deflateRows(std::span<const uint8_t> rows, uint32_t rowSize, uint32_t pixelSize,
                     bool last, std::span<uint8_t> work, std::span<uint8_t> out);
