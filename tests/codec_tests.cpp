// G00 decoding: the decoders on hand-written streams, round trips through the
// encoder, the fast decoders against the plain reference, and the bounds policy of
// codec/lz.h and codec/g00.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/g00.h"
#include "codec/g00_inspect.h"
#include "codec/g00_regions.h"
#include "codec/internal/g00_stream.h"
#include "codec/internal/lz.h"
#include "codec/internal/lz_encoder.h"
#include "common/bytes.h"
#include "common/fault_injection.h"
#include "tests/g00_fixtures.h"
#include "tests/reference_codec.h"
#include "tests/test_support.h"
#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

using support::decodeFile;
using support::pixelAt;
using support::Rng;

namespace {

using Bytes = std::vector<uint8_t>;

// Runs a decompressor over the whole stream (file end = stream end) into out, which keeps
// guard bytes on both sides: the test fails if any of them changes.
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

struct LzRun {
    Status status;
    Bytes out;
};

template <bool Pixels>
LzRun runLz(const Bytes& file, size_t streamStart, size_t streamEnd, const Bytes& before,
            size_t fileEnd = SIZE_MAX) {
    if (fileEnd == SIZE_MAX) fileEnd = file.size();
    Bytes space(kGuard + before.size() + kGuard, kGuardByte);
    std::copy(before.begin(), before.end(), space.begin() + kGuard);
    // The stream is read from a copy that ends at fileEnd, so a read past it is caught by ASan.
    // (new[] of 0 bytes still gives a distinct, non-null block.)
    std::unique_ptr<uint8_t[]> input(new uint8_t[fileEnd]);
    std::copy(file.begin(), file.begin() + fileEnd, input.get());
    const uint8_t* base = input.get();
    uint8_t* out = space.data() + kGuard;
    Status status = Pixels ? decodeLzPixels(base + streamStart, base + streamEnd, base + fileEnd,
                                            out, out + before.size())
                           : decodeLzBytes(base + streamStart, base + streamEnd, base + fileEnd,
                                           out, out + before.size());
    for (size_t i = 0; i < kGuard; ++i) {
        EXPECT_EQ(space[i], kGuardByte) << "written before the output at -" << kGuard - i;
        EXPECT_EQ(space[kGuard + before.size() + i], kGuardByte)
            << "written past the output at +" << i;
    }
    return {status, Bytes(out, out + before.size())};
}

LzRun bytesLz(const Bytes& stream, size_t outSize, uint8_t fill = 0) {
    return runLz<false>(stream, 0, stream.size(), Bytes(outSize, fill));
}
LzRun pixelsLz(const Bytes& stream, size_t pixels, uint8_t fill = 0) {
    return runLz<true>(stream, 0, stream.size(), Bytes(pixels * 4, fill));
}

// What a stream is made of, read item by item.
struct StreamStats {
    size_t literals = 0, copies = 0, overlapping = 0, units = 0;
    bool wellFormed = true;
};

StreamStats walkStream(const Bytes& s, bool pixels) {
    StreamStats st;
    size_t in = 0;
    while (in < s.size()) {
        uint32_t control = s[in++];
        for (int bit = 0; bit < 8 && in < s.size(); ++bit, control >>= 1) {
            if (control & 1) {
                in += pixels ? 3 : 1;
                ++st.literals;
                ++st.units;
            } else {
                uint32_t w = s[in] | (in + 1 < s.size() ? s[in + 1] << 8 : 0);
                in += 2;
                uint32_t distance = w >> 4, count = (w & 15) + (pixels ? 1 : 2);
                ++st.copies;
                if (distance == 0 || distance > st.units) st.wellFormed = false;
                if (distance < count) ++st.overlapping;
                st.units += count;
            }
        }
    }
    if (in != s.size()) st.wellFormed = false;
    return st;
}

Bytes pictureBgr(const TestPicture& p) {
    Bytes bgr;
    bgr.reserve(p.bgra.size() / 4 * 3);
    for (size_t i = 0; i < p.bgra.size(); i += 4)
        bgr.insert(bgr.end(), p.bgra.begin() + i, p.bgra.begin() + i + 3);
    return bgr;
}

// The picture with every alpha byte cleared: what the pixel decompressor gives.
Bytes withoutAlpha(const TestPicture& p) {
    Bytes v = p.bgra;
    for (size_t i = 3; i < v.size(); i += 4) v[i] = 0;
    return v;
}

// With every alpha byte 255: what a type-0 file decodes to.
Bytes opaque(Bytes v) {
    for (size_t i = 3; i < v.size(); i += 4) v[i] = 255;
    return v;
}

G00Part solidPart(uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint32_t bgra) {
    G00Part part{x, y, w, h, {}};
    part.pixels.resize(size_t(w) * h * 4);
    for (size_t i = 0; i < part.pixels.size(); i += 4) storeLe32(part.pixels.data() + i, bgra);
    return part;
}

G00Part patternPart(uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t base) {
    G00Part part{x, y, w, h, {}};
    for (size_t i = 0; i < size_t(w) * h * 4; ++i) part.pixels.push_back(uint8_t(base + i));
    return part;
}

G00Entry entryOf(std::vector<G00Part> parts) {
    G00Entry e;
    e.parts = std::move(parts);
    return e;
}

// 256 one-pixel regions of a 300x2 picture, its count field 0x100 (256), one entry drawing a
// pixel of the first.
G00RegionImage twoHundredFiftySixRegions() {
    G00RegionImage image;
    image.width = 300;
    image.height = 2;
    for (uint32_t i = 0; i < 256; ++i) image.regions.push_back({i, 1, 1, 1, {0, 0}});
    image.regionCountField = 0x100;
    image.entries = {entryOf({solidPart(0, 0, 1, 1, 0x01020304)})};
    return image;
}

G00RegionImage oneRegion(uint16_t w, uint16_t h, G00RegionRecord region,
                         std::vector<G00Entry> entries) {
    G00RegionImage image;
    image.width = w;
    image.height = h;
    image.regions = {region};
    image.entries = std::move(entries);
    return image;
}

std::vector<uint8_t> px(uint32_t bgra) {
    return {uint8_t(bgra), uint8_t(bgra >> 8), uint8_t(bgra >> 16), uint8_t(bgra >> 24)};
}

// Random mixes of runs, repeats from up to 5,000 bytes back, and noise.
Bytes runsRepeatsAndNoise(Rng& rng, size_t n) {
    Bytes v;
    while (v.size() < n) {
        switch (rng.below(3)) {
        case 0: v.insert(v.end(), rng.between(1, 40), rng.byte()); break;
        case 1:
            if (!v.empty()) {
                size_t d = rng.between(1, uint32_t(std::min<size_t>(v.size(), 5000)));
                size_t c = rng.between(1, 60);
                for (size_t k = 0; k < c; ++k) v.push_back(v[v.size() - d]);
            }
            break;
        default: {
            Bytes r = rng.bytes(rng.between(1, 30));
            v.insert(v.end(), r.begin(), r.end());
        }
        }
    }
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The LZ decoders on hand-written streams
// ---------------------------------------------------------------------------------------

TEST(LzExamples, ByteStreamGivesTwoLiteralsAndACopy) {
    const Bytes stream = {0x03, 0x41, 0x42, 0x20, 0x00};
    LzRun run = bytesLz(stream, 8, 0x77);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, (Bytes{0x41, 0x42, 0x41, 0x42, 0x77, 0x77, 0x77, 0x77}));
    // With room for exactly the four bytes it produces, nothing overruns.
    run = bytesLz(stream, 4);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, (Bytes{0x41, 0x42, 0x41, 0x42}));
}

TEST(LzExamples, PixelStreamGivesALiteralAndAnOverlappingCopy) {
    const Bytes stream = {0x01, 0x10, 0x20, 0x30, 0x12, 0x00};
    LzRun run = pixelsLz(stream, 5, 0xEE);
    EXPECT_EQ(run.status, Status::ok);
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(run.out[4 * p + 0], 0x10) << p;
        EXPECT_EQ(run.out[4 * p + 1], 0x20) << p;
        EXPECT_EQ(run.out[4 * p + 2], 0x30) << p;
        EXPECT_EQ(run.out[4 * p + 3], 0xEE) << "alpha byte written at pixel " << p;
    }
    EXPECT_EQ(Bytes(run.out.begin() + 16, run.out.end()), Bytes(4, 0xEE));
    EXPECT_EQ(pixelsLz(stream, 4).status, Status::ok);
}

TEST(LzExamples, DistanceZeroCopiesLeaveUnitsAndAdvance) {
    // Bytes: literal 9, copy distance 0 count 5, literal 8.
    LzStreamWriter w;
    w.literalByte(9);
    w.copyBytes(0, 5);
    w.literalByte(8);
    LzRun run = bytesLz(w.stream(), 8, 0x5C);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, (Bytes{9, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C, 8, 0x5C}));
    // At the very start too (distance 0 is never before the output start).
    LzStreamWriter first;
    first.copyBytes(0, 17);
    run = bytesLz(first.stream(), 17, 0x33);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, Bytes(17, 0x33));

    // Pixels: literal, copy distance 0 of 3 pixels, literal.
    LzStreamWriter p;
    p.literalPixel(1, 2, 3);
    p.copyPixels(0, 3);
    p.literalPixel(4, 5, 6);
    run = pixelsLz(p.stream(), 6, 0x5C);
    EXPECT_EQ(run.status, Status::ok);
    Bytes expected = {1, 2, 3, 0x5C};
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), 4, 0x5C);
    expected.insert(expected.end(), {4, 5, 6, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C});
    EXPECT_EQ(run.out, expected);
}

TEST(LzExamples, ControlByteAsLastStreamByteEndsDecoding) {
    // Bytes: eight literals, then a control byte with nothing after it.
    Bytes stream = {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x00};
    LzRun run = bytesLz(stream, 8);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    stream.back() = 0xFF;  // whatever its bits say
    EXPECT_EQ(bytesLz(stream, 8).status, Status::ok);
    // A stream of a single control byte produces nothing.
    run = bytesLz({0x00}, 4, 0x11);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, Bytes(4, 0x11));

    // Pixels: eight literals and a trailing control byte, into exactly eight pixels.
    LzStreamWriter w;
    for (int i = 0; i < 8; ++i) w.literalPixel(uint8_t(i), uint8_t(i + 1), uint8_t(i + 2));
    w.rawByte(0x00);
    run = pixelsLz(w.stream(), 8);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out[28], 7);
    EXPECT_EQ(pixelsLz({0xFF}, 1).status, Status::ok);
}

TEST(LzExamples, CopyOfSixteenPixelsAtDistanceOneRepeatsOnePixel) {
    LzStreamWriter w;
    w.literalPixel(0xAB, 0xCD, 0xEF);
    w.copyPixels(1, 16);
    w.copyPixels(1, 16);  // repeats a pixel that was itself just copied
    LzRun run = pixelsLz(w.stream(), 33);
    EXPECT_EQ(run.status, Status::ok);
    for (int p = 0; p < 33; ++p)
        EXPECT_EQ(Bytes(run.out.begin() + 4 * p, run.out.begin() + 4 * p + 4),
                  (Bytes{0xAB, 0xCD, 0xEF, 0}))
            << p;
    // Byte variant: distance 1, count 17.
    LzStreamWriter b;
    b.literalByte(0x42);
    b.copyBytes(1, 17);
    run = bytesLz(b.stream(), 18);
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, Bytes(18, 0x42));
}

TEST(LzExamples, OverlappingCopiesRepeatTheirPattern) {
    LzStreamWriter b;
    for (uint8_t v : {uint8_t(1), uint8_t(2), uint8_t(3)}) b.literalByte(v);
    b.copyBytes(3, 17);  // 1 2 3 repeated
    b.copyBytes(2, 5);
    LzRun run = bytesLz(b.stream(), 25);
    ASSERT_EQ(run.status, Status::ok);
    Bytes expected = {1, 2, 3};
    for (int i = 0; i < 17; ++i) expected.push_back(expected[expected.size() - 3]);
    for (int i = 0; i < 5; ++i) expected.push_back(expected[expected.size() - 2]);
    EXPECT_EQ(run.out, expected);

    LzStreamWriter p;
    p.literalPixel(1, 2, 3);
    p.literalPixel(4, 5, 6);
    p.copyPixels(2, 7);
    run = pixelsLz(p.stream(), 9);
    ASSERT_EQ(run.status, Status::ok);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(run.out[4 * i], i % 2 == 0 ? 1 : 4) << i;
}

TEST(LzExamples, AlphaBytesAreNeverWritten) {
    // A long stream exercises the grouped path as well as the item-by-item one.
    TestPicture picture = makeNoisePicture(64, 33, 5);
    for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
        Bytes stream = compressLzPixels(picture.bgra, PixelLayout::bgra, mode);
        Bytes before(picture.bgra.size());
        for (size_t i = 0; i < before.size(); ++i) before[i] = uint8_t(i * 7 + 3);
        LzRun run = runLz<true>(stream, 0, stream.size(), before);
        ASSERT_EQ(run.status, Status::ok);
        for (size_t i = 0; i < before.size(); ++i) {
            if (i % 4 == 3)
                ASSERT_EQ(run.out[i], before[i]) << i;
            else
                ASSERT_EQ(run.out[i], picture.bgra[i]) << i;
        }
    }
}

// ---------------------------------------------------------------------------------------
// The LZ decoders: the bounds policy of codec/lz.h
// ---------------------------------------------------------------------------------------

TEST(LzBounds, StreamEndBeyondTheFileIsTruncated) {
    Bytes stream = {0x03, 0x41, 0x42, 0x20, 0x00};
    EXPECT_EQ((runLz<false>(stream, 0, 5, Bytes(8), 4).status), Status::truncated);
    EXPECT_EQ((runLz<true>(stream, 0, 5, Bytes(32), 4).status), Status::truncated);
    // Even a stream that would end before reaching the missing byte.
    EXPECT_EQ((runLz<false>(Bytes{0x00, 0x10}, 0, 2, Bytes(8), 1).status), Status::truncated);
}

TEST(LzBounds, StraddlingItemIsTruncated) {
    // Byte variant: a copy word cut after its first byte.
    EXPECT_EQ(bytesLz({0x01, 0x41, 0x10}, 8).status, Status::truncated);
    EXPECT_EQ(bytesLz({0x00, 0x10}, 8).status, Status::truncated);
    // Pixel variant: a literal cut after one or two of its three bytes, a copy word cut.
    EXPECT_EQ(pixelsLz({0x01, 0x10}, 4).status, Status::truncated);
    EXPECT_EQ(pixelsLz({0x01, 0x10, 0x20}, 4).status, Status::truncated);
    EXPECT_EQ(pixelsLz({0x03, 1, 2, 3, 4, 5}, 4).status, Status::truncated);
    EXPECT_EQ(pixelsLz({0x00, 0x10}, 4).status, Status::truncated);
    // The same cut at the end of a long stream (the grouped path runs first).
    TestPicture picture = makePhotoPicture(40, 30, 2);
    for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
        Bytes stream = compressLzPixels(picture.bgra, PixelLayout::bgra, mode);
        StreamStats st = walkStream(stream, true);
        ASSERT_TRUE(st.wellFormed);
        // Find a cut that lands inside the last item.
        for (size_t cut = 1; cut <= 3; ++cut) {
            Bytes shorter(stream.begin(), stream.end() - cut);
            LzRun run = pixelsLz(shorter, 40 * 30);
            StreamStats cutStats = walkStream(shorter, true);
            EXPECT_EQ(run.status, cutStats.wellFormed ? Status::ok : Status::truncated) << cut;
        }
    }
}

TEST(LzBounds, OutputOverrunIsDamagedStream) {
    // A literal one byte past the output.
    EXPECT_EQ(bytesLz({0x07, 1, 2, 3}, 2).status, Status::damagedStream);
    EXPECT_EQ(pixelsLz({0x03, 1, 2, 3, 4, 5, 6}, 1).status, Status::damagedStream);
    // A copy that would end past the output.
    EXPECT_EQ(bytesLz({0x01, 1, 0x10, 0x00}, 2).status, Status::damagedStream);
    EXPECT_EQ(bytesLz({0x01, 1, 0x10, 0x00}, 3).status, Status::ok);
    EXPECT_EQ(pixelsLz({0x01, 1, 2, 3, 0x11, 0x00}, 2).status, Status::damagedStream);
    EXPECT_EQ(pixelsLz({0x01, 1, 2, 3, 0x11, 0x00}, 3).status, Status::ok);
    // A distance-0 copy too, since it advances the output.
    EXPECT_EQ(bytesLz({0x00, 0x0F, 0x00}, 16).status, Status::damagedStream);
    EXPECT_EQ(pixelsLz({0x00, 0x0F, 0x00}, 15).status, Status::damagedStream);
    // A long stream into an output one unit too small.
    Bytes data = makeSpritePicture(50, 40, 1).bgra;
    for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
        Bytes stream = compressLzBytes(data, mode);
        EXPECT_EQ(bytesLz(stream, data.size()).status, Status::ok);
        EXPECT_EQ(bytesLz(stream, data.size() - 1).status, Status::damagedStream);
        Bytes pixels = compressLzPixels(data, PixelLayout::bgra, mode);
        EXPECT_EQ(pixelsLz(pixels, 2000).status, Status::ok);
        EXPECT_EQ(pixelsLz(pixels, 1999).status, Status::damagedStream);
    }
}

TEST(LzBounds, CopyFromBeforeTheStartIsDamagedStream) {
    EXPECT_EQ(bytesLz({0x00, 0x10, 0x00}, 8).status, Status::damagedStream);
    EXPECT_EQ(bytesLz({0x01, 7, 0x20, 0x00}, 8).status, Status::damagedStream);
    EXPECT_EQ(bytesLz({0x01, 7, 0x10, 0x00}, 8).status, Status::ok);
    EXPECT_EQ(pixelsLz({0x00, 0x10, 0x00}, 8).status, Status::damagedStream);
    EXPECT_EQ(pixelsLz({0x01, 1, 2, 3, 0x20, 0x00}, 8).status, Status::damagedStream);
    EXPECT_EQ(pixelsLz({0x01, 1, 2, 3, 0x10, 0x00}, 8).status, Status::ok);
    // In the middle of a long stream, on the grouped path.
    for (bool pixels : {false, true}) {
        LzStreamWriter w;
        for (int i = 0; i < 40; ++i) pixels ? w.literalPixel(1, 2, 3) : w.literalByte(1);
        w.copyWord(41, 0);
        for (int i = 0; i < 40; ++i) pixels ? w.literalPixel(1, 2, 3) : w.literalByte(1);
        Bytes s = w.stream();
        EXPECT_EQ(pixels ? pixelsLz(s, 4096).status : bytesLz(s, 4096).status,
                  Status::damagedStream);
        LzStreamWriter ok;
        for (int i = 0; i < 40; ++i) pixels ? ok.literalPixel(1, 2, 3) : ok.literalByte(1);
        ok.copyWord(40, 0);
        EXPECT_EQ(pixels ? pixelsLz(ok.stream(), 4096).status : bytesLz(ok.stream(), 4096).status,
                  Status::ok);
    }
}

TEST(LzBounds, NothingIsReadPastTheStreamEnd) {
    // The stream is followed, in the file, by bytes that would change the output if read.
    Bytes file = {0x03, 0x41, 0x42, 0x20, 0x00, 0xFF, 0x99, 0x98};
    LzRun run = runLz<false>(file, 0, 5, Bytes(8));
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, (Bytes{0x41, 0x42, 0x41, 0x42, 0, 0, 0, 0}));
    // Starting in the middle of a buffer.
    run = runLz<false>(Bytes{0xAA, 0xBB, 0x01, 0x07, 0xCC}, 2, 4, Bytes(4));
    EXPECT_EQ(run.status, Status::ok);
    EXPECT_EQ(run.out, (Bytes{0x07, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------
// Round trips and the reference decoder
// ---------------------------------------------------------------------------------------

TEST(LzRoundTrip, BytesOfRandomAndRealisticData) {
    Rng rng(11);
    std::vector<Bytes> inputs = {
        {}, {7}, {1, 2}, Bytes(1000, 0), Bytes(5000, 0xFF), rng.bytes(3000)};
    for (PictureKind kind : kAllPictureKinds)
        for (uint32_t size : {1u, 5u, 37u, 150u})
            inputs.push_back(makeTestPicture(kind, size, size / 2 + 1, size).bgra);
    for (int i = 0; i < 30; ++i) inputs.push_back(runsRepeatsAndNoise(rng, rng.between(1, 20000)));
    for (const Bytes& input : inputs) {
        for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
            Bytes stream = compressLzBytes(input, mode);
            StreamStats st = walkStream(stream, false);
            ASSERT_TRUE(st.wellFormed);
            ASSERT_EQ(st.units, input.size());
            if (mode == LzMode::literalsOnly) {
                ASSERT_EQ(st.copies, 0u);
            }
            LzRun run = bytesLz(stream, input.size(), 0xC3);
            ASSERT_EQ(run.status, Status::ok);
            ASSERT_EQ(run.out, input) << "size " << input.size() << " mode " << int(mode);
        }
    }
}

TEST(LzRoundTrip, PixelsOfRandomAndRealisticPictures) {
    Rng rng(12);
    for (PictureKind kind : kAllPictureKinds) {
        for (uint32_t w : {1u, 3u, 64u, 203u}) {
            TestPicture picture = makeTestPicture(kind, w, rng.between(1, 90), rng.next());
            for (PixelLayout layout : {PixelLayout::bgra, PixelLayout::bgr}) {
                Bytes input = layout == PixelLayout::bgra ? picture.bgra : pictureBgr(picture);
                for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
                    Bytes stream = compressLzPixels(input, layout, mode);
                    StreamStats st = walkStream(stream, true);
                    ASSERT_TRUE(st.wellFormed);
                    ASSERT_EQ(st.units, size_t(picture.width) * picture.height);
                    LzRun run = pixelsLz(stream, st.units);
                    ASSERT_EQ(run.status, Status::ok);
                    ASSERT_EQ(run.out, withoutAlpha(picture)) << pictureKindName(kind) << " " << w;
                }
            }
        }
    }
}

TEST(LzRoundTrip, CompressModeReallyCompresses) {
    TestPicture flat = makeFlatPicture(300, 200, 4);
    Bytes pixels = compressLzPixels(flat.bgra, PixelLayout::bgra, LzMode::compress);
    Bytes literal = compressLzPixels(flat.bgra, PixelLayout::bgra, LzMode::literalsOnly);
    EXPECT_LT(pixels.size() * 8, literal.size());
    StreamStats st = walkStream(pixels, true);
    EXPECT_GT(st.overlapping, 0u) << "runs are encoded as overlapping copies";
    Bytes bytes = compressLzBytes(flat.bgra, LzMode::compress);
    EXPECT_LT(bytes.size() * 6, flat.bgra.size());  // 8 at best: 17 bytes for a 2-byte word
    EXPECT_GT(walkStream(bytes, false).overlapping, 0u);
    EXPECT_EQ(compressLzBytes(flat.bgra, LzMode::literalsOnly).size(),
              flat.bgra.size() + (flat.bgra.size() + 7) / 8);
    // Photo-like data still gains from repeats of its noise-free areas.
    TestPicture sprite = makeSpritePicture(256, 256, 3);
    EXPECT_LT(compressLzBytes(sprite.bgra, LzMode::compress).size() * 2, sprite.bgra.size());
}

// Positions and lengths past 2^24 units: the compressor's speed is measured by the benchmarks.
TEST(LzRoundTrip, LargePictureRoundTrips) {
    TestPicture picture = makePhotoPicture(4096, 4096, 9);
    Bytes file = encodeG00FullFrame(4096, 4096, picture.bgra, PixelLayout::bgra, LzMode::compress);
    support::Decoded d = decodeFile(file);
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_TRUE(d.bytes() == opaque(picture.bgra));
}

// ---------------------------------------------------------------------------------------
// The codec's LZ compressor: the plain reference decoder gives back its input, the greedy
// encoder is never shorter, and an exhaustive search finds nothing shorter.
// ---------------------------------------------------------------------------------------

namespace {

// 24-bit colours of 3- or 4-byte pixels, or bytes: the units the reference search compares.
std::vector<uint32_t> lzUnits(const Bytes& input, size_t unitBytes) {
    std::vector<uint32_t> units;
    for (size_t i = 0; i + unitBytes <= input.size(); i += unitBytes)
        units.push_back(unitBytes == 1 ? input[i]
                                       : input[i] | input[i + 1] << 8 | input[i + 2] << 16);
    return units;
}

}  // namespace

TEST(LzEncoder, ReferenceDecodesItsStreamsAndGreedyIsNeverShorter) {
    Rng rng(31);
    std::vector<Bytes> inputs = {{}, {9}, Bytes(4, 0), Bytes(7000, 0x42), rng.bytes(12000)};
    for (PictureKind kind : kAllPictureKinds)
        for (uint32_t size : {1u, 7u, 64u, 181u})
            inputs.push_back(makeTestPicture(kind, size, size / 2 + 1, size + 3).bgra);
    for (int i = 0; i < 12; ++i) inputs.push_back(runsRepeatsAndNoise(rng, rng.between(1, 30000)));
    for (const Bytes& input : inputs) {
        Bytes stream = compressLzBytes(input, LzMode::compress);
        EXPECT_LE(stream.size(), compressLzBytes(input, LzMode::greedy).size())
            << "bytes, size " << input.size();
        Bytes out(input.size(), 0x5C);
        ASSERT_EQ(ref::decodeLzBytes(stream, 0, stream.size(), out), Status::ok);
        ASSERT_EQ(out, input);
        for (PixelLayout layout : {PixelLayout::bgra, PixelLayout::bgr}) {
            const size_t unitBytes = layout == PixelLayout::bgra ? 4 : 3;
            Bytes pixels(input.begin(), input.begin() + input.size() / unitBytes * unitBytes);
            stream = compressLzPixels(pixels, layout, LzMode::compress);
            EXPECT_LE(stream.size(), compressLzPixels(pixels, layout, LzMode::greedy).size())
                << "pixels, size " << input.size();
            Bytes canvas(pixels.size() / unitBytes * 4, 0);
            ASSERT_EQ(ref::decodeLzPixels(stream, 0, stream.size(), canvas), Status::ok);
            ASSERT_EQ(lzUnits(canvas, 4), lzUnits(pixels, unitBytes));
        }
    }
}

TEST(LzEncoder, NoStreamIsShorterThanItsOwn) {
    Rng rng(32);
    std::vector<Bytes> inputs;
    for (int i = 0; i < 40; ++i) {  // few values, so that copies of every length compete
        Bytes v(rng.between(1, 400));
        const uint32_t values = rng.between(1, 4);
        for (uint8_t& b : v) b = uint8_t(rng.below(values));
        inputs.push_back(v);
    }
    // A repeat exactly as far back as a copy reaches, and one a unit further: of 24 bytes, and
    // of 3, which only the chain of three-byte hashes finds, past the noise's other triples.
    for (size_t gap : {4095u - 24u, 4096u - 24u, 4095u - 3u, 4096u - 3u}) {
        Bytes head = rng.bytes(gap > 4080 ? 3 : 24), v = head, noise = rng.bytes(gap);
        v.insert(v.end(), noise.begin(), noise.end());
        v.insert(v.end(), head.begin(), head.end());
        inputs.push_back(v);
    }
    for (const Bytes& input : inputs) {
        EXPECT_EQ(compressLzBytes(input, LzMode::compress).size(),
                  ref::shortestLzLength(lzUnits(input, 1), false))
            << "bytes, size " << input.size();
        // Pixels of colours 0..3 (one colour byte each) and, for the repeats, of random colours.
        Bytes pixels;
        for (uint8_t b : input)
            pixels.insert(pixels.end(), {b, uint8_t(input.size() > 400 ? b * 7 : 0), 0});
        EXPECT_EQ(compressLzPixels(pixels, PixelLayout::bgr, LzMode::compress).size(),
                  ref::shortestLzLength(lzUnits(pixels, 3), true))
            << "pixels, size " << input.size();
    }
}

// The match search and the path split into parts, each starting its own tables (and, for
// pixels, its own chains, which give way to the trees where they grow long) some way before its
// positions, and its path from made-up costs: the stream must be the one a single pass writes,
// also where every match lies as far back as a copy reaches, and where the longest copies
// repeat forever, so that a part's costs never agree with the truth's and it is redone whole.
// The parts run last first, and the work area is guarded.
TEST(LzEncoder, SplitSearchWritesTheSameStream) {
    Rng rng(33);
    const Bytes repeated = rng.bytes(4095 * 4);
    for (int input = 0; input < 5; ++input) {
        for (bool pixels : {false, true}) {
            Bytes data(640 * 480 * 4);
            if (input < 3) {
                const PictureKind kinds[] = {PictureKind::photo, PictureKind::lineArt,
                                             PictureKind::sprite};
                data = makeTestPicture(kinds[input], 640, 480, 5).bgra;
            } else {
                const size_t period = input == 3 ? 4095 : 16 + !pixels;  // in units
                // This length puts the second part's copies out of step with the first's.
                if (input == 4 && !pixels) data.resize(data.size() - 4);
                for (size_t i = 0; i < data.size(); ++i)
                    data[i] = repeated[i % (pixels ? period * 4 : period)];
            }
            const uint64_t units = pixels ? data.size() / 4 : data.size();
            const auto encode = [&](uint32_t tasks) {
                const Parallel lastFirst{tasks, [](uint32_t count, const auto& task) {
                                             for (uint32_t i = count; i-- > 0;) task(i);
                                         }};
                const uint64_t workSize = lzEncodeWorkSize(units, tasks);
                Bytes work(workSize + 16, 0x5A), out(lzPixelsEncodedBound(units));
                const std::span<uint8_t> area(work.data(), workSize);
                out.resize(pixels ? encodeLzPixels(data, PixelUnit::bgra, area, out, lastFirst)
                                  : encodeLzBytes(data, area, out, lastFirst));
                for (size_t i = workSize; i < work.size(); ++i) EXPECT_EQ(work[i], 0x5A);
                return out;
            };
            const Bytes whole = encode(1);
            ASSERT_FALSE(whole.empty());
            for (uint32_t tasks : {2u, 3u})
                EXPECT_EQ(encode(tasks), whole)
                    << "input " << input << (pixels ? ", pixels, " : ", bytes, ") << tasks;
        }
    }
}

namespace {

// Random streams of several kinds for the comparison with the reference.
Bytes randomStream(Rng& rng, bool pixels, size_t& outUnits) {
    const uint32_t literalBytes = pixels ? 3 : 1;
    switch (rng.below(4)) {
    case 0: {  // any bytes at all
        outUnits = rng.between(0, 600);
        return rng.bytes(rng.between(0, 400));
    }
    case 1:
    case 2: {  // items, mostly well formed, with mistakes now and then
        LzStreamWriter w;
        size_t units = 0;
        // Now and then long enough for the decoder's wide moves, which start some way in.
        size_t items = rng.between(0, rng.chance(8) ? 4000 : 500);
        bool careful = rng.chance(2);
        for (size_t i = 0; i < items; ++i) {
            if (units == 0 || rng.chance(3)) {
                if (pixels)
                    w.literalPixel(rng.byte(), rng.byte(), rng.byte());
                else
                    w.literalByte(rng.byte());
                ++units;
            } else {
                uint32_t code = rng.below(16);
                uint32_t distance = rng.chance(30) ? rng.below(4096)
                                    : rng.chance(10)
                                        ? 0
                                        : rng.between(1, uint32_t(std::min<size_t>(units, 4095)));
                if (careful && distance > units) distance = uint32_t(units);
                w.copyWord(distance, code);
                units += code + (pixels ? 1 : 2);
            }
        }
        Bytes s = w.take();
        if (rng.chance(4) && !s.empty()) s.resize(rng.below(uint32_t(s.size())));  // cut anywhere
        if (rng.chance(6)) s.push_back(rng.byte());                                // a stray byte
        switch (rng.below(4)) {
        case 0: outUnits = units; break;
        case 1: outUnits = units + rng.below(50); break;
        case 2:
            outUnits =
                units > 0 ? units - rng.between(1, uint32_t(std::min<size_t>(units, 20))) : 0;
            break;
        default: outUnits = rng.below(uint32_t(units + 1));
        }
        return s;
    }
    default: {  // encoder output with a few bytes changed
        Bytes data = rng.bytes(rng.between(1, 300));
        for (size_t i = 1; i < data.size(); ++i)
            if (rng.chance(2)) data[i] = data[i - 1];
        Bytes s = pixels ? compressLzPixels(data, PixelLayout::bgr, LzMode::compress)
                         : compressLzBytes(data, LzMode::compress);
        size_t flips = rng.below(4);
        for (size_t f = 0; f < flips && !s.empty(); ++f)
            s[rng.below(uint32_t(s.size()))] ^= uint8_t(1u << rng.below(8));
        outUnits = data.size() / literalBytes + rng.below(3);
        return s;
    }
    }
}

}  // namespace

TEST(LzReference, FastDecodersMatchTheReferenceOnRandomStreams) {
    Rng rng(2024);
    size_t ok[2] = {0, 0}, failures[2] = {0, 0};
    for (int iteration = 0; iteration < 6000; ++iteration) {
        const bool pixels = iteration % 2 == 1;
        size_t units = 0;
        Bytes stream = randomStream(rng, pixels, units);
        Bytes before = rng.bytes(units * (pixels ? 4 : 1));
        // The file sometimes holds the whole stream, sometimes ends inside it.
        size_t fileEnd = stream.size();
        if (rng.chance(20) && fileEnd > 0) fileEnd -= rng.between(1, uint32_t(fileEnd));
        Bytes expected = before;
        Status expectedStatus =
            pixels ? ref::decodeLzPixels(Bytes(stream.begin(), stream.begin() + fileEnd), 0,
                                         stream.size(), expected)
                   : ref::decodeLzBytes(Bytes(stream.begin(), stream.begin() + fileEnd), 0,
                                        stream.size(), expected);
        LzRun run = pixels ? runLz<true>(stream, 0, stream.size(), before, fileEnd)
                           : runLz<false>(stream, 0, stream.size(), before, fileEnd);
        ASSERT_EQ(run.status, expectedStatus) << "iteration " << iteration;
        if (expectedStatus == Status::ok) {
            ASSERT_EQ(run.out, expected) << "iteration " << iteration;
            if (!pixels) {  // the counted output is exactly where the decoder's ends
                const uint64_t length =
                    lzBytesOutputLength(stream.data(), stream.data() + stream.size());
                ASSERT_EQ(bytesLz(stream, length).status, Status::ok) << iteration;
                if (length > 0) {
                    ASSERT_EQ(bytesLz(stream, length - 1).status, Status::damagedStream)
                        << iteration;
                }
            }
            ++ok[pixels];
        } else {
            ++failures[pixels];
        }
    }
    // Both outcomes are well represented for both variants.
    for (int v = 0; v < 2; ++v) {
        EXPECT_GT(ok[v], 600u);
        EXPECT_GT(failures[v], 600u);
    }
}

// ---------------------------------------------------------------------------------------
// Decoding full-frame files
// ---------------------------------------------------------------------------------------

TEST(G00FullFrame, DecodesEveryColourAsOpaque) {
    for (PictureKind kind : kAllPictureKinds) {
        TestPicture picture = makeTestPicture(kind, 77, 31, 8);
        for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
            Bytes file = encodeG00FullFrame(77, 31, picture.bgra, PixelLayout::bgra, mode);
            EXPECT_EQ(loadLe32(file.data() + kFullFrameSizePairOffset),
                      file.size() - kFullFrameSizePairOffset);
            EXPECT_EQ(loadLe32(file.data() + kFullFrameSizePairOffset + kDecompressedLengthOffset),
                      77u * 31 * 4);
            support::Decoded d = decodeFile(file);
            ASSERT_EQ(d.status, Status::ok);
            EXPECT_TRUE(d.bytes() == opaque(picture.bgra)) << pictureKindName(kind);
        }
    }
}

TEST(G00FullFrame, CompressedLengthEightGivesNoOutput) {
    Bytes stream =
        compressLzPixels(makeNoisePicture(4, 4, 1).bgra, PixelLayout::bgra, LzMode::compress);
    for (uint32_t length : {8u, 7u, 0u}) {
        Bytes file = assembleG00FullFrame(4, 4, stream, {length, {}});
        support::Decoded d = decodeFile(file);
        EXPECT_EQ(d.status, Status::ok) << length;
        EXPECT_EQ(d.bytes(), opaque(Bytes(64, 0))) << length;
    }
    // 9: the stream is one control byte, which ends decoding.
    support::Decoded d = decodeFile(assembleG00FullFrame(4, 4, stream, {9u, {}}));
    EXPECT_EQ(d.status, Status::ok);
    EXPECT_EQ(d.bytes(), opaque(Bytes(64, 0)));
    // And a file holding nothing but the header and the two fields.
    d = decodeFile(assembleG00FullFrame(4, 4, {}, {}));
    EXPECT_EQ(d.status, Status::ok);
}

TEST(G00FullFrame, DecompressedLengthIsNotUsed) {
    TestPicture picture = makeLineArtPicture(20, 10, 3);
    Bytes stream = compressLzPixels(picture.bgra, PixelLayout::bgra, LzMode::compress);
    for (uint32_t length : {0u, 1u, 0xFFFFFFFFu}) {
        support::Decoded d = decodeFile(assembleG00FullFrame(20, 10, stream, {{}, length}));
        ASSERT_EQ(d.status, Status::ok);
        EXPECT_TRUE(d.bytes() == opaque(picture.bgra));
    }
}

TEST(G00FullFrame, StreamShorterThanThePictureLeavesTheRestBlack) {
    TestPicture picture = makePhotoPicture(10, 10, 3);
    Bytes stream = compressLzPixels(Bytes(picture.bgra.begin(), picture.bgra.begin() + 4 * 35),
                                    PixelLayout::bgra, LzMode::compress);
    support::Decoded d = decodeFile(assembleG00FullFrame(10, 10, stream));
    ASSERT_EQ(d.status, Status::ok);
    Bytes expected(picture.bgra.begin(), picture.bgra.begin() + 4 * 35);
    expected.resize(picture.bgra.size(), 0);
    EXPECT_EQ(d.bytes(), opaque(expected));
}

TEST(G00FullFrame, Bounds) {
    TestPicture picture = makePhotoPicture(8, 8, 3);
    Bytes stream = compressLzPixels(picture.bgra, PixelLayout::bgra, LzMode::compress);
    Bytes file = assembleG00FullFrame(8, 8, stream);
    // The stream end lies beyond the file.
    EXPECT_EQ(
        decodeFile(assembleG00FullFrame(8, 8, stream, {uint32_t(9 + stream.size()), {}})).status,
        Status::truncated);
    EXPECT_EQ(decodeFile(Bytes(file.begin(), file.end() - 1)).status, Status::truncated);
    // The file ends inside the length fields.
    for (size_t size : {5u, 6u, 8u})
        EXPECT_EQ(decodeFile(Bytes(file.begin(), file.begin() + size)).status, Status::truncated)
            << size;
    // A straddling last item inside the announced stream.
    LzStreamWriter w;
    w.literalPixel(1, 2, 3);
    w.rawByte(0x10);
    w.rawByte(0x20);
    Bytes cut = w.stream();
    cut[0] = 0x03;  // the second item is a literal of which 2 bytes are there
    EXPECT_EQ(decodeFile(assembleG00FullFrame(8, 8, cut)).status, Status::truncated);
    // More pixels than the Canvas holds.
    Bytes big =
        compressLzPixels(makePhotoPicture(8, 9, 3).bgra, PixelLayout::bgra, LzMode::compress);
    EXPECT_EQ(decodeFile(assembleG00FullFrame(8, 8, big)).status, Status::damagedStream);
    // A copy before the start.
    LzStreamWriter before;
    before.literalPixel(1, 1, 1);
    before.copyPixels(2, 1);
    EXPECT_EQ(decodeFile(assembleG00FullFrame(8, 8, before.stream())).status,
              Status::damagedStream);
}

TEST(G00Info, TheFirstBytesAndTheSizeAnswerAsTheWholeFile) {
    const G00RegionImage many = twoHundredFiftySixRegions();
    Bytes stream =
        compressLzPixels(makePhotoPicture(8, 8, 3).bgra, PixelLayout::bgra, LzMode::compress);
    const Bytes files[] = {
        assembleG00FullFrame(8, 8, stream), assembleG00FullFrame(8, 8, stream, {3u, {}}),
        assembleG00FullFrame(40000, 40000, {}), encodeG00Regions(many, LzMode::literalsOnly)};
    for (const Bytes& whole : files)
        for (size_t size = 0; size <= whole.size(); size += size < 64 ? 1 : 97) {
            const std::span<const uint8_t> file(whole.data(), size);
            // A copy of only the bytes it may read, so that a read past them is caught.
            const Bytes head(file.begin(), file.begin() + std::min<size_t>(size, kG00InfoReach));
            const G00Info a = readG00Info(file), b = readG00Info(G00Head{head, size});
            ASSERT_EQ(a.status, b.status) << size;
            EXPECT_EQ(a.header.width, b.header.width);
            EXPECT_EQ(a.regionCount, b.regionCount);
            EXPECT_EQ(a.sizesRead, b.sizesRead);
            EXPECT_EQ(a.compressedLength, b.compressedLength);
            EXPECT_EQ(a.decompressedLength, b.decompressedLength);
        }
}

// ---------------------------------------------------------------------------------------
// Decoding region-based files
// ---------------------------------------------------------------------------------------

TEST(G00Regions, RoundTripOfRealisticPictures) {
    Rng rng(31);
    for (PictureKind kind : kAllPictureKinds) {
        for (auto [w, h] : {std::pair{1u, 1u}, {2u, 1u}, {130u, 70u}, {300u, 257u}, {1000u, 3u}}) {
            TestPicture picture = makeTestPicture(kind, w, h, rng.next());
            PartCutting cutting;
            cutting.regionSize = rng.between(1, 200);
            cutting.bandHeight = rng.between(1, 40);
            cutting.absentEmptyRegions = rng.chance(2);
            G00RegionImage image = cutIntoParts(picture, cutting);
            ASSERT_LE(image.regions.size(), 256u);
            for (LzMode mode : {LzMode::compress, LzMode::literalsOnly}) {
                Bytes file = encodeG00Regions(image, mode);
                support::Decoded d = decodeFile(file);
                ASSERT_EQ(d.status, Status::ok) << pictureKindName(kind) << " " << w << "x" << h;
                ASSERT_TRUE(d.bytes() == picture.bgra)
                    << pictureKindName(kind) << " " << w << "x" << h;
                ref::Decoded r = ref::decodeG00(file);
                ASSERT_EQ(r.status, Status::ok);
                ASSERT_TRUE(r.canvas == picture.bgra);
            }
        }
    }
}

TEST(G00Regions, RegionCount0x100Means256Records) {
    // 256 records: the size fields follow the 256th.
    G00RegionImage image = twoHundredFiftySixRegions();
    image.entries.resize(256, G00Entry::absent());
    image.entries[255] = entryOf({solidPart(3, 0, 1, 1, 0x0A0B0C0D)});
    Bytes file = encodeG00Regions(image, LzMode::compress);
    EXPECT_EQ(loadLe32(file.data() + regionSizePairOffset(256) + kDecompressedLengthOffset),
              buildPartData(image).size());
    support::Decoded d = decodeFile(file);
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 0, 1), px(0x01020304));
    EXPECT_EQ(pixelAt(d.canvas, 258, 1), px(0x0A0B0C0D));

    // 0x101: one record, the size fields after it.
    G00RegionImage one =
        oneRegion(4, 4, {1, 1, 2, 2, {0, 0}}, {entryOf({solidPart(1, 1, 1, 1, 0x11223344)})});
    one.regionCountField = 0x101;
    file = encodeG00Regions(one, LzMode::compress);
    EXPECT_EQ(file.size(),
              regionStreamStart(1) + compressLzBytes(buildPartData(one), LzMode::compress).size());
    d = decodeFile(file);
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 2, 2), px(0x11223344));
    // Only the low 8 bits count: 0xFFFFFF01 is one record as well.
    one.regionCountField = 0xFFFFFF01u;
    d = decodeFile(encodeG00Regions(one, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 2, 2), px(0x11223344));
    // 0x100 with a single record: the file is too short for 256 records.
    one.regionCountField = 0x100;
    EXPECT_EQ(decodeFile(encodeG00Regions(one, LzMode::compress)).status, Status::truncated);
}

TEST(G00Regions, UncoveredPixelsStayZero) {
    G00RegionImage image =
        oneRegion(5, 4, {1, 1, 3, 2, {0, 0}}, {entryOf({solidPart(0, 0, 2, 1, 0xFFFFFFFF)})});
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(pixelAt(d.canvas, x, y), px(y == 1 && (x == 1 || x == 2) ? 0xFFFFFFFF : 0))
                << x << "," << y;
}

TEST(G00Regions, PartLandsAtRegionOriginPlusItsOffset) {
    G00RegionImage image =
        oneRegion(40, 40, {10, 20, 30, 30, {0, 0}}, {entryOf({patternPart(2, 3, 3, 2, 1)})});
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 12, 23), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(pixelAt(d.canvas, 14, 23), (Bytes{9, 10, 11, 12}));
    EXPECT_EQ(pixelAt(d.canvas, 12, 24), (Bytes{13, 14, 15, 16}));
    EXPECT_EQ(pixelAt(d.canvas, 11, 23), px(0));
    EXPECT_EQ(pixelAt(d.canvas, 15, 23), px(0));
    EXPECT_EQ(pixelAt(d.canvas, 12, 22), px(0));
    EXPECT_EQ(pixelAt(d.canvas, 12, 25), px(0));
    // The origin takes the low 16 bits of x1 and y1.
    image.regions[0] = {0x70000 | 10, 0xFFFF0000u | 20, 30, 30, {0xDEADBEEF, 0xDEADBEEF}};
    d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 12, 23), (Bytes{1, 2, 3, 4}));
}

TEST(G00Regions, NegativeLengthEntriesAreSkipped) {
    for (uint32_t length : {0xFFFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFF00u}) {
        G00RegionImage image =
            oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({solidPart(0, 0, 4, 4, 0x12345678)})});
        image.entries[0].lengthField = length;  // a well-formed block all the same
        support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
        ASSERT_EQ(d.status, Status::ok) << std::hex << length;
        EXPECT_EQ(d.bytes(), Bytes(64, 0)) << std::hex << length;
    }
    // 0x7FFFFFFF and 0 are not negative: the entry is drawn (the length is otherwise unused).
    for (uint32_t length : {0x7FFFFFFFu, 0u, 1u}) {
        G00RegionImage image =
            oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({solidPart(0, 0, 4, 4, 0x12345678)})});
        image.entries[0].lengthField = length;
        support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
        ASSERT_EQ(d.status, Status::ok);
        EXPECT_EQ(pixelAt(d.canvas, 3, 3), px(0x12345678)) << std::hex << length;
    }
}

TEST(G00Regions, EmptyRegionIsSkippedButX2ZeroWithY2OneIsDrawn) {
    auto decodeWith = [](uint32_t x2, uint32_t y2) {
        G00RegionImage image =
            oneRegion(4, 4, {1, 1, x2, y2, {0, 0}}, {entryOf({solidPart(0, 0, 2, 2, 0x55667788)})});
        return decodeFile(encodeG00Regions(image, LzMode::compress));
    };
    support::Decoded d = decodeWith(0, 0);
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(d.bytes(), Bytes(64, 0));
    for (auto [x2, y2] : {std::pair{0u, 1u}, {1u, 0u}, {0x10000u, 1u}}) {
        d = decodeWith(x2, y2);
        ASSERT_EQ(d.status, Status::ok);
        EXPECT_EQ(pixelAt(d.canvas, 2, 2), px(0x55667788)) << x2 << "," << y2;
    }
    // Only the low halves are tested: 0x10000 and 0xFFFF0000 read as 0.
    d = decodeWith(0x10000, 0xFFFF0000u);
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(d.bytes(), Bytes(64, 0));
}

TEST(G00Regions, PartCountZeroDrawsNothingAndTheNextEntryFollows) {
    G00RegionImage image;
    image.width = 4;
    image.height = 4;
    image.regions = {{0, 0, 3, 3, {0, 0}}, {0, 0, 3, 3, {0, 0}}};
    G00Entry none = entryOf({solidPart(0, 0, 4, 4, 0xAAAAAAAA)});
    none.partCountField = 0;  // the part is there but not counted
    image.entries = {none, entryOf({solidPart(1, 1, 1, 1, 0x01010101)})};
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    Bytes expected(64, 0);
    std::memset(expected.data() + (1 * 4 + 1) * 4, 1, 4);
    EXPECT_EQ(d.bytes(), expected);
}

TEST(G00Regions, LaterPartsAndEntriesWin) {
    G00RegionImage image;
    image.width = 6;
    image.height = 3;
    image.regions = {{0, 0, 5, 2, {0, 0}}, {2, 0, 5, 2, {0, 0}}};
    image.entries = {
        entryOf({solidPart(0, 0, 4, 3, 0x11111111), solidPart(1, 1, 2, 1, 0x22222222)}),
        entryOf({solidPart(1, 0, 1, 1, 0x00000000), solidPart(0, 2, 1, 1, 0x33333333)})};
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 0, 0), px(0x11111111));
    EXPECT_EQ(pixelAt(d.canvas, 1, 1), px(0x22222222));
    EXPECT_EQ(pixelAt(d.canvas, 2, 1), px(0x22222222));
    EXPECT_EQ(pixelAt(d.canvas, 3, 1), px(0x11111111));
    EXPECT_EQ(pixelAt(d.canvas, 3, 0), px(0)) << "no blending: a later all-zero pixel replaces";
    EXPECT_EQ(pixelAt(d.canvas, 2, 2), px(0x33333333));
    EXPECT_EQ(pixelAt(d.canvas, 4, 0), px(0));
}

TEST(G00Regions, OtherFieldsAreNotRead) {
    // Block bytes 0..1 and 4..115, part header bytes 4..5 and 10..91, record bytes 16..23.
    G00RegionImage image = oneRegion(4, 4, {0, 0, 3, 3, {0xFFFFFFFF, 0xFFFFFFFF}},
                                     {entryOf({patternPart(1, 1, 2, 2, 50)})});
    Bytes data = buildPartData(image);
    const size_t block = loadLe32(data.data() + 4);
    for (size_t i = 0; i < kPartBlockHeaderSize; ++i)
        if (i != kPartCountOffset && i != kPartCountOffset + 1) data[block + i] = 0xEE;
    const size_t part = block + kPartBlockHeaderSize;
    for (size_t i = 4; i < 6; ++i) data[part + i] = 0xEE;
    for (size_t i = kPartHeight + 2; i < kPartHeaderSize; ++i) data[part + i] = 0xEE;
    Bytes file =
        assembleG00Regions(image, compressLzBytes(data, LzMode::compress), uint32_t(data.size()));
    support::Decoded d = decodeFile(file);
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 1, 1), (Bytes{50, 51, 52, 53}));
    EXPECT_EQ(pixelAt(d.canvas, 2, 2), (Bytes{62, 63, 64, 65}));
    // The entry count takes the low 16 bits.
    image.entryCountField = 0x30001;
    d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 1, 1), (Bytes{50, 51, 52, 53}));
}

TEST(G00Regions, PartsAreClippedAtTheRightAndBottomEdges) {
    // A 3x3 part at (3,2) on a 5x4 Canvas: only its top-left 2x2 is inside.
    G00RegionImage image =
        oneRegion(5, 4, {1, 1, 4, 3, {0, 0}}, {entryOf({patternPart(2, 1, 3, 3, 0)})});
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    Bytes expected(80, 0);
    for (uint32_t r = 0; r < 2; ++r)
        for (uint32_t c = 0; c < 2; ++c)
            for (uint32_t b = 0; b < 4; ++b)
                expected[((2 + r) * 5 + 3 + c) * 4 + b] = uint8_t((r * 3 + c) * 4 + b);
    EXPECT_EQ(d.bytes(), expected) << "clipped pixels must not wrap into the next row";
    // A part wholly outside, right of or below the Canvas, and an origin beyond it.
    for (auto [x, y] : {std::pair<uint16_t, uint16_t>{4, 0}, {0, 3}, {100, 100}, {0xFFFF, 0}}) {
        G00RegionImage outside =
            oneRegion(5, 4, {1, 1, 4, 3, {0, 0}}, {entryOf({solidPart(x, y, 2, 2, 0x99999999)})});
        d = decodeFile(encodeG00Regions(outside, LzMode::compress));
        ASSERT_EQ(d.status, Status::ok);
        EXPECT_EQ(d.bytes(), Bytes(80, 0)) << x << "," << y;
    }
    // origin + offset is not taken modulo 65,536: 65535 + 2 is column 65537, not 1.
    G00RegionImage wide =
        oneRegion(4, 4, {0xFFFF, 0, 1, 1, {0, 0}}, {entryOf({solidPart(2, 0, 2, 2, 0x77777777)})});
    d = decodeFile(encodeG00Regions(wide, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(d.bytes(), Bytes(64, 0));
}

TEST(G00Regions, ZeroSizedPartsDrawNothingAndTheNextPartFollows) {
    G00RegionImage image =
        oneRegion(4, 4, {0, 0, 3, 3, {0, 0}},
                  {entryOf({solidPart(0, 0, 0, 3, 0), solidPart(0, 0, 3, 0, 0),
                            solidPart(0, 0, 0, 0, 0), solidPart(2, 2, 1, 1, 0x4B4B4B4B)})});
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    Bytes expected(64, 0);
    std::memset(expected.data() + (2 * 4 + 2) * 4, 0x4B, 4);
    EXPECT_EQ(d.bytes(), expected);
}

TEST(G00Regions, EntryCountZeroDrawsNothing) {
    G00RegionImage image =
        oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({solidPart(0, 0, 4, 4, 0x12345678)})});
    image.entryCountField = 0;
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    EXPECT_EQ(d.status, Status::ok);
    EXPECT_EQ(d.bytes(), Bytes(64, 0));
    // Or a stream that produces nothing: the zero-filled data has an entry count of 0.
    d = decodeFile(assembleG00Regions(image, {}, 64));
    EXPECT_EQ(d.status, Status::ok);
    EXPECT_EQ(d.bytes(), Bytes(64, 0));
}

TEST(G00Regions, EntryBeyondTheRegionCount) {
    G00RegionImage image = oneRegion(4, 4, {0, 0, 3, 3, {0, 0}},
                                     {entryOf({solidPart(0, 0, 1, 1, 0x01010101)}),
                                      entryOf({solidPart(1, 1, 1, 1, 0x02020202)})});
    EXPECT_EQ(decodeFile(encodeG00Regions(image, LzMode::compress)).status, Status::damagedParts);
    // Marked absent, it is skipped before it needs a record.
    image.entries[1] = G00Entry::absent();
    support::Decoded d = decodeFile(encodeG00Regions(image, LzMode::compress));
    ASSERT_EQ(d.status, Status::ok);
    EXPECT_EQ(pixelAt(d.canvas, 0, 0), px(0x01010101));
}

TEST(G00Regions, PartTableBeyondTheData) {
    G00RegionImage base =
        oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({solidPart(0, 0, 2, 2, 0x01010101)})});
    // The entry count claims more entries than the data holds.
    G00RegionImage many = base;
    many.entryCountField = 1000;
    EXPECT_EQ(decodeFile(encodeG00Regions(many, LzMode::compress)).status, Status::damagedParts);
    // A block offset beyond the data, or a block header cut by its end.
    Bytes data = buildPartData(base);
    for (uint32_t offset : {uint32_t(data.size()), uint32_t(data.size() - 115), 0xFFFFFFF0u}) {
        G00RegionImage far = base;
        far.entries[0].offsetField = offset;
        EXPECT_EQ(decodeFile(encodeG00Regions(far, LzMode::compress)).status, Status::damagedParts)
            << offset;
    }
    // A block header that fits but whose part count (read from pixel bytes 01 01) runs past.
    G00RegionImage tail =
        oneRegion(8, 8, {0, 0, 7, 7, {0, 0}}, {entryOf({solidPart(0, 0, 6, 6, 0x01010101)})});
    tail.entries[0].offsetField = uint32_t(buildPartData(tail).size() - kPartBlockHeaderSize);
    EXPECT_EQ(decodeFile(encodeG00Regions(tail, LzMode::compress)).status, Status::damagedParts);
    // A part header or part pixels cut by the end of the data.
    G00RegionImage counted = base;
    counted.entries[0].partCountField = 2;
    EXPECT_EQ(decodeFile(encodeG00Regions(counted, LzMode::compress)).status, Status::damagedParts);
    G00RegionImage shortPixels = base;
    shortPixels.entries[0].parts[0].pixels.resize(15);
    EXPECT_EQ(decodeFile(encodeG00Regions(shortPixels, LzMode::compress)).status,
              Status::damagedParts);
    shortPixels.trailer = {0};  // exactly enough again
    EXPECT_EQ(decodeFile(encodeG00Regions(shortPixels, LzMode::compress)).status, Status::ok);
    // The data is shorter than the stream's output says: the decompressed length D is smaller.
    Bytes file = encodeG00Regions(base, LzMode::compress);
    storeLe32(file.data() + regionSizePairOffset(1) + kDecompressedLengthOffset,
              uint32_t(data.size() - 1));
    EXPECT_EQ(decodeFile(file).status, Status::damagedStream);
    // D larger than the stream's output: the zero tail is data like any other.
    file = encodeG00Regions(base, LzMode::compress);
    storeLe32(file.data() + regionSizePairOffset(1) + kDecompressedLengthOffset,
              uint32_t(data.size() + 100));
    EXPECT_EQ(decodeFile(file).status, Status::ok);
    // D of 1..3 cannot hold an entry count.
    for (uint32_t size : {1u, 2u, 3u})
        EXPECT_EQ(decodeFile(assembleG00Regions(base, {}, size)).status, Status::damagedParts)
            << size;
}

TEST(G00Regions, DecompressedLengthZeroFails) {
    G00RegionImage image =
        oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({solidPart(0, 0, 2, 2, 0x01010101)})});
    const int blocks = faults::liveBlocks();
    Bytes file = assembleG00Regions(image, {}, 0);
    support::Decoded d = decodeFile(file);
    EXPECT_EQ(d.status, Status::damagedParts) << "no part table to read (codec/g00.h)";
    EXPECT_TRUE(d.canvas.pixels.empty());  // a failed decode hands back no Canvas
    d = decodeFile(
        assembleG00Regions(image, compressLzBytes(buildPartData(image), LzMode::compress), 0));
    EXPECT_EQ(d.status, Status::damagedParts);
    d = {};
    EXPECT_EQ(faults::liveBlocks(), blocks);
}

TEST(G00Regions, RefusedDecompressionBufferFailsAndLeavesNothing) {
    G00RegionImage image =
        oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({solidPart(0, 0, 2, 2, 0x01010101)})});
    Bytes file = encodeG00Regions(image, LzMode::compress);
    Canvas canvas;
    const int blocks = faults::liveBlocks();
    faults::arm(faults::Point::allocation, 2);  // after the Canvas's
    EXPECT_EQ(decodeG00Picture(file, canvas).status, Status::outOfMemory);
    faults::disarm();
    EXPECT_EQ(faults::liveBlocks(), blocks);
    EXPECT_TRUE(canvas.pixels.empty());
    EXPECT_EQ(decodeG00Picture(file, canvas).status, Status::ok);
    canvas.pixels.release();
    EXPECT_EQ(faults::liveBlocks(), blocks);
}

TEST(G00Regions, FileBounds) {
    G00RegionImage image =
        oneRegion(4, 4, {0, 0, 3, 3, {0, 0}}, {entryOf({patternPart(0, 0, 4, 4, 1)})});
    Bytes file = encodeG00Regions(image, LzMode::compress);
    // Cut anywhere: the header, the region table, the size fields, or the stream.
    for (size_t size = 5; size < file.size(); ++size)
        EXPECT_EQ(decodeFile(Bytes(file.begin(), file.begin() + size)).status, Status::truncated)
            << size;
    // The compressed length reaches past the file.
    Bytes longer = file;
    storeLe32(longer.data() + regionSizePairOffset(1),
              loadLe32(longer.data() + regionSizePairOffset(1)) + 1);
    EXPECT_EQ(decodeFile(longer).status, Status::truncated);
    // A shorter compressed length ends the stream early, between items: the rest of the
    // decompression buffer stays zero, so the block's part count reads as 0.
    Bytes literal = encodeG00Regions(image, LzMode::literalsOnly);
    storeLe32(literal.data() + regionSizePairOffset(1),
              kSizePairSize + 9 * 2);  // 16 of the data bytes
    support::Decoded early = decodeFile(literal);
    EXPECT_EQ(early.status, Status::ok);
    EXPECT_EQ(early.bytes(), Bytes(64, 0));
    // A straddling copy word.
    LzStreamWriter w;
    w.literalByte(1);
    w.rawByte(0x10);
    Bytes straddle = assembleG00Regions(image, w.stream(), 64);
    EXPECT_EQ(decodeFile(straddle).status, Status::truncated);
}

namespace {

// A random region-based picture with every kind of oddity the decoder meets.
G00RegionImage randomRegionImage(Rng& rng) {
    G00RegionImage image;
    image.width = uint16_t(rng.between(1, 40));
    image.height = uint16_t(rng.between(1, 40));
    size_t regions = rng.between(1, 6);
    for (size_t i = 0; i < regions; ++i) {
        G00RegionRecord r;
        r.x1 = rng.below(image.width + 5) | (rng.chance(8) ? rng.next() << 16 : 0);
        r.y1 = rng.below(image.height + 5) | (rng.chance(8) ? rng.next() << 16 : 0);
        r.x2 = rng.chance(4) ? 0 : rng.below(50);
        r.y2 = rng.chance(4) ? 0 : rng.below(50);
        r.unused[0] = rng.next();
        image.regions.push_back(r);
    }
    if (rng.chance(8))
        image.regionCountField =
            uint32_t(rng.below(uint32_t(regions) + 1)) | (rng.chance(2) ? 0x100u : 0u);
    size_t entries = rng.below(uint32_t(regions) + 3);
    for (size_t i = 0; i < entries; ++i) {
        if (rng.chance(5)) {
            G00Entry e = G00Entry::absent(0x80000000u | rng.next());
            e.hasBlock = rng.chance(2);
            image.entries.push_back(e);
            continue;
        }
        G00Entry e;
        size_t parts = rng.below(5);
        for (size_t p = 0; p < parts; ++p) {
            G00Part part;
            part.x = uint16_t(rng.chance(10) ? rng.next() : rng.below(image.width + 4));
            part.y = uint16_t(rng.chance(10) ? rng.next() : rng.below(image.height + 4));
            part.width = uint16_t(rng.below(14));
            part.height = uint16_t(rng.below(14));
            part.pixels = rng.bytes(size_t(part.width) * part.height * 4);
            if (rng.chance(30)) part.pixels.resize(rng.below(uint32_t(part.pixels.size() + 1)));
            e.parts.push_back(std::move(part));
        }
        if (rng.chance(15)) e.partCountField = uint16_t(rng.below(8));
        if (rng.chance(25)) e.offsetField = rng.below(3000);
        if (rng.chance(10)) e.lengthField = rng.below(0x80000000u);
        image.entries.push_back(std::move(e));
    }
    if (rng.chance(10))
        image.entryCountField =
            rng.below(uint32_t(entries) + 3) | (rng.chance(3) ? rng.next() << 16 : 0);
    if (rng.chance(5)) image.trailer = rng.bytes(rng.below(200));
    return image;
}

}  // namespace

TEST(G00Reference, RandomRegionFilesMatchTheReference) {
    Rng rng(77);
    size_t ok = 0, failed = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        G00RegionImage image = randomRegionImage(rng);
        Bytes data = buildPartData(image);
        Bytes stream =
            compressLzBytes(data, rng.chance(3) ? LzMode::literalsOnly : LzMode::compress);
        G00Lengths lengths;
        if (rng.chance(10)) lengths.decompressed = uint32_t(data.size()) + rng.below(20) - 10;
        if (rng.chance(15)) lengths.compressed = uint32_t(8 + stream.size()) + rng.below(10) - 5;
        Bytes file = assembleG00Regions(image, stream, uint32_t(data.size()), lengths);
        if (rng.chance(15)) file.resize(std::max<size_t>(5, file.size() - rng.below(20)));
        if (rng.chance(10))
            file[5 + rng.below(uint32_t(file.size() - 5))] ^= uint8_t(1u << rng.below(8));
        // A flipped bit may announce gigabytes of data; the reference would fill them all.
        const size_t sizes = size_t(
            regionSizePairOffset(file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset]));
        if (sizes + 8 <= file.size() && loadLe32(file.data() + sizes + 4) > (1u << 20)) continue;
        ref::Decoded expected = ref::decodeG00(file);
        support::Decoded d = decodeFile(file);
        ASSERT_EQ(d.status, expected.status) << "iteration " << iteration;
        if (expected.status == Status::ok) {
            ASSERT_TRUE(d.bytes() == expected.canvas) << "iteration " << iteration;
            ++ok;
        } else {
            ++failed;
        }
    }
    EXPECT_GT(ok, 1000u);
    EXPECT_GT(failed, 300u);
}

TEST(G00Reference, RandomFullFrameFilesMatchTheReference) {
    Rng rng(78);
    for (int iteration = 0; iteration < 2000; ++iteration) {
        uint16_t w = uint16_t(rng.between(1, 30)), h = uint16_t(rng.between(1, 30));
        size_t units = 0;
        Bytes stream = randomStream(rng, true, units);
        G00Lengths lengths;
        if (rng.chance(5)) lengths.compressed = uint32_t(8 + stream.size()) + rng.below(10) - 5;
        Bytes file = assembleG00FullFrame(w, h, stream, lengths);
        ref::Decoded expected = ref::decodeG00(file);
        support::Decoded d = decodeFile(file);
        ASSERT_EQ(d.status, expected.status) << "iteration " << iteration;
        if (expected.status == Status::ok) {
            ASSERT_TRUE(d.bytes() == expected.canvas) << "iteration " << iteration;
        }
    }
}

// A Canvas whose block holds one row more than its height says: that row is a guard that no
// write may reach (the page block itself cannot be watched by ASan).
struct GuardedCanvas {
    Canvas canvas;
    size_t size = 0;
    GuardedCanvas(uint32_t w, uint32_t h) {
        EXPECT_EQ(makeCanvas(w, h + 1, canvas), Status::ok);
        canvas.height = h;
        size = size_t(w) * h * 4;
        std::memset(canvas.pixels.data() + size, 0xA5, size_t(w) * 4);
    }
    bool guardIntact() const {
        const uint8_t* g = canvas.pixels.data() + size;
        return std::all_of(g, g + canvas.width * 4, [](uint8_t b) { return b == 0xA5; });
    }
    Bytes bytes() const { return Bytes(canvas.pixels.data(), canvas.pixels.data() + size); }
};

TEST(G00Bounds, NothingIsWrittenPastTheCanvas) {
    // Parts reaching past the bottom right corner are clipped to the Canvas's width and height.
    Rng rng(80);
    for (int iteration = 0; iteration < 500; ++iteration) {
        G00RegionImage image = randomRegionImage(rng);
        G00RegionRecord corner{uint32_t(image.width - 1), uint32_t(image.height - 1), 1, 1, {0, 0}};
        image.regions.push_back(corner);
        image.regionCountField.reset();
        G00Entry spill = entryOf({solidPart(0, 0, uint16_t(rng.between(1, 5)),
                                            uint16_t(rng.between(1, 5)), 0x5A5A5A5A)});
        image.entries.resize(image.regions.size() - 1, G00Entry::absent());
        image.entries.push_back(spill);
        image.entryCountField.reset();
        Bytes file = encodeG00Regions(image, LzMode::compress);
        GuardedCanvas guarded(image.width, image.height);
        ByteBuffer data;
        Status status = decompressRegionData(file, data);
        if (status == Status::ok) status = composeRegions(file, data.span(), guarded.canvas);
        ASSERT_TRUE(guarded.guardIntact()) << "iteration " << iteration;
        ref::Decoded expected = ref::decodeG00(file);
        ASSERT_EQ(status, expected.status) << "iteration " << iteration;
        if (status == Status::ok) {
            ASSERT_TRUE(guarded.bytes() == expected.canvas) << "iteration " << iteration;
            ASSERT_EQ(pixelAt(guarded.canvas, image.width - 1, image.height - 1), px(0x5A5A5A5A));
        }
    }
    // (A full-frame stream is bounded by the Canvas block itself: LzBounds covers it.)
}

TEST(G00Reference, ComposeRegionsDirectly) {
    // composeRegions on its own, with data that no stream produced.
    Rng rng(79);
    for (int iteration = 0; iteration < 1000; ++iteration) {
        G00RegionImage image = randomRegionImage(rng);
        Bytes data = buildPartData(image);
        Bytes file = assembleG00Regions(image, {}, uint32_t(data.size()));
        Canvas canvas;
        ASSERT_EQ(makeCanvas(image.width, image.height, canvas), Status::ok);
        Bytes expected(size_t(image.width) * image.height * 4, 0);
        Status expectedStatus =
            ref::composeRegions(file, data, image.width, image.height, expected);
        ASSERT_EQ(composeRegions(file, data, canvas), expectedStatus) << iteration;
        if (expectedStatus == Status::ok) {
            ASSERT_TRUE(support::canvasBytes(canvas) == expected) << iteration;
        }
    }
}

TEST(G00Reference, RegionsAloneTheirBoxesAndCropsMatchTheReference) {
    // Each region drawn alone is the reference drawing only its entry; its box is the smallest
    // rectangle of the pixels the reference writes (whatever their value), its crop that
    // rectangle of it; regionBoxes fails where composeRegions fails.
    Rng rng(81);
    size_t drawn = 0, empty = 0;
    for (int iteration = 0; iteration < 2000; ++iteration) {
        G00RegionImage image = randomRegionImage(rng);
        Bytes data = buildPartData(image);
        Bytes file = assembleG00Regions(image, {}, uint32_t(data.size()));
        const uint32_t w = image.width, h = image.height;
        Bytes whole(size_t(w) * h * 4, 0);
        const Status expectedStatus = ref::composeRegions(file, data, w, h, whole);
        RegionBoxes boxes;
        ASSERT_EQ(regionBoxes(file, data, w, h, boxes), expectedStatus) << iteration;
        if (expectedStatus != Status::ok) continue;
        for (uint32_t i = 0; i < boxes.count; ++i) {
            Bytes alone(whole.size(), 0), mask(size_t(w) * h, 0);
            ASSERT_EQ(ref::composeRegions(file, data, w, h, alone, i, &mask), Status::ok);
            RegionBox box;
            uint32_t right = 0, bottom = 0;
            box.left = w, box.top = h;
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    if (mask[size_t(y) * w + x]) {
                        box.left = std::min(box.left, x), box.top = std::min(box.top, y);
                        right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
                    }
            box = right == 0 ? RegionBox{}
                             : RegionBox{box.left, box.top, right - box.left, bottom - box.top};
            ASSERT_EQ(boxes.box[i], box) << iteration << " region " << i;

            Canvas cropped;
            RegionBox cropBox;
            const Status status = cropRegion(file, data, i, w, h, cropped, &cropBox);
            EXPECT_EQ(cropBox, box);
            if (box.empty()) {
                EXPECT_EQ(status, Status::emptyPicture);
                EXPECT_TRUE(cropped.pixels.empty());
                ++empty;
                continue;
            }
            ASSERT_EQ(status, Status::ok);
            ASSERT_EQ(cropped.width, box.width);
            ASSERT_EQ(cropped.height, box.height);
            for (uint32_t y = 0; y < box.height; ++y)
                ASSERT_TRUE(
                    std::equal(alone.begin() + (size_t(box.top + y) * w + box.left) * 4,
                               alone.begin() + (size_t(box.top + y) * w + box.left + box.width) * 4,
                               cropped.pixels.data() + size_t(y) * box.width * 4))
                    << iteration << " region " << i << " row " << y;
            ++drawn;
        }
    }
    EXPECT_GT(drawn, 100u);
    EXPECT_GT(empty, 100u);
}

TEST(G00Regions, WhatARegionDraws) {
    // On a 40 x 30 picture, region 0 at (10, 20) holds the parts given. A written pixel counts
    // whatever its value; parts are clipped to the picture before the box is taken.
    struct Case {
        const char* name;
        std::vector<G00Part> parts;
        RegionBox box;
    } cases[] = {
        {"one part", {patternPart(2, 3, 3, 2, 1)}, {12, 23, 3, 2}},
        {"two parts apart", {solidPart(0, 0, 1, 1, 7), solidPart(5, 4, 2, 1, 7)}, {10, 20, 7, 5}},
        {"transparent black pixels", {solidPart(1, 1, 2, 2, 0)}, {11, 21, 2, 2}},
        {"clipped at the corner", {solidPart(28, 8, 5, 5, 7)}, {38, 28, 2, 2}},
        {"wholly outside", {solidPart(30, 0, 2, 2, 7)}, {}},
        {"width 0 and height 0", {solidPart(0, 0, 0, 3, 7), solidPart(0, 0, 3, 0, 7)}, {}},
        {"no parts", {}, {}},
    };
    for (const Case& c : cases) {
        G00RegionImage image = oneRegion(40, 30, {10, 20, 1, 1, {0, 0}}, {entryOf(c.parts)});
        Bytes file = encodeG00Regions(image, LzMode::compress);
        Bytes data = buildPartData(image);
        RegionBoxes boxes;
        ASSERT_EQ(regionBoxes(file, data, 40, 30, boxes), Status::ok) << c.name;
        EXPECT_EQ(boxes.count, 1u);
        EXPECT_EQ(boxes.box[0], c.box) << c.name;
    }
    // An absent entry and an empty record draw nothing, even over a well-formed block.
    G00RegionImage image =
        oneRegion(40, 30, {10, 20, 1, 1, {0, 0}}, {entryOf({solidPart(0, 0, 2, 2, 7)})});
    image.entries[0].lengthField = 0xFFFFFFFFu;
    RegionBoxes boxes;
    ASSERT_EQ(
        regionBoxes(encodeG00Regions(image, LzMode::compress), buildPartData(image), 40, 30, boxes),
        Status::ok);
    EXPECT_TRUE(boxes.box[0].empty());
    image = oneRegion(40, 30, {10, 20, 0, 0, {0, 0}}, {entryOf({solidPart(0, 0, 2, 2, 7)})});
    ASSERT_EQ(
        regionBoxes(encodeG00Regions(image, LzMode::compress), buildPartData(image), 40, 30, boxes),
        Status::ok);
    EXPECT_TRUE(boxes.box[0].empty());
    // Drawn alone, a region does not read the other entries: a damaged second one fails the
    // picture (and regionBoxes) but not the first region's drawing.
    image = oneRegion(40, 30, {10, 20, 1, 1, {0, 0}},
                      {entryOf({solidPart(0, 0, 2, 2, 7)}), entryOf({})});
    image.regions.push_back({0, 0, 1, 1, {0, 0}});
    image.entries[1].offsetField = 0xFFFFFF00u;
    Bytes file = encodeG00Regions(image, LzMode::compress);
    EXPECT_EQ(decodeFile(file).status, Status::damagedParts);
    EXPECT_EQ(regionBoxes(file, buildPartData(image), 40, 30, boxes), Status::damagedParts);
    Canvas cropped;
    EXPECT_EQ(cropRegion(file, buildPartData(image), 0, 40, 30, cropped), Status::ok);
    EXPECT_EQ(cropRegion(file, buildPartData(image), 1, 40, 30, cropped), Status::damagedParts);
}

// ---------------------------------------------------------------------------------------
// Describing files
// ---------------------------------------------------------------------------------------

TEST(G00Inspect, DescribesEveryFieldAsStored) {
    G00RegionImage image;
    image.width = 50;
    image.height = 40;
    image.regions = {
        {0x10005, 6, 20, 20, {0xDEADBEEF, 7}}, {1, 2, 3, 4, {5, 6}}, {0, 0, 0, 0, {0, 0}}};
    image.entries = {entryOf({patternPart(1, 2, 3, 4, 0), solidPart(40, 0, 20, 1, 9)}),
                     G00Entry::absent(0xFFFFFFFEu), entryOf({solidPart(0, 0, 1, 1, 9)})};
    Bytes file = encodeG00Regions(image, LzMode::compress);
    Bytes data = buildPartData(image);
    const G00Description d = describeG00(file);
    EXPECT_EQ(d.result, Status::ok);
    EXPECT_EQ(d.fileSize, file.size());
    EXPECT_TRUE(d.headerRead);
    EXPECT_EQ(d.type, 2);
    EXPECT_EQ(d.width, 50u);
    EXPECT_EQ(d.height, 40u);
    EXPECT_EQ(d.compressedLength, loadLe32(file.data() + 9 + 24 * 3));
    EXPECT_EQ(d.decompressedLength, data.size());
    EXPECT_EQ(d.regionCount, 3u);
    ASSERT_EQ(d.regions.size(), 3u);
    EXPECT_EQ(d.regions[0].x1, 0x10005u);
    EXPECT_EQ(d.regions[0].unread[0], 0xDEADBEEFu);
    EXPECT_EQ(d.regions[1].y2, 4u);
    EXPECT_EQ(d.regions[1].unread[1], 6u);
    EXPECT_EQ(d.entryCount, 3u);
    ASSERT_EQ(d.entries.size(), 3u);
    EXPECT_EQ(d.entries[0].blockOffset, loadLe32(data.data() + 4));
    EXPECT_EQ(d.entries[0].blockLength, int32_t(loadLe32(data.data() + 8)));
    EXPECT_EQ(d.entries[0].partCount, 2u);
    ASSERT_EQ(d.entries[0].parts.size(), 2u);
    EXPECT_EQ(d.entries[0].parts[0].x, 1u);
    EXPECT_EQ(d.entries[0].parts[0].y, 2u);
    EXPECT_EQ(d.entries[0].parts[0].width, 3u);
    EXPECT_EQ(d.entries[0].parts[0].height, 4u);
    EXPECT_EQ(d.entries[0].box, (RegionBox{6, 6, 44, 6}))
        << "origin (5, 6), the second part clipped";
    EXPECT_TRUE(d.entries[1].absent);
    EXPECT_EQ(d.entries[1].blockLength, -2);
    EXPECT_FALSE(d.entries[1].partCount.has_value());
    EXPECT_TRUE(d.entries[2].emptyRegion);
    EXPECT_TRUE(d.entries[2].parts.empty());

    const Bytes frame = fixtures::fullFrame(3, 2);
    const G00Description f = describeG00(frame);
    EXPECT_EQ(f.result, Status::ok);
    EXPECT_EQ(f.type, 0);
    EXPECT_EQ(f.compressedLength, frame.size() - 5);
    EXPECT_EQ(f.decompressedLength, 3u * 2 * 4);
    EXPECT_FALSE(f.regionCount.has_value());
}

TEST(G00Inspect, DamagedFilesAreDescribedAsFarAsTheDecoderReads) {
    G00RegionImage base =
        oneRegion(8, 8, {0, 0, 7, 7, {0, 0}},
                  {entryOf({solidPart(0, 0, 2, 2, 1), solidPart(2, 2, 2, 2, 1)})});
    const Bytes healthy = encodeG00Regions(base, LzMode::compress);
    G00RegionImage counted = base;
    counted.entries[0].partCountField = 3;  // the third part header lies past the data
    G00RegionImage noRecord = base;
    noRecord.entries.push_back(entryOf({solidPart(0, 0, 1, 1, 1)}));
    Bytes typeOne = healthy;
    typeOne[0] = 1;
    struct Case {
        const char* name;
        Bytes file;
        uint64_t maxPixels;
        Status result;
        bool header;
        size_t regions, entries, lastParts;
    } cases[] = {
        {"shorter than a header", Bytes(healthy.begin(), healthy.begin() + 4), 0, Status::truncated,
         false, 0, 0, 0},
        {"type 1", typeOne, 0, Status::unsupportedType, true, 0, 0, 0},
        {"cut inside the record", Bytes(healthy.begin(), healthy.begin() + 20), 0,
         Status::truncated, true, 0, 0, 0},
        {"cut inside the stream", Bytes(healthy.begin(), healthy.end() - 1), 0, Status::truncated,
         true, 1, 0, 0},
        {"more parts counted than held", encodeG00Regions(counted, LzMode::compress), 0,
         Status::damagedParts, true, 1, 1, 2},
        {"an entry without a record", encodeG00Regions(noRecord, LzMode::compress), 0,
         Status::damagedParts, true, 1, 2, 0},
        {"beyond the pixel limit", healthy, 63, Status::tooManyPixels, true, 1, 1, 2},
    };
    for (const Case& c : cases) {
        const G00Description d = describeG00(c.file, c.maxPixels);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(d.result, c.result);
        if (c.maxPixels == 0) {
            EXPECT_EQ(d.result, support::decodeFile(c.file).status);
        }
        EXPECT_EQ(d.headerRead, c.header);
        EXPECT_EQ(d.fileSize, c.file.size());
        EXPECT_EQ(d.regions.size(), c.regions);
        ASSERT_EQ(d.entries.size(), c.entries);
        if (c.entries > 0) {
            EXPECT_EQ(d.entries.back().parts.size(), c.lastParts);
        }
    }
}

// Page blocks: refusals, zero fill to the last byte and release, for sizes on both sides of
// the 2 MB pages that blocks filled whole may be given.
TEST(PageBlocks, RefuseZeroAndOversizedRequests) {
    ByteBuffer block;
    EXPECT_EQ(obtainBlock(0, block), Status::outOfMemory);
    EXPECT_EQ(obtainBlock(kMaxBlockSize + 1, block, PagingHint::whole), Status::tooLarge);
    EXPECT_TRUE(block.empty());
}

TEST(PageBlocks, AreZeroFilledWritableAndReleasedWhateverTheirPaging) {
    constexpr uint64_t kLarge = 2u << 20;
    for (PagingHint paging : {PagingHint::inPart, PagingHint::whole}) {
        for (uint64_t size :
             {uint64_t(1), uint64_t(4097), kLarge - 1, kLarge, kLarge + 1, 5 * kLarge + 12345}) {
            ByteBuffer block;
            ASSERT_EQ(obtainBlock(size, block, paging), Status::ok) << size;
            ASSERT_EQ(block.size(), size);
            const uint8_t* bytes = block.data();
            EXPECT_TRUE(std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; })) << size;
            std::memset(block.data(), 0x5A, size);
            EXPECT_EQ(block.data()[size - 1], 0x5A);
            ByteBuffer moved = std::move(block);
            EXPECT_TRUE(block.empty());
            moved.release();
            EXPECT_TRUE(moved.empty());
            EXPECT_EQ(moved.size(), 0u);
            moved.release();  // releasing nothing does nothing
        }
    }
}
