// G00 images: the header, and decoding either variant into a Canvas.
#pragma once

#include <cstdint>
#include <span>

#include "common/canvas.h"
#include "common/status.h"

inline constexpr uint8_t kG00FullFrame = 0;    // one LZ stream of 3-byte pixels
inline constexpr uint8_t kG00Regions = 2;      // parts of 4-byte pixels placed region by region
inline constexpr uint32_t kG00HeaderSize = 5;  // type, width, height

struct G00Header {
    uint8_t type;
    uint16_t width;
    uint16_t height;
};

// The file must hold at least kG00HeaderSize bytes.
G00Header readG00Header(std::span<const uint8_t> file);

// Decodes the file into the zero-filled Canvas made from its header's width and height.
// A type byte other than 0 is decoded as a region-based picture; callers pass only 0 or 2.
// Results: ok; truncated when the file ends before its fields or its compressed data;
// damagedParts when the announced decompressed size is 0 (no part table to read, and a
// 0-byte block is never obtained); outOfMemory when the decompression buffer cannot be
// obtained; the results of the decompressors and of composeRegions otherwise.
Status decodeG00(std::span<const uint8_t> file, Canvas& canvas);

// Places the parts of the decompressed data onto the Canvas, entry by entry, region by region.
// Bounds, chosen so that nothing is read outside the file or the data and nothing is written
// outside the Canvas:
//  - an entry count of 0 draws nothing (a fully transparent picture);
//  - a table, block header or part that runs past the end of the data fails: damagedParts;
//  - an entry beyond the file's region count fails (damagedParts) unless it is marked absent,
//    since there is no region record to place it by;
//  - a part is clipped to the Canvas: pixels right of the last column or below the last row
//    are dropped, rather than wrapping into the next row or leaving the Canvas;
//  - a part of width or height 0 draws nothing and the next part follows its header.
Status composeRegions(std::span<const uint8_t> file, std::span<const uint8_t> data,
                      Canvas& canvas);
