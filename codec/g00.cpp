#include "codec/g00.h"

#include <algorithm>
#include <cstring>

#include "codec/g00_regions.h"
#include "codec/internal/g00_layout.h"
#include "codec/internal/g00_stream.h"
#include "codec/internal/lz.h"
#include "common/bytes.h"

namespace {

Status placeFullFrameStream(std::span<const uint8_t> head, uint64_t fileSize, StreamPlace& place) {
    // The compressed length is read; the decompressed length is not needed.
    if (fileSize < kFullFrameSizePairOffset + 4) return Status::truncated;
    const uint32_t length = loadLe32(head.data() + kFullFrameSizePairOffset);
    place.start = kFullFrameStreamStart;
    place.end = kFullFrameSizePairOffset + uint64_t(length);
    if (place.end > fileSize) return Status::truncated;
    return Status::ok;
}

Status placeRegionStream(std::span<const uint8_t> head, uint64_t fileSize, StreamPlace& place) {
    if (fileSize < kRegionTableStart) return Status::truncated;
    const uint64_t pair = regionSizePairOffset(g00RegionCount(head));
    if (pair + kSizePairSize > fileSize) return Status::truncated;
    const uint32_t length = loadLe32(head.data() + pair);
    place.start = pair + kSizePairSize;
    place.end = pair + length;
    if (place.end > fileSize) return Status::truncated;
    place.dataSize = loadLe32(head.data() + pair + kDecompressedLengthOffset);
    // An empty decompressed size gives no part table to read; the picture is refused.
    if (place.dataSize == 0) return Status::damagedParts;
    return Status::ok;
}

// A full frame stores colours only: every pixel is shown, so every pixel is opaque.
void setOpaque(Canvas& canvas) {
    uint8_t* pixel = canvas.pixels.data();
    const uint64_t count = uint64_t(canvas.width) * canvas.height;
    for (uint64_t i = 0; i < count; ++i) pixel[4 * i + 3] = 255;
}

Status decodeFullFrame(std::span<const uint8_t> file, const StreamPlace& place, Canvas& canvas) {
    if (place.bytes() != 0) {  // else only the two length fields
        const Status status =
            decodeLzPixels(file.data() + place.start, file.data() + place.end,
                           file.data() + file.size(), canvas.pixels.data(), canvas.pixels.end());
        if (status != Status::ok) return status;
    }
    setOpaque(canvas);
    return Status::ok;
}

Status decompress(std::span<const uint8_t> file, const StreamPlace& place, ByteBuffer& data,
                  KeptBlock* kept = nullptr) {
    // Resident at once only when the stream could fill it, not because the file says so.
    const PagingHint paging =
        place.dataSize <= lzBytesMostOutput(place.bytes()) ? PagingHint::whole : PagingHint::inPart;
    Status status = kept != nullptr ? takeKeptBlock(place.dataSize, *kept, data, paging)
                                    : obtainBlock(place.dataSize, data, paging);
    if (status != Status::ok) return status;
    if (place.bytes() > 0) {
        status = decodeLzBytes(file.data() + place.start, file.data() + place.end,
                               file.data() + file.size(), data.data(), data.end());
        if (status != Status::ok) return status;
    }
    return Status::ok;
}

Status decodeRegions(std::span<const uint8_t> file, const StreamPlace& place, Canvas& canvas,
                     ByteBuffer& data, KeptBlock* kept) {
    const Status status = decompress(file, place, data, kept);
    if (status != Status::ok) return status;
    return composeRegions(file, data.span(), canvas);
}

}  // namespace

namespace {

Status placeStream(std::span<const uint8_t> head, uint64_t fileSize, StreamPlace& place) {
    if (fileSize < kG00HeaderSize) return Status::truncated;
    switch (head[kG00TypeOffset]) {
    case kG00FullFrame: return placeFullFrameStream(head, fileSize, place);
    case kG00Regions: return placeRegionStream(head, fileSize, place);
    case kG00Paletted: return Status::unsupportedType;
    default: return Status::notG00;
    }
}

}  // namespace

Status placeStream(std::span<const uint8_t> file, StreamPlace& place) {
    return placeStream(file, file.size(), place);
}

G00Header readG00Header(std::span<const uint8_t> file) {
    return G00Header{file[kG00TypeOffset], loadLe16(file.data() + kG00WidthOffset),
                     loadLe16(file.data() + kG00HeightOffset)};
}

Status decompressRegionData(std::span<const uint8_t> file, ByteBuffer& data) {
    data.release();
    if (file.size() < kG00HeaderSize) return Status::truncated;
    if (file[kG00TypeOffset] != kG00Regions) return Status::notG00;
    StreamPlace place;
    Status status = placeRegionStream(file, file.size(), place);
    if (status == Status::ok) status = decompress(file, place, data);
    if (status != Status::ok) data.release();
    return status;
}

G00Info readG00Info(G00Head head, uint64_t maxPixels) {
    G00Info info;
    const std::span<const uint8_t> file = head.bytes;
    const uint64_t fileSize = head.fileSize;
    if (fileSize < kG00HeaderSize || file.size() < std::min<uint64_t>(fileSize, kG00InfoReach)) {
        info.status = Status::truncated;
        return info;
    }
    info.header = readG00Header(file);
    const G00Header& header = info.header;
    if (header.type == kG00Regions && fileSize > kRegionCountOffset)
        info.regionCount = g00RegionCount(file);
    const uint64_t pair = header.type == kG00Regions ? regionSizePairOffset(info.regionCount)
                                                     : kFullFrameSizePairOffset;
    if ((header.type == kG00FullFrame || info.regionCount != 0) &&
        pair + kSizePairSize <= fileSize) {
        info.sizesRead = true;
        info.compressedLength = loadLe32(file.data() + pair);
        info.decompressedLength = loadLe32(file.data() + pair + kDecompressedLengthOffset);
    }
    const uint64_t pixels = uint64_t(header.width) * header.height;
    StreamPlace place;
    if (header.type == kG00Paletted)
        info.status = Status::unsupportedType;
    else if (header.type != kG00FullFrame && header.type != kG00Regions)
        info.status = Status::notG00;
    else if (pixels == 0)
        info.status = Status::emptyPicture;
    else if (maxPixels != 0 && pixels > maxPixels)
        info.status = Status::tooManyPixels;
    else if (canvasByteSize(header.width, header.height) > kMaxBlockSize)
        info.status = Status::tooLarge;
    else
        info.status = placeStream(file, fileSize, place);
    return info;
}

static_assert(kG00InfoReach == regionSizePairOffset(kMostRegions) + kSizePairSize);

G00Info readG00Info(std::span<const uint8_t> file, uint64_t maxPixels) {
    return readG00Info(G00Head{file, file.size()}, maxPixels);
}

G00Decoded decodeG00Picture(std::span<const uint8_t> file, Canvas& canvas, uint64_t maxPixels,
                            ByteBuffer* partData, G00Blocks* kept) {
    ByteBuffer ownData;
    ByteBuffer& data = partData != nullptr ? *partData : ownData;
    data.release();
    canvas.pixels.release();
    canvas.width = canvas.height = 0;
    G00Decoded result;
    if (file.size() < kG00HeaderSize) {
        result.status = Status::truncated;
        return result;
    }
    const G00Info info = readG00Info(file, maxPixels);
    result.header = info.header;
    const G00Header& header = result.header;
    auto refuse = [&](Status status) {
        if (kept != nullptr) {
            keepBlock(data, kept->data);
            keepBlock(canvas.pixels, kept->canvas);
        }
        data.release();
        canvas.pixels.release();
        canvas.width = canvas.height = 0;
        result.status = status;
        return result;
    };
    if (info.status != Status::ok) return refuse(info.status);
    StreamPlace place;
    Status status = placeStream(file, place);
    if (status != Status::ok) return refuse(status);

    // A full frame fills the Canvas, and a region picture's parts usually cover most of it;
    // resident at once only when the file could fill it (the header alone cannot
    // make a small file take gigabytes).
    const bool streamCouldFill =
        canvasByteSize(header.width, header.height) <= lzPixelsMostOutput(file.size());
    status = makeCanvas(header.width, header.height, canvas,
                        streamCouldFill ? PagingHint::whole : PagingHint::inPart,
                        kept != nullptr ? &kept->canvas : nullptr);
    if (status != Status::ok) return refuse(status);
    status = header.type == kG00FullFrame ? decodeFullFrame(file, place, canvas)
                                          : decodeRegions(file, place, canvas, data,
                                                          kept != nullptr ? &kept->data : nullptr);
    if (status != Status::ok) return refuse(status);
    if (kept != nullptr && partData == nullptr) keepBlock(data, kept->data);
    if (header.type == kG00Regions) result.regionCount = g00RegionCount(file);
    return result;
}
