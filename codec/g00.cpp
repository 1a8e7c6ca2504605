#include "codec/g00.h"

#include <algorithm>
#include <cstring>

#include "codec/lz.h"
#include "common/bytes.h"

namespace {

constexpr uint64_t kFullFrameStreamStart = 13;  // after the two length fields at 5 and 9
constexpr uint64_t kRegionTableStart = 9;
constexpr uint64_t kRegionRecordSize = 24;
constexpr uint64_t kPartBlockHeaderSize = 116;
constexpr uint64_t kPartHeaderSize = 92;

uint32_t regionCount(std::span<const uint8_t> file) {
    uint32_t low = file[5];
    return low == 0 ? 256 : low;
}

Status decodeFullFrame(std::span<const uint8_t> file, Canvas& canvas) {
    if (file.size() < 9) return Status::truncated;
    uint64_t streamEnd = 5 + uint64_t(loadLe32(file.data() + 5));
    if (streamEnd > file.size()) return Status::truncated;
    if (streamEnd <= kFullFrameStreamStart) return Status::ok;  // only the two length fields
    return decodeLzPixels(file.data() + kFullFrameStreamStart, file.data() + streamEnd,
                          file.data() + file.size(), canvas.pixels.data(), canvas.pixels.end());
}

Status decodeRegions(std::span<const uint8_t> file, Canvas& canvas) {
    if (file.size() < 9) return Status::truncated;
    uint64_t sizes = kRegionTableStart + kRegionRecordSize * regionCount(file);
    if (sizes + 8 > file.size()) return Status::truncated;
    uint64_t streamEnd = sizes + loadLe32(file.data() + sizes);
    if (streamEnd > file.size()) return Status::truncated;
    uint32_t dataSize = loadLe32(file.data() + sizes + 4);

    // An empty decompressed size gives no part table to read; the picture is refused.
    if (dataSize == 0) return Status::damagedParts;
    ByteBuffer data;
    uint64_t streamStart = sizes + 8;
    // Resident at once only when the stream could fill it, not because the file says so.
    const uint64_t streamBytes = streamEnd > streamStart ? streamEnd - streamStart : 0;
    Status status = obtainBlock(
        dataSize, data, dataSize <= lzBytesMostOutput(streamBytes) ? Fill::whole : Fill::inPart);
    if (status != Status::ok) return status;
    if (streamEnd > streamStart) {
        status = decodeLzBytes(file.data() + streamStart, file.data() + streamEnd,
                               file.data() + file.size(), data.data(), data.end());
        if (status != Status::ok) return status;
    }
    return composeRegions(file, data.span(), canvas);
}

// Copies one part's rows onto the Canvas, dropping what lies outside it.
void drawPart(const uint8_t* pixels, uint32_t partWidth, uint32_t partHeight, uint64_t left,
              uint64_t top, Canvas& canvas) {
    if (left >= canvas.width || top >= canvas.height) return;
    uint64_t columns = std::min<uint64_t>(partWidth, canvas.width - left);
    uint64_t rows = std::min<uint64_t>(partHeight, canvas.height - top);
    uint8_t* destination = canvas.pixels.data() + (top * canvas.width + left) * 4;
    for (uint64_t row = 0; row < rows; ++row) {
        std::memcpy(destination, pixels, columns * 4);
        pixels += uint64_t(partWidth) * 4;
        destination += uint64_t(canvas.width) * 4;
    }
}

}  // namespace

G00Header readG00Header(std::span<const uint8_t> file) {
    return G00Header{file[0], loadLe16(file.data() + 1), loadLe16(file.data() + 3)};
}

Status decodeG00(std::span<const uint8_t> file, Canvas& canvas) {
    if (file.size() < kG00HeaderSize) return Status::truncated;
    if (file[0] == kG00FullFrame) return decodeFullFrame(file, canvas);
    return decodeRegions(file, canvas);
}

Status composeRegions(std::span<const uint8_t> file, std::span<const uint8_t> data,
                      Canvas& canvas) {
    const uint64_t regions = regionCount(file);
    if (kRegionTableStart + kRegionRecordSize * regions > file.size()) return Status::truncated;
    if (data.size() < 4) return Status::damagedParts;
    const uint64_t entries = loadLe16(data.data());
    if (4 + 8 * entries > data.size()) return Status::damagedParts;

    for (uint64_t i = 0; i < entries; ++i) {
        const uint8_t* entry = data.data() + 4 + 8 * i;
        if (int32_t(loadLe32(entry + 4)) < 0) continue;  // absent entry
        if (i >= regions) return Status::damagedParts;
        const uint8_t* region = file.data() + kRegionTableStart + kRegionRecordSize * i;
        if (loadLe16(region + 8) == 0 && loadLe16(region + 12) == 0) continue;  // empty region

        uint64_t block = loadLe32(entry);
        if (block + kPartBlockHeaderSize > data.size()) return Status::damagedParts;
        uint32_t parts = loadLe16(data.data() + block + 2);
        uint64_t originX = loadLe16(region);
        uint64_t originY = loadLe16(region + 4);

        uint64_t at = block + kPartBlockHeaderSize;
        for (uint32_t p = 0; p < parts; ++p) {
            if (at + kPartHeaderSize > data.size()) return Status::damagedParts;
            const uint8_t* header = data.data() + at;
            uint32_t x = loadLe16(header);
            uint32_t y = loadLe16(header + 2);
            uint32_t partWidth = loadLe16(header + 6);
            uint32_t partHeight = loadLe16(header + 8);
            uint64_t pixelBytes = uint64_t(partWidth) * partHeight * 4;
            at += kPartHeaderSize;
            if (at + pixelBytes > data.size()) return Status::damagedParts;
            drawPart(data.data() + at, partWidth, partHeight, originX + x, originY + y, canvas);
            at += pixelBytes;
        }
    }
    return Status::ok;
}
