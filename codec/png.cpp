#include "codec/internal/png_write.h"

#include <emmintrin.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "codec/internal/deflate_blocks.h"
#include "codec/internal/deflate_rows.h"
#include "codec/internal/png_common.h"
#include "common/bytes.h"

#if TAVIMORE_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

constexpr uint32_t kPngHeadSize = 8 + 25;       // signature and IHDR
constexpr uint32_t kPngTailSize = 16 + 12;      // the Adler-32 IDAT and IEND

uint32_t pngBytesPerPixel(PngColour colour) { return colour == PngColour::rgba ? 4 : 3; }
// A filtered row: the filter byte, then the pixels.
uint64_t pngRowSize(uint32_t width, PngColour colour) {
    return 1 + uint64_t(width) * pngBytesPerPixel(colour);
}
// Band i holds rows [i * R, (i + 1) * R).
uint32_t pngBandRows(uint32_t width, PngColour colour) {
    const uint64_t row = pngRowSize(width, colour);
    return uint32_t((kPngBandBytes + row - 1) / row);
}
uint32_t pngBandCount(uint32_t width, uint32_t height, PngColour colour) {
    const uint32_t rows = pngBandRows(width, colour);
    return uint32_t((uint64_t(height) + rows - 1) / rows);
}
// The most one band's chunk can take: 12 bytes of chunk frame, the 2-byte zlib header, and
// deflate's bound when every block is stored, with room for the flush.
uint64_t pngBandBound(uint32_t width, PngColour colour) {
    const uint64_t n = pngRowSize(width, colour) * pngBandRows(width, colour);
    return 12 + 2 + n + ((n + 7) >> 3) + ((n + 63) >> 6) + 5 + 16;
}
constexpr uint32_t kFilterCount = 5;  // none, sub, up, average, Paeth
constexpr uint32_t kRowLead = 16;

// The checksums, libdeflate's where it was built in (several times zlib's speed).
uint32_t crc32Of(const uint8_t* p, size_t n) {
#if TAVIMORE_HAVE_LIBDEFLATE
    return libdeflate_crc32(0, p, n);
#else
    return uint32_t(crc32_z(0, p, n));
#endif
}
uint32_t adler32Of(const uint8_t* p, size_t n) {
#if TAVIMORE_HAVE_LIBDEFLATE
    return libdeflate_adler32(1, p, n);
#else
    return uint32_t(adler32_z(1, p, n));
#endif
}

// A chunk whose data is in place after its 8-byte frame: length, type, then the CRC of both.
uint32_t finishChunk(uint8_t* chunk, const char type[4], uint32_t dataLength) {
    storeBe32(chunk, dataLength);
    std::memcpy(chunk + 4, type, 4);
    storeBe32(chunk + 8 + dataLength, crc32Of(chunk + 4, size_t(dataLength) + 4));
    return 12 + dataLength;
}

// The zlib header: 32 KiB window, no dictionary, "fast" compression.
void writeZlibHeader(uint8_t* out) {
    constexpr uint32_t kLevelFlag = 1;
    uint32_t flags = kLevelFlag << 6;
    flags += 31 - (0x78 * 256 + flags) % 31;
    out[0] = 0x78;
    out[1] = uint8_t(flags);
}

// One Canvas row as R, G, B(, A). Each pixel is stored as a whole word, so `out` holds a
// byte more than the row for the last RGB pixel's spare byte.
void loadRow(const uint8_t* bgra, uint32_t width, PngColour colour, uint8_t* out) {
    const uint32_t step = pngBytesPerPixel(colour);
    uint32_t x = 0;
    if (colour == PngColour::rgba) {
        const __m128i keep = _mm_set1_epi32(int(0xFF00FF00u)), low = _mm_set1_epi32(0xFF);
        for (; x + 4 <= width; x += 4, bgra += 16, out += 16) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgra));
            const __m128i swapped = _mm_or_si128(
                _mm_and_si128(p, keep),
                _mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 16), low),
                             _mm_slli_epi32(_mm_and_si128(p, low), 16)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), swapped);
        }
    }
    for (; x < width; ++x, bgra += 4, out += step) {
        const uint32_t p = loadWord32(bgra);
        storeWord32(out, (p & 0xFF00FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16);
    }
}

inline uint32_t signedMagnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

inline __m128i load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The bytes' magnitudes as signed values, summed into the two halves of `sum`.
inline __m128i addMagnitudes(__m128i sum, __m128i v) {
    const __m128i magnitude = _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
    return _mm_add_epi64(sum, _mm_sad_epu8(magnitude, _mm_setzero_si128()));
}

inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// Paeth's predictor on eight 16-bit lanes.
inline __m128i paeth8(__m128i a, __m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i useC = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
    return _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
}

inline __m128i paeth16(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low =
        paeth8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
    const __m128i high =
        paeth8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
    return _mm_packus_epi16(low, high);
}

struct Rows {
    uint32_t width;
    PngColour colour;
    uint32_t bpp;
    uint32_t length;  // bytes of pixels in a row
    // Unfiltered rows, each after kRowLead zero bytes: the pixels left of the first one read
    // as zero, as the filters take them. `above` is zero over the first row.
    uint8_t* above;
    uint8_t* current;
    uint8_t* candidate[kFilterCount];  // filter byte, then the row filtered that way
};

// Filters the current row every way against the one above and returns the candidate with
// the smallest sum of magnitudes, the measure good writers choose by; ties go to the lower
// filter number.
const uint8_t* filterRow(Rows& rows) {
    const uint8_t* x = rows.current;
    const uint8_t* b = rows.above;
    const uint8_t* a = x - rows.bpp;
    const uint8_t* c = b - rows.bpp;
    const uint32_t n = rows.length;
    uint8_t* none = rows.candidate[0] + 1;
    uint8_t* sub = rows.candidate[1] + 1;
    uint8_t* up = rows.candidate[2] + 1;
    uint8_t* average = rows.candidate[3] + 1;
    uint8_t* paethRow = rows.candidate[4] + 1;
    __m128i sums[kFilterCount];
    for (__m128i& sum : sums) sum = _mm_setzero_si128();
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i vx = load16(x + i), va = load16(a + i), vb = load16(b + i),
                      vc = load16(c + i);
        // The floor of (a + b) / 2: the rounded-up average less the bit both halves lose.
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(va, vb),
                                          _mm_and_si128(_mm_xor_si128(va, vb), _mm_set1_epi8(1)));
        const __m128i filtered[kFilterCount] = {vx, _mm_sub_epi8(vx, va), _mm_sub_epi8(vx, vb),
                                                _mm_sub_epi8(vx, mean),
                                                _mm_sub_epi8(vx, paeth16(va, vb, vc))};
        for (uint32_t f = 0; f < kFilterCount; ++f) {
            store16(rows.candidate[f] + 1 + i, filtered[f]);
            sums[f] = addMagnitudes(sums[f], filtered[f]);
        }
    }
    uint64_t total[kFilterCount];
    for (uint32_t f = 0; f < kFilterCount; ++f)
        total[f] = uint64_t(uint32_t(_mm_cvtsi128_si32(sums[f]))) +
                   uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums[f], sums[f])));
    for (; i < n; ++i) {
        none[i] = x[i];
        sub[i] = uint8_t(x[i] - a[i]);
        up[i] = uint8_t(x[i] - b[i]);
        average[i] = uint8_t(x[i] - ((a[i] + b[i]) >> 1));
        paethRow[i] = uint8_t(x[i] - paeth(a[i], b[i], c[i]));
        for (uint32_t f = 0; f < kFilterCount; ++f)
            total[f] += signedMagnitude(rows.candidate[f][1 + i]);
    }

    uint32_t best = 0;
    for (uint32_t f = 1; f < kFilterCount; ++f)
        if (total[f] < total[best]) best = f;
    return rows.candidate[best];
}

// Filters Canvas row y, which must follow the row now in `above`, and moves it there.
const uint8_t* nextRow(const Canvas& canvas, Rows& rows, uint32_t y) {
    loadRow(canvas.pixels.data() + uint64_t(y) * canvas.stride(), rows.width, rows.colour,
            rows.current);
    const uint8_t* filtered = filterRow(rows);
    std::swap(rows.above, rows.current);
    return filtered;
}

// Signature and IHDR; out must hold kPngHeadSize bytes.
void writePngHead(uint32_t width, uint32_t height, PngColour colour, uint8_t* out) {
    std::memcpy(out, kPngSignature, 8);
    uint8_t* data = out + 16;
    storeBe32(data, width);
    storeBe32(data + 4, height);
    data[8] = 8;  // bits per sample
    data[9] = uint8_t(colour);
    data[10] = data[11] = data[12] = 0;  // deflate, adaptive filtering, no interlace
    finishChunk(out + 8, "IHDR", 13);
}

// Bands compressed apart, each ending on an empty stored block so that the next starts on a
// byte; the last one ends the stream. How a band is compressed follows from its own rows only,
// so the file is the same however many tasks there are and in whatever order they take the
// bands:
//  - its rows are filtered "up" (each byte less the one above), the filter that keeps a smooth
//    picture's rows alike for the matches, and when those bytes would take few bits under a
//    Huffman code of their own (kSmoothBits a byte), deflate_rows.h compresses them;
//  - otherwise each row takes the filter of the smallest sum of magnitudes, and bytes that
//    still take many bits (kNoisyBits and more: grain, noise, which repeat little) are written
//    as literals under a code made for the band (deflate_blocks.h), several times faster than
//    a match search that finds little; the others go to deflate_rows.h.
//  - stored blocks when those come out smaller.
constexpr double kSmoothBits = 3.6;
constexpr double kNoisyBits = 4.0;

// The filtered rows of a band, their byte counts, and where they are.
struct BandRows {
    uint8_t* bytes;
    uint64_t length;
    uint32_t counts[256];
};

void countBytes(const uint8_t* p, uint64_t n, uint32_t (&counts)[256]) {
    uint32_t lanes[4][256] = {};
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++lanes[0][p[i]];
        ++lanes[1][p[i + 1]];
        ++lanes[2][p[i + 2]];
        ++lanes[3][p[i + 3]];
    }
    for (; i < n; ++i) ++lanes[0][p[i]];
    for (uint32_t b = 0; b < 256; ++b) counts[b] = lanes[0][b] + lanes[1][b] + lanes[2][b] + lanes[3][b];
}

// Canvas row y less the row above it (zero above the first), as a PNG row filtered up: the
// filter byte 2, then the samples. Bytes subtract alike in any order, so the difference is
// taken on the Canvas's BGRA and put in PNG order after.
void upRow(const Canvas& canvas, uint32_t y, PngColour colour, uint8_t* out) {
    const uint8_t* x = canvas.pixels.data() + uint64_t(y) * canvas.stride();
    const uint8_t* b = y > 0 ? x - canvas.stride() : nullptr;
    const uint32_t width = canvas.width;
    *out++ = 2;
    uint32_t i = 0;
    if (colour == PngColour::rgba) {
        const __m128i keep = _mm_set1_epi32(int(0xFF00FF00u)), low = _mm_set1_epi32(0xFF);
        for (; i + 4 <= width; i += 4, x += 16, out += 16) {
            const __m128i d = b != nullptr ? _mm_sub_epi8(load16(x), load16(b + 4 * i)) : load16(x);
            store16(out, _mm_or_si128(_mm_and_si128(d, keep),
                                      _mm_or_si128(_mm_and_si128(_mm_srli_epi32(d, 16), low),
                                                   _mm_slli_epi32(_mm_and_si128(d, low), 16))));
        }
    }
    const uint32_t step = pngBytesPerPixel(colour);
    for (; i < width; ++i, x += 4, out += step) {
        uint32_t d = loadWord32(x);
        if (b != nullptr) {
            // Four bytes subtracted at once, without borrows between them.
            const uint32_t a = loadWord32(b + 4 * i);
            d = ((d | 0x80808080u) - (a & 0x7F7F7F7Fu)) ^ ((d ^ ~a) & 0x80808080u);
        }
        const uint32_t rgba = (d & 0xFF00FF00u) | (d >> 16 & 0xFFu) | (d & 0xFFu) << 16;
        if (i + 1 < width || step == 4) {
            storeWord32(out, rgba);
        } else {  // the row's last RGB pixel: no byte past the row
            out[0] = uint8_t(rgba);
            out[1] = uint8_t(rgba >> 8);
            out[2] = uint8_t(rgba >> 16);
        }
    }
}

// Fills band.bytes with rows [start, end), filtered up or each by its best filter.
void filterBand(const Canvas& canvas, Rows& rows, uint32_t start, uint32_t end, bool up,
                BandRows& band) {
    const uint32_t rowSize = rows.length + 1;
    uint8_t* o = band.bytes;
    if (up) {
        for (uint32_t y = start; y < end; ++y, o += rowSize) upRow(canvas, y, rows.colour, o);
    } else {
        if (start > 0) {
            loadRow(canvas.pixels.data() + uint64_t(start - 1) * canvas.stride(), rows.width,
                    rows.colour, rows.above);
        } else {
            std::memset(rows.above, 0, rows.length);
        }
        for (uint32_t y = start; y < end; ++y, o += rowSize)
            std::memcpy(o, nextRow(canvas, rows, y), rowSize);
    }
    band.length = uint64_t(end - start) * rowSize;
}

// Bits a byte the band's rows filtered up would take under a Huffman code of their own, judged
// from every kSampleStep-th row, each against the row above it.
constexpr uint32_t kSampleStep = 8;
double upBitsPerByte(const Canvas& canvas, Rows& rows, uint32_t start, uint32_t end) {
    const uint32_t rowSize = rows.length + 1;
    uint32_t counts[256] = {};
    uint64_t sampled = 0;
    uint8_t* up = rows.candidate[2];
    for (uint32_t y = start; y < end; y += kSampleStep) {
        upRow(canvas, y, rows.colour, up);
        uint32_t rowCounts[256];
        countBytes(up, rowSize, rowCounts);
        for (uint32_t b = 0; b < 256; ++b) counts[b] += rowCounts[b];
        sampled += rowSize;
    }
    return 8.0 * double(huffmanOnlySize(counts, true)) / double(sampled);
}

// The band's deflate blocks at out: its bytes written the cheapest way there is room for.
// Returns their length, or 0 when out is short.
uint64_t deflateBand(const BandRows& band, const Rows& rows, bool literalsOnly, bool last,
                     std::span<uint8_t> work, std::span<uint8_t> out) {
    const std::span<const uint8_t> in{band.bytes, size_t(band.length)};
    const uint64_t stored = storedSize(band.length, last);
    if (literalsOnly) {
        if (huffmanOnlySize(band.counts, last) + kWriteSlack <= std::min<uint64_t>(stored, out.size()))
            return writeHuffmanOnly(in, band.counts, last, out);
        return writeStored(in, last, out);
    }
    const uint64_t length = deflateRows(in, rows.length + 1, rows.bpp, last, work,
                                        out.first(size_t(std::min<uint64_t>(out.size(), stored))));
    return length != 0 ? length : writeStored(in, last, out);
}

struct PngBand {
    uint32_t length = 0;    // bytes of the chunk written, 0 when the work area or out was short
    uint32_t adler = 1;     // Adler-32 of the band's filtered rows
    uint64_t filtered = 0;  // how many bytes those rows are
    uint64_t staged = 0;    // where its chunk was put down in the staging area
};

// Writes band `band` as a whole IDAT chunk into out (at least pngBandBound bytes), using only
// work (at least pngWorkSize bytes, of which out may be a part) for its rows; the first
// band's chunk opens the zlib stream.
PngBand writePngBand(const Canvas& canvas, PngColour colour, uint32_t band, std::span<uint8_t> work,
                     std::span<uint8_t> out) {
    const uint32_t width = canvas.width, height = canvas.height;
    const uint32_t bandRows = pngBandRows(width, colour);
    const uint64_t first = uint64_t(band) * bandRows;
    if (width == 0 || first >= height || work.size() < pngWorkSize(width, colour) ||
        out.size() < pngBandBound(width, colour) ||
        canvas.pixels.size() < canvasByteSize(width, height))
        return {};
    const uint32_t start = uint32_t(first);
    const uint32_t end = uint32_t(std::min<uint64_t>(height, first + bandRows));
    const bool lastBand = end == height;
    const uint32_t rowSize = uint32_t(pngRowSize(width, colour));

    uint8_t* next = work.data() + pngBandBound(width, colour);
    next += (16 - reinterpret_cast<uintptr_t>(next) % 16) % 16;
    Rows rows{width, colour, pngBytesPerPixel(colour), rowSize - 1, nullptr, nullptr, {}};
    std::memset(next, 0, kRowLead);
    rows.above = next + kRowLead;
    next += kRowLead + rowSize;
    std::memset(next, 0, kRowLead);
    rows.current = next + kRowLead;
    next += kRowLead + rowSize;
    for (uint8_t*& candidate : rows.candidate) {
        candidate = next;
        next += rowSize;
    }
    for (uint32_t f = 0; f < kFilterCount; ++f) rows.candidate[f][0] = uint8_t(f);
    BandRows filtered{next, 0, {}};
    next += uint64_t(rowSize) * bandRows;
    const std::span<uint8_t> matchWork{next, size_t(work.data() + work.size() - next)};

    const bool smooth = upBitsPerByte(canvas, rows, start, end) <= kSmoothBits;
    filterBand(canvas, rows, start, end, smooth, filtered);
    bool literalsOnly = false;
    if (!smooth) {
        countBytes(filtered.bytes, filtered.length, filtered.counts);
        literalsOnly = 8.0 * double(huffmanOnlySize(filtered.counts, true)) /
                           double(filtered.length) >=
                       kNoisyBits;
    }

    uint8_t* chunk = out.data();
    uint8_t* data = chunk + 8;
    uint8_t* o = data;
    if (band == 0) {
        writeZlibHeader(o);
        o += 2;
    }
    // Room for the deflate data, leaving the CRC's 4 bytes.
    const std::span<uint8_t> room{o, size_t(pngBandBound(width, colour) - 12 - uint64_t(o - data))};
    const uint64_t length = deflateBand(filtered, rows, literalsOnly, lastBand, matchWork, room);
    if (length == 0) return {};

    PngBand result;
    result.length = finishChunk(chunk, "IDAT", uint32_t(o + length - data));
    result.adler = adler32Of(filtered.bytes, size_t(filtered.length));
    result.filtered = filtered.length;
    return result;
}

// zlib's adler32_combine: the Adler-32 of A then B from theirs and B's length.
uint32_t combineAdler(uint32_t a, uint32_t b, uint64_t lengthB) {
    constexpr uint32_t kBase = 65521;
    const uint32_t remainder = uint32_t(lengthB % kBase);
    uint32_t sum1 = a & 0xFFFF;
    uint32_t sum2 = uint32_t((uint64_t(remainder) * sum1) % kBase);
    sum1 += (b & 0xFFFF) + kBase - 1;
    sum2 += (a >> 16) + (b >> 16) + kBase - remainder;
    if (sum1 >= kBase) sum1 -= kBase;
    if (sum1 >= kBase) sum1 -= kBase;
    if (sum2 >= 2 * kBase) sum2 -= 2 * kBase;
    if (sum2 >= kBase) sum2 -= kBase;
    return sum1 | sum2 << 16;
}

// The Adler-32 IDAT and IEND; out must hold kPngTailSize bytes.
void writePngTail(uint32_t adler, uint8_t* out) {
    storeBe32(out + 8, adler);
    finishChunk(out, "IDAT", 4);
    finishChunk(out + 16, "IEND", 0);
}

}  // namespace

uint64_t pngWorkSize(uint32_t width, PngColour colour) {
    const uint64_t row = pngRowSize(width, colour);
    const uint64_t bandBytes = row * pngBandRows(width, colour);
    // The band's chunk, alignment, two unfiltered rows with their lead and spare byte, the
    // candidates, the band's filtered rows and the match search's tables.
    return pngBandBound(width, colour) + 16 + 2 * (kRowLead + row) + kFilterCount * row +
           bandBytes + deflateRowsWorkSize(bandBytes, pngBytesPerPixel(colour));
}

namespace {

// The file's bound: its head, every band at its bound, and its tail.
uint64_t pngFileBound(uint32_t width, uint32_t height, PngColour colour) {
    return kPngHeadSize +
           uint64_t(pngBandCount(width, height, colour)) * pngBandBound(width, colour) +
           kPngTailSize;
}

}  // namespace

uint64_t pngBound(uint32_t width, uint32_t height, PngColour colour) {
    // The file, then the staging area where the bands' chunks are put down as they are done.
    return 2 * pngFileBound(width, height, colour);
}

uint32_t writePng(const Canvas& canvas, PngColour colour, std::span<uint8_t> work,
                  std::span<uint8_t> out, const Parallel& parallel) {
    const uint32_t width = canvas.width, height = canvas.height;
    const uint64_t workSize = pngWorkSize(width, colour);
    if (width == 0 || height == 0 || work.size() < workSize ||
        out.size() < pngBound(width, height, colour))
        return 0;
    const uint32_t bands = pngBandCount(width, height, colour);
    const uint32_t tasks =
        uint32_t(std::min<uint64_t>({parallel.most, bands, work.size() / workSize}));
    const size_t bandBound = size_t(pngBandBound(width, colour));
    // Each task compresses a band into its work area and puts its chunk down in the staging
    // area behind the file's place, packed in the order they are done; then they are copied
    // into the file in order. Only the pages of what is written are touched, twice. Each task
    // takes the next band not yet taken, so a task that starts late takes fewer.
    uint8_t* const file = out.data();
    uint8_t* const staging = file + pngFileBound(width, height, colour);
    std::vector<PngBand> written(bands);
    std::atomic<uint32_t> nextBand{0};
    std::atomic<uint64_t> staged{0};
    parallel(tasks, [&](uint32_t task) {
        const std::span<uint8_t> area = work.subspan(size_t(task * workSize), size_t(workSize));
        for (uint32_t band; (band = nextBand.fetch_add(1)) < bands;) {
            PngBand& done = written[band];
            done = writePngBand(canvas, colour, band, area, area.first(bandBound));
            done.staged = staged.fetch_add(done.length);
            std::memcpy(staging + done.staged, area.data(), done.length);
        }
    });
    writePngHead(width, height, colour, file);
    uint64_t at = kPngHeadSize;
    uint32_t adler = 1;
    for (uint32_t band = 0; band < bands; ++band) {
        if (written[band].length == 0) return 0;
        std::memcpy(file + at, staging + written[band].staged, written[band].length);
        adler = combineAdler(adler, written[band].adler, written[band].filtered);
        at += written[band].length;
    }
    writePngTail(adler, file + at);
    return uint32_t(at + kPngTailSize);
}


namespace {

// The PNG file copied into a block of its own with an oFFs chunk after its IHDR.
Status withPlace(std::span<const uint8_t> png, PngPlace place, Encoded& out) {
    constexpr uint32_t kOffsetSize = 12 + 9;  // length, type, x, y, unit, CRC
    if (png.size() > UINT32_MAX - kOffsetSize) return Status::tooLarge;
    const Status status = obtainBlock(png.size() + kOffsetSize, out.bytes);
    if (status != Status::ok) return status;
    uint8_t* o = out.bytes.data();
    std::memcpy(o, png.data(), kPngHeadSize);
    storeBe32(o + kPngHeadSize + 8, uint32_t(place.x));
    storeBe32(o + kPngHeadSize + 12, uint32_t(place.y));
    o[kPngHeadSize + 16] = 0;  // pixels
    finishChunk(o + kPngHeadSize, "oFFs", 9);
    std::memcpy(o + kPngHeadSize + kOffsetSize, png.data() + kPngHeadSize,
                png.size() - kPngHeadSize);
    out.length = uint32_t(png.size() + kOffsetSize);
    return Status::ok;
}

}  // namespace

Status encodePng(const Canvas& canvas, PngColour colour, const Parallel& parallel, Encoded& out,
                 std::optional<PngPlace> place) {
    const uint32_t width = canvas.width, height = canvas.height;
    if (width == 0 || height == 0) return Status::emptyPicture;
    Status status = obtainBlock(pngBound(width, height, colour), out.bytes, PagingHint::fromStart);
    if (status != Status::ok) return status;
    const uint32_t tasks = std::clamp(parallel.most, 1u, pngBandCount(width, height, colour));
    ByteBuffer work;
    status = obtainBlock(tasks * pngWorkSize(width, colour), work, PagingHint::whole);
    if (status != Status::ok) return status;
    out.length = writePng(canvas, colour, work.span(), out.bytes.span(), parallel);
    if (out.length == 0) return Status::outOfMemory;
    if (!place) return Status::ok;
    work.release();
    Encoded placed;
    status = withPlace(out.bytes.span().first(out.length), *place, placed);
    out = std::move(placed);
    return status;
}
