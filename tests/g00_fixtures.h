// Small G00 files for the conversion tests: literal-only streams, so every byte is known.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/g00_encoder.h"

namespace fixtures {

inline std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Colour of pixel (x, y), blue, green, red, alpha: distinct enough to catch misplaced pixels.
inline uint32_t patternColour(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t v = (x * 2654435761u) ^ (y * 40503u) ^ (seed * 97u);
    return v ^ (v >> 13);
}

// A full-frame file whose pixel (x, y) has the colour bytes of patternColour.
inline std::vector<uint8_t> fullFrame(uint16_t width, uint16_t height, uint32_t seed = 1) {
    std::vector<uint8_t> bgr;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t c = patternColour(x, y, seed);
            bgr.insert(bgr.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
    return encodeG00FullFrame(width, height, bgr, PixelLayout::bgr, LzMode::literalsOnly);
}

// A region-based file: one region at the origin covering the picture, one part of
// partWidth x partHeight at (1, 1) whose pixels are patternColour with alpha ramping.
inline std::vector<uint8_t> regions(uint16_t width, uint16_t height, uint16_t partWidth,
                                    uint16_t partHeight, uint32_t seed = 2) {
    G00Part part{1, 1, partWidth, partHeight, {}};
    for (uint32_t y = 0; y < partHeight; ++y)
        for (uint32_t x = 0; x < partWidth; ++x) {
            uint32_t c = patternColour(x, y, seed);
            part.pixels.insert(part.pixels.end(),
                               {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16),
                                uint8_t((x * 255) / (partWidth > 1 ? partWidth - 1 : 1))});
        }
    G00RegionImage image;
    image.width = width;
    image.height = height;
    image.regions = {{0, 0, uint32_t(width - 1), uint32_t(height - 1), {0, 0}}};
    G00Entry entry;
    entry.parts = {part};
    entry.lengthField = 0;  // present; the length is not read
    image.entries = {entry};
    return encodeG00Regions(image, LzMode::literalsOnly);
}

}  // namespace fixtures
