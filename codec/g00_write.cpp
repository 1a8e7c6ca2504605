#include "codec/g00_write.h"

#include <algorithm>
#include <cstring>

#include "codec/internal/lz.h"
#include "codec/internal/g00_layout.h"
#include "codec/internal/g00_part_walk.h"
#include "codec/internal/g00_stream.h"
#include "codec/internal/lz_encoder.h"
#include "common/bytes.h"

namespace {


// A fresh region-based file: one region, one PartTable entry, one block of one part.
constexpr uint64_t kFreshBlockOffset = kPartTableHeaderSize + kPartTableEntrySize;
constexpr uint64_t kFreshPartOffset = kFreshBlockOffset + kPartBlockHeaderSize;
constexpr uint64_t kFreshPixelsOffset = kFreshPartOffset + kPartHeaderSize;
constexpr uint64_t kFreshSizesOffset = regionSizePairOffset(1);
constexpr uint64_t kFreshStreamStart = regionStreamStart(1);

void putHeader(uint8_t* out, uint8_t type, uint32_t width, uint32_t height) {
    out[kG00TypeOffset] = type;
    storeLe16(out + kG00WidthOffset, width);
    storeLe16(out + kG00HeightOffset, height);
}

// Copies a box of the Canvas's pixels, rows top to bottom, into rows of rowPixels pixels.
void copyBox(const Canvas& canvas, uint64_t left, uint64_t top, uint64_t columns, uint64_t rows,
             uint8_t* to, uint64_t rowPixels) {
    for (uint64_t r = 0; r < rows; ++r)
        std::memcpy(to + r * rowPixels * 4,
                    canvas.pixels.data() + ((top + r) * canvas.width + left) * 4, size_t(columns * 4));
}

}  // namespace

// ---- A fresh file ----

G00FreshPlan planFreshG00(const Canvas& canvas) {
    G00FreshPlan plan;
    uint32_t left = canvas.width, top = canvas.height, right = 0, bottom = 0;
    bool opaque = true;
    const uint8_t* p = canvas.pixels.data();
    for (uint32_t y = 0; y < canvas.height; ++y) {
        for (uint32_t x = 0; x < canvas.width; ++x, p += 4) {
            const uint8_t alpha = p[3];
            opaque = opaque && alpha == 255;
            if (alpha == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (opaque) {
        plan.type = kG00FullFrame;
        plan.width = canvas.width;
        plan.height = canvas.height;
        plan.units = uint64_t(canvas.width) * canvas.height;
        return plan;
    }
    plan.type = kG00Regions;
    if (left <= right && top <= bottom) {  // else no pixel is drawn: a 0 x 0 box at the origin
        plan.left = left;
        plan.top = top;
        plan.width = right - left + 1;
        plan.height = bottom - top + 1;
    }
    plan.units = kFreshPixelsOffset + uint64_t(plan.width) * plan.height * 4;
    return plan;
}

uint64_t freshG00WorkSize(const G00FreshPlan& plan) {
    // Regions: the decompressed data is built after the compressor's work area.
    return lzEncodeWorkSize(plan.units) + (plan.type == kG00FullFrame ? 0 : plan.units);
}

uint64_t freshG00Bound(const G00FreshPlan& plan) {
    if (plan.type == kG00FullFrame) return kFullFrameStreamStart + lzPixelsEncodedBound(plan.units);
    return kFreshStreamStart + lzBytesEncodedBound(plan.units);
}

uint64_t writeFreshG00(const Canvas& canvas, const G00FreshPlan& plan, std::span<uint8_t> work,
                       std::span<uint8_t> out) {
    if (canvas.width > kMaxG00Side || canvas.height > kMaxG00Side || work.size() < freshG00WorkSize(plan) ||
        out.size() < freshG00Bound(plan))
        return 0;
    if (plan.type == kG00FullFrame) {
        if (plan.units != uint64_t(canvas.width) * canvas.height) return 0;
        const uint64_t stream = encodeLzPixels(canvas.pixels.span(), PixelUnit::bgra, work,
                                               out.subspan(kFullFrameStreamStart));
        if (stream == 0) return 0;
        putHeader(out.data(), kG00FullFrame, canvas.width, canvas.height);
        storeLe32(out.data() + kFullFrameSizePairOffset, uint32_t(kSizePairSize + stream));
        storeLe32(out.data() + kFullFrameSizePairOffset + kDecompressedLengthOffset,
                  uint32_t(canvasByteSize(canvas.width, canvas.height)));
        return kFullFrameStreamStart + stream;
    }
    if (uint64_t(plan.left) + plan.width > canvas.width ||
        uint64_t(plan.top) + plan.height > canvas.height ||
        plan.units != kFreshPixelsOffset + uint64_t(plan.width) * plan.height * 4)
        return 0;

    const uint64_t lzWork = lzEncodeWorkSize(plan.units);
    uint8_t* data = work.data() + lzWork;
    std::memset(data, 0, kFreshPixelsOffset);
    uint8_t* entry = data + kPartTableHeaderSize;
    storeLe32(data, 1);  // entry count
    storeLe32(entry + kEntryOffsetField, uint32_t(kFreshBlockOffset));
    storeLe32(entry + kEntryLengthField, uint32_t(plan.units - kFreshBlockOffset));
    storeLe16(data + kFreshBlockOffset + kPartCountOffset, 1);
    storeLe16(data + kFreshPartOffset + kPartWidth, plan.width);  // at (0, 0) in the region
    storeLe16(data + kFreshPartOffset + kPartHeight, plan.height);
    copyBox(canvas, plan.left, plan.top, plan.width, plan.height, data + kFreshPixelsOffset,
            plan.width);

    const uint64_t stream = encodeLzBytes({data, size_t(plan.units)}, work.first(size_t(lzWork)),
                                          out.subspan(size_t(kFreshStreamStart)));
    if (stream == 0) return 0;
    uint8_t* o = out.data();
    std::memset(o, 0, kFreshStreamStart);
    putHeader(o, kG00Regions, canvas.width, canvas.height);
    storeLe32(o + kRegionCountOffset, 1);
    uint8_t* record = o + kRegionTableStart;
    storeLe32(record + kRegionX1, plan.left);
    storeLe32(record + kRegionY1, plan.top);
    storeLe32(record + kRegionX2, plan.left + plan.width);
    storeLe32(record + kRegionY2, plan.top + plan.height);
    storeLe32(o + kFreshSizesOffset, uint32_t(kSizePairSize + stream));
    storeLe32(o + kFreshSizesOffset + kDecompressedLengthOffset, uint32_t(plan.units));
    return kFreshStreamStart + stream;
}

// ---- A file like an original ----

G00LikePlan planG00Like(std::span<const uint8_t> original) {
    G00LikePlan plan;
    auto refuse = [&](Status status) {
        plan.status = status;
        return plan;
    };
    if (original.size() < kG00HeaderSize) return refuse(Status::truncated);
    plan.type = original[kG00TypeOffset];
    plan.width = loadLe16(original.data() + kG00WidthOffset);
    plan.height = loadLe16(original.data() + kG00HeightOffset);
    if (plan.type == kG00Paletted) return refuse(Status::unsupportedType);
    if (plan.type != kG00FullFrame && plan.type != kG00Regions) return refuse(Status::notG00);
    if (plan.width == 0 || plan.height == 0) return refuse(Status::emptyPicture);
    StreamPlace place;
    const Status status = placeStream(original, place);
    if (status != Status::ok) return refuse(status);
    // The kept prefix must be whole even when the stream is empty.
    if (original.size() < place.start) return refuse(Status::truncated);
    plan.prefix = place.start;
    plan.units = plan.type == kG00FullFrame ? uint64_t(plan.width) * plan.height : place.dataSize;
    return plan;
}

namespace {

// Which drawn part shows at each pixel of the picture, by its number in the order the decoder
// draws them from 1 (0: none). 65,535 entries of 65,535 parts are fewer than 2^32.
uint64_t visiblePartMapBytes(const G00LikePlan& plan) { return uint64_t(plan.width) * plan.height * 4; }

// One pass over the parts the decoder draws, the decoder's own walk: each drawn part is
// handed to draw(pixels offset, part width, part height, left, top). The fields read are
// folded into a digest, so that a second pass can tell whether they stayed the same.
template <typename Draw>
Status walkParts(std::span<const uint8_t> file, std::span<const uint8_t> data, uint64_t& digest,
                 Draw draw) {
    digest = 14695981039346656037ull;
    auto fold = [&](uint64_t value) { digest = (digest ^ value) * 1099511628211ull; };
    PartTable table;
    Status status = openPartTable(file, data, table);
    if (status != Status::ok) return status;
    fold(table.entries);
    for (uint32_t i = 0; i < table.entries; ++i) {
        const PartEntry entry = readPartEntry(table, i);
        fold(uint32_t(entry.blockLength));
        uint32_t parts = 0;
        if (entry.kind == EntryKind::drawn && readPartCount(table, entry, parts) == Status::ok)
            fold(uint64_t(entry.blockOffset) << 32 | parts);
        status = walkEntryParts(table, entry, [&](const PartPlace& part) {
            fold(uint64_t(part.x) | uint64_t(part.y) << 16 | uint64_t(part.width) << 32 |
                 uint64_t(part.height) << 48);
            draw(uint64_t(part.pixels - data.data()), part.width, part.height, part.left, part.top);
        });
        if (status != Status::ok) return status;
    }
    return Status::ok;
}

// The picture's pixels that no drawn part covers and that do not look like the original's 0.
OutsidePixels outsidePixels(const Canvas& picture, const uint32_t* visiblePart) {
    OutsidePixels outside;
    outside.left = picture.width;
    outside.top = picture.height;
    const uint8_t* p = picture.pixels.data();
    uint64_t i = 0;
    for (uint32_t y = 0; y < picture.height; ++y) {
        for (uint32_t x = 0; x < picture.width; ++x, ++i, p += 4) {
            if (p[3] == 0 || visiblePart[i] != 0) continue;
            ++outside.count;
            outside.left = std::min(outside.left, x);
            outside.right = std::max(outside.right, x);
            outside.top = std::min(outside.top, y);
            outside.bottom = std::max(outside.bottom, y);
        }
    }
    if (outside.count == 0) outside = OutsidePixels{};
    return outside;
}

// The part's rectangle clipped to the picture, row by row: visit(pixel index, offset of the
// pixel in the part's pixels).
template <typename Visit>
void eachPixelShown(const Canvas& picture, uint32_t partWidth, uint32_t partHeight,
                    uint64_t left, uint64_t top, Visit visit) {
    if (left >= picture.width || top >= picture.height) return;
    const uint64_t columns = std::min<uint64_t>(partWidth, picture.width - left);
    const uint64_t rows = std::min<uint64_t>(partHeight, picture.height - top);
    for (uint64_t r = 0; r < rows; ++r) {
        const uint64_t row = (top + r) * picture.width + left;
        for (uint64_t c = 0; c < columns; ++c) visit(row + c, (r * partWidth + c) * 4);
    }
}

}  // namespace

uint64_t g00LikeWorkSize(const G00LikePlan& plan) {
    // Regions: the part shown at each pixel, the compressor's work area, the decompressed data.
    if (plan.type == kG00FullFrame) return lzEncodeWorkSize(plan.units);
    return visiblePartMapBytes(plan) + lzEncodeWorkSize(plan.units) + plan.units;
}

uint64_t g00LikeBound(const G00LikePlan& plan) {
    if (plan.type == kG00FullFrame) return plan.prefix + lzPixelsEncodedBound(plan.units);
    return plan.prefix + lzBytesEncodedBound(plan.units);
}

G00LikeResult writeG00Like(std::span<const uint8_t> original, const G00LikePlan& plan,
                           const Canvas& picture, std::span<uint8_t> work,
                           std::span<uint8_t> out) {
    G00LikeResult result;
    result.status = plan.status;
    if (plan.status != Status::ok) return result;
    if (picture.width != plan.width || picture.height != plan.height ||
        work.size() < g00LikeWorkSize(plan) || out.size() < g00LikeBound(plan) ||
        original.size() < plan.prefix || reinterpret_cast<uintptr_t>(work.data()) % 4 != 0)
        return result;

    if (plan.type == kG00FullFrame) {
        const uint64_t stream =
            encodeLzPixels(picture.pixels.span(), PixelUnit::bgra, work, out.subspan(size_t(plan.prefix)));
        if (stream == 0) return result;
        std::memcpy(out.data(), original.data(), size_t(plan.prefix));
        storeLe32(out.data() + kFullFrameSizePairOffset, uint32_t(kSizePairSize + stream));
        result.size = plan.prefix + stream;
        return result;
    }

    // Every size below is within work, checked above.
    uint32_t* visiblePart = reinterpret_cast<uint32_t*>(work.data());
    const std::span<uint8_t> lzWork =
        work.subspan(size_t(visiblePartMapBytes(plan)), size_t(lzEncodeWorkSize(plan.units)));
    const std::span<uint8_t> data(lzWork.data() + lzWork.size(), size_t(plan.units));
    std::memset(visiblePart, 0, size_t(visiblePartMapBytes(plan)));
    std::memset(data.data(), 0, data.size());
    const uint64_t sizePair = plan.prefix - kSizePairSize;
    const uint8_t* streamEnd = original.data() + sizePair + loadLe32(original.data() + sizePair);
    if (streamEnd > original.data() + plan.prefix) {
        result.status = decodeLzBytes(original.data() + plan.prefix, streamEnd,
                                      original.data() + original.size(), data.data(),
                                      data.data() + data.size());
        if (result.status != Status::ok) return result;
    }

    // Each pixel takes its colour anew only in the part that shows it: pixels that a later part
    // hides, like those beyond the picture, stay as the original has them.
    uint32_t number = 0;
    uint64_t before = 0, after = 0;
    result.status = walkParts(original, data, before, [&](uint64_t, uint32_t partWidth,
                                                          uint32_t partHeight, uint64_t left,
                                                          uint64_t top) {
        ++number;
        eachPixelShown(picture, partWidth, partHeight, left, top,
                       [&](uint64_t i, uint64_t) { visiblePart[i] = number; });
    });
    if (result.status != Status::ok) return result;
    number = 0;
    walkParts(original, data, after, [&](uint64_t at, uint32_t partWidth, uint32_t partHeight,
                                          uint64_t left, uint64_t top) {
        ++number;
        eachPixelShown(picture, partWidth, partHeight, left, top, [&](uint64_t i, uint64_t offset) {
            if (visiblePart[i] == number) std::memcpy(data.data() + at + offset, picture.pixels.data() + i * 4, 4);
        });
    });
    // Parts whose pixels lie over the tables or headers would change what the decoder reads:
    // such an original cannot be refilled in place.
    walkParts(original, data, after, [](uint64_t, uint32_t, uint32_t, uint64_t, uint64_t) {});
    if (after != before) {
        result.status = Status::damagedParts;
        return result;
    }
    result.outside = outsidePixels(picture, visiblePart);

    const uint64_t stream = encodeLzBytes(data, lzWork, out.subspan(size_t(plan.prefix)));
    if (stream == 0) return result;
    std::memcpy(out.data(), original.data(), size_t(plan.prefix));
    storeLe32(out.data() + sizePair, uint32_t(kSizePairSize + stream));
    result.size = plan.prefix + stream;
    return result;
}
