// Where every field of a G00 file, and of a region-based file's decompressed data, lies.
// All fields are little-endian; offsets are from the start of the file or of the data.
#pragma once

#include <cstdint>
#include <span>

#include "codec/g00.h"  // kG00HeaderSize and the type bytes

// ---- Header, common to both types ----
inline constexpr uint32_t kG00TypeOffset = 0;    // u8
inline constexpr uint32_t kG00WidthOffset = 1;   // u16
inline constexpr uint32_t kG00HeightOffset = 3;  // u16

// ---- Size pair: compressed length (counted from the pair's own offset, so it includes the
// pair), then decompressed length; the LZ stream follows it ----
inline constexpr uint32_t kSizePairSize = 8;
inline constexpr uint32_t kDecompressedLengthOffset = 4;  // within the pair

// ---- Type 0 (full frame) ----
inline constexpr uint32_t kFullFrameSizePairOffset = kG00HeaderSize;                         // 5
inline constexpr uint32_t kFullFrameStreamStart = kFullFrameSizePairOffset + kSizePairSize;  // 13

// ---- Type 2 (regions) ----
inline constexpr uint32_t kRegionCountOffset = kG00HeaderSize;  // u32, low byte used, 0 = 256
inline constexpr uint32_t kRegionTableStart = kRegionCountOffset + 4;  // 9
// The file must reach the field.
inline uint32_t g00RegionCount(std::span<const uint8_t> file) {
    const uint32_t low = file[kRegionCountOffset];
    return low == 0 ? 256 : low;
}
inline constexpr uint32_t kRegionRecordSize = 24;
// RegionRecord fields, u32 each; the decoder reads the low halves of the first four.
inline constexpr uint32_t kRegionX1 = 0;
inline constexpr uint32_t kRegionY1 = 4;
inline constexpr uint32_t kRegionX2 = 8;
inline constexpr uint32_t kRegionY2 = 12;
inline constexpr uint32_t kRegionUnread1 = 16;
inline constexpr uint32_t kRegionUnread2 = 20;

// The size pair follows the last record; the stream follows the pair.
inline constexpr uint64_t regionSizePairOffset(uint64_t regions) {
    return kRegionTableStart + kRegionRecordSize * regions;
}
inline constexpr uint64_t regionStreamStart(uint64_t regions) {
    return regionSizePairOffset(regions) + kSizePairSize;
}

// ---- Decompressed region data ----
// PartTable: a u32 entry count (low 16 bits used), then per entry a u32 block offset and an i32
// block length (negative: the entry is absent).
inline constexpr uint32_t kPartTableHeaderSize = 4;
inline constexpr uint32_t kPartTableEntrySize = 8;
inline constexpr uint32_t kEntryOffsetField = 0;
inline constexpr uint32_t kEntryLengthField = 4;

// PartBlock: a 116-byte header whose u16 at 2 is the part count, then the parts.
inline constexpr uint32_t kPartBlockHeaderSize = 116;
inline constexpr uint32_t kPartCountOffset = 2;

// PartHeader: 92 bytes, then width * height pixels of 4 bytes (blue, green, red, alpha).
inline constexpr uint32_t kPartHeaderSize = 92;
inline constexpr uint32_t kPartX = 0;       // u16, relative to the region origin
inline constexpr uint32_t kPartY = 2;       // u16
inline constexpr uint32_t kPartWidth = 6;   // u16
inline constexpr uint32_t kPartHeight = 8;  // u16
