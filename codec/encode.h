// BMP, PSD and PNG files written whole into a block of their own, sized by the format's bound:
// what the programs and the library hand on (G00 files: codec/g00_encode.h). The steps under them
// (plans, work sizes, bounds, writers into the caller's memory) are the codec's own, in
// codec/internal/.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

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
// two tasks at once when parallel allows it (the bytes the same either way). Both write every
// byte of the file, so a block out.bytes already holds is written over when it is large enough
// (reuseBlock), and a new one obtained otherwise. obtainBlock's refusals, or outOfMemory when
// the writer finds its block too small.
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
// With place, an oFFs chunk after the IHDR records the picture's place in pixels on a larger
// one, which GIMP and ImageMagick read. emptyPicture, obtainBlock's refusals, or outOfMemory
// when the writer finds a buffer short.
enum class PngColour : uint8_t { rgb = 2, rgba = 6 };
struct PngPlace {
    int32_t x = 0, y = 0;
};
Status encodePng(const Canvas& canvas, PngColour colour, const Parallel& parallel, Encoded& out,
                 std::optional<PngPlace> place = std::nullopt);
