#include "codec/internal/lz.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "common/bytes.h"

namespace {

// Items per control byte, and the most stream bytes one control byte and its items can take:
// then a whole group can be decoded with no end test inside it.
constexpr int kItemsPerControl = 8;
constexpr std::ptrdiff_t kPixelGroupInput = 1 + kItemsPerControl * 3;
// The byte variant's items each load 16 bytes at their stream position.
constexpr std::ptrdiff_t kByteGroupReach = kItemsPerControl * 2 + 16;
constexpr std::ptrdiff_t kPixelGroupOutput = kItemsPerControl * 16 * 4;
// Eight items of up to 17 bytes and the 16-byte move of the last one, in whole 16-byte moves.
constexpr std::ptrdiff_t kByteGroupOutput = (kItemsPerControl * 17 + 16 + 15) / 16 * 16;
// The longest distance a copy word holds: past it into the output, no copy reaches before it.
constexpr std::ptrdiff_t kFarthestCopy = 0xFFF;

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

// The copies of the inner loop, where the output has room for a whole group of items. They
// write the bytes of the item in wide moves, and read only source bytes that are final by
// then, so overlapping copies still repeat their pattern.

// Four pixels' colour masks, then four clear pixels: loaded from 4 - n pixels, the colours of
// the first n pixels are set.
alignas(16) constexpr uint32_t kLeadingColours[8] = {0x00FFFFFFu, 0x00FFFFFFu, 0x00FFFFFFu,
                                                     0x00FFFFFFu};

inline __m128i load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The masked bytes of value over those of o; the others are written back as they were.
inline void blend16(uint8_t* o, __m128i value, __m128i mask) {
    store16(o, _mm_or_si128(_mm_and_si128(mask, value), _mm_andnot_si128(mask, load16(o))));
}

// Copies count bytes in steps of Step from a source at least Step bytes back; the last step
// ends at the copy's end and rewrites some bytes with the values they already got.
template <uint32_t Step>
inline void stepCopy(uint8_t* o, const uint8_t* from, uint32_t count) {
    using Word = std::conditional_t<Step == 8, uint64_t, uint32_t>;
    Word word;
    uint32_t k = 0;
    for (; k + Step <= count; k += Step) {
        std::memcpy(&word, from + k, Step);
        std::memcpy(o + k, &word, Step);
    }
    if (k < count) {
        std::memcpy(&word, from + count - Step, Step);
        std::memcpy(o + count - Step, &word, Step);
    }
}

// count bytes (1 to 17) from a source at least count bytes back: one 16-byte move, which also
// writes up to 15 bytes past the item (the following items write them again), and the 17th
// byte alone. Short items of 1 to 4 bytes are most of a photograph's stream, in no pattern a
// branch on the length could predict. Reads 17 bytes at from.
inline void copyAhead(uint8_t* o, const uint8_t* from, uint32_t count) {
    store16(o, load16(from));
    if (count > 16) o[16] = from[16];
}

// The same for an item of any length from 1 to 17, writing the 17th byte in every case: up to
// 16 bytes past the item.
inline void copyAhead(uint8_t* o, const uint8_t* from) {
    store16(o, load16(from));
    o[16] = from[16];
}

// Exactly count bytes (8 to 17) of a pattern whose period divides 8, held in a word: the
// last move starts where the pattern stands rotated.
inline void fillPattern(uint8_t* o, uint64_t pattern, uint32_t period, uint32_t count) {
    std::memcpy(o, &pattern, 8);
    if (count >= 16) std::memcpy(o + 8, &pattern, 8);
    const uint64_t tail = std::rotr(pattern, int(8 * ((count - 8) % period)));
    std::memcpy(o + count - 8, &tail, 8);
}

// A copy whose source overlaps it (distance 1 to count - 1). Periods of 1, 2 and 4 bytes
// (runs of a byte, of a pixel's four bytes) are written from a register; moves of other
// overlapping copies would wait on the stores just made.
inline void copyOverlapping(uint8_t* o, uint32_t distance, uint32_t count) {
    const uint8_t* from = o - distance;
    if (distance == 1 && count >= 16) {
        const __m128i run = _mm_set1_epi8(char(from[0]));
        store16(o, run);
        store16(o + count - 16, run);
    } else if (count >= 8 && (distance == 1 || distance == 2 || distance == 4)) {
        const uint64_t pattern = distance == 1   ? 0x0101010101010101ull * from[0]
                                 : distance == 2 ? 0x0001000100010001ull * loadLe16(from)
                                                 : 0x0000000100000001ull * loadWord32(from);
        fillPattern(o, pattern, distance, count);
    } else if (distance >= 8) {
        stepCopy<8>(o, from, count);
    } else if (distance >= 4) {
        stepCopy<4>(o, from, count);
    } else {
        for (uint32_t k = 0; k < count; ++k) o[k] = from[k];
    }
}

// Needs 64 bytes of room at o (a copy is at most 16 pixels). Four pixels at a time when the
// source is at least four pixels back: each group then reads pixels already final. Short
// copies go pixel by pixel: a wide load of output just written in other widths waits for it.
inline void copyPixelsWide(uint8_t* o, uint32_t distanceBytes, uint32_t count) {
    if (distanceBytes == 0) return;
    const uint8_t* from = o - distanceBytes;
    if (count >= 4 && (distanceBytes == 4 || distanceBytes >= 16)) {
        const __m128i repeated = _mm_set1_epi32(int(loadWord32(from)));
        for (uint32_t k = 0; k < count; k += 4) {
            const uint32_t group = count - k < 4 ? count - k : 4;
            const __m128i mask =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLeadingColours + 4 - group));
            blend16(o + 4 * k, distanceBytes == 4 ? repeated : load16(from + 4 * k), mask);
        }
    } else {
        copyPixels(o, distanceBytes, count);
    }
}

// An item of the grouped byte loop whose copy overlaps its source (distance 1 to count - 1)
// or keeps the bytes as they were (distance 0: kept holds the output's bytes from o on as they
// were before the group wrote past them). Out of line: rare in most pictures, and the loop keeps
// its values in registers without it.
[[gnu::noinline]] void copyFromWithin(uint8_t* o, uint32_t distance, uint32_t count,
                                      const uint8_t* kept) {
    if (distance == 0)
        copyAhead(o, kept, count);
    else
        copyOverlapping(o, distance, count);
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
                    copyPixelsWide(o, distanceBytes, count);
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
    alignas(16) uint8_t original[kByteGroupOutput];
    for (;;) {
        if (in >= streamEnd) return Status::ok;
        uint32_t control = *in++;

        if (streamEnd - in >= kByteGroupReach && outEnd - o >= kByteGroupOutput &&
            o - out > kFarthestCopy) {
            if (control == 0xFF) {  // eight literals in a row: one wide move
                std::memcpy(o, in, kItemsPerControl);
                in += kItemsPerControl;
                o += kItemsPerControl;
                continue;
            }
            // The items' 16-byte moves write past each item's end, where the next item writes
            // again; what lies past the group's end and what a copy of distance 0 keeps must
            // stay as it was, so the group's output span is kept first and put back there.
            uint8_t* const groupStart = o;
            for (std::ptrdiff_t k = 0; k < kByteGroupOutput; k += 16)
                store16(original + k, load16(o + k));
            // Every item is a 16-byte move and its 17th byte, from the stream for a literal and
            // from the output for a copy, chosen with masks rather than branches: literals and
            // copies alternate in no pattern a branch could predict. Only a copy overlapping its
            // source takes the careful way; none reaches before the output this far into it.
            const uint8_t* at = in;
            uintptr_t bits = control;
#pragma GCC unroll 8
            for (int item = 0; item < kItemsPerControl; ++item) {
                const uintptr_t literal = bits & 1;
                bits >>= 1;
                const uintptr_t copyMask = literal - 1;
                const uintptr_t word = uintptr_t(at[0]) | uintptr_t(at[1]) << 8;
                const uintptr_t distance = word >> 4;
                const uintptr_t count = 1 + (((word & 0x0F) + 1) & copyMask);
                const uintptr_t from =
                    uintptr_t(at) + ((uintptr_t(o) - distance - uintptr_t(at)) & copyMask);
                at += 2 - literal;
                if ((distance < count) & (literal ^ 1)) [[unlikely]] {
                    copyFromWithin(o, uint32_t(distance), uint32_t(count),
                                   original + (o - groupStart));
                } else {
                    copyAhead(o, reinterpret_cast<const uint8_t*>(from));
                }
                o += count;
            }
            in = at;
            store16(o, load16(original + (o - groupStart)));
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

uint64_t lzBytesOutputLength(const uint8_t* stream, const uint8_t* streamEnd) {
    uint64_t length = 0;
    const uint8_t* in = stream;
    while (in < streamEnd) {
        uint32_t control = *in++;
        for (int item = 0; item < kItemsPerControl && in < streamEnd; ++item, control >>= 1) {
            if (control & 1) {
                ++in;
                ++length;
                continue;
            }
            if (streamEnd - in < 2) return length;
            length += (loadLe16(in) & 0x0F) + 2;
            in += 2;
        }
    }
    return length;
}
