#include "codec/packbits.h"

#include <bit>
#include <cstring>

#include "common/bytes.h"

namespace {

constexpr uint32_t kMaxRun = 128;
constexpr uint32_t kMaxRowLength = 0xFFFF;
constexpr uint64_t kLowBits = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Index of the lowest zero byte of word, or 8 when none is zero.
inline uint32_t firstZeroByte(uint64_t word) {
    uint64_t zeros = (word - kLowBits) & ~word & kHighBits;
    return zeros == 0 ? 8 : uint32_t(std::countr_zero(zeros)) / 8;
}

// Eight samples from position j, packed into a word (sample j in the lowest byte).
template <uint32_t Stride>
inline uint64_t eightSamples(const uint8_t* s) {
    if constexpr (Stride == 1) {
        return loadWord64(s);
    } else {
        uint64_t word = 0;
        for (int k = 0; k < 8; ++k) word |= uint64_t(s[k * Stride]) << (8 * k);
        return word;
    }
}

// The first position k >= from where samples k, k+1 and k+2 are equal, or width when none.
template <uint32_t Stride>
uint32_t findRepeat(const uint8_t* row, uint32_t from, uint32_t width) {
    uint32_t k = from;
    for (; k + 10 <= width; k += 8) {
        uint64_t a = eightSamples<Stride>(row + k * Stride);
        uint64_t b = eightSamples<Stride>(row + (k + 1) * Stride);
        uint64_t c = eightSamples<Stride>(row + (k + 2) * Stride);
        uint32_t hit = firstZeroByte((a ^ b) | (a ^ c));
        if (hit < 8) return k + hit;
    }
    for (; k + 2 < width; ++k) {
        uint8_t v = row[k * Stride];
        if (row[(k + 1) * Stride] == v && row[(k + 2) * Stride] == v) return k;
    }
    return width;
}

// How many samples from position k equal value, at most limit.
template <uint32_t Stride>
uint32_t repeatLength(const uint8_t* row, uint32_t k, uint32_t limit, uint8_t value) {
    uint32_t n = 0;
    const uint64_t pattern = kLowBits * value;
    for (; n + 8 <= limit; n += 8) {
        uint64_t differ = eightSamples<Stride>(row + (k + n) * Stride) ^ pattern;
        if (differ != 0) return n + uint32_t(std::countr_zero(differ)) / 8;
    }
    while (n < limit && row[(k + n) * Stride] == value) ++n;
    return n;
}

template <uint32_t Stride>
inline uint8_t* copySamples(const uint8_t* s, uint64_t count, uint8_t* o) {
    if constexpr (Stride == 1) {
        std::memcpy(o, s, count);
    } else {
        for (uint64_t k = 0; k < count; ++k) o[k] = s[k * Stride];
    }
    return o + count;
}

template <uint32_t Stride>
uint8_t* packRow(const uint8_t* row, uint32_t width, uint8_t* o) {
    uint32_t j = 0;
    while (j < width) {
        uint32_t repeat = findRepeat<Stride>(row, j, width);
        while (j < repeat) {  // the literal samples before it, 128 at most per run
            uint32_t n = repeat - j < kMaxRun ? repeat - j : kMaxRun;
            *o++ = uint8_t(n - 1);
            o = copySamples<Stride>(row + j * Stride, n, o);
            j += n;
        }
        if (repeat == width) break;
        uint8_t value = row[repeat * Stride];
        uint32_t limit = width - repeat < kMaxRun ? width - repeat : kMaxRun;
        uint32_t n = 3 + repeatLength<Stride>(row, repeat + 3, limit - 3, value);
        *o++ = uint8_t(257 - n);
        *o++ = value;
        j = repeat + n;
    }
    return o;
}

template <uint32_t Stride>
uint32_t writeRaw(const uint8_t* source, uint32_t rows, uint32_t width, uint8_t* out) {
    storeBe16(out, 0);
    copySamples<Stride>(source, uint64_t(rows) * width, out + 2);
    return uint32_t(packBitsRawSize(rows, width));
}

template <uint32_t Stride>
uint32_t packBlock(const uint8_t* source, uint32_t rows, uint32_t width, uint8_t* out) {
    if (width < 4) return writeRaw<Stride>(source, rows, width, out);
    storeBe16(out, 1);
    uint8_t* table = out + 2;
    uint8_t* o = table + 2 * uint64_t(rows);
    const uint8_t* limit = table + uint64_t(rows) * width;
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* rowStart = o;
        o = packRow<Stride>(source + uint64_t(r) * width * Stride, width, o);
        if (o >= limit || uint64_t(o - rowStart) > kMaxRowLength)
            return writeRaw<Stride>(source, rows, width, out);
        storeBe16(table + 2 * r, uint32_t(o - rowStart));
    }
    return uint32_t(o - out);
}

}  // namespace

uint32_t packBitsChannel(const uint8_t* source, uint32_t stride, uint32_t rows, uint32_t width,
                         uint8_t* out) {
    if (stride == 4) return packBlock<4>(source, rows, width, out);
    return packBlock<1>(source, rows, width, out);
}
