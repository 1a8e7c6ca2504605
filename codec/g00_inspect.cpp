#include "codec/g00_inspect.h"

#include <algorithm>

#include "codec/g00.h"
#include "codec/internal/g00_part_walk.h"
#include "codec/internal/g00_stream.h"
#include "common/bytes.h"

namespace {

void readSizePair(std::span<const uint8_t> file, uint64_t at, G00Description& d) {
    if (at + 4 <= file.size()) d.compressedLength = loadLe32(file.data() + at);
    if (at + kSizePairSize <= file.size())
        d.decompressedLength = loadLe32(file.data() + at + kDecompressedLengthOffset);
}

void readRegionRecords(std::span<const uint8_t> file, G00Description& d) {
    if (file.size() < kRegionTableStart) return;
    const uint32_t count = g00RegionCount(file);
    d.regionCount = count;
    const uint64_t inFile = (file.size() - kRegionTableStart) / kRegionRecordSize;
    for (uint32_t i = 0; i < std::min<uint64_t>(count, inFile); ++i) {
        const uint8_t* r = file.data() + kRegionTableStart + uint64_t(kRegionRecordSize) * i;
        d.regions.push_back({loadLe32(r + kRegionX1),
                             loadLe32(r + kRegionY1),
                             loadLe32(r + kRegionX2),
                             loadLe32(r + kRegionY2),
                             {loadLe32(r + kRegionUnread1), loadLe32(r + kRegionUnread2)}});
    }
    readSizePair(file, regionSizePairOffset(count), d);
}

// The entries in the order the decoder reads them, up to the first it cannot read.
void readEntries(std::span<const uint8_t> file, std::span<const uint8_t> data, G00Description& d) {
    // A table cut by the data's end is described as far as it goes.
    PartTable table;
    openPartTable(file, data, table);
    if (data.size() < kPartTableHeaderSize) return;
    d.entryCount = table.entries;
    RegionBoxes boxes;
    regionBoxes(file, data, d.width, d.height, boxes);
    for (uint32_t i = 0; i < table.entriesInData; ++i) {
        const PartEntry entry = readPartEntry(table, i);
        G00EntryInfo info;
        info.index = i;
        info.blockOffset = entry.blockOffset;
        info.blockLength = entry.blockLength;
        info.absent = entry.kind == EntryKind::absent;
        info.emptyRegion = entry.kind == EntryKind::emptyRegion;
        if (i < boxes.count) info.box = boxes.box[i];
        uint32_t parts = 0;
        if (entry.kind == EntryKind::drawn && readPartCount(table, entry, parts) == Status::ok)
            info.partCount = parts;
        const Status walked = walkEntryParts(table, entry, [&](const PartPlace& part) {
            info.parts.push_back({part.x, part.y, part.width, part.height});
        });
        d.entries.push_back(std::move(info));
        if (walked != Status::ok) return;
    }
}

}  // namespace

G00Description describeG00(std::span<const uint8_t> file, uint64_t maxPixels) {
    G00Description d;
    d.fileSize = file.size();
    {
        Canvas canvas;
        d.result = decodeG00Picture(file, canvas, maxPixels).status;
    }
    if (file.size() < kG00HeaderSize) return d;
    const G00Header header = readG00Header(file);
    d.headerRead = true;
    d.type = header.type;
    d.width = header.width;
    d.height = header.height;
    if (header.type == kG00FullFrame) {
        readSizePair(file, kFullFrameSizePairOffset, d);
    } else if (header.type == kG00Regions) {
        readRegionRecords(file, d);
        ByteBuffer data;
        if (decompressRegionData(file, data) == Status::ok) readEntries(file, data.span(), d);
    }
    return d;
}
