// G00 images: reading a file held in memory into a new Canvas.
#pragma once

#include <cstdint>
#include <span>

#include "codec/g00_regions.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/status.h"

inline constexpr uint32_t kG00HeaderSize = 5;  // type, width, height
inline constexpr uint8_t kG00FullFrame = 0;    // one LZ stream of 3-byte pixels
inline constexpr uint8_t kG00Paletted = 1;     // a G00 type this program does not convert
inline constexpr uint8_t kG00Regions = 2;      // parts of 4-byte pixels placed region by region
// The widest and tallest picture, what the header's 16-bit fields hold: every picture read for
// packing is refused (pictureTooLarge) beyond it.
inline constexpr uint32_t kMaxG00Side = 0xFFFF;

struct G00Header {
    uint8_t type;
    uint16_t width;
    uint16_t height;
};

struct G00Decoded {
    Status status = Status::ok;
    G00Header header = {};     // as read, for the type byte of a refusal and the output's choice
    uint32_t regionCount = 0;  // a decoded region picture's records; 0 for a full frame
};

// Reads a G00 file into a new Canvas: checks the header (type 0 or 2, width and height not 0,
// at most maxPixels pixels when maxPixels is not 0, the Canvas within kMaxBlockSize), checks that
// the file holds the streams its fields announce before any buffer is obtained, then makes the
// Canvas and decodes. Results: ok; truncated for a file shorter than a header, or when the file
// ends before its fields or its compressed data, or a region picture announces more
// decompressed data than its stream could give; notG00 for a type byte that is no G00 type,
// unsupportedType for type 1; emptyPicture; tooManyPixels; tooLarge; damagedParts when the
// announced decompressed size is 0; outOfMemory when a buffer cannot be obtained; the results
// of the decompressors and of composeRegions otherwise. On failure the Canvas is empty. When
// partData is given, a region picture's decompressed data is kept there (for drawing its
// regions alone); it is empty for a full frame and on failure.
//
// With kept, the Canvas and the decompression buffer are taken from its blocks (zero-filled
// as fresh ones are, see takeKeptBlock) and go back to them on failure; on success the
// decompression buffer goes back at once unless it is kept in partData, and the caller gives
// it and the Canvas back with keepBlock when done.
struct G00Blocks {
    KeptBlock canvas;
    KeptBlock data;
};
G00Decoded decodeG00Picture(std::span<const uint8_t> file, Canvas& canvas, uint64_t maxPixels = 0,
                            ByteBuffer* partData = nullptr, G00Blocks* kept = nullptr);
