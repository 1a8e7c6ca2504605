// Small G00 files for the conversion tests: literal-only streams, so every byte is known.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace fixtures {

inline std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void appendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    size_t at = bytes.size();
    bytes.resize(at + 4);
    storeLe32(bytes.data() + at, value);
}

// Literal-only LZ stream: a control byte of all ones before every 8 units of unitSize bytes.
inline std::vector<uint8_t> literalStream(const std::vector<uint8_t>& units, size_t unitSize) {
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < units.size(); i += unitSize) {
        if ((i / unitSize) % 8 == 0) stream.push_back(0xFF);
        stream.insert(stream.end(), units.begin() + i, units.begin() + i + unitSize);
    }
    return stream;
}

// Colour of pixel (x, y), blue, green, red, alpha: distinct enough to catch misplaced pixels.
inline uint32_t pixelAt(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t v = (x * 2654435761u) ^ (y * 40503u) ^ (seed * 97u);
    return v ^ (v >> 13);
}

// A full-frame file whose pixel (x, y) has the colour bytes of pixelAt.
inline std::vector<uint8_t> fullFrame(uint16_t width, uint16_t height, uint32_t seed = 1) {
    std::vector<uint8_t> bgr;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t c = pixelAt(x, y, seed);
            bgr.insert(bgr.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
    std::vector<uint8_t> stream = literalStream(bgr, 3);
    std::vector<uint8_t> file = {0, uint8_t(width), uint8_t(width >> 8), uint8_t(height),
                                 uint8_t(height >> 8)};
    appendLe32(file, uint32_t(8 + stream.size()));
    appendLe32(file, uint32_t(bgr.size() / 3 * 4));
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

// A region-based file: one region at the origin covering the picture, one part of
// partWidth x partHeight at (1, 1) whose pixels are pixelAt with alpha ramping.
inline std::vector<uint8_t> regions(uint16_t width, uint16_t height, uint16_t partWidth,
                                    uint16_t partHeight, uint32_t seed = 2) {
    std::vector<uint8_t> data;
    appendLe32(data, 1);   // entry count
    appendLe32(data, 12);  // block offset
    appendLe32(data, 0);   // block length (present)
    std::vector<uint8_t> block(116, 0);
    storeLe16(block.data() + 2, 1);
    std::vector<uint8_t> part(92, 0);
    storeLe16(part.data(), 1);
    storeLe16(part.data() + 2, 1);
    storeLe16(part.data() + 6, partWidth);
    storeLe16(part.data() + 8, partHeight);
    for (uint32_t y = 0; y < partHeight; ++y)
        for (uint32_t x = 0; x < partWidth; ++x) {
            uint32_t c = pixelAt(x, y, seed);
            part.insert(part.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16),
                                     uint8_t((x * 255) / (partWidth > 1 ? partWidth - 1 : 1))});
        }
    data.insert(data.end(), block.begin(), block.end());
    data.insert(data.end(), part.begin(), part.end());

    std::vector<uint8_t> file = {2, uint8_t(width), uint8_t(width >> 8), uint8_t(height),
                                 uint8_t(height >> 8)};
    appendLe32(file, 1);  // region count
    for (uint32_t field : {0u, 0u, uint32_t(width - 1), uint32_t(height - 1), 0u, 0u})
        appendLe32(file, field);
    std::vector<uint8_t> stream = literalStream(data, 1);
    appendLe32(file, uint32_t(8 + stream.size()));
    appendLe32(file, uint32_t(data.size()));
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

}  // namespace fixtures
