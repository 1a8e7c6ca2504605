#include "codec/packbits.h"

#include <emmintrin.h>

#include <bit>
#include <cstring>

#include "common/bytes.h"

namespace {

constexpr uint32_t kMaxRun = 128;
constexpr uint32_t kMaxRowLength = 0xFFFF;
constexpr uint32_t kAhead = 1024;  // samples

// A 64-position window of a row, as bits: bit i is set when sample p + i equals sample
// p + i + 1 (p a multiple of 64). A repeat run starts where two neighbouring bits are set, and
// it is as long as the ones from there, plus one. The bits are made 16 or 4 samples at a time
// with SSE2 compares; the last positions of the row, which the wide loads would overrun, one
// at a time.
template <uint32_t Stride>
class EqualNeighbours {
public:
    EqualNeighbours(const uint8_t* row, uint32_t width) : row_(row), width_(width) {}

    // The first position k >= from where samples k, k+1 and k+2 are equal, or width.
    uint32_t nextRepeat(uint32_t from) {
        for (uint64_t p = from & ~63u; p < width_; p += 64) {
            uint64_t starts = window(uint32_t(p)).starts;
            if (p < from) starts &= ~uint64_t(0) << (from - p);
            if (starts != 0) return uint32_t(p) + uint32_t(std::countr_zero(starts));
        }
        return width_;
    }

    // How many samples after position k equal sample k, at most limit.
    uint32_t equalAfter(uint32_t k, uint32_t limit) {
        uint32_t count = 0;
        uint32_t p = k & ~63u;
        uint32_t skip = k - p;
        for (;;) {
            const uint32_t ones = uint32_t(std::countr_one(window(p).equal >> skip));
            count += ones;
            if (count >= limit) return limit;
            if (ones < 64 - skip) return count;  // bits past the row's end are clear
            p += 64;
            skip = 0;
        }
    }

private:
    bool equalAt(uint32_t k) const {
        return uint64_t(k) + 1 < width_ && row_[uint64_t(k) * Stride] == row_[(uint64_t(k) + 1) * Stride];
    }

    struct Window {
        uint64_t equal = 0;   // bit i: sample p + i equals sample p + i + 1
        uint64_t starts = 0;  // bit i: samples p + i to p + i + 2 are equal
    };

    const Window& window(uint32_t p) {
        if (p != cachedStart_) {
            cached_.equal = computeWindow(p);
            const uint64_t following = equalAt(p + 64) ? 1 : 0;
            cached_.starts = cached_.equal & (cached_.equal >> 1 | following << 63);
            cachedStart_ = p;
        }
        return cached_;
    }

    uint64_t computeWindow(uint32_t p) const {
        // A 16-byte load from sample k reads up to sample k + 16 / Stride, which must exist:
        // near the row's end the bits are made one at a time.
        constexpr uint32_t kMargin = Stride == 1 ? 65 : 66;
        if (uint64_t(p) + kMargin > width_) {
            uint64_t bits = 0;
            for (uint32_t i = 0; i < 64; ++i) bits |= uint64_t(equalAt(p + i)) << i;
            return bits;
        }
        const uint8_t* s = row_ + uint64_t(p) * Stride;
        // Asking for the samples 1024 ahead keeps large pictures from waiting on memory at
        // each page (at stride 4 a Canvas row spans several).
        if (uint64_t(p) + kAhead + 64 <= width_)
            for (uint32_t line = 0; line < 64 * Stride; line += 64)
                __builtin_prefetch(s + kAhead * Stride + line);
        uint64_t bits = 0;
        if constexpr (Stride == 1) {
            for (uint32_t i = 0; i < 64; i += 16) {
                __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
                bits |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)))) << i;
            }
        } else {
            // Four samples per load, each the low byte of a 32-bit lane: move it to the top of
            // its lane, where movemask_ps reads it.
            for (uint32_t i = 0; i < 64; i += 4) {
                __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
                __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i + 4));
                __m128i same = _mm_slli_epi32(_mm_cmpeq_epi8(here, next), 24);
                bits |= uint64_t(uint32_t(_mm_movemask_ps(_mm_castsi128_ps(same)))) << i;
            }
        }
        return bits;
    }

    const uint8_t* row_;
    uint32_t width_;
    uint32_t cachedStart_ = 1;  // never a multiple of 64: nothing cached yet
    Window cached_;
};

// Copies count bytes, no byte more or fewer: literal runs are short, and a library call or
// a string move costs more than the copy. Overlapping chunks cover the odd lengths.
inline void copyExactly(const uint8_t* s, uint64_t count, uint8_t* o) {
    if (count >= 16) {
        uint64_t k = 0;
        for (; k + 16 < count; k += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + count - 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + count - 16)));
    } else if (count >= 8) {
        const uint64_t head = loadWord64(s), tail = loadWord64(s + count - 8);
        std::memcpy(o, &head, 8);
        std::memcpy(o + count - 8, &tail, 8);
    } else if (count >= 4) {
        const uint32_t head = loadWord32(s), tail = loadWord32(s + count - 4);
        storeWord32(o, head);
        storeWord32(o + count - 4, tail);
    } else {
        for (uint64_t k = 0; k < count; ++k) o[k] = s[k];
    }
}

// Sixteen samples of stride 4 from s: the low byte of each 32-bit lane of four loads, narrowed
// with two saturating packs (the values fit, so nothing saturates). It reads the 64 bytes
// before sample 16, so sample 16 must exist.
inline __m128i gatherSixteen(const uint8_t* s) {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i* v = reinterpret_cast<const __m128i*>(s);
    __m128i a = _mm_and_si128(_mm_loadu_si128(v), lowByte);
    __m128i b = _mm_and_si128(_mm_loadu_si128(v + 1), lowByte);
    __m128i c = _mm_and_si128(_mm_loadu_si128(v + 2), lowByte);
    __m128i d = _mm_and_si128(_mm_loadu_si128(v + 3), lowByte);
    return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
}

// Copies count samples to o. available is how many samples from s may be read: a wide load
// is used only where it stays inside them.
template <uint32_t Stride>
uint8_t* copySamples(const uint8_t* s, uint64_t count, uint64_t available, uint8_t* o) {
    if constexpr (Stride == 1) {
        (void)available;
        copyExactly(s, count, o);
    } else {
        uint64_t k = 0;
        for (; k + 16 <= count && k + 17 <= available; k += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + k), gatherSixteen(s + 4 * k));
        if (k < count && k + 17 <= available) {
            alignas(16) uint8_t some[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(some), gatherSixteen(s + 4 * k));
            copyExactly(some, count - k, o + k);
        } else {
            for (; k < count; ++k) o[k] = s[4 * k];
        }
    }
    return o + count;
}

template <uint32_t Stride>
uint8_t* packRow(const uint8_t* row, uint32_t width, uint8_t* o) {
    EqualNeighbours<Stride> equal(row, width);
    uint32_t j = 0;
    while (j < width) {
        const uint32_t repeat = equal.nextRepeat(j);
        while (j < repeat) {  // the literal samples before it, 128 at most per run
            const uint32_t n = repeat - j < kMaxRun ? repeat - j : kMaxRun;
            *o++ = uint8_t(n - 1);
            o = copySamples<Stride>(row + uint64_t(j) * Stride, n, width - j, o);
            j += n;
        }
        if (repeat == width) break;
        const uint32_t n = 1 + equal.equalAfter(repeat, kMaxRun - 1);
        *o++ = uint8_t(257 - n);
        *o++ = row[uint64_t(repeat) * Stride];
        j = repeat + n;
    }
    return o;
}

template <uint32_t Stride>
uint32_t writeRaw(const uint8_t* source, uint32_t rows, uint32_t width, uint8_t* out) {
    storeBe16(out, 0);
    const uint64_t count = uint64_t(rows) * width;
    copySamples<Stride>(source, count, count, out + 2);
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
