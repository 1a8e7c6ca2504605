// Whole files written into a block of their own, sized by the format's bound: what the
// programs and the library hand on.
#pragma once

#include <cstdint>
#include <span>

#include "codec/g00_write.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/parallel.h"
#include "common/status.h"

struct Encoded {
    ByteBuffer bytes;
    uint32_t length = 0;
};

// A 24-bit uncompressed Windows BMP (rows stored bottom-up, alpha dropped), and a layered
// Photoshop file: an 8-bit RGB document with one layer carrying the Canvas colours and
// transparency, and a merged image of the Canvas flattened on white with its alpha, packed in
// two tasks at once when parallel allows it (the bytes the same either way). obtainBlock's
// refusals, or outOfMemory when the writer finds its block too small.
Status encodeBmp(const Canvas& canvas, Encoded& out);
Status encodePsd(const Canvas& canvas, const Parallel& parallel, Encoded& out);

// A region picture (its file, its decompressed data and the decoded Canvas) as one PSD with a
// layer per region that draws a pixel; the one-layer PSD when none does. regionBoxes' and
// cropRegion's results, and encodePsd's.
Status encodeRegionLayersPsd(std::span<const uint8_t> file, std::span<const uint8_t> data,
                             const Canvas& canvas, Encoded& out);

// A PNG file: 8-bit RGBA (colour type 6, the Canvas's straight alpha) or 8-bit RGB (colour
// type 2), its rows deflated by zlib in bands that up to parallel.most tasks compress at once,
// each with a work area of its own; the bytes are the same however many tasks there are.
// emptyPicture, obtainBlock's refusals, or outOfMemory when the writer finds a buffer short.
enum class PngColour : uint8_t { rgb = 2, rgba = 6 };
Status encodePng(const Canvas& canvas, PngColour colour, const Parallel& parallel, Encoded& out);

// A PNG file written by encodePng copied into a block of its own with an oFFs chunk after its
// IHDR: the picture's place (x, y) in pixels on a larger one, which GIMP and ImageMagick read.
// damagedPicture when png does not start with a signature and an IHDR.
Status encodePngAt(std::span<const uint8_t> png, int32_t x, int32_t y, Encoded& out);

// A fresh G00 file of the Canvas: pictureTooLarge beyond 65,535 pixels either way.
Status encodeFreshG00(const Canvas& picture, Encoded& out);
// A G00 file like the original (planned with planG00Like), its size in result.size; the
// picture's alpha is taken as likeAlphaOf says. A picture of another size is refused
// (sizeDiffers), one with transparency for a full-frame original too (transparencyLost). Pixels
// outside the original's parts are reported in result.outside, the file written all the same.
G00LikeResult encodeG00Like(std::span<const uint8_t> original, const G00LikePlan& plan,
                            const Canvas& picture, Encoded& out);
// A region-based original refilled region by region (see writeG00LikeRegions); the original's
// data is checked by decoding it first, so a damaged original fails as the decoder finds it.
G00LikeRegionsResult encodeG00LikeRegions(std::span<const uint8_t> original,
                                          std::span<const RegionPicture> regions, Encoded& out);
// A fresh region-based file of width x height, one region per picture (see
// writeFreshRegionsG00).
Status encodeFreshRegionsG00(std::span<const RegionPicture> regions, uint32_t width,
                             uint32_t height, Encoded& out);
