// Layered Photoshop files: an 8-bit RGB document with one layer carrying the Canvas colours
// and transparency, and a merged image of the layer flattened on white with its alpha.
#pragma once

#include <cstdint>
#include <span>

#include "common/canvas.h"

inline constexpr uint32_t kPsdTemplateSize = 178;

// Four planes of width x height bytes: red, green, blue, alpha.
inline uint64_t psdPlanesSize(uint32_t width, uint32_t height) {
    return 4 * uint64_t(width) * height;
}

// Every block stored raw, plus the packed bytes of one row that the encoder may write past a
// block's raw end before it falls back.
inline uint64_t psdBufferSize(uint32_t width, uint32_t height) {
    return 8 * uint64_t(width) * height + 192 + width + (uint64_t(width) + 127) / 128;
}

// Fills the planes: each colour over white, c * a / 255 + (255 - a), rounded down; alpha as is.
void flattenOnWhite(const Canvas& canvas, std::span<uint8_t> planes);

// Writes the whole file into out; planes and out must hold psdPlanesSize and psdBufferSize
// bytes. Returns the file size, or 0 when a buffer is too small.
uint32_t writePsd(const Canvas& canvas, std::span<uint8_t> planes, std::span<uint8_t> out);
