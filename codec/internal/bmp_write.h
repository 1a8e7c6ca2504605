// 24-bit uncompressed Windows BMP files, rows stored bottom-up, alpha dropped.
#pragma once

#include <cstdint>
#include <span>

#include "common/canvas.h"

inline constexpr uint32_t kBmpHeaderSize = 54;

// Bytes per stored row: 3 per pixel, rounded up to a multiple of 4.
inline uint64_t bmpRowSize(uint32_t width) { return (uint64_t(width) * 3 + 3) & ~uint64_t(3); }
inline uint64_t bmpFileSize(uint32_t width, uint32_t height) {
    return bmpRowSize(width) * height + kBmpHeaderSize;
}

// Writes every byte of the file into out, which must be at least bmpFileSize bytes long.
// Returns the file size, or 0 when out is too small.
uint32_t writeBmp(const Canvas& canvas, std::span<uint8_t> out);
