// A plain description of a G00 file as the decoder reads it: the header, the size fields, the
// region records, the part table with each block's parts, and the result a conversion gives.
// A damaged file is described up to where the decoder stops, with the reason in result.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "codec/g00_regions.h"
#include "common/status.h"

struct G00RegionInfo {
    uint32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // whole fields; the decoder uses the low halves
    uint32_t unread[2] = {0, 0};              // the fields at 16 and 20
};

struct G00PartInfo {
    uint32_t x = 0, y = 0;  // from the region's origin
    uint32_t width = 0, height = 0;
};

struct G00EntryInfo {
    uint32_t index = 0;
    uint32_t blockOffset = 0;
    int32_t blockLength = 0;
    bool absent = false;                // a negative length: not drawn
    bool emptyRegion = false;           // its record's x2 and y2 are 0: not drawn
    std::optional<uint32_t> partCount;  // read for an entry that is drawn, when its block fits
    std::vector<G00PartInfo> parts;     // as many as lie inside the data
    RegionBox box;                      // the pixels it draws on the picture
};

struct G00Description {
    uint64_t fileSize = 0;
    bool headerRead = false;  // false: fewer than 5 bytes
    uint8_t type = 0;
    uint32_t width = 0, height = 0;
    // The size pair: the compressed length (counted from the pair's own offset, so the pair's
    // 8 bytes included) and the decompressed length, as stored.
    std::optional<uint32_t> compressedLength;
    std::optional<uint32_t> decompressedLength;
    // Region pictures.
    std::optional<uint32_t> regionCount;  // the records the file has (the low byte, 0 = 256)
    std::vector<G00RegionInfo> regions;   // the records inside the file
    std::optional<uint32_t> entryCount;   // present once the data is decompressed
    std::vector<G00EntryInfo> entries;    // the entries the decoder reads, in order
    Status result = Status::ok;           // what decodeG00Picture gives
};

// Describes the file; maxPixels is the conversion's pixel limit (0: none), so that result is
// what a conversion with that limit gives.
G00Description describeG00(std::span<const uint8_t> file, uint64_t maxPixels = 0);
