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
