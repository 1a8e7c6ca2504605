#include "codec/internal/bmp_write.h"

#include <emmintrin.h>

#include <cstring>

#include "common/bytes.h"

namespace {

// Four pixels' colours, 12 bytes, stored as two 8-byte moves of six: each 64-bit lane holds
// two pixels, the odd one moved down next to the even one, and two zero bytes above them that
// the next move (or the row's end) covers.
inline void putFourPixels(const uint8_t* pixel, uint8_t* o) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel));
    const __m128i even = _mm_and_si128(v, _mm_set1_epi64x(0x0000000000FFFFFFll));
    const __m128i odd = _mm_and_si128(_mm_srli_epi64(v, 8), _mm_set1_epi64x(0x0000FFFFFF000000ll));
    const __m128i pairs = _mm_or_si128(even, odd);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o), pairs);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 6), _mm_unpackhi_epi64(pairs, pairs));
}

}  // namespace

uint32_t writeBmp(const Canvas& canvas, std::span<uint8_t> out) {
    const uint32_t width = canvas.width;
    const uint32_t height = canvas.height;
    const uint64_t fileSize = bmpFileSize(width, height);
    if (width == 0 || height == 0 || out.size() < fileSize) return 0;
    const uint64_t rowSize = bmpRowSize(width);

    uint8_t* header = out.data();
    header[0] = 'B';
    header[1] = 'M';
    storeLe32(header + 2, uint32_t(fileSize));
    storeLe32(header + 6, 0);
    storeLe32(header + 10, kBmpHeaderSize);
    storeLe32(header + 14, 40);
    storeLe32(header + 18, width);
    storeLe32(header + 22, height);
    storeLe16(header + 26, 1);
    storeLe16(header + 28, 24);
    for (int field = 30; field < 54; field += 4) storeLe32(header + field, 0);

    const uint8_t* source = canvas.pixels.data();
    uint8_t* row = out.data() + kBmpHeaderSize + (height - 1) * rowSize;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* o = row;
        uint32_t x = 0;
        // Sixteen pixels at a time while the last 8-byte store, two bytes past the pixels,
        // stays inside the row: the row above is already written.
        for (; 3 * uint64_t(x + 16) + 2 <= rowSize; x += 16, source += 64, o += 48)
            for (int k = 0; k < 4; ++k) putFourPixels(source + 16 * k, o + 12 * k);
        // Four pixels at a time: three words out for four in.
        for (; x + 4 <= width; x += 4, source += 16, o += 12) {
            uint32_t p0 = loadWord32(source) & 0xFFFFFF, p1 = loadWord32(source + 4) & 0xFFFFFF;
            uint32_t p2 = loadWord32(source + 8) & 0xFFFFFF,
                     p3 = loadWord32(source + 12) & 0xFFFFFF;
            storeWord32(o, p0 | p1 << 24);
            storeWord32(o + 4, p1 >> 8 | p2 << 16);
            storeWord32(o + 8, p2 >> 16 | p3 << 8);
        }
        for (; x < width; ++x, source += 4, o += 3) {
            o[0] = source[0];
            o[1] = source[1];
            o[2] = source[2];
        }
        std::memset(o, 0, size_t(row + rowSize - o));  // the row's padding
        row -= rowSize;
    }
    return uint32_t(fileSize);
}
