#include "codec/bmp.h"

#include "common/bytes.h"

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
        // Four pixels at a time: three words out for four in.
        for (; x + 4 <= width; x += 4, source += 16, o += 12) {
            uint32_t p0 = loadWord32(source) & 0xFFFFFF, p1 = loadWord32(source + 4) & 0xFFFFFF;
            uint32_t p2 = loadWord32(source + 8) & 0xFFFFFF, p3 = loadWord32(source + 12) & 0xFFFFFF;
            storeWord32(o, p0 | p1 << 24);
            storeWord32(o + 4, p1 >> 8 | p2 << 16);
            storeWord32(o + 8, p2 >> 16 | p3 << 8);
        }
        for (; x < width; ++x, source += 4, o += 3) {
            o[0] = source[0];
            o[1] = source[1];
            o[2] = source[2];
        }
        row -= rowSize;
    }
    return uint32_t(fileSize);
}
