// The picture readers: PNG of every colour type, depth and interlacing against Canvases worked
// out here from the samples; BMP and PSD files of the program's own writers and of the
// layouts other programs write; and for each reader the refusals, one per way a file can fail.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/internal/bmp_write.h"
#include "codec/internal/psd_write.h"
#include "codec/picture_reader.h"
#include "codec/internal/png_reader.h"
#include "common/bytes.h"
#include "tests/test_support.h"
#include "tools/picture_files.h"
#include "tools/test_pictures.h"

using support::Rng;

namespace {

using Bytes = std::vector<uint8_t>;

struct Read {
    PictureRead result;
    Canvas canvas;
    Bytes bytes() const { return support::canvasBytes(canvas); }
};

Read readFile(const Bytes& file, size_t workSize = kPictureWorkSize) {
    Read read;
    Bytes work(workSize);
    read.result = readPicture(file, work, read.canvas);
    return read;
}

Status statusOf(const Bytes& file) { return readFile(file).result.status; }

// ---- PNG pictures and the Canvas they stand for ----

struct PngCase {
    uint8_t colourType;
    uint8_t depth;
    bool transparency;  // tRNS: palette alphas, or the colour key of grey and RGB
};

constexpr PngCase kPngCases[] = {
    {0, 1, false}, {0, 2, false}, {0, 4, true},  {0, 8, true},   {0, 16, true}, {0, 16, false},
    {2, 8, true},  {2, 8, false}, {2, 16, true}, {3, 1, false},  {3, 2, true},  {3, 4, false},
    {3, 8, true},  {3, 8, false}, {4, 8, false}, {4, 16, false}, {6, 8, false}, {6, 16, false},
};

PngImage randomPng(const PngCase& c, uint32_t width, uint32_t height, bool interlaced, Rng& rng) {
    PngImage image;
    image.width = width;
    image.height = height;
    image.colourType = c.colourType;
    image.depth = c.depth;
    image.interlaced = interlaced;
    const uint32_t channels = pngChannels(c.colourType);
    uint32_t limit = 1u << c.depth;
    if (c.colourType == 3) {
        const uint32_t entries = std::min(limit, 200u);
        image.palette = rng.bytes(3 * entries);
        limit = entries;
        if (c.transparency) image.transparency = rng.bytes(entries / 2 + 1);
    }
    for (uint32_t i = 0; i < width * height * channels; ++i)
        image.samples.push_back(uint16_t(rng.below(limit)));
    if (c.transparency && c.colourType != 3) {
        // The key is the first pixel's colour, so that at least one pixel is transparent.
        for (uint32_t k = 0; k < channels; ++k)
            image.transparency.insert(image.transparency.end(),
                                      {uint8_t(image.samples[k] >> 8), uint8_t(image.samples[k])});
    }
    return image;
}

uint8_t eightBits(uint32_t sample, uint32_t depth) {
    if (depth == 16) return uint8_t(std::lround(sample / 257.0));
    return uint8_t(sample * (255 / ((1u << depth) - 1)));
}

Bytes expectedCanvas(const PngImage& image) {
    const uint32_t channels = pngChannels(image.colourType);
    Bytes out;
    for (uint32_t i = 0; i < image.width * image.height; ++i) {
        const uint16_t* s = image.samples.data() + size_t(i) * channels;
        const Bytes& t = image.transparency;
        auto key = [&](uint32_t k) { return uint32_t(t[2 * k] << 8 | t[2 * k + 1]); };
        switch (image.colourType) {
        case 0: {
            const uint8_t g = eightBits(s[0], image.depth);
            out.insert(out.end(), {g, g, g, uint8_t(!t.empty() && s[0] == key(0) ? 0 : 255)});
            break;
        }
        case 2: {
            const bool keyed = !t.empty() && s[0] == key(0) && s[1] == key(1) && s[2] == key(2);
            out.insert(out.end(), {eightBits(s[2], image.depth), eightBits(s[1], image.depth),
                                   eightBits(s[0], image.depth), uint8_t(keyed ? 0 : 255)});
            break;
        }
        case 3: {
            const uint8_t* p = image.palette.data() + 3 * s[0];
            out.insert(out.end(), {p[2], p[1], p[0], s[0] < t.size() ? t[s[0]] : uint8_t(255)});
            break;
        }
        case 4: {
            const uint8_t g = eightBits(s[0], image.depth);
            out.insert(out.end(), {g, g, g, eightBits(s[1], image.depth)});
            break;
        }
        default:
            out.insert(out.end(), {eightBits(s[2], image.depth), eightBits(s[1], image.depth),
                                   eightBits(s[0], image.depth), eightBits(s[3], image.depth)});
        }
    }
    return out;
}

// A small valid PNG to break in the refusal tests: 8-bit RGBA, 9 x 7.
PngImage plainPng() {
    Rng rng(40);
    return randomPng({6, 8, false}, 9, 7, false, rng);
}

// The file with its one IDAT chunk's stream replaced (the chunk's CRC made right).
Bytes withStream(const PngImage& image, const Bytes& stream) {
    return assemblePng(image, stream, 1 << 20);
}

Bytes withHeader(PngImage image, void (*change)(Bytes&)) {
    Bytes stream = zlibCompress(pngFilteredRows(image));
    Bytes file = assemblePng(image, stream);
    Bytes header = pngHeaderData(image);
    change(header);
    Bytes chunk = pngChunk("IHDR", header);
    std::copy(chunk.begin(), chunk.end(), file.begin() + 8);
    return file;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// PNG
// ---------------------------------------------------------------------------------------

TEST(PngReader, EveryColourTypeAndDepthPlainAndInterlaced) {
    Rng rng(41);
    // Sizes where Adam7 passes are empty (1 x 1, 3 x 2) and where all are partial (13 x 11).
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {3, 2}, {13, 11}, {33, 5}};
    for (const PngCase& c : kPngCases)
        for (bool interlaced : {false, true})
            for (auto [w, h] : sizes) {
                SCOPED_TRACE(::testing::Message()
                             << "type " << int(c.colourType) << " depth " << int(c.depth)
                             << (c.transparency ? " tRNS" : "") << (interlaced ? " Adam7 " : " ")
                             << w << "x" << h);
                PngImage image = randomPng(c, w, h, interlaced, rng);
                Read read = readFile(writePngFile(image, 37));  // data over several IDAT chunks
                ASSERT_EQ(read.result.status, Status::ok);
                EXPECT_EQ(read.canvas.width, w);
                EXPECT_EQ(read.canvas.height, h);
                EXPECT_EQ(read.bytes(), expectedCanvas(image));
            }
}

TEST(PngReader, SixteenBitSamplesAreRoundedToEightBits) {
    // (v * 255 + 32767) / 65535: the halfway points between two 8-bit values.
    const std::pair<uint16_t, uint8_t> cases[] = {
        {0, 0},       {128, 0},     {129, 1},     {385, 1},     {386, 2},
        {32767, 127}, {32896, 128}, {65406, 254}, {65407, 255}, {65535, 255}};
    PngImage image;
    image.width = std::size(cases);
    image.height = 1;
    image.colourType = 0;
    image.depth = 16;
    for (auto [sample, eight] : cases) image.samples.push_back(sample);
    Read read = readFile(writePngFile(image));
    ASSERT_EQ(read.result.status, Status::ok);
    for (uint32_t x = 0; x < image.width; ++x)
        EXPECT_EQ(support::pixelAt(read.canvas, x, 0)[0], cases[x].second) << cases[x].first;
}

TEST(PngReader, RefusalsEachWithItsReason) {
    const PngImage image = plainPng();
    const Bytes rows = pngFilteredRows(image);
    const Bytes good = writePngFile(image);
    ASSERT_EQ(statusOf(good), Status::ok);
    auto flipped = [&](size_t at) {
        Bytes file = good;
        file[at] ^= 1;
        return file;
    };
    Bytes longer = rows;
    longer.push_back(0);
    Bytes badFilter = rows;
    badFilter[0] = 5;
    Bytes badAdler = zlibCompress(rows);
    badAdler.back() ^= 1;
    PngImage noPalette = image;
    noPalette.colourType = 3;
    noPalette.palette = {1, 2, 3, 4, 5, 6};  // two entries, rows index far beyond them
    Bytes cutIend(good.begin(), good.end() - 12);
    Bytes critical = good;
    Bytes unknown = pngChunk("ZZZZ", Bytes{1});
    critical.insert(critical.begin() + 33, unknown.begin(), unknown.end());
    Bytes ancillary = good;
    Bytes skipped = pngChunk("zzZZ", Bytes{1});
    ancillary.insert(ancillary.begin() + 33, skipped.begin(), skipped.end());

    const struct {
        const char* what;
        Bytes file;
        Status status;
    } cases[] = {
        {"signature only", Bytes(good.begin(), good.begin() + 8), Status::truncated},
        {"cut in IHDR", Bytes(good.begin(), good.begin() + 20), Status::truncated},
        {"cut in IDAT", Bytes(good.begin(), good.begin() + 60), Status::truncated},
        {"no IEND", cutIend, Status::truncated},
        {"IHDR CRC", flipped(30), Status::badChecksum},
        {"IDAT byte", flipped(45), Status::badChecksum},
        {"Adler-32", withStream(image, badAdler), Status::badChecksum},
        {"stream longer than the rows", withStream(image, zlibCompress(longer)),
         Status::damagedStream},
        {"stream shorter than the rows",
         withStream(image, zlibCompress(Bytes(rows.begin(), rows.end() - 1))),
         Status::damagedStream},
        {"not zlib", withStream(image, Bytes(40, 0xFF)), Status::damagedStream},
        {"filter 5", withStream(image, zlibCompress(badFilter)), Status::damagedPicture},
        {"palette index past the palette", writePngFile(noPalette), Status::damagedPicture},
        {"depth 3", withHeader(image, [](Bytes& h) { h[8] = 3; }), Status::damagedPicture},
        {"interlace 2", withHeader(image, [](Bytes& h) { h[12] = 2; }), Status::damagedPicture},
        {"width 0", withHeader(image, [](Bytes& h) { storeBe32(h.data(), 0); }),
         Status::emptyPicture},
        {"width 65,536", withHeader(image, [](Bytes& h) { storeBe32(h.data(), 65536); }),
         Status::pictureTooLarge},
        {"height 65,536", withHeader(image, [](Bytes& h) { storeBe32(h.data() + 4, 65536); }),
         Status::pictureTooLarge},
        {"65,535 x 65,535 from a few bytes",
         withHeader(image,
                    [](Bytes& h) {
                        storeBe32(h.data(), 65535);
                        storeBe32(h.data() + 4, 65535);
                    }),
         Status::truncated},
        {"unknown critical chunk", critical, Status::unsupportedPicture},
        {"unknown ancillary chunk", ancillary, Status::ok},
    };
    for (const auto& c : cases) {
        Read read = readFile(c.file);
        EXPECT_EQ(read.result.status, c.status) << c.what << ": " << statusName(read.result.status);
        if (c.status != Status::ok) {
            EXPECT_TRUE(read.canvas.pixels.empty()) << c.what;
        }
    }
}

TEST(PngReader, ZlibWorksInTheCallersAreaAndNeedsNoMore) {
    const Bytes file = writePngFile(plainPng());
    EXPECT_EQ(readFile(file, kPictureWorkSize).result.status, Status::ok);
    EXPECT_EQ(readFile(file, 1024).result.status, Status::outOfMemory);
}

// ---------------------------------------------------------------------------------------
// BMP
// ---------------------------------------------------------------------------------------

TEST(BmpReader, TheProgramsOwnBmpReadsBackOpaque) {
    for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 31u}) {
        TestPicture picture = makeNoisePicture(w, 3, w);
        Canvas canvas;
        ASSERT_EQ(canvasFromPicture(picture, canvas), Status::ok);
        Bytes bmp(bmpFileSize(w, 3));
        writeBmp(canvas, bmp);
        for (size_t i = 3; i < picture.bgra.size(); i += 4) picture.bgra[i] = 255;
        Read read = readFile(bmp);
        ASSERT_EQ(read.result.status, Status::ok) << w;
        EXPECT_EQ(read.bytes(), picture.bgra) << w;
    }
}

TEST(BmpReader, LayoutsOfOtherWriters) {
    const TestPicture picture = makeSpritePicture(7, 5, 3);  // soft alpha, transparent corners
    TestPicture opaque = picture;
    for (size_t i = 3; i < opaque.bgra.size(); i += 4) opaque.bgra[i] = 255;
    TestPicture clearAlpha = picture;
    for (size_t i = 3; i < clearAlpha.bgra.size(); i += 4) clearAlpha.bgra[i] = 0;
    auto layout = [](uint32_t infoSize, uint32_t compression, bool topDown,
                     std::array<uint32_t, 4> masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}) {
        BmpLayout l;
        l.infoSize = infoSize;
        l.compression = compression;
        l.topDown = topDown;
        std::copy(masks.begin(), masks.end(), l.masks);
        return l;
    };
    const struct {
        const char* what;
        const TestPicture& stored;
        BmpLayout layout;
        const TestPicture& expected;
    } cases[] = {
        {"32-bit BI_RGB", picture, layout(40, 0, false), picture},
        {"32-bit BI_RGB top-down", picture, layout(40, 0, true), picture},
        {"32-bit alpha all 0 is opaque", clearAlpha, layout(40, 0, false), opaque},
        {"BI_BITFIELDS after a 40-byte header, RGBA order", picture,
         layout(40, 3, false, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}), picture},
        {"V4 masks with alpha", picture, layout(108, 3, true, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}),
         picture},
        {"V5 alpha mask 0 is opaque", picture, layout(124, 3, false, {0xFF0000, 0xFF00, 0xFF, 0}),
         opaque},
        {"24-bit", picture,
         [] {
             BmpLayout l;
             l.depth = 24;
             return l;
         }(),
         opaque},
    };
    for (const auto& c : cases) {
        Read read = readFile(writeBmpFile(c.stored, c.layout));
        ASSERT_EQ(read.result.status, Status::ok) << c.what;
        EXPECT_EQ(read.bytes(), c.expected.bgra) << c.what;
    }
}

TEST(BmpReader, RefusalsEachWithItsReason) {
    const TestPicture picture = makeNoisePicture(6, 4, 9);
    const Bytes good = writeBmpFile(picture, {});
    auto changed = [&](size_t at, uint32_t value, bool wide = true) {
        Bytes file = good;
        wide ? storeLe32(file.data() + at, value) : storeLe16(file.data() + at, value);
        return file;
    };
    BmpLayout halfMask;
    halfMask.compression = 3;
    halfMask.masks[0] = 0xF00000;
    const PictureLimit none = PictureLimit::none;
    const struct {
        const char* what;
        Bytes file;
        Status status;
        PictureLimit limit;  // and the field's value, for a refusal
        uint32_t value;
    } cases[] = {
        {"cut in the header", Bytes(good.begin(), good.begin() + 30), Status::truncated, none, 0},
        {"cut in the rows", Bytes(good.begin(), good.end() - 1), Status::truncated, none, 0},
        {"pixel offset past the end", changed(10, 0xFFFFFFF0), Status::truncated, none, 0},
        {"pixel offset inside the header", changed(10, 20), Status::damagedPicture, none, 0},
        {"OS/2 header", changed(14, 12), Status::unsupportedPicture, PictureLimit::os2Header, 0},
        {"16-bit", changed(28, 16, false), Status::unsupportedPicture, PictureLimit::depth, 16},
        {"8-bit", changed(28, 8, false), Status::unsupportedPicture, PictureLimit::depth, 8},
        {"RLE", changed(30, 1), Status::unsupportedPicture, PictureLimit::compression, 1},
        {"mask of half a byte", writeBmpFile(picture, halfMask), Status::unsupportedPicture,
         PictureLimit::masks, 0},
        {"2 planes", changed(26, 2, false), Status::damagedPicture, none, 0},
        {"width 0", changed(18, 0), Status::emptyPicture, none, 0},
        {"width 65,536", changed(18, 65536), Status::pictureTooLarge, none, 0},
        {"height -65,536", changed(22, uint32_t(-65536)), Status::pictureTooLarge, none, 0},
        {"height of the lowest int", changed(22, 0x80000000), Status::pictureTooLarge, none, 0},
        {"65,535 x 65,535 from a few bytes", changed(22, 65535), Status::truncated, none, 0},
    };
    for (const auto& c : cases) {
        const PictureRead read = readFile(c.file).result;
        EXPECT_EQ(read.status, c.status) << c.what << ": " << statusName(read.status);
        EXPECT_EQ(read.format, PictureFormat::bmp) << c.what;
        EXPECT_EQ(read.limit, c.limit) << c.what;
        if (c.limit == PictureLimit::depth) {
            EXPECT_EQ(read.depth, c.value) << c.what;
        }
        if (c.limit == PictureLimit::compression) {
            EXPECT_EQ(read.compression, c.value) << c.what;
        }
    }
}

// ---------------------------------------------------------------------------------------
// PSD
// ---------------------------------------------------------------------------------------

TEST(PsdReader, TheProgramsOwnPsdReadsBackAsItsCanvas) {
    // Widths around the writer's raw fallback (below 4) and its 128-sample runs.
    for (PictureKind kind : {PictureKind::sprite, PictureKind::noise, PictureKind::flat})
        for (uint32_t w : {1u, 3u, 4u, 5u, 129u}) {
            TestPicture picture = makeTestPicture(kind, w, 6, w);
            Canvas canvas;
            ASSERT_EQ(canvasFromPicture(picture, canvas), Status::ok);
            Bytes psd(psdBound(w, 6));
            psd.resize(writePsd(canvas, psd));
            Read read = readFile(psd);
            ASSERT_EQ(read.result.status, Status::ok) << pictureKindName(kind) << " " << w;
            EXPECT_EQ(read.bytes(), picture.bgra) << pictureKindName(kind) << " " << w;
        }
}

TEST(PsdReader, OneLayerAtItsPlaceOrTheMergedImage) {
    const TestPicture picture = makeSpritePicture(10, 8, 5);
    // A 4 x 3 layer of the picture's region at (5, 4) in a document of 10 x 8; parts of it
    // outside the document in the other cases.
    auto layered = [&](int32_t left, int32_t top, bool transparency, uint8_t opacity, bool packed) {
        PsdDocument d;
        d.width = 10;
        d.height = 8;
        d.layerCountField = -1;
        PsdLayer layer{top, left, top + 3, left + 4, opacity, {}};
        if (transparency)
            layer.channels.push_back(
                {-1, psdChannelBlock(pictureChannel(picture, 3, 5, 4, 4, 3), 3, 4, packed)});
        layer.channels.push_back({-2, Bytes{0, 0, 9, 9, 9}});  // a mask: skipped by its length
        for (auto [id, byte] : {std::pair<int16_t, uint32_t>{0, 2}, {1, 1}, {2, 0}})
            layer.channels.push_back(
                {id, psdChannelBlock(pictureChannel(picture, byte, 5, 4, 4, 3), 3, 4, packed)});
        d.layers.push_back(layer);
        d.merged = psdChannelBlock(Bytes(3 * 80, 7), 24, 10, false);
        return d;
    };
    // The Canvas expected: the region's pixels at (left, top), alpha as the case sets it.
    auto placed = [&](int32_t left, int32_t top, bool transparency, uint8_t opacity) {
        Bytes out(10 * 8 * 4, 0);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 4; ++x) {
                const int32_t cx = left + x, cy = top + y;
                if (cx < 0 || cy < 0 || cx >= 10 || cy >= 8) continue;
                uint8_t* o = out.data() + 4 * (cy * 10 + cx);
                std::memcpy(o, picture.at(uint32_t(5 + x), uint32_t(4 + y)), 4);
                const uint32_t alpha = transparency ? o[3] : 255;
                o[3] = uint8_t((alpha * opacity + 127) / 255);
            }
        return out;
    };
    PsdDocument mergedOnly;
    mergedOnly.width = 10;
    mergedOnly.height = 8;
    mergedOnly.layerSection = false;
    mergedOnly.channelCount = 4;
    Bytes planes;
    for (uint32_t byte : {2u, 1u, 0u, 3u}) {
        Bytes p = pictureChannel(picture, byte, 0, 0, 10, 8);
        planes.insert(planes.end(), p.begin(), p.end());
    }
    mergedOnly.merged = psdChannelBlock(planes, 32, 10, true);
    PsdDocument mergedOpaque = mergedOnly;
    mergedOpaque.channelCount = 3;
    mergedOpaque.merged =
        psdChannelBlock(Bytes(planes.begin(), planes.begin() + 240), 24, 10, false);
    mergedOpaque.layerSection = true;  // a layer section with a count of 0
    TestPicture opaque = picture;
    for (size_t i = 3; i < opaque.bgra.size(); i += 4) opaque.bgra[i] = 255;

    const struct {
        const char* what;
        PsdDocument document;
        Bytes expected;
    } cases[] = {
        {"packed layer inside", layered(5, 4, true, 255, true), placed(5, 4, true, 255)},
        {"raw layer inside", layered(5, 4, true, 255, false), placed(5, 4, true, 255)},
        {"over the top left corner", layered(-2, -1, true, 255, true), placed(-2, -1, true, 255)},
        {"over the bottom right corner", layered(8, 6, true, 255, true), placed(8, 6, true, 255)},
        {"wholly outside", layered(40, 2, true, 255, true), placed(40, 2, true, 255)},
        {"no transparency channel", layered(5, 4, false, 255, true), placed(5, 4, false, 255)},
        {"opacity 128", layered(5, 4, true, 128, false), placed(5, 4, true, 128)},
        {"merged image with alpha", mergedOnly, picture.bgra},
        {"merged image without alpha", mergedOpaque, opaque.bgra},
    };
    for (const auto& c : cases) {
        Read read = readFile(writePsdFile(c.document));
        ASSERT_EQ(read.result.status, Status::ok)
            << c.what << ": " << statusName(read.result.status);
        EXPECT_EQ(read.canvas.width, 10u) << c.what;
        EXPECT_EQ(read.bytes(), c.expected) << c.what;
    }
}

TEST(PsdReader, RefusalsEachWithItsReason) {
    const TestPicture picture = makeNoisePicture(6, 4, 11);
    const PsdDocument good = oneLayerDocument(picture, true);
    ASSERT_EQ(statusOf(writePsdFile(good)), Status::ok);
    auto changed = [&](void (*change)(PsdDocument&)) {
        PsdDocument d = good;
        change(d);
        return writePsdFile(d);
    };
    const Bytes file = writePsdFile(good);
    const struct {
        const char* what;
        Bytes file;
        Status status;
        uint32_t layers;  // with severalLayers; with unsupportedPicture, the limit's value
    } cases[] = {
        {"3 layers", changed([](PsdDocument& d) { d.layerCountField = 3; }), Status::severalLayers,
         3},
        {"-2 layers", changed([](PsdDocument& d) { d.layerCountField = -2; }),
         Status::severalLayers, 2},
        {"-32,768 layers", changed([](PsdDocument& d) { d.layerCountField = -32768; }),
         Status::severalLayers, 32768},
        {"cut in the header", Bytes(file.begin(), file.begin() + 20), Status::truncated, 0},
        {"cut in the layer record", Bytes(file.begin(), file.begin() + 60), Status::truncated, 0},
        {"cut in the channels", Bytes(file.begin(), file.begin() + 150), Status::truncated, 0},
        {"PSB", changed([](PsdDocument& d) { d.version = 2; }), Status::unsupportedPicture, 2},
        {"version 3", changed([](PsdDocument& d) { d.version = 3; }), Status::damagedPicture, 0},
        {"16 bits", changed([](PsdDocument& d) { d.depth = 16; }), Status::unsupportedPicture, 16},
        {"CMYK", changed([](PsdDocument& d) { d.mode = 4; }), Status::unsupportedPicture, 4},
        {"grey of 16 bits", changed([](PsdDocument& d) { d.mode = 1, d.depth = 16; }),
         Status::unsupportedPicture, 16},
        {"bitmap", changed([](PsdDocument& d) { d.mode = 0, d.depth = 1; }),
         Status::unsupportedPicture, 0},
        {"channel compression 4",
         changed([](PsdDocument& d) { d.layers[0].channels[1].block[1] = 4; }),
         Status::unsupportedPicture, 4},
        {"row one sample too long", changed([](PsdDocument& d) {
             Bytes& b = d.layers[0].channels[0].block;
             b = psdChannelBlock(Bytes(4 * 7, 1), 4, 7, true);
         }),
         Status::damagedPicture, 0},
        {"raw channel one sample short", changed([](PsdDocument& d) {
             d.layers[0].channels[0].block = psdChannelBlock(Bytes(23, 1), 4, 6, false);
         }),
         Status::truncated, 0},
        {"layer bottom above its top", changed([](PsdDocument& d) { d.layers[0].bottom = -1; }),
         Status::damagedPicture, 0},
        {"width 0", changed([](PsdDocument& d) { d.width = 0; }), Status::emptyPicture, 0},
        {"width 65,536", changed([](PsdDocument& d) { d.width = 65536; }), Status::pictureTooLarge,
         0},
        {"2 channels", changed([](PsdDocument& d) { d.channelCount = 2; }), Status::damagedPicture,
         0},
    };
    for (const auto& c : cases) {
        Read read = readFile(c.file);
        EXPECT_EQ(read.result.status, c.status) << c.what << ": " << statusName(read.result.status);
        EXPECT_EQ(read.result.format, PictureFormat::psd) << c.what;
        if (c.status == Status::severalLayers) {
            EXPECT_EQ(read.result.layerCount, c.layers) << c.what;
        }
        // The field that refused it: the version, the depth, the mode, the compression.
        const PictureRead& r = read.result;
        switch (r.limit) {
        case PictureLimit::largeDocument: EXPECT_EQ(c.layers, 2u) << c.what; break;
        case PictureLimit::depth: EXPECT_EQ(r.depth, c.layers) << c.what; break;
        case PictureLimit::colourMode: EXPECT_EQ(r.colourMode, c.layers) << c.what; break;
        case PictureLimit::compression: EXPECT_EQ(r.compression, c.layers) << c.what; break;
        default: EXPECT_NE(c.status, Status::unsupportedPicture) << c.what;
        }
    }
}

TEST(PsdReader, GreyDocumentsReadAsTheirGreyInEveryColour) {
    // A grey document's layer (grey and transparency, or grey alone) and merged image (grey,
    // grey and alpha), in every compression: the grey is the picture's green.
    const TestPicture picture = makeSpritePicture(9, 7, 4);
    const uint32_t w = 9, h = 7;
    const Bytes grey = pictureChannel(picture, 1, 0, 0, w, h);
    const Bytes alpha = pictureChannel(picture, 3, 0, 0, w, h);
    auto block = [&](const Bytes& samples, uint32_t rows, int compression) {
        return compression < 2 ? psdChannelBlock(samples, rows, w, compression == 1)
                               : psdZipChannelBlock(samples, rows, w, compression == 3);
    };
    auto document = [&](int compression, bool layer, bool transparency) {
        PsdDocument d;
        d.mode = 1;
        d.width = w;
        d.height = h;
        Bytes merged = grey;
        if (transparency) merged.insert(merged.end(), alpha.begin(), alpha.end());
        d.channelCount = transparency ? 2 : 1;
        d.merged = block(merged, d.channelCount * h, compression);
        if (layer) {
            d.layerCountField = 1;
            PsdLayer record{0, 0, int32_t(h), int32_t(w), 255, {{0, block(grey, h, compression)}}};
            if (transparency) record.channels.push_back({-1, block(alpha, h, compression)});
            d.merged = psdChannelBlock(Bytes(h * w, 0), h, w, false);  // not read
            d.layers.push_back(record);
        } else {
            d.layerSection = false;
        }
        return d;
    };
    auto expected = [&](bool transparency) {
        Bytes out;
        for (uint32_t i = 0; i < w * h; ++i)
            out.insert(out.end(),
                       {grey[i], grey[i], grey[i], transparency ? alpha[i] : uint8_t(255)});
        return out;
    };
    for (int compression : {0, 1, 2, 3})
        for (bool layer : {true, false})
            for (bool transparency : {true, false}) {
                SCOPED_TRACE(std::to_string(compression) + (layer ? " layer" : " merged") +
                             (transparency ? " with alpha" : ""));
                const Read read =
                    readFile(writePsdFile(document(compression, layer, transparency)));
                ASSERT_EQ(read.result.status, Status::ok) << statusName(read.result.status);
                EXPECT_EQ(read.bytes(), expected(transparency));
            }

    // Several grey layers, as tavimore-pack packs them: each layer's own pixels.
    PsdDocument two = document(1, true, true);
    two.layers.push_back(two.layers[0]);
    two.layers[1].channels.pop_back();
    two.layerCountField = 2;
    const Bytes file = writePsdFile(two);
    Bytes work(kPictureWorkSize);
    PsdLayers layers;
    PictureFacts facts;
    ASSERT_EQ(readPsdLayers(file, work, layers, facts), Status::ok);
    ASSERT_EQ(layers.layers.size(), 2u);
    EXPECT_EQ(support::canvasBytes(layers.layers[0].pixels), expected(true));
    EXPECT_EQ(support::canvasBytes(layers.layers[1].pixels), expected(false));
}

TEST(PsdReader, ZipChannelsWithAndWithoutPrediction) {
    // A layer at (1, 2) inside the document, and the merged image alone, each with ZIP channels
    // (2, and 3: every row stored as differences from its left neighbour).
    const TestPicture picture = makeSpritePicture(13, 9, 12);
    for (int compression : {2, 3}) {
        SCOPED_TRACE(compression);
        PsdDocument d;
        d.width = 16;
        d.height = 12;
        d.layerCountField = -1;
        PsdLayer layer;
        layer.top = 2, layer.left = 1, layer.bottom = 11, layer.right = 14;
        for (auto [id, byte] : {std::pair<int16_t, uint32_t>{-1, 3}, {0, 2}, {1, 1}, {2, 0}})
            layer.channels.push_back(
                {id, psdZipChannelBlock(pictureChannel(picture, byte, 0, 0, 13, 9), 9, 13,
                                        compression == 3)});
        d.layers.push_back(layer);
        d.merged = psdChannelBlock(Bytes(3 * 16 * 12, 9), 36, 16, false);
        Read read = readFile(writePsdFile(d));
        ASSERT_EQ(read.result.status, Status::ok) << statusName(read.result.status);
        Bytes expected(16 * 12 * 4, 0);
        for (uint32_t y = 0; y < 9; ++y)
            std::memcpy(&expected[((y + 2) * 16 + 1) * 4], picture.at(0, y), 13 * 4);
        EXPECT_EQ(read.bytes(), expected);

        PsdDocument merged;
        merged.width = 13;
        merged.height = 9;
        merged.layerSection = false;
        merged.channelCount = 5;  // the fifth channel is read and dropped
        Bytes planes;
        for (uint32_t byte : {2u, 1u, 0u, 3u, 1u}) {
            Bytes p = pictureChannel(picture, byte, 0, 0, 13, 9);
            planes.insert(planes.end(), p.begin(), p.end());
        }
        merged.merged = psdZipChannelBlock(planes, 45, 13, compression == 3);
        read = readFile(writePsdFile(merged));
        ASSERT_EQ(read.result.status, Status::ok) << statusName(read.result.status);
        EXPECT_EQ(read.bytes(), picture.bgra);
    }

    // Streams that cannot be the channel's: each fails, and a small file cannot claim a large
    // layer before the Canvas is obtained.
    const Bytes samples = pictureChannel(picture, 2, 0, 0, 13, 9);
    auto withRed = [&](Bytes block, int32_t bottom = 9) {
        PsdDocument d = oneLayerDocument(picture, true);
        d.layers[0].channels[1].block = std::move(block);
        d.layers[0].bottom = bottom;
        return writePsdFile(d);
    };
    Bytes badAdler = psdZipChannelBlock(samples, 9, 13, false);
    badAdler.back() ^= 1;
    Bytes longer = samples;
    longer.push_back(1);
    Bytes zipped = psdZipChannelBlock(samples, 9, 13, false);
    const struct {
        const char* what;
        Bytes file;
        Status status;
    } cases[] = {
        {"Adler-32", withRed(badAdler), Status::badChecksum},
        {"one sample more", withRed(psdZipChannelBlock(longer, 1, uint32_t(longer.size()), false)),
         Status::damagedStream},
        {"one sample fewer",
         withRed(psdZipChannelBlock(Bytes(samples.begin(), samples.end() - 1), 1,
                                    uint32_t(samples.size() - 1), false)),
         Status::damagedStream},
        {"cut stream", withRed(Bytes(zipped.begin(), zipped.end() - 6)), Status::truncated},
        {"not zlib", withRed(Bytes{0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         Status::damagedStream},
        {"65,535 rows from a few bytes", withRed(zipped, 65535), Status::truncated},
    };
    for (const auto& c : cases) {
        Read read = readFile(c.file);
        EXPECT_EQ(read.result.status, c.status) << c.what << ": " << statusName(read.result.status);
        EXPECT_TRUE(read.canvas.pixels.empty()) << c.what;
    }
    PsdDocument zipLayer = oneLayerDocument(picture, true);
    zipLayer.layers[0].channels[1].block = zipped;
    EXPECT_EQ(readFile(writePsdFile(zipLayer), 1024).result.status, Status::outOfMemory);

    // A layer of no columns and 2^31 - 1 rows has no samples: nothing is read, at once (the
    // fuzzer's finding fuzz/findings/psd/timeout-a2e4...).
    for (int compression : {0, 2}) {
        PsdDocument empty = oneLayerDocument(picture, false);
        empty.layers[0].right = 0;
        empty.layers[0].bottom = INT32_MAX;
        for (PsdChannel& channel : empty.layers[0].channels)
            channel.block = compression == 0 ? Bytes{0, 0} : psdZipChannelBlock({}, 0, 0, false);
        Read read = readFile(writePsdFile(empty));
        ASSERT_EQ(read.result.status, Status::ok) << compression;
        EXPECT_EQ(read.bytes(), Bytes(13 * 9 * 4, 0)) << compression;
    }
}

TEST(PictureReader, ChoosesByTheSignature) {
    EXPECT_EQ(statusOf({}), Status::notPicture);
    EXPECT_EQ(statusOf({'G', 'I', 'F', '8', '9', 'a'}), Status::notPicture);
    EXPECT_EQ(statusOf({0x89, 'P', 'N', 'G', 13, 10, 26}), Status::notPicture);  // cut signature
    EXPECT_EQ(statusOf({'B', 'M'}), Status::truncated);
    EXPECT_EQ(statusOf({'8', 'B', 'P', 'S'}), Status::truncated);
    EXPECT_EQ(statusOf({0x89, 'P', 'N', 'G', 13, 10, 26, 10}), Status::truncated);
}
