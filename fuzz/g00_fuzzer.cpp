// Fuzzes the conversion of one G00 file as the conversion runs it: a page block holding exactly the
// file, decodeG00Picture, then both writers into buffers of exactly the documented sizes (ASan
// catches a byte past any of them). Besides the sanitizers, three oracles abort on a wrong result:
// the plain reference decoder of the tests must agree on the status and the pixels, the BMP must
// hold the Canvas bottom-up, and every PackBits block of the PSD must decode back to its Canvas
// channel or to the Canvas flattened on white. Region pictures are also drawn region by region and
// written as layers, and described.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/g00.h"
#include "codec/g00_inspect.h"
#include "codec/g00_regions.h"
#include "codec/internal/bmp_write.h"
#include "codec/internal/psd_write.h"
#include "common/bytes.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "tests/reference_codec.h"

namespace {

// Pictures above this are refused by the decoder's pixel limit, so the oracles run on small
// Canvases while larger headers still exercise the refusals.
constexpr uint64_t kMaxPixels = uint64_t(1) << 16;
// The reference decoder fills a vector of the announced decompressed size; larger ones are
// compared on their status only where the header decides it.
constexpr uint64_t kMaxReferenceData = uint64_t(1) << 24;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "g00_fuzzer: %s\n", what);
    std::abort();
}

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The type-2 decompressed length, when the file holds its field.
uint64_t announcedData(std::span<const uint8_t> file) {
    if (file[kG00TypeOffset] != kG00Regions || file.size() < kRegionTableStart) return 0;
    const uint64_t pair =
        regionSizePairOffset(file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset]);
    return pair + kSizePairSize <= file.size()
               ? loadLe32(file.data() + pair + kDecompressedLengthOffset)
               : 0;
}

// The header decides the refusals made before anything is decoded; past them, the plain
// reference decoder of the tests must agree on the status and the pixels.
void checkAgainstReference(std::span<const uint8_t> file, const G00Decoded& decoded,
                           const Canvas& canvas) {
    const G00Header& header = decoded.header;
    const uint64_t pixels = uint64_t(header.width) * header.height;
    Status expectedRefusal = Status::ok;
    if (header.type == kG00Paletted)
        expectedRefusal = Status::unsupportedType;
    else if (header.type != kG00FullFrame && header.type != kG00Regions)
        expectedRefusal = Status::notG00;
    else if (pixels == 0)
        expectedRefusal = Status::emptyPicture;
    else if (pixels > kMaxPixels)
        expectedRefusal = Status::tooManyPixels;
    if (expectedRefusal != Status::ok) {
        if (decoded.status != expectedRefusal) fail("header refusal differs");
        return;
    }
    if (announcedData(file) > kMaxReferenceData) return;
    ref::Decoded expected = ref::decodeG00(file);
    if (expected.status != decoded.status) fail("status differs from the reference decoder");
    if (decoded.status == Status::ok &&
        (canvas.width != header.width || canvas.height != header.height ||
         std::memcmp(expected.canvas.data(), canvas.pixels.data(), pixels * 4) != 0))
        fail("pixels differ from the reference decoder");
}

void checkBmp(const Canvas& canvas) {
    ByteBuffer out;
    if (obtainBlock(bmpFileSize(canvas.width, canvas.height), out) != Status::ok) return;
    if (writeBmp(canvas, out.span()) != out.size()) fail("BMP size");
    const uint64_t row = bmpRowSize(canvas.width);
    for (uint32_t y = 0; y < canvas.height; ++y) {
        const uint8_t* stored = out.data() + kBmpHeaderSize + (canvas.height - 1 - y) * row;
        const uint8_t* source = canvas.pixels.data() + uint64_t(y) * canvas.stride();
        for (uint32_t x = 0; x < canvas.width; ++x)
            if (std::memcmp(stored + 3 * x, source + 4 * x, 3) != 0) fail("BMP pixel");
        for (uint64_t b = 3 * uint64_t(canvas.width); b < row; ++b)
            if (stored[b] != 0) fail("BMP row end");
    }
}

void checkPsd(const Canvas& canvas) {
    const uint32_t w = canvas.width, h = canvas.height;
    ByteBuffer second, out;
    if (obtainBlock(psdSecondBound(w, h), second) != Status::ok) return;
    if (obtainBlock(psdBound(w, h), out) != Status::ok) return;
    const uint32_t size = writePsd(canvas, out.span(), second.span(), Parallel{2, {}});
    if (size == 0 || size > out.size()) fail("PSD size");
    std::span<const uint8_t> file(out.data(), size);
    std::vector<uint8_t> samples;
    uint64_t at = 178;  // past the header and the layer record
    const int canvasByte[4] = {3, 2, 1, 0};
    uint64_t channels = 0;
    for (int c = 0; c < 4; ++c) {
        const uint32_t length = be32(out.data() + 64 + 6 * c);
        if (ref::unpackBitsBlock(file, at, h, w, samples) != length) fail("PSD channel block");
        for (uint64_t i = 0; i < samples.size(); ++i)
            if (samples[i] != canvas.pixels.data()[4 * i + canvasByte[c]])
                fail("PSD channel sample");
        at += length;
        channels += length;
    }
    if (be32(out.data() + 38) != 136 + channels || be32(out.data() + 34) != 144 + channels)
        fail("PSD layer info length");
    if (be32(out.data() + at) != 0) fail("PSD global mask");
    at += 4;
    if (at + ref::unpackBitsBlock(file, at, 4 * h, w, samples) != size) fail("PSD merged block");
    const uint64_t n = uint64_t(w) * h;
    for (uint64_t i = 0; i < n; ++i) {
        const uint8_t* pixel = canvas.pixels.data() + 4 * i;
        for (uint64_t plane = 0; plane < 3; ++plane)
            if (samples[plane * n + i] != ref::flatten(pixel[2 - plane], pixel[3]))
                fail("PSD merged samples");
        if (samples[3 * n + i] != pixel[3]) fail("PSD merged alpha");
    }
}

// Every region of a picture that decoded: its box and crop agree, and the layered PSD of the
// regions stays inside its bound.
void checkRegions(std::span<const uint8_t> file, std::span<const uint8_t> data,
                  const Canvas& canvas) {
    RegionBoxes boxes;
    if (regionBoxes(file, data, canvas.width, canvas.height, boxes) != Status::ok)
        fail("region boxes fail where the picture decodes");
    std::vector<Canvas> crops(boxes.count);
    std::vector<PsdRegionLayer> layers;
    for (uint32_t i = 0; i < boxes.count; ++i) {
        RegionBox box;
        const Status status =
            cropRegion(file, data, i, canvas.width, canvas.height, crops[i], &box);
        if (box != boxes.box[i]) fail("crop box differs from the region's box");
        if (box.empty() != (status == Status::emptyPicture)) fail("crop of an empty region");
        if (box.empty()) continue;
        if (status != Status::ok || crops[i].width != box.width || crops[i].height != box.height ||
            uint64_t(box.left) + box.width > canvas.width ||
            uint64_t(box.top) + box.height > canvas.height)
            fail("crop outside the picture");
        layers.push_back({&crops[i], box.left, box.top, i});
    }
    if (layers.empty()) return;
    ByteBuffer out;
    if (obtainBlock(layeredPsdBound(canvas.width, canvas.height, layers), out) != Status::ok)
        return;
    const uint32_t size = writeLayeredPsd(canvas, layers, out.span());
    if (size == 0 || size > out.size()) fail("layered PSD size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kG00HeaderSize || size > kMaxBlockSize) return 0;
    ByteBuffer file;
    if (obtainBlock(size, file) != Status::ok) return 0;
    std::memcpy(file.data(), data, size);

    Canvas canvas;
    ByteBuffer partData;
    const G00Decoded decoded = decodeG00Picture(file.span(), canvas, kMaxPixels, &partData);
    checkAgainstReference(file.span(), decoded, canvas);
    if (describeG00(file.span(), kMaxPixels).result != decoded.status)
        fail("the description's result differs from the decoder's");
    if (decoded.status != Status::ok) return 0;
    if (!partData.empty()) checkRegions(file.span(), partData.span(), canvas);
    partData.release();
    file.release();
    checkBmp(canvas);
    checkPsd(canvas);
    return 0;
}
