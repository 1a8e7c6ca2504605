// PNG files: 8-bit RGBA (colour type 6, the Canvas's straight alpha) or 8-bit RGB (colour
// type 2), each row given the filter that leaves the smallest sum of absolute differences, and
// the rows deflated by zlib (level 5) in bands of whole rows that several tasks may compress at
// once: signature, IHDR, one IDAT chunk per band, a last IDAT holding the stream's Adler-32,
// IEND. The bytes are the same however many tasks there are.
#pragma once

#include <cstdint>
#include <span>

#include "codec/encode.h"
#include "common/canvas.h"
#include "common/parallel.h"

uint64_t pngBound(uint32_t width, uint32_t height, PngColour colour);
// The work area of one task: zlib's state, two rows of pixels, five filter candidates and the
// dictionary rows. Independent of the height.
uint64_t pngWorkSize(uint32_t width, PngColour colour);

// Writes the whole file into out (pngBound bytes), its bands compressed by up to parallel.most
// tasks, as many as work holds areas of pngWorkSize bytes. Returns the file size, or 0 when the
// picture is empty or a buffer is too small.
uint32_t writePng(const Canvas& canvas, PngColour colour, std::span<uint8_t> work,
                  std::span<uint8_t> out, const Parallel& parallel = {});
