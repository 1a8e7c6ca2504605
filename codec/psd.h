// Layered Photoshop files: an 8-bit RGB document with one layer carrying the Canvas colours
// and transparency (or one layer per region), and a merged image of the Canvas flattened on
// white with its alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/canvas.h"

inline constexpr uint32_t kPsdTemplateSize = 178;

// Four planes of width x height bytes: red, green, blue, alpha.
inline uint64_t psdPlanesSize(uint32_t width, uint32_t height) {
    return 4 * uint64_t(width) * height;
}

// Every block stored raw, plus the packed bytes of one row that the encoder may write past a
// block's raw end before it falls back.
inline uint64_t psdBufferSize(uint32_t width, uint32_t height) {
    return 8 * uint64_t(width) * height + 192 + width + (uint64_t(width) + 127) / 128;
}

// Fills the planes: each colour over white, c * a / 255 + (255 - a), rounded down; alpha as is.
void flattenOnWhite(const Canvas& canvas, std::span<uint8_t> planes);

// Writes the whole file into out; planes and out must hold psdPlanesSize and psdBufferSize
// bytes. Returns the file size, or 0 when a buffer is too small.
uint32_t writePsd(const Canvas& canvas, std::span<uint8_t> planes, std::span<uint8_t> out);

// One layer of a layered file: its own pixels, placed with their top-left pixel at (left, top)
// of the document, and named "region RRR" after the region it shows.
struct PsdRegionLayer {
    const Canvas* pixels = nullptr;
    uint32_t left = 0, top = 0;
    uint32_t region = 0;  // 0 to 999
};

inline constexpr size_t kMostPsdLayers = 256;

// Every block of every layer and the merged image stored raw, the pad byte, and the packed
// bytes of one row past a block's raw end.
uint64_t layeredPsdBufferSize(uint32_t width, uint32_t height, std::span<const PsdRegionLayer> layers);

// Writes a document of the Canvas's size whose layers are the given ones, bottom to top in the
// order given, each with the four channels and record of writePsd's one layer; the merged image
// is the whole Canvas flattened on white, as writePsd's. Unlike writePsd's, the layer info
// length is kept even with a pad byte. planes and out must hold psdPlanesSize and
// layeredPsdBufferSize bytes. Returns the file size, or 0 when a buffer is too small, no layer
// or more than kMostPsdLayers are given, or a layer is empty or leaves the document.
uint32_t writeLayeredPsd(const Canvas& canvas, std::span<const PsdRegionLayer> layers,
                         std::span<uint8_t> planes, std::span<uint8_t> out);

// The same file without planes: each merged row is flattened into the row PackBits reads, so
// out (psdBufferSize bytes) is the only memory beyond the Canvas. Returns the file size, or 0
// when out is too small.
uint32_t writePsd(const Canvas& canvas, std::span<uint8_t> out);

// The same file in two halves that two threads may pack at once, then joined: the header
// and the layer's four channel blocks, packed in place in out (psdBufferSize bytes); and the
// merged image's colour rows, packed into a block of their own (psdMergedSize bytes). The
// join moves the colour rows behind the layer, adds the alpha rows, and gives the bytes
// writePsd gives.
inline uint64_t psdMergedSize(uint32_t width, uint32_t height) {
    return 2 + 4 * uint64_t(height) * width + 2 * 4 * uint64_t(height) + width +
           (uint64_t(width) + 127) / 128;
}

// Returns the end of the layer blocks (a length within out), or 0 when out is too small.
uint32_t packPsdLayer(const Canvas& canvas, std::span<uint8_t> out);

// Returns the length of the packed colour rows with their block's head, or 0 when the merged
// image is to be stored raw (its rows reach the raw size, or the picture cannot be packed) or
// merged is too small.
uint32_t packPsdMergedColours(const Canvas& canvas, std::span<uint8_t> merged);

// Returns the file size, or 0 when out is too small or the lengths do not fit the buffers.
uint32_t joinPsdHalves(const Canvas& canvas, uint32_t layerEnd,
                       std::span<const uint8_t> merged, uint32_t mergedLength,
                       std::span<uint8_t> out);
