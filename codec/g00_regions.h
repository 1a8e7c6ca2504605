// Region pictures part by part: the box each region covers, and a region drawn alone on a
// Canvas of its box's size.
//
// Region i is PartTable entry i placed by RegionRecord i (at most 256 of them). A part draws
// the pixels of it that fall inside the picture after clipping; a region draws a pixel when at
// least one of its parts does, whatever the pixel's value (a transparent pixel that is written
// counts as drawn). Absent entries, empty region records, blocks of 0 parts, parts of width or
// height 0 and parts wholly outside the picture draw nothing.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/status.h"

// The pixels a region draws on a width x height picture: the smallest rectangle holding every
// drawn pixel; empty when the region draws none.
struct RegionBox {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    bool empty() const { return width == 0 || height == 0; }
    friend bool operator==(const RegionBox&, const RegionBox&) = default;
};

inline constexpr uint32_t kMostRegions = 256;

struct RegionBoxes {
    uint32_t count = 0;  // regions that can hold parts: the entries that have a region record
    std::array<RegionBox, kMostRegions> box{};
};

// Every region's box, from one walk of the whole table: the same results as the decoder's.
Status regionBoxes(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t width,
                   uint32_t height, RegionBoxes& boxes);

// Region `index` of a width x height picture drawn alone onto a new Canvas of its box's size,
// the box's top-left pixel at (0, 0): only its own entry's parts, clipped as composeRegions
// clips, the other entries unread. box (when given) receives the box. emptyPicture (and no
// Canvas) when the region draws no pixel (an index beyond the table draws none);
// the decoder's results for the table and that entry otherwise, and makeCanvas's.
Status cropRegion(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t index,
                  uint32_t width, uint32_t height, Canvas& cropped, RegionBox* box = nullptr);

// The mask of region `index` drawn alone, one byte per pixel of its box (cropRegion's box, row
// by row): 0 where a later region's parts replace its pixels in the whole picture, 255
// elsewhere, so that its pixels masked and laid over the earlier regions' show what the
// decoder composes. emptyPicture when the region draws no pixel; composeRegions' results for
// the table, and obtainBlock's.
Status regionMask(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t index,
                  uint32_t width, uint32_t height, ByteBuffer& mask, RegionBox& box);

// A region that draws a pixel, drawn alone (cropRegion) with its mask (regionMask).
struct RegionLayer {
    uint32_t region = 0;
    RegionBox box;
    Canvas pixels;
    ByteBuffer mask;
};

// Every region that draws a pixel, in order, from one decode's data: what a layered picture
// shows as its layers. The results of regionBoxes, cropRegion and regionMask.
Status regionLayers(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t width,
                    uint32_t height, std::vector<RegionLayer>& layers);
