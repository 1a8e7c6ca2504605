#include "codec/internal/g00_write.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/internal/lz.h"
#include "codec/internal/g00_layout.h"
#include "codec/internal/g00_part_walk.h"
#include "codec/internal/g00_stream.h"
#include "codec/internal/lz_encoder.h"
#include "codec/g00_regions.h"
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
                    canvas.pixels.data() + ((top + r) * canvas.width + left) * 4,
                    size_t(columns * 4));
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
    return lzEncodeWorkSize(plan.units, plan.tasks) + (plan.type == kG00FullFrame ? 0 : plan.units);
}

uint64_t freshG00Bound(const G00FreshPlan& plan) {
    if (plan.type == kG00FullFrame) return kFullFrameStreamStart + lzPixelsEncodedBound(plan.units);
    return kFreshStreamStart + lzBytesEncodedBound(plan.units);
}

uint64_t writeFreshG00(const Canvas& canvas, const G00FreshPlan& plan, std::span<uint8_t> work,
                       std::span<uint8_t> out, const Parallel& parallel) {
    if (canvas.width > kMaxG00Side || canvas.height > kMaxG00Side ||
        work.size() < freshG00WorkSize(plan) || out.size() < freshG00Bound(plan))
        return 0;
    if (plan.type == kG00FullFrame) {
        if (plan.units != uint64_t(canvas.width) * canvas.height) return 0;
        const uint64_t stream = encodeLzPixels(canvas.pixels.span(), PixelUnit::bgra, work,
                                               out.subspan(kFullFrameStreamStart), parallel);
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

    const uint64_t lzWork = lzEncodeWorkSize(plan.units, plan.tasks);
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
                                          out.subspan(size_t(kFreshStreamStart)), parallel);
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

LikeAlpha likeAlphaOf(const Canvas& picture) {
    const uint8_t* pixels = picture.pixels.data();
    for (uint64_t i = 3; i < picture.pixels.size(); i += 4)
        if (pixels[i] != 255) return LikeAlpha::picture;
    return LikeAlpha::original;
}

namespace {

LikeAlpha decided(LikeAlpha alpha, const Canvas& picture) {
    return alpha == LikeAlpha::fromPicture ? likeAlphaOf(picture) : alpha;
}

}  // namespace

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
    plan.fullFrame = plan.type == kG00FullFrame;
    plan.units = plan.fullFrame ? uint64_t(plan.width) * plan.height : place.dataSize;
    if (!plan.fullFrame && place.bytes() > 0)
        plan.written = std::min<uint64_t>(
            place.dataSize,
            lzBytesOutputLength(original.data() + place.start, original.data() + place.end));
    return plan;
}

namespace {

// Which drawn part shows at each pixel of the picture, by its number in the order the decoder
// draws them from 1 (0: none). 65,535 entries of 65,535 parts are fewer than 2^32.
uint64_t visiblePartMapBytes(const G00LikePlan& plan) {
    return uint64_t(plan.width) * plan.height * 4;
}

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

// The picture's pixels that no drawn part covers and that do not look like the original's 0:
// those not fully transparent, or for a picture of colours alone, those not black.
OutsidePixels outsidePixels(const Canvas& picture, LikeAlpha alpha, const uint32_t* visiblePart) {
    OutsidePixels outside;
    outside.left = picture.width;
    outside.top = picture.height;
    const uint8_t* p = picture.pixels.data();
    uint64_t i = 0;
    for (uint32_t y = 0; y < picture.height; ++y) {
        for (uint32_t x = 0; x < picture.width; ++x, ++i, p += 4) {
            const bool shown = alpha == LikeAlpha::picture ? p[3] != 0 : (p[0] | p[1] | p[2]) != 0;
            if (!shown || visiblePart[i] != 0) continue;
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
void eachPixelShown(uint32_t width, uint32_t height, uint32_t partWidth, uint32_t partHeight,
                    uint64_t left, uint64_t top, Visit visit) {
    if (left >= width || top >= height) return;
    const uint64_t columns = std::min<uint64_t>(partWidth, width - left);
    const uint64_t rows = std::min<uint64_t>(partHeight, height - top);
    for (uint64_t r = 0; r < rows; ++r) {
        const uint64_t row = (top + r) * width + left;
        for (uint64_t c = 0; c < columns; ++c) visit(row + c, (r * partWidth + c) * 4);
    }
}

// How far into the decompressed data a refill may store a change. Past the end of what the
// original's stream writes, the decoder shows its zero fill. A part on the picture whose last
// pixels the stream leaves out (its header within the stream's output) ends within the
// picture's bytes of that end. Pixels further out belong to parts far wider than the picture,
// which put the pixels it shows up to 256 KiB apart a row: storing them would make the stream,
// the work and the memory follow the parts' widths and the announced length instead of the
// picture, so such changes are refused (damagedParts), as parts over the tables are.
uint64_t refilledMost(const G00LikePlan& plan) {
    return std::min(plan.units,
                    plan.written + kPartHeaderSize + canvasByteSize(plan.width, plan.height));
}

// The work of a refill: the part shown at each pixel, the compressor's area, and the original's
// decompressed data, which the refill changes in place.
struct Refill {
    uint32_t* visiblePart = nullptr;
    std::span<uint8_t> lzWork;
    std::span<uint8_t> data;
    uint64_t sizePairOffset = 0;
    uint64_t most = 0;  // refilledMost
    uint64_t end = 0;   // the new stream's output: the original's, or to the last change past it
    bool changed = false;
    Status status = Status::ok;
};

// A pixel's bytes put at offset at of the data, where they change it. Past refill.most
// nothing is ever written, so its bytes are 0 and are not read: a page read is a page made
// resident, and pixels there may lie a page apart each.
void refillPixel(Refill& refill, uint64_t at, const uint8_t* from, size_t bytes) {
    static constexpr uint8_t kZero[4] = {};
    uint8_t* to = refill.data.data() + at;
    if (std::memcmp(at < refill.most ? to : kZero, from, bytes) == 0) return;
    if (at + bytes > refill.most) {
        refill.status = Status::damagedParts;
        return;
    }
    std::memcpy(to, from, bytes);
    refill.end = std::max(refill.end, at + bytes);
    refill.changed = true;
}

Status startRefill(std::span<const uint8_t> original, const G00LikePlan& plan,
                   std::span<uint8_t> work, std::span<uint8_t> data, Refill& refill) {
    // Every size below is within work and data, checked by the caller.
    refill.most = refilledMost(plan);
    refill.end = plan.written;
    refill.visiblePart = reinterpret_cast<uint32_t*>(work.data());
    refill.lzWork =
        work.subspan(size_t(visiblePartMapBytes(plan)),
                     size_t(lzEncodeWorkSize(refill.most, plan.tasks)));
    refill.data = data.first(size_t(plan.units));
    std::memset(refill.visiblePart, 0, size_t(visiblePartMapBytes(plan)));
    refill.sizePairOffset = plan.prefix - kSizePairSize;
    const uint8_t* streamEnd =
        original.data() + refill.sizePairOffset + loadLe32(original.data() + refill.sizePairOffset);
    if (streamEnd <= original.data() + plan.prefix) return Status::ok;
    return decodeLzBytes(original.data() + plan.prefix, streamEnd,
                         original.data() + original.size(), refill.data.data(),
                         refill.data.data() + refill.data.size());
}

// The refilled data compressed behind the original's kept bytes: the file's length, 0 when the
// output is too small. An original whose stream writes nothing keeps an empty one.
uint64_t finishRefill(std::span<const uint8_t> original, const G00LikePlan& plan,
                      const Refill& refill, std::span<uint8_t> out, const Parallel& parallel) {
    uint64_t stream = 0;
    if (refill.end > 0) {
        stream = encodeLzBytes(refill.data.first(size_t(refill.end)), refill.lzWork,
                               out.subspan(size_t(plan.prefix)), parallel);
        if (stream == 0) return 0;
    }
    std::memcpy(out.data(), original.data(), size_t(plan.prefix));
    storeLe32(out.data() + refill.sizePairOffset, uint32_t(kSizePairSize + stream));
    return plan.prefix + stream;
}

bool workFits(std::span<const uint8_t> original, const G00LikePlan& plan, std::span<uint8_t> work,
              std::span<uint8_t> data, std::span<uint8_t> out) {
    return work.size() >= g00LikeWorkSize(plan) && data.size() >= g00LikeDataSize(plan) &&
           out.size() >= g00LikeBound(plan) && original.size() >= plan.prefix &&
           reinterpret_cast<uintptr_t>(work.data()) % 4 == 0;
}

void widen(OutsidePixels& outside, uint32_t x, uint32_t y) {
    if (outside.count++ == 0) {
        outside.left = outside.right = x;
        outside.top = outside.bottom = y;
        return;
    }
    outside.left = std::min(outside.left, x);
    outside.right = std::max(outside.right, x);
    outside.top = std::min(outside.top, y);
    outside.bottom = std::max(outside.bottom, y);
}

}  // namespace

uint64_t g00LikeWorkSize(const G00LikePlan& plan) {
    // Regions: the part shown at each pixel and the compressor's work area.
    if (plan.type == kG00FullFrame) return lzEncodeWorkSize(plan.units, plan.tasks);
    return visiblePartMapBytes(plan) + lzEncodeWorkSize(refilledMost(plan), plan.tasks);
}

uint64_t g00LikeDataSize(const G00LikePlan& plan) { return plan.fullFrame ? 0 : plan.units; }

uint64_t g00LikeBound(const G00LikePlan& plan) {
    if (plan.type == kG00FullFrame) return plan.prefix + lzPixelsEncodedBound(plan.units);
    return plan.prefix + lzBytesEncodedBound(refilledMost(plan));
}

G00LikeResult writeG00Like(std::span<const uint8_t> original, const G00LikePlan& plan,
                           const Canvas& picture, LikeAlpha alpha, std::span<uint8_t> work,
                           std::span<uint8_t> data, std::span<uint8_t> out,
                           const Parallel& parallel) {
    G00LikeResult result;
    result.status = plan.status;
    if (plan.status != Status::ok) return result;
    if (picture.width != plan.width || picture.height != plan.height ||
        !workFits(original, plan, work, data, out))
        return result;
    alpha = decided(alpha, picture);

    if (plan.type == kG00FullFrame) {
        const uint64_t stream = encodeLzPixels(picture.pixels.span(), PixelUnit::bgra, work,
                                               out.subspan(size_t(plan.prefix)), parallel);
        if (stream == 0) return result;
        std::memcpy(out.data(), original.data(), size_t(plan.prefix));
        storeLe32(out.data() + kFullFrameSizePairOffset, uint32_t(kSizePairSize + stream));
        result.size = plan.prefix + stream;
        return result;
    }

    Refill refill;
    result.status = startRefill(original, plan, work, data, refill);
    if (result.status != Status::ok) return result;
    uint32_t* visiblePart = refill.visiblePart;

    // Each pixel takes its colour anew only in the part that shows it: pixels that a later
    // part hides, like those beyond the picture, stay as the original has them.
    uint32_t number = 0;
    uint64_t before = 0, after = 0;
    result.status = walkParts(
        original, data, before,
        [&](uint64_t, uint32_t partWidth, uint32_t partHeight, uint64_t left, uint64_t top) {
            ++number;
            eachPixelShown(plan.width, plan.height, partWidth, partHeight, left, top,
                           [&](uint64_t i, uint64_t) { visiblePart[i] = number; });
        });
    if (result.status != Status::ok) return result;
    number = 0;
    walkParts(
        original, refill.data, after,
        [&](uint64_t at, uint32_t partWidth, uint32_t partHeight, uint64_t left, uint64_t top) {
            ++number;
            eachPixelShown(plan.width, plan.height, partWidth, partHeight, left, top,
                           [&](uint64_t i, uint64_t offset) {
                               if (visiblePart[i] == number)
                                   refillPixel(refill, at + offset, picture.pixels.data() + i * 4,
                                               alpha == LikeAlpha::picture ? 4 : 3);
                           });
        });
    // Parts whose pixels lie over the tables or headers would change what the decoder reads:
    // such an original cannot be refilled in place.
    walkParts(original, refill.data, after,
              [](uint64_t, uint32_t, uint32_t, uint64_t, uint64_t) {});
    if (refill.status != Status::ok || after != before) {
        result.status = Status::damagedParts;
        return result;
    }
    result.outside = outsidePixels(picture, alpha, visiblePart);
    result.size = finishRefill(original, plan, refill, out, parallel);
    result.unchanged = !refill.changed;
    return result;
}

namespace {

uint64_t lastRegionOffset(const G00LikePlan& plan) { return (g00LikeWorkSize(plan) + 1) / 2 * 2; }

}  // namespace

uint64_t g00LikeRegionsWorkSize(const G00LikePlan& plan) {
    // The last region drawn at each pixel, by its number from 1, after writeG00Like's work at
    // an even offset.
    return lastRegionOffset(plan) + uint64_t(plan.width) * plan.height * 2;
}

G00LikeRegionsResult writeG00LikeRegions(std::span<const uint8_t> original, const G00LikePlan& plan,
                                         std::span<const RegionPicture> regions,
                                         std::span<uint8_t> work, std::span<uint8_t> data,
                                         std::span<uint8_t> out, const Parallel& parallel) {
    G00LikeRegionsResult result;
    result.status = plan.status == Status::ok && plan.fullFrame ? Status::notG00 : plan.status;
    if (result.status != Status::ok || work.size() < g00LikeRegionsWorkSize(plan) ||
        !workFits(original, plan, work, data, out))
        return result;
    uint16_t* lastRegion = reinterpret_cast<uint16_t*>(work.data() + lastRegionOffset(plan));
    std::memset(lastRegion, 0, size_t(uint64_t(plan.width) * plan.height * 2));
    Refill refill;
    result.status = startRefill(original, plan, work, data, refill);
    if (result.status != Status::ok) return result;
    PartTable table;
    result.status = openPartTable(original, refill.data, table);
    if (result.status != Status::ok) return result;
    std::array<bool, 256> given{};
    for (const RegionPicture& picture : regions) {
        result.region = picture.region;
        if (picture.region >= table.regions)
            result.status = Status::noSuchRegion;
        else if (given[picture.region])
            result.status = Status::regionTwice;
        if (result.status != Status::ok) return result;
        given[picture.region] = true;
    }
    result.region = kNoRegion;
    uint64_t before = 0, after = 0;
    result.status = walkParts(original, refill.data, before,
                              [](uint64_t, uint32_t, uint32_t, uint64_t, uint64_t) {});
    if (result.status != Status::ok) return result;

    const uint32_t width = plan.width, height = plan.height;
    for (uint32_t r = 0; r < table.entriesInData; ++r)
        walkEntryParts(table, readPartEntry(table, r), [&](const PartPlace& part) {
            eachPixelShown(width, height, part.width, part.height, part.left, part.top,
                           [&](uint64_t i, uint64_t) { lastRegion[i] = uint16_t(r + 1); });
        });
    // Part numbers grow across regions, so the marks one region leaves never match another's.
    uint32_t number = 0;
    for (const RegionPicture& picture : regions) {
        const Canvas& pixels = *picture.pixels;
        const LikeAlpha alpha = decided(picture.alpha, pixels);
        const PartEntry entry = picture.region < table.entriesInData
                                    ? readPartEntry(table, picture.region)
                                    : PartEntry{};
        const uint32_t first = number + 1;
        auto walk = [&](auto visit) {
            return walkEntryParts(table, entry, [&](const PartPlace& part) {
                ++number;
                eachPixelShown(width, height, part.width, part.height, part.left, part.top,
                               [&](uint64_t i, uint64_t offset) { visit(part, i, offset); });
            });
        };
        result.status =
            walk([&](const PartPlace&, uint64_t i, uint64_t) { refill.visiblePart[i] = number; });
        if (result.status != Status::ok) return result;
        const uint32_t last = number;
        number = first - 1;
        const uint8_t transparent[4] = {};
        auto pixelAt = [&](uint64_t x, uint64_t y) -> const uint8_t* {
            const int64_t px = int64_t(x) - picture.left, py = int64_t(y) - picture.top;
            if (px < 0 || py < 0 || px >= int64_t(pixels.width) || py >= int64_t(pixels.height))
                return transparent;
            return pixels.pixels.data() + (uint64_t(py) * pixels.width + uint64_t(px)) * 4;
        };
        const size_t bytes = alpha == LikeAlpha::picture ? 4 : 3;
        walk([&](const PartPlace& part, uint64_t i, uint64_t offset) {
            if (refill.visiblePart[i] != number) return;
            const uint8_t* from = pixelAt(i % width, i / width);
            if (from[3] == 0 && alpha == LikeAlpha::picture && lastRegion[i] > picture.region + 1)
                return;
            refillPixel(refill, uint64_t(part.pixels - table.data.data()) + offset, from, bytes);
        });
        OutsidePixels outside;
        const int64_t x0 = std::max<int64_t>(picture.left, 0),
                      y0 = std::max<int64_t>(picture.top, 0);
        const int64_t x1 = std::min<int64_t>(int64_t(picture.left) + pixels.width, width);
        const int64_t y1 = std::min<int64_t>(int64_t(picture.top) + pixels.height, height);
        for (int64_t y = y0; y < y1; ++y) {
            for (int64_t x = x0; x < x1; ++x) {
                const uint8_t* p = pixelAt(uint64_t(x), uint64_t(y));
                const bool shown =
                    alpha == LikeAlpha::picture ? p[3] != 0 : (p[0] | p[1] | p[2]) != 0;
                const uint32_t at = refill.visiblePart[uint64_t(y) * width + uint64_t(x)];
                if (shown && (at < first || at > last)) widen(outside, uint32_t(x), uint32_t(y));
            }
        }
        if (outside.count != 0 && result.outside.regions++ == 0) {
            result.outside.region = picture.region;
            result.outside.pixels = outside;
        }
    }
    walkParts(original, refill.data, after,
              [](uint64_t, uint32_t, uint32_t, uint64_t, uint64_t) {});
    if (refill.status != Status::ok || after != before) {
        result.status = Status::damagedParts;
        return result;
    }
    result.size = finishRefill(original, plan, refill, out, parallel);
    result.unchanged = !refill.changed;
    return result;
}

// ---- A fresh file of several regions ----

namespace {

// A picture's rectangle on the whole picture, and the box of its pixels whose alpha is not 0
// (both clipped to it; right and bottom exclusive).
struct FreshRegion {
    uint32_t left = 0, top = 0, right = 0, bottom = 0;
    uint32_t partLeft = 0, partTop = 0, partRight = 0, partBottom = 0;
    uint64_t blockBytes() const {
        const uint64_t pixels = uint64_t(partRight - partLeft) * (partBottom - partTop);
        return kPartBlockHeaderSize + (pixels == 0 ? 0 : kPartHeaderSize + pixels * 4);
    }
};

FreshRegion freshRegion(const RegionPicture& picture, uint32_t width, uint32_t height) {
    const Canvas& pixels = *picture.pixels;
    FreshRegion region;
    region.left = uint32_t(std::clamp<int64_t>(picture.left, 0, width));
    region.top = uint32_t(std::clamp<int64_t>(picture.top, 0, height));
    region.right = uint32_t(std::clamp<int64_t>(int64_t(picture.left) + pixels.width, 0, width));
    region.bottom = uint32_t(std::clamp<int64_t>(int64_t(picture.top) + pixels.height, 0, height));
    // A picture wholly beside, above or below the canvas has no pixel on it to point to.
    if (region.left == region.right || region.top == region.bottom) return region;
    uint32_t left = region.right, top = region.bottom, right = 0, bottom = 0;
    for (uint32_t y = region.top; y < region.bottom; ++y) {
        const uint8_t* row =
            pixels.pixels.data() + (uint64_t(int64_t(y) - picture.top) * pixels.width +
                                    uint64_t(int64_t(region.left) - picture.left)) *
                                       4;
        for (uint32_t x = region.left; x < region.right; ++x, row += 4) {
            if (row[3] == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x + 1);
            top = std::min(top, y);
            bottom = std::max(bottom, y + 1);
        }
    }
    if (left < right) {
        region.partLeft = left;
        region.partTop = top;
        region.partRight = right;
        region.partBottom = bottom;
    }
    return region;
}

uint64_t freshTableBytes(uint64_t regions) {
    return kPartTableHeaderSize + kPartTableEntrySize * regions;
}

}  // namespace

G00RegionsPlan planFreshRegionsG00(std::span<const RegionPicture> regions, uint32_t width,
                                   uint32_t height) {
    G00RegionsPlan plan;
    plan.width = width;
    plan.height = height;
    plan.regions = uint32_t(std::min<size_t>(regions.size(), UINT32_MAX));
    if (regions.size() > kMostRegions)
        plan.status = Status::tooManyRegions;
    else if (regions.empty() || width == 0 || height == 0)
        plan.status = Status::emptyPicture;
    else if (width > kMaxG00Side || height > kMaxG00Side)
        plan.status = Status::pictureTooLarge;
    if (plan.status != Status::ok) return plan;
    plan.units = freshTableBytes(regions.size());
    for (const RegionPicture& picture : regions)
        plan.units += freshRegion(picture, width, height).blockBytes();
    if (plan.units > UINT32_MAX) plan.status = Status::tooLarge;
    return plan;
}

uint64_t freshRegionsG00WorkSize(const G00RegionsPlan& plan) {
    return lzEncodeWorkSize(plan.units, plan.tasks) + plan.units;
}

uint64_t freshRegionsG00Bound(const G00RegionsPlan& plan) {
    return regionStreamStart(plan.regions) + lzBytesEncodedBound(plan.units);
}

uint64_t writeFreshRegionsG00(std::span<const RegionPicture> regions, const G00RegionsPlan& plan,
                              std::span<uint8_t> work, std::span<uint8_t> out,
                              const Parallel& parallel) {
    if (plan.status != Status::ok || regions.size() != plan.regions ||
        work.size() < freshRegionsG00WorkSize(plan) || out.size() < freshRegionsG00Bound(plan))
        return 0;
    const uint64_t lzWork = lzEncodeWorkSize(plan.units, plan.tasks);
    uint8_t* data = work.data() + lzWork;
    uint8_t* o = out.data();
    const uint64_t streamStart = regionStreamStart(plan.regions);
    std::memset(o, 0, size_t(streamStart));
    putHeader(o, kG00Regions, plan.width, plan.height);
    storeLe32(o + kRegionCountOffset, plan.regions);  // 256 is stored as its low byte, 0

    std::memset(data, 0, size_t(plan.units));
    storeLe32(data, plan.regions);
    uint64_t at = freshTableBytes(plan.regions);
    for (uint32_t i = 0; i < plan.regions; ++i) {
        const FreshRegion region = freshRegion(regions[i], plan.width, plan.height);
        if (at + region.blockBytes() > plan.units) return 0;
        uint8_t* record = o + kRegionTableStart + uint64_t(kRegionRecordSize) * i;
        storeLe32(record + kRegionX1, region.left);
        storeLe32(record + kRegionY1, region.top);
        storeLe32(record + kRegionX2, region.right);
        storeLe32(record + kRegionY2, region.bottom);
        uint8_t* entry = data + kPartTableHeaderSize + uint64_t(kPartTableEntrySize) * i;
        storeLe32(entry + kEntryOffsetField, uint32_t(at));
        storeLe32(entry + kEntryLengthField, uint32_t(region.blockBytes()));
        uint8_t* block = data + at;
        at += region.blockBytes();
        if (region.partLeft == region.partRight) continue;  // no pixel to draw: no part
        storeLe16(block + kPartCountOffset, 1);
        uint8_t* part = block + kPartBlockHeaderSize;
        const uint32_t columns = region.partRight - region.partLeft;
        storeLe16(part + kPartX, region.partLeft - region.left);
        storeLe16(part + kPartY, region.partTop - region.top);
        storeLe16(part + kPartWidth, columns);
        storeLe16(part + kPartHeight, region.partBottom - region.partTop);
        const Canvas& pixels = *regions[i].pixels;
        const int64_t left = regions[i].left, top = regions[i].top;
        for (uint32_t y = region.partTop; y < region.partBottom; ++y)
            std::memcpy(
                part + kPartHeaderSize + uint64_t(y - region.partTop) * columns * 4,
                pixels.pixels.data() +
                    (uint64_t(y - top) * pixels.width + uint64_t(region.partLeft - left)) * 4,
                size_t(columns) * 4);
    }
    if (at != plan.units) return 0;
    const uint64_t stream = encodeLzBytes({data, size_t(plan.units)}, work.first(size_t(lzWork)),
                                          out.subspan(size_t(streamStart)), parallel);
    if (stream == 0) return 0;
    const uint64_t sizePairOffset = regionSizePairOffset(plan.regions);
    storeLe32(o + sizePairOffset, uint32_t(kSizePairSize + stream));
    storeLe32(o + sizePairOffset + kDecompressedLengthOffset, uint32_t(plan.units));
    return streamStart + stream;
}
