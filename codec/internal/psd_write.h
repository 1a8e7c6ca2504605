// Layered Photoshop files: an 8-bit RGB document with one layer carrying the Canvas colours
// and transparency (or one layer per region), and a merged image of the Canvas flattened on
// white with its alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/canvas.h"
#include "common/parallel.h"

// Every block stored raw, plus the packed bytes of one row that the encoder may write past a
// block's raw end before it falls back.
uint64_t psdBound(uint32_t width, uint32_t height);
// The merged image's colour rows packed apart, by a second task.
uint64_t psdSecondBound(uint32_t width, uint32_t height);

// Writes the whole file into out (psdBound bytes). With second (psdSecondBound bytes), the
// merged image's colour rows are packed there by a second task of parallel while the first
// packs the layer, then moved behind it (an opaque picture, whose layer is copied from the
// merged rows, is packed in one piece); the bytes are the same either way. Returns the file
// size, or 0 when a buffer is too small.
uint32_t writePsd(const Canvas& canvas, std::span<uint8_t> out, std::span<uint8_t> second = {},
                  const Parallel& parallel = {});

// One layer of a layered file: its own pixels, placed with their top-left pixel at (left, top)
// of the document, and named "region RRR" after the region it shows.
struct PsdRegionLayer {
    const Canvas* pixels = nullptr;
    uint32_t left = 0, top = 0;
    uint32_t region = 0;  // 0 to 999
    // A layer mask of one byte per pixel (0 hides, 255 shows), or none.
    const uint8_t* mask = nullptr;
};

inline constexpr size_t kMostPsdLayers = 256;

uint64_t layeredPsdBound(uint32_t width, uint32_t height, std::span<const PsdRegionLayer> layers);

// Writes a document of the Canvas's size whose layers are the given ones, bottom to top in the
// order given, each with the four channels and record of writePsd's one layer, and a user mask
// over the layer's rectangle when it has one; the merged image is writePsd's. Unlike writePsd's,
// the layer info length is kept even with a pad byte. out must hold layeredPsdBound bytes. Returns
// the file size, or 0 when out is too small, no layer or more than kMostPsdLayers are given, or a
// layer is empty or leaves the document.
uint32_t writeLayeredPsd(const Canvas& canvas, std::span<const PsdRegionLayer> layers,
                         std::span<uint8_t> out);
