// The two LZ decompressors of G00 images: pixels of 3 colour bytes (full-frame pictures) and
// plain bytes (region-based pictures). Pure functions over memory; the caller supplies the output.
#pragma once

#include <cstdint>

#include "common/status.h"

// Both share one control scheme: a control byte gives 8 items, least significant bit first;
// bit 1 is a literal, bit 0 a copy word (distance = word >> 4, count = (word & 15) + 1 pixels
// or + 2 bytes). Before each item the input position is compared with the stream end, and
// decoding ends there.
//
// Bounds: nothing is read at or beyond streamEnd and nothing is written outside [out, outEnd).
//  - A stream end beyond fileEnd is refused at once: truncated.
//  - An item that straddles the stream end (a literal or copy word cut off) fails: truncated.
//    The file announces more data than it holds, so its picture would be incomplete.
//  - An item that would write past outEnd, or a copy whose source lies before out, fails:
//    damagedStream. Such a stream does not belong to a picture of this size.
// A copy of distance 0 leaves the units it covers as they were and advances past them.

// The most output a stream of n bytes can give: every item a copy of the longest count, a
// 2-byte word for 16 pixels (64 output bytes) or for 17 bytes.
inline uint64_t lzPixelsMostOutput(uint64_t streamBytes) { return 32 * streamBytes; }
inline uint64_t lzBytesMostOutput(uint64_t streamBytes) { return streamBytes / 2 * 17 + 17; }

// Writes bytes 0..2 of each 4-byte output pixel and never byte 3.
Status decodeLzPixels(const uint8_t* stream, const uint8_t* streamEnd, const uint8_t* fileEnd,
                      uint8_t* out, uint8_t* outEnd);

Status decodeLzBytes(const uint8_t* stream, const uint8_t* streamEnd, const uint8_t* fileEnd,
                     uint8_t* out, uint8_t* outEnd);

// The bytes decodeLzBytes writes from the start of its output (the end it reaches), counted
// from the items alone: up to the stream's end or its first cut-off item. A stream the decoder
// refuses may count more than its output holds.
uint64_t lzBytesOutputLength(const uint8_t* stream, const uint8_t* streamEnd);
