#include "codec/g00.h"

#include <algorithm>
#include <cstring>

#include "codec/lz.h"
#include "common/bytes.h"

namespace {

uint32_t regionCount(std::span<const uint8_t> file) {
    uint32_t low = file[kRegionCountOffset];
    return low == 0 ? 256 : low;
}

// Where a file's LZ stream lies and, for region pictures, how much data it decompresses to;
// found from the fields alone, so that a file is judged before any buffer is obtained.
struct StreamPlace {
    uint64_t start = 0;
    uint64_t end = 0;
    uint32_t dataSize = 0;  // region pictures only
    uint64_t bytes() const { return end > start ? end - start : 0; }
};

Status placeFullFrameStream(std::span<const uint8_t> file, StreamPlace& place) {
    // The compressed length is read; the decompressed length is not needed.
    if (file.size() < kFullFrameSizePairOffset + 4) return Status::truncated;
    place.start = kFullFrameStreamStart;
    place.end = kFullFrameSizePairOffset + uint64_t(loadLe32(file.data() + kFullFrameSizePairOffset));
    if (place.end > file.size()) return Status::truncated;
    return Status::ok;
}

Status placeRegionStream(std::span<const uint8_t> file, StreamPlace& place) {
    if (file.size() < kRegionTableStart) return Status::truncated;
    const uint64_t pair = regionSizePairOffset(regionCount(file));
    if (pair + kSizePairSize > file.size()) return Status::truncated;
    place.start = pair + kSizePairSize;
    place.end = pair + loadLe32(file.data() + pair);
    if (place.end > file.size()) return Status::truncated;
    place.dataSize = loadLe32(file.data() + pair + kDecompressedLengthOffset);
    // An empty decompressed size gives no part table to read; the picture is refused.
    if (place.dataSize == 0) return Status::damagedParts;
    return Status::ok;
}

Status placeStream(std::span<const uint8_t> file, StreamPlace& place) {
    if (file.size() < kG00HeaderSize) return Status::truncated;
    switch (file[kG00TypeOffset]) {
    case kG00FullFrame: return placeFullFrameStream(file, place);
    case kG00Regions: return placeRegionStream(file, place);
    case kG00Paletted: return Status::unsupportedType;
    default: return Status::notG00;
    }
}

Status decodeFullFrame(std::span<const uint8_t> file, const StreamPlace& place, Canvas& canvas) {
    if (place.bytes() == 0) return Status::ok;  // only the two length fields
    return decodeLzPixels(file.data() + place.start, file.data() + place.end,
                          file.data() + file.size(), canvas.pixels.data(), canvas.pixels.end());
}

Status decodeRegions(std::span<const uint8_t> file, const StreamPlace& place, Canvas& canvas) {
    ByteBuffer data;
    // Resident at once only when the stream could fill it, not because the file says so.
    const Fill fill = place.dataSize <= lzBytesMostOutput(place.bytes()) ? Fill::whole : Fill::inPart;
    Status status = obtainBlock(place.dataSize, data, fill);
    if (status != Status::ok) return status;
    if (place.bytes() > 0) {
        status = decodeLzBytes(file.data() + place.start, file.data() + place.end,
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
    return G00Header{file[kG00TypeOffset], loadLe16(file.data() + kG00WidthOffset),
                     loadLe16(file.data() + kG00HeightOffset)};
}

Status decodeG00(std::span<const uint8_t> file, Canvas& canvas) {
    StreamPlace place;
    Status status = placeStream(file, place);
    if (status != Status::ok) return status;
    if (file[kG00TypeOffset] == kG00FullFrame) return decodeFullFrame(file, place, canvas);
    return decodeRegions(file, place, canvas);
}

G00Decoded decodeG00Picture(std::span<const uint8_t> file, Canvas& canvas, uint64_t maxPixels) {
    canvas.pixels.release();
    canvas.width = canvas.height = 0;
    G00Decoded result;
    if (file.size() < kG00HeaderSize) {
        result.status = Status::truncated;
        return result;
    }
    result.header = readG00Header(file);
    const G00Header& header = result.header;
    auto refuse = [&](Status status) {
        canvas.pixels.release();
        canvas.width = canvas.height = 0;
        result.status = status;
        return result;
    };
    if (header.type == kG00Paletted) return refuse(Status::unsupportedType);
    if (header.type != kG00FullFrame && header.type != kG00Regions) return refuse(Status::notG00);
    if (header.width == 0 || header.height == 0) return refuse(Status::emptyPicture);
    const uint64_t pixels = uint64_t(header.width) * header.height;
    if (maxPixels != 0 && pixels > maxPixels) return refuse(Status::tooManyPixels);
    if (canvasByteSize(header.width, header.height) > kMaxBlockSize) return refuse(Status::tooLarge);

    StreamPlace place;
    Status status = placeStream(file, place);
    if (status != Status::ok) return refuse(status);

    // A full frame fills the Canvas, and a region picture's parts usually cover most of it;
    // resident at once only when the file could fill it (the header alone cannot
    // make a small file take gigabytes).
    const bool streamCouldFill =
        canvasByteSize(header.width, header.height) <= lzPixelsMostOutput(file.size());
    status = makeCanvas(header.width, header.height, canvas,
                        streamCouldFill ? Fill::whole : Fill::inPart);
    if (status != Status::ok) return refuse(status);
    status = header.type == kG00FullFrame ? decodeFullFrame(file, place, canvas)
                                          : decodeRegions(file, place, canvas);
    if (status != Status::ok) return refuse(status);
    return result;
}

Status composeRegions(std::span<const uint8_t> file, std::span<const uint8_t> data,
                      Canvas& canvas) {
    const uint64_t regions = regionCount(file);
    if (regionSizePairOffset(regions) > file.size()) return Status::truncated;
    if (data.size() < kPartTableHeaderSize) return Status::damagedParts;
    const uint64_t entries = loadLe16(data.data());
    if (kPartTableHeaderSize + kPartTableEntrySize * entries > data.size())
        return Status::damagedParts;

    for (uint64_t i = 0; i < entries; ++i) {
        const uint8_t* entry = data.data() + kPartTableHeaderSize + kPartTableEntrySize * i;
        if (int32_t(loadLe32(entry + kEntryLengthField)) < 0) continue;  // absent entry
        if (i >= regions) return Status::damagedParts;
        const uint8_t* region = file.data() + kRegionTableStart + kRegionRecordSize * i;
        if (loadLe16(region + kRegionX2) == 0 && loadLe16(region + kRegionY2) == 0)
            continue;  // empty region

        uint64_t block = loadLe32(entry + kEntryOffsetField);
        if (block + kPartBlockHeaderSize > data.size()) return Status::damagedParts;
        uint32_t parts = loadLe16(data.data() + block + kPartCountOffset);
        uint64_t originX = loadLe16(region + kRegionX1);
        uint64_t originY = loadLe16(region + kRegionY1);

        uint64_t at = block + kPartBlockHeaderSize;
        for (uint32_t p = 0; p < parts; ++p) {
            if (at + kPartHeaderSize > data.size()) return Status::damagedParts;
            const uint8_t* header = data.data() + at;
            uint32_t x = loadLe16(header + kPartX);
            uint32_t y = loadLe16(header + kPartY);
            uint32_t partWidth = loadLe16(header + kPartWidth);
            uint32_t partHeight = loadLe16(header + kPartHeight);
            uint64_t pixelBytes = uint64_t(partWidth) * partHeight * 4;
            at += kPartHeaderSize;
            if (at + pixelBytes > data.size()) return Status::damagedParts;
            drawPart(data.data() + at, partWidth, partHeight, originX + x, originY + y, canvas);
            at += pixelBytes;
        }
    }
    return Status::ok;
}
