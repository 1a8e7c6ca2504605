// PNG files: 8-bit RGBA (colour type 6, the Canvas's straight alpha) or 8-bit RGB (colour
// type 2), deflated in bands of whole rows that several tasks may compress at once: signature,
// IHDR, one IDAT chunk per band, a last IDAT holding the stream's Adler-32, IEND. The bytes are
// the same however many tasks there are, and on every build.
//
// Each band is compressed alone: a smooth band's rows all filtered "up" and deflated with
// matches (deflate_rows.h), any other band's rows each given the filter that leaves the
// smallest sum of absolute differences, then deflated the same way or, when its bytes repeat
// little (grain, noise), written as literals under a Huffman code of the band's own.
#pragma once

#include <cstdint>
#include <span>

#include "codec/encode.h"
#include "common/canvas.h"
#include "common/parallel.h"

inline constexpr uint32_t kPngBandBytes = 512 * 1024;  // filtered bytes a band holds at least

uint64_t pngBound(uint32_t width, uint32_t height, PngColour colour);
// The work area of one task: two rows of pixels, five filter candidates, the band's filtered
// rows and compressed chunk, and the match search's tables. Independent of the height.
uint64_t pngWorkSize(uint32_t width, PngColour colour);

// Writes the whole file into out (pngBound bytes), its bands compressed by up to parallel.most
// tasks, as many as work holds areas of pngWorkSize bytes. Returns the file size, or 0 when the
// picture is empty or a buffer is too small.
uint32_t writePng(const Canvas& canvas, PngColour colour, std::span<uint8_t> work,
                  std::span<uint8_t> out, const Parallel& parallel = {});
