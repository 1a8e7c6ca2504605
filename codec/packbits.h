// One block of PSD channel data: a compression field, then PackBits rows with their length
// table, or the raw samples when packing would not make the block smaller.
#pragma once

#include <cstdint>

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
inline uint64_t packBitsBound(uint32_t rows, uint32_t width) {
    return packBitsRawSize(rows, width) + width + (uint64_t(width) + 127) / 128;
}
