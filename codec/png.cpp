#include "codec/png.h"

#include <emmintrin.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kWindow = 32768;
// What deflateInit2 takes at window bits 15 and memory level 8: its state, the sliding
// window, the two hash chains and the pending buffer (some 262 KB), with room to align each.
constexpr uint64_t kZlibWorkSize = 272 * 1024;
constexpr uint32_t kFilterCount = 5;  // none, sub, up, average, Paeth
constexpr uint32_t kRowLead = 16;

// A chunk whose data is in place after its 8-byte frame: length, type, then the CRC of both.
uint32_t finishChunk(uint8_t* chunk, const char type[4], uint32_t dataLength) {
    storeBe32(chunk, dataLength);
    std::memcpy(chunk + 4, type, 4);
    const uint32_t crc = uint32_t(crc32_z(0, chunk + 4, size_t(dataLength) + 4));
    storeBe32(chunk + 8 + dataLength, crc);
    return 12 + dataLength;
}

// zlib's allocations come from the caller's work area, one after another; nothing is freed
// before the band ends.
struct Arena {
    uint8_t* next;
    uint8_t* end;
};

voidpf arenaAlloc(voidpf opaque, uInt items, uInt size) {
    Arena& arena = *static_cast<Arena*>(opaque);
    const uint64_t bytes = (uint64_t(items) * size + 15) & ~uint64_t(15);
    if (bytes > uint64_t(arena.end - arena.next)) return Z_NULL;
    uint8_t* block = arena.next;
    arena.next += bytes;
    return block;
}

void arenaFree(voidpf, voidpf) {}

int zlibStrategy(PngStrategy strategy) {
    switch (strategy) {
    case PngStrategy::filtered: return Z_FILTERED;
    case PngStrategy::rle: return Z_RLE;
    case PngStrategy::normal: break;
    }
    return Z_DEFAULT_STRATEGY;
}

// The zlib header as zlib writes it for the level: 32 KiB window, no dictionary.
void writeZlibHeader(const PngDeflate& deflate, uint8_t* out) {
    const uint32_t levelFlag = deflate.strategy == PngStrategy::rle || deflate.level < 2 ? 0
                               : deflate.level < 6                                      ? 1
                               : deflate.level == 6                                     ? 2
                                                                                        : 3;
    uint32_t flags = levelFlag << 6;
    flags += 31 - (0x78 * 256 + flags) % 31;
    out[0] = 0x78;
    out[1] = uint8_t(flags);
}

// One Canvas row as R, G, B(, A). Each pixel is stored as a whole word, so `out` holds a
// byte more than the row for the last RGB pixel's spare byte.
void loadRow(const uint8_t* bgra, uint32_t width, PngColour colour, uint8_t* out) {
    const uint32_t step = pngBytesPerPixel(colour);
    for (uint32_t x = 0; x < width; ++x, bgra += 4, out += step) {
        const uint32_t p = loadWord32(bgra);
        storeWord32(out, (p & 0xFF00FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16);
    }
}

inline uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

inline uint32_t signedMagnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
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
    const __m128i low = paeth8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                               _mm_unpacklo_epi8(c, zero));
    const __m128i high = paeth8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                _mm_unpackhi_epi8(c, zero));
    return _mm_packus_epi16(low, high);
}

struct Rows {
    uint32_t width;
    PngColour colour;
    uint32_t bpp;
    uint32_t length;   // bytes of pixels in a row
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
        const __m128i vx = load16(x + i), va = load16(a + i), vb = load16(b + i), vc = load16(c + i);
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
        for (uint32_t f = 0; f < kFilterCount; ++f) total[f] += signedMagnitude(rows.candidate[f][1 + i]);
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

}  // namespace

uint64_t pngWorkSize(uint32_t width, PngColour colour) {
    const uint64_t row = pngRowSize(width, colour);
    // Arena alignment, two unfiltered rows with their lead and spare byte, the candidates,
    // and the whole rows that cover the dictionary.
    return kZlibWorkSize + 16 + 2 * (kRowLead + row) + kFilterCount * row + kWindow + row;
}

void writePngHead(uint32_t width, uint32_t height, PngColour colour, uint8_t* out) {
    std::memcpy(out, kSignature, 8);
    uint8_t* data = out + 16;
    storeBe32(data, width);
    storeBe32(data + 4, height);
    data[8] = 8;  // bits per sample
    data[9] = uint8_t(colour);
    data[10] = data[11] = data[12] = 0;  // deflate, adaptive filtering, no interlace
    finishChunk(out + 8, "IHDR", 13);
}

PngBand writePngBand(const Canvas& canvas, PngColour colour, PngDeflate deflate, uint32_t band,
                     std::span<uint8_t> work, std::span<uint8_t> out) {
    const uint32_t width = canvas.width, height = canvas.height;
    const uint32_t bandRows = pngBandRows(width, colour);
    const uint64_t first = uint64_t(band) * bandRows;
    if (width == 0 || first >= height || work.size() < pngWorkSize(width, colour) ||
        out.size() < pngBandBound(width, colour) || canvas.pixels.size() < canvasByteSize(width, height))
        return {};
    const uint32_t start = uint32_t(first);
    const uint32_t end = uint32_t(std::min<uint64_t>(height, first + bandRows));
    const bool lastBand = end == height;
    const uint32_t rowSize = uint32_t(pngRowSize(width, colour));

    uint8_t* base = work.data();
    base += (16 - reinterpret_cast<uintptr_t>(base) % 16) % 16;
    Arena arena{base, base + kZlibWorkSize};
    Rows rows{width, colour, pngBytesPerPixel(colour), rowSize - 1, nullptr, nullptr, {}};
    uint8_t* next = arena.end;
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
    uint8_t* dictionary = next;

    // The filtered rows before the band that the dictionary takes its last 32 KiB from, and
    // the unfiltered row above them.
    const uint32_t dictionaryRows = (kWindow + rowSize - 1) / rowSize;
    const uint32_t dictionaryStart = start > dictionaryRows ? start - dictionaryRows : 0;
    if (dictionaryStart > 0) {
        loadRow(canvas.pixels.data() + uint64_t(dictionaryStart - 1) * canvas.stride(), width,
                colour, rows.above);
    } else {
        std::memset(rows.above, 0, rowSize);
    }
    for (uint32_t y = dictionaryStart; y < start; ++y)
        std::memcpy(dictionary + uint64_t(y - dictionaryStart) * rowSize, nextRow(canvas, rows, y),
                    rowSize);
    const uint32_t dictionaryLength = (start - dictionaryStart) * rowSize;
    const uint32_t dictionaryUsed = std::min(dictionaryLength, kWindow);

    z_stream stream{};
    stream.zalloc = arenaAlloc;
    stream.zfree = arenaFree;
    stream.opaque = &arena;
    if (deflateInit2(&stream, deflate.level, Z_DEFLATED, -15, 8, zlibStrategy(deflate.strategy)) != Z_OK)
        return {};
    if (dictionaryUsed > 0 &&
        deflateSetDictionary(&stream, dictionary + dictionaryLength - dictionaryUsed,
                             dictionaryUsed) != Z_OK) {
        deflateEnd(&stream);
        return {};
    }

    uint8_t* chunk = out.data();
    uint8_t* data = chunk + 8;
    uint8_t* o = data;
    if (band == 0) {
        writeZlibHeader(deflate, o);
        o += 2;
    }
    stream.next_out = o;
    // Room for the deflate data, leaving the CRC's 4 bytes.
    stream.avail_out = uInt(pngBandBound(width, colour) - 12 - uint64_t(o - data));

    PngBand result;
    uLong adler = adler32(0, Z_NULL, 0);
    bool complete = true;
    for (uint32_t y = start; y < end && complete; ++y) {
        const uint8_t* filtered = nextRow(canvas, rows, y);
        adler = adler32_z(adler, filtered, rowSize);
        stream.next_in = const_cast<Bytef*>(filtered);
        stream.avail_in = rowSize;
        const bool lastRow = y + 1 == end;
        const int flush = !lastRow ? Z_NO_FLUSH : lastBand ? Z_FINISH : Z_FULL_FLUSH;
        const int status = ::deflate(&stream, flush);
        complete = stream.avail_in == 0 && (flush == Z_FINISH ? status == Z_STREAM_END
                                                              : status == Z_OK && stream.avail_out > 0);
    }
    deflateEnd(&stream);
    if (!complete) return {};

    result.length = finishChunk(chunk, "IDAT", uint32_t(stream.next_out - data));
    result.adler = uint32_t(adler);
    result.filtered = uint64_t(end - start) * rowSize;
    return result;
}

uint32_t combinePngAdler(uint32_t first, uint32_t second, uint64_t secondLength) {
    return uint32_t(adler32_combine(first, second, z_off_t(secondLength)));
}

void writePngTail(uint32_t adler, uint8_t* out) {
    storeBe32(out + 8, adler);
    finishChunk(out, "IDAT", 4);
    finishChunk(out + 16, "IEND", 0);
}

uint32_t writePng(const Canvas& canvas, PngColour colour, PngDeflate deflate,
                  std::span<uint8_t> work, std::span<uint8_t> out) {
    const uint32_t width = canvas.width, height = canvas.height;
    if (width == 0 || height == 0 || work.size() < pngWorkSize(width, colour) ||
        out.size() < pngFileBound(width, height, colour))
        return 0;
    writePngHead(width, height, colour, out.data());
    uint64_t at = kPngHeadSize;
    uint32_t adler = 1;
    const uint32_t bands = pngBandCount(width, height, colour);
    for (uint32_t band = 0; band < bands; ++band) {
        const PngBand written = writePngBand(canvas, colour, deflate, band, work, out.subspan(size_t(at)));
        if (written.length == 0) return 0;
        adler = combinePngAdler(adler, written.adler, written.filtered);
        at += written.length;
    }
    writePngTail(adler, out.data() + at);
    return uint32_t(at + kPngTailSize);
}

Status encodePng(const Canvas& canvas, PngColour colour, unsigned threads, Encoded& out) {
    const PngDeflate deflate;
    const uint32_t width = canvas.width, height = canvas.height;
    if (width == 0 || height == 0) return Status::emptyPicture;
    const uint32_t bands = pngBandCount(width, height, colour);
    const size_t bandBound = size_t(pngBandBound(width, colour));
    // Each band is compressed into its own slot at its bound, then moved down behind the one
    // before: the slots are never touched past what a band writes.
    Status status = obtainBlock(pngFileBound(width, height, colour), out.bytes, Fill::fromStart);
    if (status != Status::ok) return status;

    threads = std::clamp(threads, 1u, bands);
    std::vector<ByteBuffer> work(threads);
    for (ByteBuffer& area : work) {
        status = obtainBlock(pngWorkSize(width, colour), area, Fill::whole);
        if (status != Status::ok) return status;
    }

    uint8_t* const file = out.bytes.data();
    std::vector<PngBand> written(bands);
    std::atomic<uint32_t> nextBand{0};
    auto compress = [&](ByteBuffer& area) {
        for (uint32_t band; (band = nextBand.fetch_add(1)) < bands;)
            written[band] = writePngBand(canvas, colour, deflate, band, area.span(),
                                         {file + kPngHeadSize + band * bandBound, bandBound});
    };
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(compress, std::ref(work[t]));
    } catch (const std::system_error&) {
        // A thread the system would not start: the others take its bands.
    }
    compress(work[0]);
    for (std::thread& helper : helpers) helper.join();

    writePngHead(width, height, colour, file);
    uint64_t at = kPngHeadSize;
    uint32_t adler = 1;
    for (uint32_t band = 0; band < bands; ++band) {
        if (written[band].length == 0) return Status::outOfMemory;
        std::memmove(file + at, file + kPngHeadSize + band * bandBound, written[band].length);
        adler = combinePngAdler(adler, written[band].adler, written[band].filtered);
        at += written[band].length;
    }
    writePngTail(adler, file + at);
    out.length = uint32_t(at + kPngTailSize);
    return Status::ok;
}
