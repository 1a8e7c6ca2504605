// One block of PSD channel data: a compression field, then PackBits rows with their length
// table, or the raw samples when packing would not make the block smaller.
#pragma once

#include <cstdint>

#include "codec/g00.h"

// The longest packed row a block's u16 length slot records.
inline constexpr uint32_t kMaxPackedRowLength = 0xFFFF;

// Sample j of row r is at source[(r * width + j) * stride]; stride is 4 (one byte of every
// Canvas pixel) or 1 (contiguous planes).
//
// The block is packed row by row; as soon as the table and the rows packed so far reach the
// raw size, the whole block is rewritten raw from its start. Widths below 4 are always raw,
// and so is a block with a packed row longer than 65,535 bytes, which its u16 length slot
// could not record. Returns the bytes written, compression field included.
//
// out must hold packBitsBound(rows, width) bytes: the packed bytes of the row that triggers
// the fallback may pass the raw size before it is rewritten.
uint32_t packBitsChannel(const uint8_t* source, uint32_t stride, uint32_t rows, uint32_t width,
                         uint8_t* out);

inline uint64_t packBitsRawSize(uint32_t rows, uint32_t width) {
    return 2 + uint64_t(rows) * width;
}
// The raw size and the most bytes one packed row of width samples takes.
inline uint64_t packBitsBound(uint32_t rows, uint32_t width) {
    return packBitsRawSize(rows, width) + width + (uint64_t(width) + 127) / 128;
}

// Packs one row of width contiguous samples (4 to 65,535) to out as packBitsChannel packs each
// of its rows, and returns the end of the packed bytes. It writes nothing at or past end, which
// must lie at least packBitsBound(0, width) - 2 bytes after out.
uint8_t* packBitsRow(const uint8_t* row, uint32_t width, uint8_t* out, const uint8_t* end);

// out[k] = source[4 * k] for k below count; nothing past source[4 * (count - 1)] is read.
void gatherEveryFourth(const uint8_t* source, uint64_t count, uint8_t* out);
