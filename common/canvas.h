// The decoded picture: width x height pixels of 4 bytes (blue, green, red, alpha), rows top to
// bottom.
#pragma once

#include <cstdint>

#include "common/byte_buffer.h"
#include "common/status.h"

struct Canvas {
    uint32_t width = 0;
    uint32_t height = 0;
    ByteBuffer pixels;  // zero-filled when made: undrawn pixels are black with alpha 0

    uint32_t stride() const { return width * 4; }
};

inline uint64_t canvasByteSize(uint32_t width, uint32_t height) {
    return uint64_t(width) * height * 4;
}

// Obtains the zero-filled pixels: emptyPicture when width or height is 0, tooLarge beyond
// kMaxBlockSize, outOfMemory when the system refuses. paging says whether the decoder will
// write every pixel (a full frame) or only its parts.
// With kept, the pixels are taken from it (takeKeptBlock); give them back with keepBlock.
Status makeCanvas(uint32_t width, uint32_t height, Canvas& canvas,
                  PagingHint paging = PagingHint::inPart, KeptBlock* kept = nullptr);
