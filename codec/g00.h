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

// The pixel limit every caller gets unless it chooses its own (0: none): the converter's default
// since its first version, far above any picture a game ships, far below what makes a thumbnailer
// or a plug-in take gigabytes for a header of a few bytes.
inline constexpr uint64_t kDefaultMaxPixels = 178956970;

// What a file's header and size fields say, read without decoding or obtaining any buffer, and
// the result decodeG00Picture would give before it decodes: ok, truncated, notG00,
// unsupportedType, emptyPicture, tooManyPixels, tooLarge, or damagedParts for a region picture
// that announces no decompressed data. Hosts ask it first (a thumbnailer's size, a bomb check).
struct G00Info {
    Status status = Status::ok;
    G00Header header = {};     // read when the file holds at least kG00HeaderSize bytes
    uint32_t regionCount = 0;  // a region picture's records (the low byte, 0 = 256); 0 otherwise
    bool sizesRead = false;    // the size pair lies inside the file
    uint32_t compressedLength = 0;    // counted from the size pair's own offset
    uint32_t decompressedLength = 0;  // as stored (a full frame's is not used)
};
G00Info readG00Info(std::span<const uint8_t> file, uint64_t maxPixels = kDefaultMaxPixels);

// The most bytes from a file's start that readG00Info reads: a region picture's 256 records
// and its size pair.
inline constexpr uint32_t kG00InfoReach = 9 + 24 * 256 + 8;
// The same answer from the file's first min(fileSize, kG00InfoReach) bytes (or more) and its
// size, for hosts that read from a stream and should not read a whole file to judge it.
struct G00Head {
    std::span<const uint8_t> bytes;
    uint64_t fileSize = 0;
};
G00Info readG00Info(G00Head head, uint64_t maxPixels = kDefaultMaxPixels);

struct G00Decoded {
    Status status = Status::ok;
    G00Header header = {};     // as read, for the type byte of a refusal and the output's choice
    uint32_t regionCount = 0;  // a decoded region picture's records; 0 for a full frame
};

// Reads a G00 file into a new Canvas: checks the header and size fields as readG00Info does,
// then makes the Canvas and decodes. A full-frame picture has no alpha of its own: its pixels come
// out opaque (alpha 255), so that every writer and every caller sees what the game shows.
// Results: readG00Info's; outOfMemory when a buffer cannot be obtained; the results of the
// decompressors and of composeRegions otherwise. On failure the Canvas is empty. When
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
