// The LZ compressors of G00 images, the counterparts of codec/lz.h: pixels of 3 colour bytes
// (full-frame pictures) and plain bytes (region-based pictures). Pure functions over memory;
// the caller supplies the output and a work area.
#pragma once

#include <cstdint>
#include <span>

#include "common/parallel.h"

// Each stream is the shortest the format allows for the copies the match finder offers: with a
// literal costing 1 control bit and 3 or 1 bytes and a copy 1 control bit and 2 bytes, it is a
// shortest path over the input positions. The match finder gives, at every position, the
// longest match within 4,095 units back (up to 16 pixels or 17 bytes, overlapping the position
// itself included), and every shorter length of that match is tried too. Its search is
// complete, so no encoder that copies only what lies in that distance, greedy or not, makes a
// shorter stream.
//
// Speed: each position is placed in a binary tree of the positions within reach (ordered by the
// units that follow them), and the walk that places it meets the longest match. For bytes the
// trees hold the positions that share four leading bytes; shorter matches come from a chain of
// three-byte hashes and a table of pairs. Pictures give shallow walks; input made to defeat the
// order (many long near-repeats that part just before 16 units) makes them deeper, up to the
// 4,095 positions within reach.

// How the pixels handed to encodeLzPixels are laid out: 3 bytes (blue, green, red) or 4 (blue,
// green, red, alpha; the alpha byte is not stored, the format has none).
enum class PixelUnit : uint8_t { bgr = 3, bgra = 4 };

// The longest stream each can write: every unit a literal, one control byte per 8 of them.
inline uint64_t lzPixelsEncodedBound(uint64_t pixels) { return 3 * pixels + (pixels + 7) / 8; }
inline uint64_t lzBytesEncodedBound(uint64_t bytes) { return bytes + (bytes + 7) / 8; }

// The work area for units input units (pixels or bytes): fixed hash tables for each of up to
// `tasks` parts of the match search that may run at once, and 3 bytes a unit (4 for more than
// one part). It must be aligned
// to 4 bytes (page blocks are); its contents need no preparation.
uint64_t lzEncodeWorkSize(uint64_t units, uint32_t tasks = 1);

// Both write the stream into out and return its length. They return 0 when out or work is
// smaller than the sizes above, or work is not aligned (an empty input also gives 0 bytes).
// Inputs of 2^32 units or more are refused the same way: no page block holds their stream.
// The match search and the path of a large input are split into as many parts as parallel may
// run at once and work has room for; the stream is the same however it was split.
uint64_t encodeLzPixels(std::span<const uint8_t> pixels, PixelUnit unit, std::span<uint8_t> work,
                        std::span<uint8_t> out, const Parallel& parallel = {});
uint64_t encodeLzBytes(std::span<const uint8_t> bytes, std::span<uint8_t> work,
                       std::span<uint8_t> out, const Parallel& parallel = {});
