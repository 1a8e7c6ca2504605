// Fuzzes one picture reader (PICTURE_READER: 1 PNG, 2 BMP, 3 PSD) as packing runs it: the file
// in a page block of exactly its size, the PNG or PSD work area of exactly its size (ASan
// catches a byte past either). Besides the sanitizers, the oracles abort on a wrong result: a
// Canvas read must have its stated size and no more than 65,535 pixels a side, and the
// program's own writers must give it back (PSD exactly, BMP with its colours, opaque).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if PICTURE_READER == 1
#include <zlib.h>
#endif

#include "codec/internal/bmp_reader.h"
#include "codec/internal/bmp_write.h"
#include "codec/internal/psd_write.h"
#include "codec/internal/png_reader.h"
#include "codec/internal/psd_reader.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "picture_fuzzer: %s\n", what);
    std::abort();
}

// Larger Canvases are written back only up to this many pixels: beyond, time goes to copying.
constexpr uint64_t kMaxCheckedPixels = uint64_t(1) << 22;

void checkThroughPsd(const Canvas& canvas) {
    ByteBuffer out, work;
    if (obtainBlock(psdBound(canvas.width, canvas.height), out) != Status::ok) return;
    const uint32_t size = writePsd(canvas, out.span());
    Canvas again;
    PictureFacts facts;
    if (obtainBlock(kPictureWorkSize, work) != Status::ok) return;
    if (readPsd({out.data(), size}, work.span(), again, facts) != Status::ok ||
        facts.layerCount != 1)
        fail("the written PSD does not read back");
    if (again.width != canvas.width || again.height != canvas.height ||
        std::memcmp(again.pixels.data(), canvas.pixels.data(), canvas.pixels.size()) != 0)
        fail("the written PSD reads back other pixels");
}

void checkThroughBmp(const Canvas& canvas) {
    ByteBuffer out;
    if (obtainBlock(bmpFileSize(canvas.width, canvas.height), out) != Status::ok) return;
    writeBmp(canvas, out.span());
    Canvas again;
    PictureFacts facts;
    if (readBmp(out.span(), again, facts) != Status::ok) fail("the written BMP does not read back");
    for (uint64_t i = 0; i < canvas.pixels.size(); i += 4)
        if (std::memcmp(again.pixels.data() + i, canvas.pixels.data() + i, 3) != 0 ||
            again.pixels.data()[i + 3] != 255)
            fail("the written BMP reads back other pixels");
}

#if PICTURE_READER == 1
// Mutations almost always break a chunk's CRC, and the reader stops there; for inputs of odd
// size every CRC is made right first, so that the fuzzer reaches the chunks and the rows.
void mendChunkCrcs(uint8_t* bytes, uint64_t size) {
    if (size % 2 == 0) return;
    for (uint64_t at = 8; at + 12 <= size;) {
        const uint64_t length =
            uint64_t(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
        if (length > size - at - 12) return;
        const uLong crc = crc32(0, bytes + at + 4, uInt(length + 4));
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + length + uint64_t(i)] = uint8_t(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxBlockSize) return 0;
    ByteBuffer file;
    if (obtainBlock(size, file) != Status::ok) return 0;
    std::memcpy(file.data(), data, size);
    Canvas canvas;
    Status status;
    PictureFacts facts;
#if PICTURE_READER == 1
    mendChunkCrcs(file.data(), size);
    ByteBuffer work;
    if (obtainBlock(kPictureWorkSize, work) != Status::ok) return 0;
    status = readPng(file.span(), work.span(), canvas, facts);
#elif PICTURE_READER == 2
    status = readBmp(file.span(), canvas, facts);
#else
    ByteBuffer work;
    if (obtainBlock(kPictureWorkSize, work) != Status::ok) return 0;
    status = readPsd(file.span(), work.span(), canvas, facts);
    if (status == Status::severalLayers) {
        PsdLayers layers;
        if (readPsdLayers(file.span(), work.span(), layers, facts) != Status::ok) return 0;
        for (const PsdStoredLayer& layer : layers.layers)
            if (layer.pixels.pixels.size() !=
                canvasByteSize(layer.pixels.width, layer.pixels.height))
                fail("a layer read has the wrong size");
        return 0;
    }
#endif
    if (status != Status::ok) return 0;
    if (canvas.width == 0 || canvas.height == 0 || canvas.width > 0xFFFF ||
        canvas.height > 0xFFFF ||
        canvas.pixels.size() != canvasByteSize(canvas.width, canvas.height))
        fail("the Canvas read has the wrong size");
    file.release();
    if (uint64_t(canvas.width) * canvas.height > kMaxCheckedPixels) return 0;
    checkThroughPsd(canvas);
    checkThroughBmp(canvas);
    return 0;
}
