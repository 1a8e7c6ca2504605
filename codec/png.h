// PNG files: 8-bit RGBA (colour type 6, the Canvas's straight alpha) or 8-bit RGB (colour
// type 2), each row given the filter that leaves the smallest sum of absolute differences, and
// the rows deflated by zlib in bands of whole rows.
//
// File layout: signature, IHDR, one IDAT chunk per band, a last IDAT holding the stream's
// Adler-32, IEND. Band i holds rows [i * R, (i + 1) * R), R = pngBandRows(width). The first
// band's chunk opens the zlib stream; every band is raw deflate ended on a full flush (the
// last one with the final block), and every band after the first starts from a dictionary of
// the 32 KiB of filtered rows before it. Bands are therefore independent of each other and can
// be compressed in any order, at the same time; the bytes are those of writePng either way.
#pragma once

#include <cstdint>
#include <span>

#include "codec/encode.h"
#include "common/canvas.h"

enum class PngColour : uint8_t { rgb = 2, rgba = 6 };

// zlib's level (1 to 9) and strategy. The default is what the command line writes.
enum class PngStrategy : uint8_t { normal, filtered, rle };
struct PngDeflate {
    int level = 5;
    PngStrategy strategy = PngStrategy::normal;
};

inline constexpr uint32_t kPngHeadSize = 8 + 25;  // signature and IHDR
inline constexpr uint32_t kPngTailSize = 16 + 12;  // the Adler-32 IDAT and IEND
inline constexpr uint32_t kPngBandBytes = 256 * 1024;  // filtered bytes a band holds at least

inline uint32_t pngBytesPerPixel(PngColour colour) { return colour == PngColour::rgba ? 4 : 3; }
// A filtered row: the filter byte, then the pixels.
inline uint64_t pngRowSize(uint32_t width, PngColour colour) {
    return 1 + uint64_t(width) * pngBytesPerPixel(colour);
}
inline uint32_t pngBandRows(uint32_t width, PngColour colour) {
    const uint64_t row = pngRowSize(width, colour);
    return uint32_t((kPngBandBytes + row - 1) / row);
}
inline uint32_t pngBandCount(uint32_t width, uint32_t height, PngColour colour) {
    const uint32_t rows = pngBandRows(width, colour);
    return uint32_t((uint64_t(height) + rows - 1) / rows);
}

// The most one band's chunk can take: 12 bytes of chunk frame, the 2-byte zlib header, and
// deflate's bound when every block is stored, with room for the flush.
inline uint64_t pngBandBound(uint32_t width, PngColour colour) {
    const uint64_t n = pngRowSize(width, colour) * pngBandRows(width, colour);
    return 12 + 2 + n + ((n + 7) >> 3) + ((n + 63) >> 6) + 5 + 16;
}
inline uint64_t pngFileBound(uint32_t width, uint32_t height, PngColour colour) {
    return kPngHeadSize + uint64_t(pngBandCount(width, height, colour)) * pngBandBound(width, colour) +
           kPngTailSize;
}

// The work area of one band being compressed: zlib's state, two rows of pixels, five filter
// candidates and the dictionary rows. Independent of the height.
uint64_t pngWorkSize(uint32_t width, PngColour colour);

// Signature and IHDR; out must hold kPngHeadSize bytes.
void writePngHead(uint32_t width, uint32_t height, PngColour colour, uint8_t* out);

struct PngBand {
    uint32_t length = 0;    // bytes of the chunk written, 0 when the work area or out was short
    uint32_t adler = 1;     // Adler-32 of the band's filtered rows
    uint64_t filtered = 0;  // how many bytes those rows are
};
// Writes band `band` as a whole IDAT chunk into out (at least pngBandBound bytes), using only
// work (at least pngWorkSize bytes) for every buffer zlib and the filters need.
PngBand writePngBand(const Canvas& canvas, PngColour colour, PngDeflate deflate, uint32_t band,
                     std::span<uint8_t> work, std::span<uint8_t> out);

// The Adler-32 of the bands one after another, from each band's own.
uint32_t combinePngAdler(uint32_t first, uint32_t second, uint64_t secondLength);

// The Adler-32 IDAT and IEND; out must hold kPngTailSize bytes.
void writePngTail(uint32_t adler, uint8_t* out);

// The whole file, band after band, into out (at least pngFileBound bytes). Returns the file
// size, or 0 when the picture is empty or a buffer is too small.
uint32_t writePng(const Canvas& canvas, PngColour colour, PngDeflate deflate,
                  std::span<uint8_t> work, std::span<uint8_t> out);

// The whole file into a block of its own, its bands compressed on up to `threads` threads at
// once (fewer when there are fewer bands); the bytes are writePng's whatever the count.
// emptyPicture, obtainBlock's refusals, or outOfMemory when a band's work area is short.
Status encodePng(const Canvas& canvas, PngColour colour, unsigned threads, Encoded& out);
