#include "tools/g00_encoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "codec/internal/lz_encoder.h"
#include "common/bytes.h"

// ---- The item writer ----

void LzStreamWriter::item(bool literal) {
    if (items_ % 8 == 0) {
        control_ = stream_.size();
        stream_.push_back(0);
    }
    if (literal) stream_[control_] |= uint8_t(1u << (items_ % 8));
    ++items_;
}

void LzStreamWriter::literalPixel(uint8_t blue, uint8_t green, uint8_t red) {
    item(true);
    stream_.insert(stream_.end(), {blue, green, red});
}

void LzStreamWriter::literalByte(uint8_t value) {
    item(true);
    stream_.push_back(value);
}

void LzStreamWriter::copyWord(uint32_t distance, uint32_t code) {
    if (distance > 4095 || code > 15) throw std::invalid_argument("copy word out of range");
    item(false);
    uint32_t word = distance << 4 | code;
    stream_.insert(stream_.end(), {uint8_t(word), uint8_t(word >> 8)});
}

// ---- The match finder ----

namespace {

constexpr uint32_t kMaxDistance = 4095;
constexpr uint32_t kRing = 4096;  // > kMaxDistance: a chain never reaches an overwritten slot
constexpr int kChainDepth = 24;
constexpr uint32_t kHashBits = 16;

// Units compared by value: a pixel's 24-bit colour, or a byte.
template <typename Unit>
struct Traits;

template <>
struct Traits<uint32_t> {
    static constexpr uint32_t minMatch = 1;  // a 2-byte copy word beats a 3-byte literal
    static constexpr uint32_t maxMatch = 16;
    static uint32_t hash2(const uint32_t* u) {
        return ((u[0] * 2654435761u) ^ (u[1] * 0x85EBCA6Bu + 0x9E3779B9u)) >> (32 - kHashBits);
    }
    static uint32_t hash1(uint32_t u) { return (u * 2654435761u) >> (32 - kHashBits); }
};

template <>
struct Traits<uint8_t> {
    static constexpr uint32_t minMatch = 2;
    static constexpr uint32_t maxMatch = 17;
    static uint32_t hash2(const uint8_t* u) { return uint32_t(u[0]) | uint32_t(u[1]) << 8; }
    static uint32_t hash1(uint8_t u) { return u; }
};

struct Match {
    uint32_t length = 0;
    uint32_t distance = 0;
};

template <typename Unit>
class MatchFinder {
public:
    explicit MatchFinder(std::span<const Unit> units)
        : units_(units),
          head_(size_t(1) << kHashBits, -1),
          last_(size_t(1) << kHashBits, -1),
          ring_(kRing, -1) {}

    // Records position pos (all earlier positions are already recorded).
    void insert(uint32_t pos) {
        last_[Traits<Unit>::hash1(units_[pos])] = int64_t(pos);
        if (pos + 1 >= units_.size()) return;
        uint32_t h = Traits<Unit>::hash2(units_.data() + pos);
        ring_[pos % kRing] = head_[h];
        head_[h] = int64_t(pos);
    }

    Match longest(uint32_t pos) const {
        const uint32_t limit =
            uint32_t(std::min<uint64_t>(Traits<Unit>::maxMatch, units_.size() - uint64_t(pos)));
        Match best;
        auto consider = [&](int64_t candidate) {
            if (candidate < 0 || pos - candidate > kMaxDistance) return false;
            uint32_t n = extend(uint32_t(candidate), pos, limit);
            if (n > best.length) best = Match{n, uint32_t(pos - candidate)};
            return best.length == limit;
        };
        if (pos + 1 < units_.size()) {
            int64_t candidate = head_[Traits<Unit>::hash2(units_.data() + pos)];
            for (int depth = 0; depth < kChainDepth && candidate >= 0; ++depth) {
                if (pos - candidate > kMaxDistance) break;
                if (consider(candidate)) return best;
                candidate = ring_[size_t(candidate % kRing)];
            }
        }
        if (best.length < 2) consider(last_[Traits<Unit>::hash1(units_[pos])]);
        if (best.length < Traits<Unit>::minMatch) return Match{};
        return best;
    }

private:
    uint32_t extend(uint32_t from, uint32_t pos, uint32_t limit) const {
        uint32_t n = 0;
        while (n < limit && units_[from + n] == units_[pos + n]) ++n;
        return n;
    }

    std::span<const Unit> units_;
    std::vector<int64_t> head_;  // newest position of each 2-unit hash
    std::vector<int64_t> last_;  // newest position of each 1-unit hash
    std::vector<int64_t> ring_;  // the next older position of the same 2-unit hash
};

// Runs the match finder over the units and hands each item to the emitters.
template <typename Unit, typename Literal, typename Copy>
void compressUnits(std::span<const Unit> units, LzMode mode, Literal literal, Copy copy) {
    if (mode == LzMode::literalsOnly) {
        for (uint32_t pos = 0; pos < units.size(); ++pos) literal(pos);
        return;
    }
    MatchFinder<Unit> finder(units);
    uint32_t pos = 0;
    while (pos < units.size()) {
        Match match = finder.longest(pos);
        if (match.length == 0) {
            literal(pos);
            finder.insert(pos++);
            continue;
        }
        copy(match.distance, match.length);
        for (uint32_t end = pos + match.length; pos < end; ++pos) finder.insert(pos);
    }
}

void appendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    uint8_t field[4];
    storeLe32(field, value);
    bytes.insert(bytes.end(), field, field + 4);
}

// A file begun with its header (type, width, height), with room for size bytes. Written into a
// vector made for it: GCC 12 and GCC 14 each take a way of appending to an empty vector with room
// reserved for a fault (-Warray-bounds, -Wfree-nonheap-object).
std::vector<uint8_t> startFile(size_t size, uint8_t type, uint16_t width, uint16_t height) {
    std::vector<uint8_t> file(5);
    file[0] = type;
    storeLe16(file.data() + 1, width);
    storeLe16(file.data() + 3, height);
    file.reserve(size);
    return file;
}

// The codec's compressor, with the buffers it asks for.
template <typename Encode>
std::vector<uint8_t> codecStream(uint64_t units, uint64_t bound, Encode encode) {
    std::vector<uint8_t> work(static_cast<size_t>(lzEncodeWorkSize(units)));
    std::vector<uint8_t> stream(static_cast<size_t>(bound));
    stream.resize(size_t(encode(std::span<uint8_t>(work), std::span<uint8_t>(stream))));
    return stream;
}

}  // namespace

std::vector<uint8_t> compressLzPixels(std::span<const uint8_t> pixels, PixelLayout layout,
                                      LzMode mode) {
    const size_t unit = layout == PixelLayout::bgr ? 3 : 4;
    if (mode == LzMode::compress) {
        const PixelUnit codecUnit = layout == PixelLayout::bgr ? PixelUnit::bgr : PixelUnit::bgra;
        return codecStream(pixels.size() / unit, lzPixelsEncodedBound(pixels.size() / unit),
                           [&](std::span<uint8_t> work, std::span<uint8_t> out) {
                               return encodeLzPixels(pixels, codecUnit, work, out);
                           });
    }
    const size_t count = pixels.size() / unit;
    std::vector<uint32_t> colours(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = pixels.data() + i * unit;
        colours[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    }
    LzStreamWriter writer;
    compressUnits<uint32_t>(
        colours, mode,
        [&](uint32_t pos) {
            uint32_t c = colours[pos];
            writer.literalPixel(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
        },
        [&](uint32_t distance, uint32_t length) { writer.copyPixels(distance, length); });
    return writer.take();
}

std::vector<uint8_t> compressLzBytes(std::span<const uint8_t> bytes, LzMode mode) {
    if (mode == LzMode::compress)
        return codecStream(bytes.size(), lzBytesEncodedBound(bytes.size()),
                           [&](std::span<uint8_t> work, std::span<uint8_t> out) {
                               return encodeLzBytes(bytes, work, out);
                           });
    LzStreamWriter writer;
    compressUnits<uint8_t>(
        bytes, mode, [&](uint32_t pos) { writer.literalByte(bytes[pos]); },
        [&](uint32_t distance, uint32_t length) { writer.copyBytes(distance, length); });
    return writer.take();
}

std::vector<uint8_t> assembleG00FullFrame(uint16_t width, uint16_t height,
                                          std::span<const uint8_t> stream, G00Lengths lengths,
                                          uint8_t type) {
    std::vector<uint8_t> file =
        startFile(kFullFrameStreamStart + stream.size(), type, width, height);
    appendLe32(file, lengths.compressed.value_or(uint32_t(kSizePairSize + stream.size())));
    appendLe32(file, lengths.decompressed.value_or(uint32_t(width) * height * 4));
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

std::vector<uint8_t> encodeG00FullFrame(uint16_t width, uint16_t height,
                                        std::span<const uint8_t> pixels, PixelLayout layout,
                                        LzMode mode) {
    const size_t unit = layout == PixelLayout::bgr ? 3 : 4;
    if (pixels.size() != size_t(width) * height * unit)
        throw std::invalid_argument("pixel count does not match the picture size");
    return assembleG00FullFrame(width, height, compressLzPixels(pixels, layout, mode));
}

std::vector<uint8_t> buildPartData(const G00RegionImage& image) {
    std::vector<uint8_t> data;
    appendLe32(data, image.entryCountField.value_or(uint32_t(image.entries.size())));
    data.resize(kPartTableHeaderSize + kPartTableEntrySize * image.entries.size());
    for (size_t i = 0; i < image.entries.size(); ++i) {
        const G00Entry& entry = image.entries[i];
        const size_t start = data.size();
        if (entry.hasBlock) {
            data.resize(start + kPartBlockHeaderSize);
            storeLe16(data.data() + start + kPartCountOffset,
                      entry.partCountField.value_or(uint16_t(entry.parts.size())));
            for (const G00Part& part : entry.parts) {
                size_t at = data.size();
                data.resize(at + kPartHeaderSize);
                storeLe16(data.data() + at + kPartX, part.x);
                storeLe16(data.data() + at + kPartY, part.y);
                storeLe16(data.data() + at + kPartWidth, part.width);
                storeLe16(data.data() + at + kPartHeight, part.height);
                data.insert(data.end(), part.pixels.begin(), part.pixels.end());
            }
        }
        uint8_t* slot = data.data() + kPartTableHeaderSize + kPartTableEntrySize * i;
        storeLe32(slot + kEntryOffsetField,
                  entry.offsetField.value_or(entry.hasBlock ? uint32_t(start) : 0));
        storeLe32(slot + kEntryLengthField,
                  entry.lengthField.value_or(uint32_t(data.size() - start)));
    }
    data.insert(data.end(), image.trailer.begin(), image.trailer.end());
    return data;
}

std::vector<uint8_t> assembleG00Regions(const G00RegionImage& image,
                                        std::span<const uint8_t> stream, uint32_t dataSize,
                                        G00Lengths lengths) {
    const size_t size = size_t(regionStreamStart(image.regions.size())) + stream.size();
    std::vector<uint8_t> file = startFile(size, image.type, image.width, image.height);
    appendLe32(file, image.regionCountField.value_or(uint32_t(image.regions.size())));
    for (const G00RegionRecord& region : image.regions) {
        for (uint32_t field :
             {region.x1, region.y1, region.x2, region.y2, region.unused[0], region.unused[1]})
            appendLe32(file, field);
    }
    appendLe32(file, lengths.compressed.value_or(uint32_t(kSizePairSize + stream.size())));
    appendLe32(file, lengths.decompressed.value_or(dataSize));
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

std::vector<uint8_t> encodeG00Regions(const G00RegionImage& image, LzMode mode) {
    std::vector<uint8_t> data = buildPartData(image);
    std::vector<uint8_t> stream = compressLzBytes(data, mode);
    return assembleG00Regions(image, stream, uint32_t(data.size()));
}
