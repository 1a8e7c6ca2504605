// PNG, BMP and PSD files written the plain way, field by field, for the readers' tests, the
// hostile corpus and the fuzzing seeds. Like the G00 encoder, a tool: plain vectors, no checks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/test_pictures.h"

// ---- PNG ----

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t colourType = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
    uint8_t depth = 8;
    bool interlaced = false;
    // width * height * channels samples, each below 2^depth (palette indexes for type 3),
    // pixels left to right, rows top to bottom.
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;       // PLTE data, red, green, blue per entry
    std::vector<uint8_t> transparency;  // tRNS data as stored; none when empty
};

uint32_t pngChannels(uint8_t colourType);
// A chunk: length, type, data, CRC.
std::vector<uint8_t> pngChunk(const char* type, std::span<const uint8_t> data);
std::vector<uint8_t> pngHeaderData(const PngImage& image);
// The filtered rows, pass by pass for an interlaced image; row k of the file (counted over all
// passes) uses filter k % 5, so every filter is met.
std::vector<uint8_t> pngFilteredRows(const PngImage& image);
std::vector<uint8_t> zlibCompress(std::span<const uint8_t> bytes);
// Signature, IHDR, PLTE and tRNS when given, the zlib stream cut into IDAT chunks of
// idatSize bytes, IEND.
std::vector<uint8_t> assemblePng(const PngImage& image, std::span<const uint8_t> zlibStream,
                                 size_t idatSize = 8192);
inline std::vector<uint8_t> writePngFile(const PngImage& image, size_t idatSize = 8192) {
    return assemblePng(image, zlibCompress(pngFilteredRows(image)), idatSize);
}

// ---- BMP ----

struct BmpLayout {
    uint32_t infoSize = 40;    // 40, or 108 (V4) and 124 (V5) holding the masks
    uint16_t depth = 32;       // 24 or 32
    uint32_t compression = 0;  // 0 BI_RGB, 3 BI_BITFIELDS (masks after a 40-byte header)
    uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF,
                         0xFF000000};  // red, green, blue, alpha
    bool topDown = false;
};

// Each pixel stored by the masks (BI_RGB: blue, green, red, alpha bytes; 24-bit drops alpha).
std::vector<uint8_t> writeBmpFile(const TestPicture& picture, const BmpLayout& layout);

// ---- PSD ----

struct PsdChannel {
    int16_t id;                  // 0 red, 1 green, 2 blue, -1 transparency, -2 layer mask
    std::vector<uint8_t> block;  // compression field and data
};

struct PsdLayer {
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    uint8_t opacity = 255;
    std::vector<PsdChannel> channels;
};

struct PsdDocument {
    uint16_t version = 1;
    uint16_t channelCount = 3;  // of the merged image
    uint32_t width = 0, height = 0;
    uint16_t depth = 8;
    uint16_t mode = 3;  // RGB
    int16_t layerCountField = 0;
    bool layerSection = true;  // false: a layer and mask section of length 0
    std::vector<PsdLayer> layers;
    std::vector<uint8_t> merged;  // compression field and data
};

std::vector<uint8_t> writePsdFile(const PsdDocument& document);

// A channel block of rows x width samples: raw, or PackBits rows with their length table.
std::vector<uint8_t> psdChannelBlock(std::span<const uint8_t> samples, uint32_t rows,
                                     uint32_t width, bool packed);
// A channel block of rows x width samples as one zlib stream: compression 2, or 3 with each
// row stored as differences from its left neighbour (predicted).
std::vector<uint8_t> psdZipChannelBlock(std::span<const uint8_t> samples, uint32_t rows,
                                        uint32_t width, bool predicted);
// Byte `byte` (0 blue ... 3 alpha) of every pixel of a picture region, as channel samples.
std::vector<uint8_t> pictureChannel(const TestPicture& picture, uint32_t byte, uint32_t left,
                                    uint32_t top, uint32_t width, uint32_t height);
// A one-layer document holding the whole picture as its layer (packed or raw blocks) and a
// merged image of its colours.
PsdDocument oneLayerDocument(const TestPicture& picture, bool packed);
