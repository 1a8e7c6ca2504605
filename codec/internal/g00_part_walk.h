// The walk over a region picture's part table, entry by entry and part by part, with every
// bound the decoder applies: shared by the composition of all regions, the drawing of one
// region alone and the description of a file, so that all three read a file the same way.
#pragma once

#include <cstdint>
#include <span>

#include "codec/internal/g00_layout.h"
#include "common/bytes.h"
#include "common/status.h"

struct PartTable {
    std::span<const uint8_t> file;
    std::span<const uint8_t> data;  // the decompressed data
    uint32_t regions = 0;           // records in the file
    uint32_t entries = 0;           // as the table's count says
    uint32_t entriesInData = 0;     // of those, the ones whose 8 bytes lie inside the data
};

// Reads the region count and the entry count. truncated when the file is too short for its
// records; damagedParts when the data cannot hold the entry count or the entries it counts.
// The counts that could be read are filled in either way.
inline Status openPartTable(std::span<const uint8_t> file, std::span<const uint8_t> data,
                            PartTable& table) {
    table = PartTable{file, data};
    if (file.size() <= kRegionCountOffset) return Status::truncated;
    table.regions = g00RegionCount(file);
    if (regionSizePairOffset(table.regions) > file.size()) return Status::truncated;
    if (data.size() < kPartTableHeaderSize) return Status::damagedParts;
    table.entries = loadLe16(data.data());
    const uint64_t fit = (data.size() - kPartTableHeaderSize) / kPartTableEntrySize;
    table.entriesInData = uint32_t(fit < table.entries ? fit : table.entries);
    return table.entriesInData < table.entries ? Status::damagedParts : Status::ok;
}

enum class EntryKind : uint8_t {
    absent,       // its length field is negative
    noRecord,     // present, but beyond the file's region records: the picture is damaged
    emptyRegion,  // its record's x2 and y2 are both 0
    drawn,        // its block is read and its parts placed
};

struct PartEntry {
    uint32_t index = 0;
    uint32_t blockOffset = 0;
    int32_t blockLength = 0;
    EntryKind kind = EntryKind::absent;
    uint32_t originX = 0, originY = 0;  // the low halves of the record's x1 and y1
};

// Entry i (below table.entriesInData) and how the decoder treats it.
inline PartEntry readPartEntry(const PartTable& table, uint32_t i) {
    const uint8_t* field =
        table.data.data() + kPartTableHeaderSize + uint64_t(kPartTableEntrySize) * i;
    PartEntry entry;
    entry.index = i;
    entry.blockOffset = loadLe32(field + kEntryOffsetField);
    entry.blockLength = int32_t(loadLe32(field + kEntryLengthField));
    if (entry.blockLength < 0) return entry;
    if (i >= table.regions) {
        entry.kind = EntryKind::noRecord;
        return entry;
    }
    const uint8_t* record = table.file.data() + kRegionTableStart + uint64_t(kRegionRecordSize) * i;
    entry.originX = loadLe16(record + kRegionX1);
    entry.originY = loadLe16(record + kRegionY1);
    const bool empty = loadLe16(record + kRegionX2) == 0 && loadLe16(record + kRegionY2) == 0;
    entry.kind = empty ? EntryKind::emptyRegion : EntryKind::drawn;
    return entry;
}

// One part as it lies in the data, and where its top-left pixel falls on the Canvas (the sums
// taken without wrapping at 65,536).
struct PartPlace {
    uint32_t x, y, width, height;
    uint64_t left, top;
    const uint8_t* pixels;  // width * height pixels of 4 bytes, all inside the data
};

// The part count of a drawn entry's block: damagedParts when the block header leaves the data.
inline Status readPartCount(const PartTable& table, const PartEntry& entry, uint32_t& parts) {
    parts = 0;
    if (uint64_t(entry.blockOffset) + kPartBlockHeaderSize > table.data.size())
        return Status::damagedParts;
    parts = loadLe16(table.data.data() + entry.blockOffset + kPartCountOffset);
    return Status::ok;
}

// Calls visit(const PartPlace&) for each part of a drawn entry in order; damagedParts at the
// first block header, part header or part pixels that leave the data, after the parts before it.
// Entries of the other kinds have no parts to walk.
template <class Visit>
Status walkEntryParts(const PartTable& table, const PartEntry& entry, Visit&& visit) {
    if (entry.kind == EntryKind::noRecord) return Status::damagedParts;
    if (entry.kind != EntryKind::drawn) return Status::ok;
    uint32_t parts = 0;
    Status status = readPartCount(table, entry, parts);
    if (status != Status::ok) return status;
    const uint64_t size = table.data.size();
    uint64_t at = uint64_t(entry.blockOffset) + kPartBlockHeaderSize;
    for (uint32_t p = 0; p < parts; ++p) {
        if (at + kPartHeaderSize > size) return Status::damagedParts;
        const uint8_t* header = table.data.data() + at;
        PartPlace part{loadLe16(header + kPartX),
                       loadLe16(header + kPartY),
                       loadLe16(header + kPartWidth),
                       loadLe16(header + kPartHeight),
                       0,
                       0,
                       nullptr};
        part.left = uint64_t(entry.originX) + part.x;
        part.top = uint64_t(entry.originY) + part.y;
        const uint64_t pixelBytes = uint64_t(part.width) * part.height * 4;
        at += kPartHeaderSize;
        if (at + pixelBytes > size) return Status::damagedParts;
        part.pixels = table.data.data() + at;
        visit(part);
        at += pixelBytes;
    }
    return Status::ok;
}
