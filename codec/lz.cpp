#include "codec/lz.h"

#include <cstddef>
#include <cstring>

#include "common/bytes.h"

namespace {

// Items per control byte, and the most stream bytes one control byte and its items can take:
// then a whole group can be decoded with no end test inside it.
constexpr int kItemsPerControl = 8;
constexpr std::ptrdiff_t kPixelGroupInput = 1 + kItemsPerControl * 3;
constexpr std::ptrdiff_t kByteGroupInput = 1 + kItemsPerControl * 2;
constexpr std::ptrdiff_t kPixelGroupOutput = kItemsPerControl * 16 * 4;
constexpr std::ptrdiff_t kByteGroupOutput = kItemsPerControl * 17;

inline void putPixelColour(uint8_t* o, uint32_t bgr) {
    storeWord32(o, (bgr & 0x00FFFFFFu) | (loadWord32(o) & 0xFF000000u));
}

// Copies count pixels from distance pixels back, one after another, so that overlapping
// copies repeat their pattern exactly; distance 0 leaves the pixels unchanged.
inline void copyPixels(uint8_t* o, uint32_t distanceBytes, uint32_t count) {
    if (distanceBytes == 0) return;
    const uint8_t* from = o - distanceBytes;
    for (uint32_t k = 0; k < count; ++k) putPixelColour(o + 4 * k, loadWord32(from + 4 * k));
}

inline void copyBytes(uint8_t* o, uint32_t distance, uint32_t count) {
    if (distance == 0) return;
    const uint8_t* from = o - distance;
    if (distance >= count) {
        std::memcpy(o, from, count);
    } else if (distance == 1) {
        std::memset(o, *from, count);
    } else {
        for (uint32_t k = 0; k < count; ++k) o[k] = from[k];
    }
}

}  // namespace

Status decodeLzPixels(const uint8_t* stream, const uint8_t* streamEnd, const uint8_t* fileEnd,
                      uint8_t* out, uint8_t* outEnd) {
    if (streamEnd > fileEnd) return Status::truncated;
    const uint8_t* in = stream;
    uint8_t* o = out;
    for (;;) {
        // The control byte at the stream end would only be followed by the end test.
        if (in >= streamEnd) return Status::ok;
        uint32_t control = *in++;

        // One spare input byte: a literal loads a whole word of which it keeps three bytes.
        if (streamEnd - in >= kPixelGroupInput && outEnd - o >= kPixelGroupOutput) {
            for (int item = 0; item < kItemsPerControl; ++item, control >>= 1) {
                if (control & 1) {
                    putPixelColour(o, loadWord32(in));
                    in += 3;
                    o += 4;
                } else {
                    uint32_t word = loadLe16(in);
                    in += 2;
                    uint32_t distanceBytes = (word >> 4) * 4;
                    uint32_t count = (word & 0x0F) + 1;
                    if (uint64_t(o - out) < distanceBytes) return Status::damagedStream;
                    copyPixels(o, distanceBytes, count);
                    o += 4 * count;
                }
            }
            continue;
        }

        for (int item = 0; item < kItemsPerControl; ++item, control >>= 1) {
            if (in >= streamEnd) return Status::ok;
            if (control & 1) {
                if (streamEnd - in < 3) return Status::truncated;
                if (outEnd - o < 4) return Status::damagedStream;
                putPixelColour(o, uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16);
                in += 3;
                o += 4;
            } else {
                if (streamEnd - in < 2) return Status::truncated;
                uint32_t word = loadLe16(in);
                in += 2;
                uint32_t distanceBytes = (word >> 4) * 4;
                uint32_t count = (word & 0x0F) + 1;
                if (uint64_t(o - out) < distanceBytes || uint64_t(outEnd - o) < 4 * count)
                    return Status::damagedStream;
                copyPixels(o, distanceBytes, count);
                o += 4 * count;
            }
        }
    }
}

Status decodeLzBytes(const uint8_t* stream, const uint8_t* streamEnd, const uint8_t* fileEnd,
                     uint8_t* out, uint8_t* outEnd) {
    if (streamEnd > fileEnd) return Status::truncated;
    const uint8_t* in = stream;
    uint8_t* o = out;
    for (;;) {
        if (in >= streamEnd) return Status::ok;
        uint32_t control = *in++;

        if (streamEnd - in >= kByteGroupInput - 1 && outEnd - o >= kByteGroupOutput) {
            if (control == 0xFF) {  // eight literals in a row: one wide move
                std::memcpy(o, in, kItemsPerControl);
                in += kItemsPerControl;
                o += kItemsPerControl;
                continue;
            }
            for (int item = 0; item < kItemsPerControl; ++item, control >>= 1) {
                if (control & 1) {
                    *o++ = *in++;
                } else {
                    uint32_t word = loadLe16(in);
                    in += 2;
                    uint32_t distance = word >> 4;
                    uint32_t count = (word & 0x0F) + 2;
                    if (uint64_t(o - out) < distance) return Status::damagedStream;
                    copyBytes(o, distance, count);
                    o += count;
                }
            }
            continue;
        }

        for (int item = 0; item < kItemsPerControl; ++item, control >>= 1) {
            if (in >= streamEnd) return Status::ok;
            if (control & 1) {
                if (o >= outEnd) return Status::damagedStream;
                *o++ = *in++;
            } else {
                if (streamEnd - in < 2) return Status::truncated;
                uint32_t word = loadLe16(in);
                in += 2;
                uint32_t distance = word >> 4;
                uint32_t count = (word & 0x0F) + 2;
                if (uint64_t(o - out) < distance || uint64_t(outEnd - o) < count)
                    return Status::damagedStream;
                copyBytes(o, distance, count);
                o += count;
            }
        }
    }
}
