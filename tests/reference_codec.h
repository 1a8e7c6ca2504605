// Plain reference implementations for the tests, written straight from the format's algorithms:
// one unit at a time, indices instead of pointers, no shortcuts. Their bounds follow the policy
// written in codec/lz.h and codec/g00.h, checked in the order the format's fields are read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/internal/g00_layout.h"
#include "common/status.h"

namespace ref {

inline uint32_t le16(std::span<const uint8_t> b, uint64_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8;
}
inline uint32_t le32(std::span<const uint8_t> b, uint64_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

// ---- The LZ decompressors ----
//
// The stream runs from streamStart to streamEnd (indices into file). out is the output, as
// large as the decoder's output block and already holding its prior contents. Byte variant:
// one unit is one byte. Pixel variant: one unit is 4 bytes of out, of which bytes 0..2 are set.
template <bool Pixels>
Status decodeLz(std::span<const uint8_t> file, uint64_t streamStart, uint64_t streamEnd,
                std::vector<uint8_t>& out) {
    if (streamEnd > file.size()) return Status::truncated;
    const uint64_t unitBytes = Pixels ? 4 : 1;
    const uint64_t units = out.size() / unitBytes;
    uint64_t in = streamStart;
    uint64_t o = 0;  // in units
    uint32_t control = 0;
    int bitsLeft = 0;
    for (;;) {
        // 1. A new control byte when the previous one is used up, read at the current position.
        //    (When that position is the stream end, the end test below stops decoding anyway;
        //    the byte itself would not be used, so it is not read.)
        if (bitsLeft == 0) {
            if (in >= streamEnd) return Status::ok;
            control = file[in];
            in += 1;
            bitsLeft = 8;
        }
        // 2. Take the next bit, least significant first; then the end test.
        const uint32_t bit = control & 1;
        control >>= 1;
        bitsLeft -= 1;
        if (in >= streamEnd) return Status::ok;
        // 3. Bit 1: literal; bit 0: copy.
        if (bit == 1) {
            const uint64_t literalBytes = Pixels ? 3 : 1;
            if (streamEnd - in < literalBytes) return Status::truncated;
            if (o + 1 > units) return Status::damagedStream;
            for (uint64_t b = 0; b < literalBytes; ++b) out[o * unitBytes + b] = file[in + b];
            in += literalBytes;
            o += 1;
        } else {
            if (streamEnd - in < 2) return Status::truncated;
            const uint32_t word = le16(file, in);
            in += 2;
            const uint64_t distance = word >> 4;
            const uint64_t count = (word & 0x0F) + (Pixels ? 1 : 2);
            if (distance > o) return Status::damagedStream;
            if (o + count > units) return Status::damagedStream;
            for (uint64_t k = 0; k < count; ++k) {
                const uint64_t from = o - distance;
                for (uint64_t b = 0; b < (Pixels ? 3 : 1); ++b)
                    out[o * unitBytes + b] = out[from * unitBytes + b];
                o += 1;
            }
        }
    }
}

inline Status decodeLzBytes(std::span<const uint8_t> file, uint64_t streamStart, uint64_t streamEnd,
                            std::vector<uint8_t>& out) {
    return decodeLz<false>(file, streamStart, streamEnd, out);
}
inline Status decodeLzPixels(std::span<const uint8_t> file, uint64_t streamStart,
                             uint64_t streamEnd, std::vector<uint8_t>& out) {
    return decodeLz<true>(file, streamStart, streamEnd, out);
}

// The length of the shortest stream for the units (3-byte colours as 24-bit values, or bytes),
// by trying every distance from 1 to 4,095 at every position and every copy length up to the
// longest: bits of control and item bytes summed, then whole bytes. For short inputs only.
inline uint64_t shortestLzLength(const std::vector<uint32_t>& units, bool pixels) {
    const uint64_t n = units.size();
    const uint64_t literalBits = pixels ? 25 : 9, copyBits = 17;
    const uint64_t minCount = pixels ? 1 : 2, maxCount = pixels ? 16 : 17;
    std::vector<uint64_t> bits(n + 1, UINT64_MAX);
    bits[0] = 0;
    for (uint64_t p = 0; p < n; ++p) {
        bits[p + 1] = std::min(bits[p + 1], bits[p] + literalBits);
        uint64_t longest = 0;
        for (uint64_t d = 1; d <= 4095 && d <= p; ++d) {
            uint64_t k = 0;
            while (k < maxCount && p + k < n && units[p + k - d] == units[p + k]) ++k;
            longest = std::max(longest, k);
        }
        for (uint64_t k = minCount; k <= longest; ++k)
            bits[p + k] = std::min(bits[p + k], bits[p] + copyBits);
    }
    return (bits[n] + 7) / 8;
}

// ---- Composing the regions, and the whole decode ----

// composeRegions, with the bounds of codec/g00_regions.h: a table, block header or part past
// the data fails, an entry beyond the region count fails unless absent, parts are clipped
// pixel by pixel to the Canvas. With onlyEntry, only that entry's parts are drawn (every entry
// is still read); drawn, when given, marks with 1 every pixel a part writes.
inline Status composeRegions(std::span<const uint8_t> file, std::span<const uint8_t> data,
                             uint32_t width, uint32_t height, std::vector<uint8_t>& canvas,
                             int64_t onlyEntry = -1, std::vector<uint8_t>* drawn = nullptr) {
    uint64_t regions = file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset];
    if (regionSizePairOffset(regions) > file.size()) return Status::truncated;
    if (data.size() < kPartTableHeaderSize) return Status::damagedParts;
    const uint64_t entries = le32(data, 0) & 0xFFFF;
    if (kPartTableHeaderSize + kPartTableEntrySize * entries > data.size())
        return Status::damagedParts;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t entry = kPartTableHeaderSize + kPartTableEntrySize * i;
        const int32_t length = int32_t(le32(data, entry + kEntryLengthField));
        if (length < 0) continue;
        if (i >= regions) return Status::damagedParts;
        const uint64_t record = kRegionTableStart + kRegionRecordSize * i;
        if ((le32(file, record + kRegionX2) & 0xFFFF) == 0 &&
            (le32(file, record + kRegionY2) & 0xFFFF) == 0)
            continue;
        const uint64_t block = le32(data, entry + kEntryOffsetField);
        if (block + kPartBlockHeaderSize > data.size()) return Status::damagedParts;
        const uint32_t parts = le16(data, block + kPartCountOffset);
        const uint64_t originX = le32(file, record + kRegionX1) & 0xFFFF;
        const uint64_t originY = le32(file, record + kRegionY1) & 0xFFFF;
        uint64_t at = block + kPartBlockHeaderSize;
        for (uint32_t p = 0; p < parts; ++p) {
            if (at + kPartHeaderSize > data.size()) return Status::damagedParts;
            const uint64_t x = le16(data, at + kPartX), y = le16(data, at + kPartY);
            const uint64_t partWidth = le16(data, at + kPartWidth);
            const uint64_t partHeight = le16(data, at + kPartHeight);
            at += kPartHeaderSize;
            if (at + partWidth * partHeight * 4 > data.size()) return Status::damagedParts;
            for (uint64_t r = 0; r < partHeight; ++r) {
                for (uint64_t c = 0; c < partWidth; ++c) {
                    const uint64_t cx = originX + x + c, cy = originY + y + r;
                    if (cx >= width || cy >= height || (onlyEntry >= 0 && uint64_t(onlyEntry) != i))
                        continue;
                    for (int b = 0; b < 4; ++b)
                        canvas[(cy * width + cx) * 4 + b] = data[at + (r * partWidth + c) * 4 + b];
                    if (drawn != nullptr) (*drawn)[cy * width + cx] = 1;
                }
            }
            at += partWidth * partHeight * 4;
        }
    }
    return Status::ok;
}

// decodeG00 into a zero-filled width x height canvas taken from the header (types 0 and 2; any
// other type byte is taken as 2, and callers filter them); a full frame's alpha is 255.
struct Decoded {
    Status status = Status::ok;
    std::vector<uint8_t> canvas;
};

inline Decoded decodeG00(std::span<const uint8_t> file) {
    Decoded result;
    if (file.size() < kG00HeaderSize) return {Status::truncated, {}};
    const uint32_t width = le16(file, kG00WidthOffset), height = le16(file, kG00HeightOffset);
    result.canvas.assign(uint64_t(width) * height * 4, 0);
    if (file.size() < kG00HeaderSize + 4) {
        result.status = Status::truncated;
        return result;
    }
    if (file[kG00TypeOffset] == kG00FullFrame) {
        const uint64_t streamEnd =
            kFullFrameSizePairOffset + uint64_t(le32(file, kFullFrameSizePairOffset));
        if (streamEnd > file.size()) {
            result.status = Status::truncated;
        } else if (streamEnd > kFullFrameStreamStart) {
            result.status = decodeLzPixels(file, kFullFrameStreamStart, streamEnd, result.canvas);
        }
        // A full frame has no transparency: every pixel is opaque.
        if (result.status == Status::ok)
            for (size_t i = 3; i < result.canvas.size(); i += 4) result.canvas[i] = 255;
        return result;
    }
    const uint64_t regions = file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset];
    const uint64_t sizes = regionSizePairOffset(regions);
    if (sizes + kSizePairSize > file.size()) {
        result.status = Status::truncated;
        return result;
    }
    const uint64_t streamEnd = sizes + le32(file, sizes);
    if (streamEnd > file.size()) {
        result.status = Status::truncated;
        return result;
    }
    const uint32_t dataSize = le32(file, sizes + kDecompressedLengthOffset);
    if (dataSize == 0) {  // a 0-byte block is refused; codec/g00.h names it
        result.status = Status::damagedParts;
        return result;
    }
    std::vector<uint8_t> data(dataSize, 0);
    if (streamEnd > sizes + kSizePairSize) {
        result.status = decodeLzBytes(file, sizes + kSizePairSize, streamEnd, data);
        if (result.status != Status::ok) return result;
    }
    result.status = composeRegions(file, data, width, height, result.canvas);
    return result;
}

// ---- PackBits ----

// One row, scanning sample by sample with at most one open literal run.
inline void packRow(const std::vector<uint8_t>& s, std::vector<uint8_t>& out) {
    const size_t w = s.size();
    size_t i = 0;
    bool literalOpen = false;
    size_t literalHeader = 0, literalCount = 0;
    auto closeLiteral = [&] {
        out[literalHeader] = uint8_t(literalCount - 1);
        literalOpen = false;
    };
    while (i < w) {
        const uint8_t c = s[i];
        if (w - i >= 3 && s[i + 1] == c && s[i + 2] == c) {
            if (literalOpen) closeLiteral();
            size_t n = 3;
            while (n < 128 && i + n < w && s[i + n] == c) ++n;
            out.push_back(uint8_t(257 - n));
            out.push_back(c);
            i += n;
        } else {
            if (!literalOpen) {
                literalOpen = true;
                literalHeader = out.size();
                out.push_back(0);
                literalCount = 0;
            }
            out.push_back(c);
            ++literalCount;
            ++i;
            if (literalCount == 128 || i == w) closeLiteral();
        }
    }
}

// A whole PackBits block: compression field, length table and rows, or the raw form.
// A packed row longer than 65,535 bytes makes the block raw (the choice of codec/packbits.h).
inline std::vector<uint8_t> packBitsChannel(const uint8_t* source, uint32_t stride, uint32_t rows,
                                            uint32_t width) {
    auto sample = [&](uint64_t r, uint64_t j) { return source[(r * width + j) * stride]; };
    auto raw = [&] {
        std::vector<uint8_t> out = {0, 0};
        for (uint64_t r = 0; r < rows; ++r)
            for (uint64_t j = 0; j < width; ++j) out.push_back(sample(r, j));
        return out;
    };
    if (width < 4) return raw();
    std::vector<uint8_t> out = {0, 1};
    out.resize(2 + 2 * uint64_t(rows), 0);
    const uint64_t limit = 2 + uint64_t(rows) * width;  // as an offset from the block start
    for (uint64_t r = 0; r < rows; ++r) {
        std::vector<uint8_t> s(width);
        for (uint64_t j = 0; j < width; ++j) s[j] = sample(r, j);
        const size_t before = out.size();
        packRow(s, out);
        const size_t packed = out.size() - before;
        if (out.size() >= limit || packed > 0xFFFF) return raw();
        out[2 + 2 * r] = uint8_t(packed >> 8);
        out[3 + 2 * r] = uint8_t(packed);
    }
    return out;
}

// Decodes one block at data[at]; fills samples (rows * width) and returns the block length,
// or 0 when the block is not well formed.
inline uint64_t unpackBitsBlock(std::span<const uint8_t> data, uint64_t at, uint32_t rows,
                                uint32_t width, std::vector<uint8_t>& samples) {
    samples.clear();
    if (at + 2 > data.size()) return 0;
    const uint32_t compression = uint32_t(data[at]) << 8 | data[at + 1];
    if (compression == 0) {
        const uint64_t n = uint64_t(rows) * width;
        if (at + 2 + n > data.size()) return 0;
        samples.assign(data.begin() + at + 2, data.begin() + at + 2 + n);
        return 2 + n;
    }
    if (compression != 1) return 0;
    uint64_t table = at + 2;
    uint64_t p = table + 2 * uint64_t(rows);
    if (p > data.size()) return 0;
    for (uint64_t r = 0; r < rows; ++r) {
        const uint64_t length = uint32_t(data[table + 2 * r]) << 8 | data[table + 2 * r + 1];
        const uint64_t end = p + length;
        if (end > data.size()) return 0;
        const uint64_t rowStart = samples.size();
        while (p < end) {
            const uint8_t header = data[p++];
            if (header < 128) {
                const uint64_t n = uint64_t(header) + 1;
                if (p + n > end) return 0;
                samples.insert(samples.end(), data.begin() + p, data.begin() + p + n);
                p += n;
            } else if (header > 128) {
                if (p >= end) return 0;
                samples.insert(samples.end(), 257 - header, data[p++]);
            } else {
                return 0;  // 0x80 is never written
            }
        }
        if (samples.size() - rowStart != width) return 0;
    }
    return p - at;
}

// ---- Flattening on white ----

inline uint8_t flatten(uint32_t c, uint32_t a) {
    if (a == 0) return 255;
    if (a == 255) return uint8_t(c);
    return uint8_t((c * a + (255 - a) * 255) / 255);
}

}  // namespace ref
