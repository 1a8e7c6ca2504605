#include "codec/internal/packbits.h"

#include <emmintrin.h>

#include <bit>
#include <cstring>

#include "common/bytes.h"

namespace {

constexpr uint32_t kMaxRun = 128;
// The per-row scratch below is sized for the widest picture.
constexpr uint32_t kMaxWidth = kMaxG00Side;
constexpr uint32_t kAhead = 1024;  // samples

// A row's equal-neighbour bits: bit k is set when sample k equals sample k + 1, so the last
// sample's bit and every bit past the row are clear. Word 0 stands before the row and two
// words after it, so that the words around any word of the row can be read.
struct EqualBits {
    uint64_t words[kMaxWidth / 64 + 4];
    uint32_t count = 0;  // words covering the row

    void mark(const uint8_t* row, uint32_t width) {
        count = (width + 63) / 64;
        std::memset(words, 0, (count + 3) * sizeof(uint64_t));
        uint64_t* bits = words + 1;
        uint32_t k = 0;
        for (; k + 17 <= width; k += 16) {
            // The rows are read in order; asking 1024 samples ahead keeps the loop from
            // waiting on memory at each new page.
            if (k % 64 == 0 && k + kAhead + 16 <= width) __builtin_prefetch(row + k + kAhead);
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k + 1));
            const uint32_t same = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
            bits[k / 64] |= uint64_t(same) << (k % 64);
        }
        for (; k + 1 < width; ++k) bits[k / 64] |= uint64_t(row[k] == row[k + 1]) << (k % 64);
    }

    // Bit i of word w of the row: samples 64w + i to 64w + i + 2 are equal (w from -1 on).
    uint64_t triples(int64_t w) const {
        const uint64_t* e = words + 1 + w;
        return e[0] & (e[0] >> 1 | e[1] << 63);
    }
    // The positions where the equal samples of a run of three or more begin.
    uint64_t runStarts(uint32_t w) const {
        return triples(w) & ~(triples(w) << 1 | triples(int64_t(w) - 1) >> 63);
    }
    // The positions two before a run's last sample.
    uint64_t runEnds(uint32_t w) const {
        return triples(w) & ~(triples(w) >> 1 | triples(w + 1) << 63);
    }
};

// Walks the set bits of one kind of word of a row, in order. next() returns width when no
// more are left.
template <uint64_t (EqualBits::*Word)(uint32_t) const>
class BitWalk {
public:
    BitWalk(const EqualBits& equal, uint32_t width)
        : equal_(equal), width_(width), bits_((equal.*Word)(0)) {}

    uint32_t next() {
        while (bits_ == 0) {
            if (++word_ >= equal_.count) return width_;
            bits_ = (equal_.*Word)(word_);
        }
        const uint32_t position = 64 * word_ + uint32_t(std::countr_zero(bits_));
        bits_ &= bits_ - 1;
        return position;
    }

private:
    const EqualBits& equal_;
    uint32_t width_;
    uint32_t word_ = 0;
    uint64_t bits_;
};

inline void copySixteen(const uint8_t* s, uint8_t* o) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
}

// Copies count bytes, no byte more or fewer: literal runs are short, and a library call or
// a string move costs more than the copy. Overlapping chunks cover the odd lengths.
inline void copyExactly(const uint8_t* s, uint64_t count, uint8_t* o) {
    if (count >= 16) {
        uint64_t k = 0;
        for (; k + 16 < count; k += 16) copySixteen(s + k, o + k);
        copySixteen(s + count - 16, o + count - 16);
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
// from s, so sample 16 must exist.
inline __m128i gatherSixteen(const uint8_t* s) {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i* v = reinterpret_cast<const __m128i*>(s);
    __m128i a = _mm_and_si128(_mm_loadu_si128(v), lowByte);
    __m128i b = _mm_and_si128(_mm_loadu_si128(v + 1), lowByte);
    __m128i c = _mm_and_si128(_mm_loadu_si128(v + 2), lowByte);
    __m128i d = _mm_and_si128(_mm_loadu_si128(v + 3), lowByte);
    return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
}

// Copies count samples of stride 4 to o, exactly; available is how many samples from s may
// be read, and a wide load is used only where it stays inside them.
void copyEveryFourth(const uint8_t* s, uint64_t count, uint64_t available, uint8_t* o) {
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

// One row of stride-4 samples gathered into contiguous bytes, so that a Canvas channel packs
// as a plane does. The 16-byte stores may fill up to 15 bytes past the row.
struct GatheredRow {
    alignas(16) uint8_t samples[kMaxWidth + 16];

    const uint8_t* gather(const uint8_t* row, uint32_t width) {
        uint32_t k = 0;
        for (; k + 17 <= width; k += 16) {
            if (k % 64 == 0 && k + kAhead + 16 <= width) __builtin_prefetch(row + 4 * (k + kAhead));
            _mm_store_si128(reinterpret_cast<__m128i*>(samples + k), gatherSixteen(row + 4 * k));
        }
        for (; k < width; ++k) samples[k] = row[4 * k];
        return samples;
    }
};

// Writes samples [from, to) as literal runs of at most 128, exactly.
uint8_t* putLiterals(const uint8_t* row, uint32_t from, uint32_t to, uint8_t* o) {
    while (from < to) {
        const uint32_t n = to - from < kMaxRun ? to - from : kMaxRun;
        *o++ = uint8_t(n - 1);
        copyExactly(row + from, n, o);
        o += n;
        from += n;
    }
    return o;
}

// Packs one row of contiguous samples to o and returns the position after it.
//
// Scanning from the row's start for three equal samples, packing the literal samples before
// them and then the run of all equal samples (at most 128) from there, gives as runs exactly
// the groups of three or more equal neighbours, cut into pieces of 128, with one or two
// samples left by a cut joining the next literal. So the row is packed walking the groups'
// starts and ends from the equal-neighbour bits, with no search per run. Where there is
// room, a literal is stored in whole 16-byte chunks (later output overwrites the excess).
uint8_t* packRow(const uint8_t* row, uint32_t width, const EqualBits& equal, uint8_t* o,
                 const uint8_t* end) {
    BitWalk<&EqualBits::runStarts> starts(equal, width);
    BitWalk<&EqualBits::runEnds> ends(equal, width);
    uint32_t literal = 0;  // where the samples not yet packed begin
    for (uint32_t start = starts.next(); start < width; start = starts.next()) {
        const uint32_t length = start - literal;
        if (length <= kMaxRun && start + 16 <= width && o + length + 19 <= end) {
            o[0] = uint8_t(length - 1);
            copySixteen(row + literal, o + 1);
            for (uint32_t k = 16; k < length; k += 16) copySixteen(row + literal + k, o + 1 + k);
            o += length == 0 ? 0 : length + 1;
        } else {
            o = putLiterals(row, literal, start, o);
        }
        uint32_t run = ends.next() + 3 - start;
        uint32_t at = start;
        for (; run > kMaxRun; run -= kMaxRun, at += kMaxRun) {
            o[0] = uint8_t(257 - kMaxRun);
            o[1] = row[at];
            o += 2;
        }
        literal = at + run;
        if (run >= 3) {
            o[0] = uint8_t(257 - run);
            o[1] = row[at];
            o += 2;
        } else {
            literal = at;  // one or two samples left by a cut start the next literal
        }
    }
    return putLiterals(row, literal, width, o);
}

template <uint32_t Stride>
uint32_t writeRaw(const uint8_t* source, uint32_t rows, uint32_t width, uint8_t* out) {
    storeBe16(out, 0);
    const uint64_t count = uint64_t(rows) * width;
    if constexpr (Stride == 1)
        std::memcpy(out + 2, source, size_t(count));
    else
        copyEveryFourth(source, count, count, out + 2);
    return uint32_t(packBitsRawSize(rows, width));
}

template <uint32_t Stride>
uint32_t packBlock(const uint8_t* source, uint32_t rows, uint32_t width, uint8_t* out) {
    // A row wider than a Canvas can be is stored raw rather than given larger scratch.
    if (width < 4 || width > kMaxWidth) return writeRaw<Stride>(source, rows, width, out);
    storeBe16(out, 1);
    uint8_t* table = out + 2;
    uint8_t* o = table + 2 * uint64_t(rows);
    const uint8_t* limit = table + uint64_t(rows) * width;
    const uint8_t* end = out + packBitsBound(rows, width);
    EqualBits equal;
    [[maybe_unused]] GatheredRow gathered;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* row = source + uint64_t(r) * width * Stride;
        if constexpr (Stride == 4) row = gathered.gather(row, width);
        equal.mark(row, width);
        uint8_t* rowStart = o;
        o = packRow(row, width, equal, o, end);
        if (o >= limit || uint64_t(o - rowStart) > kMaxPackedRowLength)
            return writeRaw<Stride>(source, rows, width, out);
        storeBe16(table + 2 * r, uint32_t(o - rowStart));
    }
    return uint32_t(o - out);
}

}  // namespace

uint8_t* packBitsRow(const uint8_t* row, uint32_t width, uint8_t* out, const uint8_t* end) {
    EqualBits equal;
    equal.mark(row, width);
    return packRow(row, width, equal, out, end);
}

void gatherEveryFourth(const uint8_t* source, uint64_t count, uint8_t* out) {
    copyEveryFourth(source, count, count, out);
}

uint32_t packBitsChannel(const uint8_t* source, uint32_t stride, uint32_t rows, uint32_t width,
                         uint8_t* out) {
    if (stride == 4) return packBlock<4>(source, rows, width, out);
    return packBlock<1>(source, rows, width, out);
}
