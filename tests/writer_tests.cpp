// The output writers (BMP, PackBits, PSD, PNG, G00): BMP layout, PackBits blocks against the
// examples and a plain reference encoder, flattening on white, the PSD layout decoded back to the
// Canvas, PNG files inflated and unfiltered back to the Canvas, and G00 files written fresh or
// like an original, decoded back by the plain reference.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <tuple>
#include <cstring>
#include <vector>

#include "codec/g00.h"
#include "codec/g00_encode.h"
#include "codec/g00_regions.h"
#include "codec/internal/bmp_write.h"
#include "codec/internal/deflate_blocks.h"
#include "codec/internal/deflate_rows.h"
#include "codec/internal/g00_write.h"
#include "codec/internal/packbits.h"
#include "codec/internal/png_write.h"
#include "codec/internal/psd_write.h"
#include "common/bytes.h"
#include "tests/reference_codec.h"
#include "tests/test_support.h"
#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

using support::Rng;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le32(const Bytes& b, size_t at) { return loadLe32(b.data() + at); }
uint32_t le16(const Bytes& b, size_t at) { return loadLe16(b.data() + at); }
uint32_t be32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
uint32_t be16(const Bytes& b, size_t at) { return uint32_t(b[at]) << 8 | b[at + 1]; }

Canvas canvasOf(const TestPicture& picture) {
    Canvas canvas;
    EXPECT_EQ(canvasFromPicture(picture, canvas), Status::ok);
    return canvas;
}

Bytes writeBmpFile(const Canvas& canvas) {
    // Not zero: the writer puts down every byte of the file, padding included, since a run
    // gives it the block of an earlier output.
    Bytes out(bmpFileSize(canvas.width, canvas.height), 0xA5);
    uint32_t size = writeBmp(canvas, out);
    EXPECT_EQ(size, out.size());
    return out;
}

// ---- PackBits helpers ----

// Runs the encoder into a buffer of exactly packBitsBound bytes (a write past it is caught by
// ASan and by the guard) and returns the block it reports.
Bytes pack(const uint8_t* source, uint32_t stride, uint32_t rows, uint32_t width) {
    const size_t bound = packBitsBound(rows, width);
    Bytes space(bound + 16, 0xA5);
    uint32_t length = packBitsChannel(source, stride, rows, width, space.data());
    for (size_t i = bound; i < space.size(); ++i)
        EXPECT_EQ(space[i], 0xA5) << "written past the bound";
    EXPECT_LE(length, packBitsRawSize(rows, width));
    return Bytes(space.begin(), space.begin() + std::min<size_t>(length, bound));
}

Bytes packRows(const std::vector<Bytes>& rows) {
    Bytes samples;
    for (const Bytes& r : rows) samples.insert(samples.end(), r.begin(), r.end());
    return pack(samples.data(), 1, uint32_t(rows.size()),
                uint32_t(rows.empty() ? 0 : rows[0].size()));
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A row with no three equal neighbours: 0, 1, 2, ... 255, 0, 1, ...
Bytes noRepeats(size_t n, uint8_t start = 0) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(start + i);
    return v;
}

// ---- PSD parsing ----

struct PsdFile {
    Bytes bytes;
    uint32_t channelLength[4] = {};
    Bytes channel[4];  // decoded samples: alpha, red, green, blue
    size_t globalMask = 0;
    Bytes merged;  // decoded merged image: 4H rows
    size_t end = 0;
};

// The header and the layer record of a one-layer file, before the layer's channel blocks.
constexpr size_t kOneLayerHeader = 178;

// tasks 2: the merged image's colour rows packed apart, as on a second thread.
PsdFile writeAndParsePsd(const Canvas& canvas, uint32_t tasks = 1) {
    PsdFile f;
    const uint32_t w = canvas.width, h = canvas.height;
    f.bytes.assign(psdBound(w, h), 0xCC);  // exactly the documented size
    Bytes second(tasks == 2 ? psdSecondBound(w, h) : 0, 0x3C);
    uint32_t size = writePsd(canvas, f.bytes, second, Parallel{tasks, {}});
    EXPECT_GT(size, 0u);
    f.bytes.resize(size);
    size_t at = kOneLayerHeader;
    for (int c = 0; c < 4; ++c) {
        f.channelLength[c] = be32(f.bytes, 64 + 6 * c);
        uint64_t length = ref::unpackBitsBlock(f.bytes, at, h, w, f.channel[c]);
        EXPECT_EQ(length, f.channelLength[c]) << "channel " << c;
        at += f.channelLength[c];
    }
    f.globalMask = at;
    at += 4;
    uint64_t merged = ref::unpackBitsBlock(f.bytes, at, 4 * h, w, f.merged);
    EXPECT_GT(merged, 0u);
    f.end = at + merged;
    EXPECT_EQ(f.end, size);
    return f;
}

Bytes canvasChannel(const Canvas& canvas, int byte) {
    Bytes v;
    for (size_t i = byte; i < canvas.pixels.size(); i += 4) v.push_back(canvas.pixels.data()[i]);
    return v;
}

Bytes expectedMerged(const Canvas& canvas) {
    const size_t n = size_t(canvas.width) * canvas.height;
    Bytes v(4 * n);
    const uint8_t* p = canvas.pixels.data();
    for (size_t i = 0; i < n; ++i) {
        uint8_t a = p[4 * i + 3];
        v[i] = ref::flatten(p[4 * i + 2], a);
        v[n + i] = ref::flatten(p[4 * i + 1], a);
        v[2 * n + i] = ref::flatten(p[4 * i + 0], a);
        v[3 * n + i] = a;
    }
    return v;
}

// ---- PNG parsing ----

struct PngFile {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0, interlace = 0;
    uint32_t idatChunks = 0;
    Bytes rows;    // the inflated stream: filter byte and filtered pixels of each row
    Bytes pixels;  // unfiltered R, G, B(, A)
    std::vector<uint8_t> filters;
};

uint8_t plainPaeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Byte i of a row filtered with type f, from the unfiltered row and the one above.
uint8_t plainFilter(int f, const uint8_t* x, const uint8_t* above, size_t i, size_t bpp) {
    const int a = i >= bpp ? x[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
    const int predictor = f == 0   ? 0
                          : f == 1 ? a
                          : f == 2 ? b
                          : f == 3 ? (a + b) / 2
                                   : plainPaeth(a, b, c);
    return uint8_t(x[i] - predictor);
}

// Walks the chunks (every CRC checked), inflates the IDATs as one zlib stream (its Adler-32
// checked by inflate) and undoes the filters. Also checks that each row's filter is the first
// of the five with the smallest sum of magnitudes.
PngFile readPng(const Bytes& file) {
    PngFile png;
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    EXPECT_TRUE(file.size() > 8 && std::memcmp(file.data(), signature, 8) == 0);
    Bytes stream;
    std::vector<std::string> order;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = be32(file, at);
        if (at + 12 + length > file.size()) break;
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        EXPECT_EQ(be32(file, at + 8 + length),
                  uint32_t(crc32_z(0, file.data() + at + 4, length + 4)))
            << type << " at " << at;
        if (type == "IHDR") {
            EXPECT_EQ(length, 13u);
            png.width = be32(file, at + 8);
            png.height = be32(file, at + 12);
            png.depth = file[at + 16];
            png.colourType = file[at + 17];
            EXPECT_EQ(file[at + 18], 0);
            EXPECT_EQ(file[at + 19], 0);
            png.interlace = file[at + 20];
        } else if (type == "IDAT") {
            ++png.idatChunks;
            stream.insert(stream.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        }
        if (order.empty() || order.back() != type) order.push_back(type);
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size()) << "chunks end at the end of the file";
    EXPECT_EQ(order, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    const size_t bpp = png.colourType == 6 ? 4 : 3;
    const size_t rowSize = 1 + bpp * png.width;
    png.rows.assign(rowSize * png.height + 1, 0);  // a byte more: inflate must end before it
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    z.next_in = stream.data();
    z.avail_in = uInt(stream.size());
    z.next_out = png.rows.data();
    z.avail_out = uInt(png.rows.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << (z.msg ? z.msg : "");
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the zlib stream";
    EXPECT_EQ(z.total_out, rowSize * png.height);
    inflateEnd(&z);
    png.rows.resize(rowSize * png.height);

    png.pixels.assign(bpp * png.width * png.height, 0);
    const Bytes zeros(rowSize, 0);
    for (size_t y = 0; y < png.height; ++y) {
        const uint8_t* in = png.rows.data() + y * rowSize;
        uint8_t* x = png.pixels.data() + y * (rowSize - 1);
        const uint8_t* above = y > 0 ? x - (rowSize - 1) : zeros.data();
        const int f = in[0];
        png.filters.push_back(in[0]);
        if (f > 4) {
            ADD_FAILURE() << "filter " << f << " in row " << y;
            return png;
        }
        for (size_t i = 0; i < rowSize - 1; ++i) {
            const int a = i >= bpp ? x[i - bpp] : 0, b = above[i],
                      c = i >= bpp ? above[i - bpp] : 0;
            const int predictor = f == 0   ? 0
                                  : f == 1 ? a
                                  : f == 2 ? b
                                  : f == 3 ? (a + b) / 2
                                           : plainPaeth(a, b, c);
            x[i] = uint8_t(in[1 + i] + predictor);
        }
        uint64_t sums[5] = {};
        for (int g = 0; g < 5; ++g)
            for (size_t i = 0; i < rowSize - 1; ++i) {
                const uint8_t v = plainFilter(g, x, above, i, bpp);
                sums[g] += v < 128 ? v : 256 - v;
            }
        // A smooth band's rows are all filtered up.
        if (f != 2) {
            EXPECT_EQ(size_t(f), size_t(std::min_element(sums, sums + 5) - sums)) << "row " << y;
        }
    }
    return png;
}

// The Canvas as PNG samples: R, G, B and, for RGBA, its own alpha.
Bytes pngSamples(const Canvas& canvas, PngColour colour) {
    Bytes v;
    const uint8_t* p = canvas.pixels.data();
    for (size_t i = 0; i < canvas.pixels.size(); i += 4) {
        v.insert(v.end(), {p[i + 2], p[i + 1], p[i]});
        if (colour == PngColour::rgba) v.push_back(p[i + 3]);
    }
    return v;
}

// Writes into buffers of exactly the documented sizes, followed by guard bytes.
// tasks above 1: the tasks run one after another from the last, so that the bands are
// compressed in another order than the file's.
Bytes writePngFile(const Canvas& canvas, PngColour colour, uint32_t tasks = 1) {
    const size_t bound = pngBound(canvas.width, canvas.height, colour);
    const size_t workSize = tasks * pngWorkSize(canvas.width, colour);
    Bytes out(bound + 16, 0xA5), work(workSize + 16, 0x5A);
    const Parallel lastFirst{tasks, [](uint32_t count, const std::function<void(uint32_t)>& task) {
                                 for (uint32_t i = count; i-- > 0;) task(i);
                             }};
    const uint32_t size =
        writePng(canvas, colour, {work.data(), workSize}, {out.data(), bound}, lastFirst);
    EXPECT_GT(size, 0u);
    EXPECT_LE(size, bound);
    for (size_t i = bound; i < out.size(); ++i) EXPECT_EQ(out[i], 0xA5) << "written past the bound";
    for (size_t i = workSize; i < work.size(); ++i)
        EXPECT_EQ(work[i], 0x5A) << "written past the work area";
    out.resize(std::min<size_t>(size, bound));
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// BMP
// ---------------------------------------------------------------------------------------

TEST(Bmp, HeaderAgreesWithThePictureAndTheFile) {
    // Read as a reader would: the sizes and offsets must lead to the rows that hold the picture.
    for (auto [w, h] : {std::pair{1u, 1u}, {2u, 3u}, {3u, 2u}, {4u, 1u}, {7u, 3u}, {33u, 5u}}) {
        TestPicture picture = makeNoisePicture(w, h, w + h);
        Bytes bmp = writeBmpFile(canvasOf(picture));
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        ASSERT_GE(bmp.size(), 54u);
        EXPECT_EQ(Bytes(bmp.begin(), bmp.begin() + 2), (Bytes{'B', 'M'}));
        EXPECT_EQ(le32(bmp, 2), bmp.size());
        EXPECT_EQ(int32_t(le32(bmp, 18)), int32_t(w));
        EXPECT_EQ(int32_t(le32(bmp, 22)), int32_t(h));  // positive: bottom-up
        EXPECT_EQ(le16(bmp, 28), 24u);
        EXPECT_EQ(le32(bmp, 30), 0u);  // uncompressed
        const size_t stride = (size_t(w) * 3 + 3) / 4 * 4;
        ASSERT_EQ(bmp.size(), le32(bmp, 10) + stride * h);
        const uint8_t* top = picture.at(w - 1, 0);
        const uint8_t* stored = bmp.data() + le32(bmp, 10) + stride * (h - 1) + 3 * (w - 1);
        EXPECT_EQ(Bytes(stored, stored + 3), Bytes(top, top + 3));
    }
}

TEST(Bmp, WidthOneRowsArePaddedWithOneZeroByte) {
    TestPicture picture = makeNoisePicture(1, 3, 2);
    Canvas canvas = canvasOf(picture);
    Bytes bmp = writeBmpFile(canvas);
    ASSERT_EQ(bmp.size(), 54u + 4 * 3);
    for (uint32_t k = 0; k < 3; ++k) {  // file row k is Canvas row 2 - k
        const uint8_t* p = picture.at(0, 2 - k);
        EXPECT_EQ(Bytes(bmp.begin() + 54 + 4 * k, bmp.begin() + 58 + 4 * k),
                  (Bytes{p[0], p[1], p[2], 0}))
            << k;
    }
}

TEST(Bmp, WidthFourHasNoRowEndBytes) {
    TestPicture picture = makeNoisePicture(4, 2, 3);
    Canvas canvas = canvasOf(picture);
    Bytes bmp = writeBmpFile(canvas);
    ASSERT_EQ(bmp.size(), 54u + 12 * 2);
    Bytes expected;
    for (int row : {1, 0})
        for (uint32_t x = 0; x < 4; ++x)
            expected.insert(expected.end(), picture.at(x, row), picture.at(x, row) + 3);
    EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), expected);
}

TEST(Bmp, RowsBottomUpAlphaDroppedPaddingZeroAtEveryWidth) {
    Rng rng(5);
    for (uint32_t w = 1; w <= 40; ++w) {
        uint32_t h = rng.between(1, 6);
        TestPicture picture = makeNoisePicture(w, h, w);
        Canvas canvas = canvasOf(picture);
        Bytes bmp = writeBmpFile(canvas);
        const size_t s = (3 * w + 3) & ~size_t(3);
        ASSERT_EQ(bmp.size(), s * h + 54);
        for (uint32_t k = 0; k < h; ++k) {
            const uint8_t* row = bmp.data() + 54 + k * s;
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = picture.at(x, h - 1 - k);
                ASSERT_EQ(Bytes(row + 3 * x, row + 3 * x + 3), Bytes(p, p + 3))
                    << w << " " << k << " " << x;
            }
            for (size_t b = 3 * w; b < s; ++b) ASSERT_EQ(row[b], 0) << "row-end byte, width " << w;
        }
        // The top-left pixel sits at 54 + (H - 1) * S.
        EXPECT_EQ(bmp[54 + (h - 1) * s], picture.bgra[0]);
    }
}

TEST(Bmp, TransparentPixelsKeepTheirColour) {
    TestPicture picture = makeNoisePicture(5, 2, 6);
    for (size_t i = 3; i < picture.bgra.size(); i += 4) picture.bgra[i] = 0;
    Canvas canvas = canvasOf(picture);
    Bytes bmp = writeBmpFile(canvas);
    EXPECT_EQ(Bytes(bmp.begin() + 54 + 16, bmp.begin() + 54 + 19),
              Bytes(picture.bgra.begin(), picture.bgra.begin() + 3));
}

TEST(Bmp, TooSmallBufferWritesNothing) {
    Canvas canvas = canvasOf(makeNoisePicture(3, 3, 7));
    Bytes out(bmpFileSize(3, 3) - 1, 0);
    EXPECT_EQ(writeBmp(canvas, out), 0u);
    EXPECT_EQ(out, Bytes(out.size(), 0));
}

// ---------------------------------------------------------------------------------------
// PackBits
// ---------------------------------------------------------------------------------------

TEST(PackBits, WidthThreeOrLessIsRawWhateverTheData) {
    for (uint32_t w = 1; w <= 3; ++w) {
        Bytes same(5 * w, 9);
        EXPECT_EQ(pack(same.data(), 1, 5, w), concat({{0, 0}, same})) << w;
        Bytes stride4(4 * 5 * w);
        for (size_t i = 0; i < stride4.size(); ++i) stride4[i] = uint8_t(i % 4 == 1 ? 7 : i);
        EXPECT_EQ(pack(stride4.data() + 1, 4, 5, w), concat({{0, 0}, Bytes(5 * w, 7)})) << w;
    }
}

TEST(PackBits, WidthFourAlwaysEndsRaw) {
    Rng rng(8);
    for (uint32_t rows : {1u, 2u, 3u, 10u, 100u}) {
        Bytes same(4 * rows, 0x42);
        EXPECT_EQ(pack(same.data(), 1, rows, 4), concat({{0, 0}, same})) << rows;
        Bytes noise = rng.bytes(4 * rows);
        EXPECT_EQ(pack(noise.data(), 1, rows, 4), concat({{0, 0}, noise})) << rows;
    }
    EXPECT_EQ(packRows({{1, 2, 3, 4}}), (Bytes{0, 0, 1, 2, 3, 4}));
}

TEST(PackBits, RunsOf128And129EqualSamples) {
    EXPECT_EQ(packRows({Bytes(128, 0x5A)}), (Bytes{0, 1, 0, 2, 0x81, 0x5A}));
    EXPECT_EQ(packRows({Bytes(129, 0x5A)}), (Bytes{0, 1, 0, 4, 0x81, 0x5A, 0x00, 0x5A}));
    // 130: a run of 128, then 2 equal samples are literals; 131: two runs.
    EXPECT_EQ(packRows({Bytes(130, 7)}), (Bytes{0, 1, 0, 5, 0x81, 7, 0x01, 7, 7}));
    EXPECT_EQ(packRows({Bytes(131, 7)}), (Bytes{0, 1, 0, 4, 0x81, 7, 0xFE, 7}));
}

TEST(PackBits, RowExamples) {
    // Each example followed by a run that keeps the block packed.
    const Bytes tail(120, 0xEE);
    const Bytes tailRun = {0x89, 0xEE};  // 257 - 120
    Bytes block =
        packRows({concat({{1, 1, 2, 3}, tail}), concat({{5, 6, 6, 6, 6}, Bytes(119, 0xEE)}),
                  concat({{7, 7, 8}, Bytes(121, 0xEE)})});
    Bytes row0 = concat({{0x03, 1, 1, 2, 3}, tailRun});
    Bytes row1 = concat({{0x00, 5, 0xFD, 6}, {0x8A, 0xEE}});
    Bytes row2 = concat({{0x02, 7, 7, 8}, {0x88, 0xEE}});
    EXPECT_EQ(
        block,
        concat({{0, 1, 0, uint8_t(row0.size()), 0, uint8_t(row1.size()), 0, uint8_t(row2.size())},
                row0,
                row1,
                row2}));
}

TEST(PackBits, OneHundredThirtyLiterals) {
    // Row 0: 130 samples without three equal neighbours; row 1 keeps the block packed.
    Bytes lit = noRepeats(130);
    Bytes block = packRows({lit, Bytes(130, 3)});
    Bytes row0 =
        concat({{0x7F}, Bytes(lit.begin(), lit.begin() + 128), {0x01, lit[128], lit[129]}});
    Bytes row1 = {0x81, 3, 0x01, 3, 3};
    EXPECT_EQ(block,
              concat({{0, 1, 0, uint8_t(row0.size()), 0, uint8_t(row1.size())}, row0, row1}));
    EXPECT_EQ(row0.size(), 132u);
}

TEST(PackBits, TheRowThatReachesTheRawSizeMakesTheBlockRaw) {
    // One row of 8: 2 table bytes + 6 packed bytes = 8 = the raw size: raw.
    Bytes reach = {1, 2, 3, 4, 4, 4, 4, 4};
    EXPECT_EQ(packRows({reach}), concat({{0, 0}, reach}));
    // One packed byte less stays packed: 2 + 5 = 7.
    Bytes below = {1, 2, 4, 4, 4, 4, 4, 4};
    EXPECT_EQ(packRows({below}), (Bytes{0, 1, 0, 5, 0x01, 1, 2, 0xFB, 4}));
    // Two rows of 8: row 0 fits (4 + 9 < 16), row 1 reaches it: the whole block goes raw,
    // written over the table and the packed bytes of row 0.
    Bytes a = noRepeats(8, 10), b = noRepeats(8, 40);
    EXPECT_EQ(packRows({a, b}), concat({{0, 0}, a, b}));
    // Many rows: the fallback comes at the last row.
    std::vector<Bytes> rows(9, Bytes(8, 1));
    rows.push_back(noRepeats(8));
    EXPECT_EQ(packRows(rows).size(), 2u + 2 * 10 + 9 * 2 + 9);
    for (int i = 0; i < 30; ++i) rows.push_back(noRepeats(8, uint8_t(i)));
    Bytes raw = {0, 0};
    for (const Bytes& r : rows) raw.insert(raw.end(), r.begin(), r.end());
    EXPECT_EQ(packRows(rows), raw);
}

TEST(PackBits, StrideFourRawSamplesAreEveryFourthByte) {
    Rng rng(9);
    const uint32_t w = 6, h = 3;
    Bytes pixels = rng.bytes(4 * w * h);
    for (int channel = 0; channel < 4; ++channel) {
        Bytes expected = {0, 0};
        for (size_t i = channel; i < pixels.size(); i += 4) expected.push_back(pixels[i]);
        EXPECT_EQ(pack(pixels.data() + channel, 4, h, w), expected) << channel;
    }
    // And packed: a channel of runs in every fourth byte.
    Bytes runs(4 * 200 * 2);
    for (size_t i = 0; i < runs.size(); ++i) runs[i] = i % 4 == 2 ? 0x66 : uint8_t(i);
    EXPECT_EQ(pack(runs.data() + 2, 4, 2, 200),
              (Bytes{0, 1, 0, 4, 0, 4, 0x81, 0x66, 0xB9, 0x66, 0x81, 0x66, 0xB9, 0x66}));
}

TEST(PackBits, PackedRowLongerThan65535BytesIsStoredRaw) {
    // Row 0 incompressible, row 1 all equal: the block would stay below the raw size.
    for (uint32_t stride : {1u, 4u}) {
        for (uint32_t w : {65026u, 65027u, 65535u}) {
            Bytes samples(uint64_t(2) * w * stride, 0);
            for (uint32_t j = 0; j < w; ++j) samples[uint64_t(j) * stride] = uint8_t(j);
            for (uint32_t j = 0; j < w; ++j) samples[(uint64_t(w) + j) * stride] = 0x11;
            Bytes block = pack(samples.data(), stride, 2, w);
            const uint64_t packedRow0 = w + (w + 127) / 128;
            if (packedRow0 <= 0xFFFF) {
                ASSERT_EQ(block[1], 1) << w;
                EXPECT_EQ(be16(block, 2), packedRow0) << w;
                EXPECT_EQ(block, ref::packBitsChannel(samples.data(), stride, 2, w));
            } else {
                ASSERT_EQ(block.size(), 2 + 2 * uint64_t(w)) << w;
                EXPECT_EQ(be16(block, 0), 0u) << w;
                for (uint32_t j = 0; j < w; ++j) ASSERT_EQ(block[2 + j], uint8_t(j));
                for (uint32_t j = 0; j < w; ++j) ASSERT_EQ(block[2 + w + j], 0x11);
            }
        }
    }
}

TEST(PackBits, RowsWiderThanACanvasAreStoredRaw) {
    // A Canvas is at most 65,535 wide; a wider row, even one that would pack to two bytes, is
    // stored raw rather than given larger scratch.
    Bytes samples(65536, 0x42);
    Bytes block = pack(samples.data(), 1, 1, 65536);
    ASSERT_EQ(block.size(), 2u + 65536u);
    EXPECT_EQ(be16(block, 0), 0u);
    EXPECT_EQ(pack(samples.data(), 1, 1, 65535).size(), 2u + 2u + 2u * 512u);
}

TEST(PackBits, FastEncoderMatchesThePlainReference) {
    Rng rng(10);
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 140; ++w) widths.push_back(w);
    for (uint32_t w : {200u, 255u, 256u, 257u, 383u, 384u, 385u, 1000u, 4099u}) widths.push_back(w);
    for (uint32_t w : widths) {
        for (int trial = 0; trial < 6; ++trial) {
            const uint32_t rows = rng.between(1, 6);
            const uint32_t stride = trial % 2 == 0 ? 1 : 4;
            Bytes samples(size_t(rows) * w * stride);
            const int flavour = trial / 2 + int(rng.below(3));
            uint32_t runLeft = 0;
            uint8_t runValue = 0;
            for (size_t i = 0; i < samples.size(); ++i) {
                if (stride == 4 && rng.chance(2)) {  // bytes of the other channels
                    samples[i] = rng.byte();
                    continue;
                }
                switch (flavour % 5) {
                case 0: samples[i] = rng.byte(); break;  // noise
                case 1:
                    samples[i] = rng.chance(6) ? rng.byte() : (i ? samples[i - 1] : 0);
                    break;                                          // runs
                case 2: samples[i] = uint8_t(rng.below(3)); break;  // few values
                case 3:
                    samples[i] = rng.chance(40) ? rng.byte() : uint8_t(i / stride / 50);
                    break;  // long runs
                default:    // runs of up to 300 (cut at 128 with every remainder) between literals
                    if (runLeft == 0) {
                        runLeft = rng.chance(2) ? rng.between(1, 300) : rng.between(1, 40);
                        runValue = rng.byte();
                    }
                    --runLeft;
                    samples[i] = runLeft % 2 == 0 && rng.chance(3) ? rng.byte() : runValue;
                    if (runLeft > 20) samples[i] = runValue;
                }
            }
            // A stride-4 channel starts at any of the four bytes of a pixel.
            const uint32_t offset = stride == 4 ? rng.below(4) : 0;
            Bytes block = pack(samples.data() + offset, stride, rows, w);
            ASSERT_EQ(block, ref::packBitsChannel(samples.data() + offset, stride, rows, w))
                << "width " << w << " rows " << rows << " stride " << stride << " flavour "
                << flavour;
            // And what it writes decodes back to the samples.
            Bytes decoded;
            ASSERT_EQ(ref::unpackBitsBlock(block, 0, rows, w, decoded), block.size());
            for (size_t k = 0; k < decoded.size(); ++k)
                ASSERT_EQ(decoded[k], samples[offset + k * stride]);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Flattening and the PSD file
// ---------------------------------------------------------------------------------------

TEST(Flatten, EveryColourAndAlphaAgainstThePlainFormula) {
    // Pixel (c, a): blue c, green 255 - c, red c ^ 0x5A, alpha a.
    TestPicture picture;
    picture.width = 256;
    picture.height = 256;
    picture.bgra.resize(256 * 256 * 4);
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t c = 0; c < 256; ++c) {
            uint8_t* p = picture.at(c, a);
            p[0] = uint8_t(c);
            p[1] = uint8_t(255 - c);
            p[2] = uint8_t(c ^ 0x5A);
            p[3] = uint8_t(a);
        }
    Canvas canvas = canvasOf(picture);
    const Bytes planes = writeAndParsePsd(canvas).merged;
    const size_t n = 65536;
    auto formula = [](uint32_t c, uint32_t a) { return uint8_t((c * a + (255 - a) * 255) / 255); };
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t c = 0; c < 256; ++c) {
            const size_t i = a * 256 + c;
            ASSERT_EQ(planes[i], formula(c ^ 0x5A, a)) << "red c=" << c << " a=" << a;
            ASSERT_EQ(planes[n + i], formula(255 - c, a)) << "green c=" << c << " a=" << a;
            ASSERT_EQ(planes[2 * n + i], formula(c, a)) << "blue c=" << c << " a=" << a;
            ASSERT_EQ(planes[3 * n + i], a);
        }
}

TEST(Flatten, SpecialCasesAndTheExample) {
    TestPicture picture;
    picture.width = 4;
    picture.height = 1;
    picture.bgra = {10, 20, 30, 0, 10, 20, 30, 255, 200, 200, 200, 128, 0, 0, 0, 1};
    Canvas canvas = canvasOf(picture);
    EXPECT_EQ(writeAndParsePsd(canvas).merged,
              (Bytes{255, 30, 227, 254, 255, 20, 227, 254, 255, 10, 227, 254, 0, 255, 128, 1}));
}

TEST(Psd, ChannelBlocksDecodeToTheCanvas) {
    // In one piece and in two tasks. Besides the kinds of picture: noise in the colours only
    // (the layer's colour blocks go raw), and alpha rows that open with a run of 6 then noise,
    // packing just below their raw size, so that the merged block goes raw only once its alpha
    // rows are counted (rows that would not fit the buffer if they were copied first).
    std::vector<std::pair<std::string, TestPicture>> pictures;
    for (PictureKind kind : kAllPictureKinds)
        for (auto [w, h] :
             {std::pair{1u, 1u}, {3u, 7u}, {4u, 4u}, {5u, 2u}, {64u, 40u}, {301u, 17u}})
            pictures.emplace_back(pictureKindName(kind), makeTestPicture(kind, w, h, w * h));
    TestPicture colourNoise = makeFlatPicture(1000, 3, 5);
    for (uint32_t i = 0; i < 3000; ++i)
        colourNoise.bgra[4 * i + 1] = uint8_t(i * 2654435761u >> 24);
    pictures.emplace_back("colour noise", colourNoise);
    TestPicture alphaRuns = makeNoisePicture(100, 100, 5);
    for (uint32_t y = 0; y < 100; ++y)
        for (uint32_t x = 0; x < 6; ++x) alphaRuns.at(x, y)[3] = 200;
    pictures.emplace_back("alpha runs", alphaRuns);
    // Opaque but for one pixel, among the first or as the very last: flattened, unlike the rest.
    for (auto [x, y] : {std::pair{7u, 9u}, {300u, 16u}}) {
        TestPicture nearlyOpaque = makePhotoPicture(301, 17, 6);
        nearlyOpaque.at(x, y)[3] = 128;
        pictures.emplace_back("opaque but one pixel", nearlyOpaque);
    }
    // Opaque noise whose packed rows pass the 65,535 bytes a length slot holds: no block packs.
    TestPicture wideNoise = makeNoisePicture(65535, 2, 7);
    for (size_t i = 3; i < wideNoise.bgra.size(); i += 4) wideNoise.bgra[i] = 255;
    pictures.emplace_back("wide opaque noise", wideNoise);
    for (const auto& [name, picture] : pictures) {
        for (uint32_t tasks : {1u, 2u}) {
            const char* kind = name.c_str();
            const uint32_t w = picture.width, h = picture.height;
            Canvas canvas = canvasOf(picture);
            PsdFile f = writeAndParsePsd(canvas, tasks);
            const int bytes[4] = {3, 2, 1, 0};  // alpha, red, green, blue
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(f.channel[c], canvasChannel(canvas, bytes[c]))
                    << kind << " channel " << c;
            EXPECT_EQ(f.merged.size(), 4u * w * h) << "4H rows of W";
            EXPECT_EQ(f.merged, expectedMerged(canvas)) << kind;
            // Each block is exactly what the encoder makes of its samples.
            size_t at = kOneLayerHeader;
            for (int c = 0; c < 4; ++c) {
                Bytes block = ref::packBitsChannel(canvas.pixels.data() + bytes[c], 4, h, w);
                EXPECT_EQ(Bytes(f.bytes.begin() + at, f.bytes.begin() + at + f.channelLength[c]),
                          block);
                at += f.channelLength[c];
            }
            Bytes merged = expectedMerged(canvas);
            Bytes block = ref::packBitsChannel(merged.data(), 1, 4 * h, w);
            EXPECT_EQ(Bytes(f.bytes.begin() + at + 4, f.bytes.end()), block)
                << kind << " in " << tasks;
            if (w >= 64 && name == "flat") {
                EXPECT_EQ(be16(f.bytes, at + 4), 1u) << "merged image packed, one table of 4H rows";
            }
        }
    }
}

TEST(Psd, FullyTransparentCanvasFlattensToWhite) {
    TestPicture picture = makeNoisePicture(9, 5, 13);
    for (size_t i = 3; i < picture.bgra.size(); i += 4) picture.bgra[i] = 0;
    Canvas canvas = canvasOf(picture);
    PsdFile f = writeAndParsePsd(canvas);
    const size_t n = 45;
    EXPECT_EQ(Bytes(f.merged.begin(), f.merged.begin() + 3 * n), Bytes(3 * n, 255));
    EXPECT_EQ(Bytes(f.merged.begin() + 3 * n, f.merged.end()), Bytes(n, 0));
    EXPECT_EQ(f.channel[1], canvasChannel(canvas, 2)) << "the layer keeps the colour bytes";
    EXPECT_EQ(f.channel[0], Bytes(n, 0));
}

TEST(Psd, BuffersPriorContentsDoNotReachTheFile) {
    // Buffers that held another picture, or any bytes, give the same file: packed, stored raw
    // (noise), too narrow to pack, on one task or two.
    for (const TestPicture& picture :
         {makeSpritePicture(61, 13, 2), makeNoisePicture(40, 9, 3), makeSpritePicture(3, 5, 4)}) {
        Canvas canvas = canvasOf(picture);
        const uint32_t w = canvas.width, h = canvas.height;
        Bytes reference;
        for (uint32_t tasks : {1u, 2u}) {
            for (uint8_t fill : {uint8_t(0x00), uint8_t(0xA5), uint8_t(0xFF)}) {
                Bytes second(psdSecondBound(w, h), fill);
                Bytes out(psdBound(w, h), uint8_t(~fill));
                const uint32_t size = writePsd(canvas, out, second, Parallel{tasks, {}});
                ASSERT_GT(size, 0u);
                out.resize(size);
                if (reference.empty()) reference = out;
                EXPECT_EQ(out, reference) << w << "x" << h << ", fill " << int(fill);
            }
        }
    }
}

TEST(Psd, TooSmallBuffersWriteNothing) {
    Canvas canvas = canvasOf(makeSpritePicture(6, 5, 2));
    Bytes out(psdBound(6, 5) - 1);
    EXPECT_EQ(writePsd(canvas, out), 0u);
}

TEST(Psd, WorstCaseStaysInsideTheBufferSize) {
    // Every block falls back at its last row after packing it: the most the encoder writes
    // past a block's raw end. The output vector is exactly psdBound long (ASan watches).
    for (uint32_t w : {4u, 5u, 127u, 128u, 129u, 1000u}) {
        for (uint32_t h : {1u, 2u, 3u}) {
            TestPicture picture;
            picture.width = w;
            picture.height = h;
            picture.bgra.resize(size_t(w) * h * 4);
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    for (int b = 0; b < 4; ++b) picture.at(x, y)[b] = uint8_t(x * 7 + b + y * 3);
            Canvas canvas = canvasOf(picture);
            PsdFile f = writeAndParsePsd(canvas);
            EXPECT_LE(f.bytes.size(), psdBound(w, h));
            EXPECT_EQ(f.channel[0], canvasChannel(canvas, 3));
            EXPECT_EQ(f.merged, expectedMerged(canvas));
        }
    }
}

TEST(Psd, FromAG00FileEndToEnd) {
    TestPicture picture = makeSpritePicture(96, 80, 21);
    Bytes file = encodeG00Regions(cutIntoParts(picture), LzMode::compress);
    support::Decoded d = support::decodeFile(file);
    ASSERT_EQ(d.status, Status::ok);
    PsdFile f = writeAndParsePsd(d.canvas);
    EXPECT_EQ(f.channel[0], canvasChannel(d.canvas, 3));
    EXPECT_EQ(f.channel[3], canvasChannel(d.canvas, 0));
    EXPECT_EQ(f.merged, expectedMerged(d.canvas));
    // The soft edge really is soft: some alpha strictly between 0 and 255.
    EXPECT_TRUE(std::any_of(f.channel[0].begin(), f.channel[0].end(),
                            [](uint8_t a) { return a > 0 && a < 255; }));
}

// ---- Layered PSD: a layer per region ----

namespace {

struct LayerRecord {
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    std::string name;
    Bytes channel[4];  // decoded: alpha, red, green, blue
};

struct LayeredFile {
    Bytes bytes;
    std::vector<LayerRecord> layers;
    uint32_t info = 0;
    Bytes merged;
};

// Writes into a buffer of exactly the bound and reads every field back, checking the lengths
// that lead from one section to the next.
LayeredFile writeAndParseLayered(const Canvas& canvas, const std::vector<PsdRegionLayer>& layers) {
    LayeredFile f;
    const uint32_t w = canvas.width, h = canvas.height;
    f.bytes.assign(layeredPsdBound(w, h, layers), 0xCC);
    const uint32_t size = writeLayeredPsd(canvas, layers, f.bytes);
    EXPECT_GT(size, 0u);
    f.bytes.resize(size);
    const Bytes& b = f.bytes;
    EXPECT_EQ(be32(b, 14), h);
    EXPECT_EQ(be32(b, 18), w);
    f.info = be32(b, 38);
    EXPECT_EQ(be32(b, 34), f.info + 8);
    EXPECT_EQ(f.info % 2, 0u) << "the layer info keeps an even length";
    EXPECT_EQ(int16_t(be16(b, 42)), -int(layers.size()));
    size_t record = 44;
    std::vector<std::array<uint32_t, 4>> lengths;
    for (size_t i = 0; i < layers.size(); ++i, record += 134) {
        LayerRecord layer;
        layer.top = int32_t(be32(b, record)), layer.left = int32_t(be32(b, record + 4));
        layer.bottom = int32_t(be32(b, record + 8)), layer.right = int32_t(be32(b, record + 12));
        EXPECT_EQ(be16(b, record + 16), 4u);
        std::array<uint32_t, 4> channelLengths{};
        for (uint32_t c = 0; c < 4; ++c) {
            EXPECT_EQ(int16_t(be16(b, record + 18 + 6 * c)), int(c) - 1);
            channelLengths[c] = be32(b, record + 20 + 6 * c);
        }
        lengths.push_back(channelLengths);
        EXPECT_EQ(Bytes(b.begin() + record + 42, b.begin() + record + 50),
                  (Bytes{'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm'}));
        EXPECT_EQ(be32(b, record + 54), 76u);
        EXPECT_EQ(b[record + 106], 10u);
        layer.name.assign(b.begin() + record + 107, b.begin() + record + 117);
        EXPECT_EQ(b[record + 117], 0u);
        EXPECT_EQ(Bytes(b.begin() + record + 118, b.begin() + record + 126),
                  (Bytes{'8', 'B', 'I', 'M', 'l', 'y', 'i', 'd'}));
        f.layers.push_back(std::move(layer));
    }
    size_t at = record;
    for (size_t i = 0; i < layers.size(); ++i) {
        LayerRecord& layer = f.layers[i];
        const uint32_t lw = uint32_t(layer.right - layer.left),
                       lh = uint32_t(layer.bottom - layer.top);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(ref::unpackBitsBlock(b, at, lh, lw, layer.channel[c]), lengths[i][c])
                << "layer " << i;
            at += lengths[i][c];
        }
    }
    EXPECT_LE(at, 42 + f.info);
    EXPECT_GE(at + 1, 42 + f.info) << "at most one pad byte";
    at = 42 + f.info;
    EXPECT_EQ(be32(b, at), 0u);
    const uint64_t merged = ref::unpackBitsBlock(b, at + 4, 4 * h, w, f.merged);
    EXPECT_EQ(at + 4 + merged, size);
    return f;
}

}  // namespace

TEST(LayeredPsd, EachRegionIsALayerAtItsBoxAndTheMergedImageIsTheWholeCanvas) {
    for (PictureKind kind : {PictureKind::sprite, PictureKind::noise, PictureKind::flat}) {
        for (auto [w, h, regionSize] :
             {std::tuple{96u, 80u, 40u}, {7u, 5u, 3u}, {300u, 20u, 129u}}) {
            TestPicture picture = makeTestPicture(kind, w, h, w + h);
            PartCutting cutting;
            cutting.regionSize = regionSize;
            Bytes file = encodeG00Regions(cutIntoParts(picture, cutting), LzMode::compress);
            Canvas canvas;
            ByteBuffer data;
            ASSERT_EQ(decodeG00Picture(file, canvas, 0, &data).status, Status::ok);
            RegionBoxes boxes;
            ASSERT_EQ(regionBoxes(file, data.span(), w, h, boxes), Status::ok);
            std::vector<Canvas> crops(boxes.count);
            std::vector<PsdRegionLayer> layers;
            for (uint32_t i = 0; i < boxes.count; ++i) {
                if (boxes.box[i].empty()) continue;
                ASSERT_EQ(cropRegion(file, data.span(), i, w, h, crops[i]), Status::ok);
                layers.push_back({&crops[i], boxes.box[i].left, boxes.box[i].top, i});
            }
            ASSERT_GE(layers.size(), 2u);
            SCOPED_TRACE(testing::Message() << pictureKindName(kind) << " " << w << "x" << h);
            LayeredFile f = writeAndParseLayered(canvas, layers);
            ASSERT_EQ(f.layers.size(), layers.size());
            for (size_t i = 0; i < layers.size(); ++i) {
                const RegionBox& box = boxes.box[layers[i].region];
                char name[16];
                std::snprintf(name, sizeof name, "region %03u", layers[i].region);
                EXPECT_EQ(f.layers[i].name, name);
                EXPECT_EQ(f.layers[i].left, int32_t(box.left));
                EXPECT_EQ(f.layers[i].top, int32_t(box.top));
                EXPECT_EQ(f.layers[i].right, int32_t(box.left + box.width));
                EXPECT_EQ(f.layers[i].bottom, int32_t(box.top + box.height));
                const int bytes[4] = {3, 2, 1, 0};
                for (int c = 0; c < 4; ++c)
                    EXPECT_EQ(f.layers[i].channel[c], canvasChannel(*layers[i].pixels, bytes[c]))
                        << "layer " << i;
            }
            EXPECT_EQ(f.merged, expectedMerged(canvas));
        }
    }
}

TEST(LayeredPsd, WorstCaseStaysInsideTheBoundAndBadLayersWriteNothing) {
    // Layers whose every block falls back to raw at its last row, at widths around the limits.
    Canvas canvas = canvasOf(makeNoisePicture(300, 6, 1));
    std::vector<Canvas> crops;
    for (uint32_t w : {4u, 5u, 129u, 300u}) crops.push_back(canvasOf(makeNoisePicture(w, 3, w)));
    std::vector<PsdRegionLayer> layers;
    for (uint32_t i = 0; i < crops.size(); ++i) layers.push_back({&crops[i], 0, 3, 250 + i});
    LayeredFile f = writeAndParseLayered(canvas, layers);
    EXPECT_EQ(f.layers[3].channel[0], canvasChannel(crops[3], 3));
    EXPECT_EQ(f.merged, expectedMerged(canvas));

    Bytes out(layeredPsdBound(300, 6, layers));
    EXPECT_GT(writeLayeredPsd(canvas, layers, out), 0u);
    Bytes shortOut(out.size() - 1);
    EXPECT_EQ(writeLayeredPsd(canvas, layers, shortOut), 0u);
    EXPECT_EQ(writeLayeredPsd(canvas, {}, out), 0u);
    for (PsdRegionLayer bad :
         {PsdRegionLayer{&crops[3], 1, 0, 0}, PsdRegionLayer{&crops[0], 0, 4, 0},
          PsdRegionLayer{&crops[0], 0, 0, 1000}}) {
        std::vector<PsdRegionLayer> one = {bad};
        Bytes enough(layeredPsdBound(300, 6, one));
        EXPECT_EQ(writeLayeredPsd(canvas, one, enough), 0u) << bad.left << "," << bad.top;
    }
}

// ---------------------------------------------------------------------------------------
// G00 writing: fresh files and files like an original
// ---------------------------------------------------------------------------------------

namespace {

// Both writers into buffers of exactly the sizes they ask for (ASan catches a byte past them).
Bytes freshFile(const Canvas& canvas) {
    const G00FreshPlan plan = planFreshG00(canvas);
    Bytes work(freshG00WorkSize(plan)), out(freshG00Bound(plan));
    out.resize(writeFreshG00(canvas, plan, work, out));
    EXPECT_FALSE(out.empty());
    return out;
}

struct LikeFile {
    G00LikeResult result;
    Bytes file;
};

LikeFile likeFile(const Bytes& original, const Canvas& picture,
                  LikeAlpha alpha = LikeAlpha::picture) {
    const G00LikePlan plan = planG00Like(original);
    Bytes work(g00LikeWorkSize(plan)), data(g00LikeDataSize(plan)), out(g00LikeBound(plan));
    LikeFile like{writeG00Like(original, plan, picture, alpha, work, data, out), {}};
    like.file.assign(out.begin(), out.begin() + like.result.size);
    return like;
}

// The decompressed data of a region-based file, by the plain reference decoder.
Bytes partDataOf(const Bytes& file) {
    const size_t sizes = size_t(
        regionSizePairOffset(file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset]));
    Bytes data(le32(file, sizes + 4), 0);
    EXPECT_EQ(ref::decodeLzBytes(file, sizes + 8, sizes + le32(file, sizes), data), Status::ok);
    return data;
}

Bytes withPixel(Bytes canvas, uint32_t width, uint32_t x, uint32_t y, uint32_t bgra) {
    storeLe32(canvas.data() + (size_t(y) * width + x) * 4, bgra);
    return canvas;
}

// Regions and parts the decoder treats in every way: an absent entry, an empty region whose
// block has pixels, parts that overlap, reach past the edge or lie wholly outside, an entry
// beyond the region count marked absent; and bytes it never reads that are not 0.
Bytes oddRegionFile() {
    G00RegionImage image;
    image.width = 12;
    image.height = 9;
    image.regions = {{1, 1, 9, 7, {0xDEADBEEFu, 7}},
                     {0, 0, 0, 0, {1, 2}},
                     {3, 0, 0, 0, {0, 0}},
                     {0, 2, 0, 1, {0, 0}}};
    auto part = [](uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t base) {
        G00Part p{x, y, w, h, {}};
        for (size_t i = 0; i < size_t(w) * h * 4; ++i) p.pixels.push_back(uint8_t(base + i * 7));
        return p;
    };
    G00Entry first;
    first.parts = {part(0, 0, 4, 3, 0x10), part(2, 1, 4, 4, 0x40), part(8, 5, 6, 6, 0x70),
                   part(20, 0, 2, 2, 0x90)};
    G00Entry empty;  // its region reads as empty
    empty.parts = {part(0, 0, 3, 3, 0xA0)};
    G00Entry last;
    last.parts = {part(0, 0, 3, 2, 0xC0), part(1, 0, 0, 5, 0xD0), part(1, 1, 2, 2, 0xE0)};
    image.entries = {first, empty, G00Entry::absent(), last, G00Entry::absent(0x80000000u)};
    image.trailer = {1, 2, 3, 4, 5};
    Bytes data = buildPartData(image);
    data[data.size() - 1] = 0x99;
    const size_t firstBlock = le32(data, 4);
    for (size_t i = kPartCountOffset + 2; i < kPartBlockHeaderSize; ++i)
        data[firstBlock + i] = uint8_t(i);
    for (size_t i = kPartHeight + 2; i < kPartHeaderSize; ++i)  // the part header's unread bytes
        data[firstBlock + kPartBlockHeaderSize + i] = uint8_t(0x80 | i);
    data[firstBlock + kPartBlockHeaderSize + 4] = 0x5A;
    return assembleG00Regions(image, compressLzBytes(data, LzMode::greedy), uint32_t(data.size()));
}

}  // namespace

TEST(G00Write, FreshFileDecodesToThePicture) {
    std::vector<TestPicture> pictures;
    for (PictureKind kind : kAllPictureKinds) pictures.push_back(makeTestPicture(kind, 37, 23, 5));
    TestPicture clear = makeNoisePicture(5, 4, 6);  // alpha 0 everywhere, colour bytes kept
    for (size_t i = 3; i < clear.bgra.size(); i += 4) clear.bgra[i] = 0;
    pictures.push_back(clear);
    for (uint32_t at :
         {0u, 8u}) {  // one drawn pixel: top left (its box ends at 1, 1), bottom right
        TestPicture one = clear;
        one.at(at % 5, at / 5 % 4)[3] = 1;
        pictures.push_back(one);
    }
    for (const TestPicture& picture : pictures) {
        Canvas canvas = canvasOf(picture);
        Bytes file = freshFile(canvas);
        bool opaque = true;
        for (size_t i = 3; i < picture.bgra.size(); i += 4)
            opaque = opaque && picture.bgra[i] == 255;
        ASSERT_EQ(file[0], opaque ? 0 : 2);
        ref::Decoded d = ref::decodeG00(file);
        ASSERT_EQ(d.status, Status::ok);
        for (size_t i = 0; i < picture.bgra.size(); i += 4) {
            const uint8_t* want = picture.bgra.data() + i;
            const uint8_t* got = d.canvas.data() + i;
            if (opaque) {
                ASSERT_TRUE(std::equal(want, want + 3, got)) << "pixel " << i / 4;
            } else if (want[3] != 0) {
                ASSERT_TRUE(std::equal(want, want + 4, got)) << "pixel " << i / 4;
            } else {
                ASSERT_EQ(got[3], 0) << "pixel " << i / 4;
            }
        }
    }
}

TEST(G00Write, LikeTheOriginalsOwnPictureKeepsItsDataByteForByte) {
    PartCutting cutting;
    cutting.regionSize = 32;
    cutting.bandHeight = 8;
    const Bytes originals[] = {
        oddRegionFile(),
        encodeG00Regions(cutIntoParts(makeSpritePicture(100, 70, 4), cutting), LzMode::greedy),
        encodeG00FullFrame(30, 20, makePhotoPicture(30, 20, 5).bgra, PixelLayout::bgra,
                           LzMode::greedy)};
    for (const Bytes& original : originals) {
        support::Decoded decoded = support::decodeFile(original);
        ASSERT_EQ(decoded.status, Status::ok);
        LikeFile like = likeFile(original, decoded.canvas);
        ASSERT_EQ(like.result.status, Status::ok);
        ASSERT_FALSE(like.file.empty());
        EXPECT_EQ(like.result.outside.count, 0u);
        const size_t sizes = original[kG00TypeOffset] == kG00FullFrame
                                 ? kFullFrameSizePairOffset
                                 : size_t(regionSizePairOffset(original[kRegionCountOffset]));
        EXPECT_TRUE(std::equal(original.begin(), original.begin() + sizes, like.file.begin()));
        EXPECT_EQ(le32(like.file, sizes + 4), le32(original, sizes + 4));
        EXPECT_EQ(le32(like.file, sizes), like.file.size() - sizes);
        if (original[0] == 2) {
            EXPECT_EQ(partDataOf(like.file), partDataOf(original));
        }
        EXPECT_EQ(ref::decodeG00(like.file).canvas, decoded.bytes());
    }
}

TEST(G00Write, AChangeInsideThePartsComesBackThereAndNowhereElse) {
    const Bytes original = oddRegionFile();
    support::Decoded decoded = support::decodeFile(original);
    ASSERT_EQ(decoded.status, Status::ok);
    const uint32_t w = decoded.canvas.width;
    // (4, 3) lies where two parts of the first entry overlap, (11, 8) in a part cut at the edge,
    // (2, 2) in the last entry's region; (0, 8) is covered by no part.
    Bytes changed = withPixel(
        withPixel(withPixel(decoded.bytes(), w, 4, 3, 0x01020304u), w, 11, 8, 0xFF0000FFu), w, 2, 2,
        0x80112233u);
    Canvas picture;
    ASSERT_EQ(makeCanvas(w, decoded.canvas.height, picture), Status::ok);
    std::memcpy(picture.pixels.data(), changed.data(), changed.size());
    LikeFile like = likeFile(original, picture);
    ASSERT_EQ(like.result.status, Status::ok);
    EXPECT_EQ(like.result.outside.count, 0u);
    EXPECT_EQ(ref::decodeG00(like.file).canvas, changed);

    // Uncovered pixels: a transparent one of any colour looks the same; visible ones are reported.
    storeLe32(picture.pixels.data() + (8 * w + 0) * 4, 0x00FFFFFFu);
    storeLe32(picture.pixels.data() + (0 * w + 10) * 4, 0x01000000u);
    storeLe32(picture.pixels.data() + (8 * w + 1) * 4, 0xFF000000u);
    like = likeFile(original, picture);
    EXPECT_EQ(like.result.outside.count, 2u);
    EXPECT_EQ((std::vector<uint32_t>{like.result.outside.left, like.result.outside.top,
                                     like.result.outside.right, like.result.outside.bottom}),
              (std::vector<uint32_t>{1, 0, 10, 8}));
    EXPECT_EQ(ref::decodeG00(like.file).canvas, changed);

    // A picture of another size is not written.
    Canvas other;
    ASSERT_EQ(makeCanvas(w, decoded.canvas.height + 1, other), Status::ok);
    EXPECT_EQ(likeFile(original, other).result.size, 0u);
}

TEST(G00Write, APictureOfColoursAloneKeepsTheOriginalsAlpha) {
    // The original's own colours, opaque (as a 24-bit BMP gives them): its data comes back.
    PartCutting cutting;
    cutting.regionSize = 32;
    cutting.bandHeight = 8;
    const Bytes originals[] = {
        oddRegionFile(),
        encodeG00Regions(cutIntoParts(makeSpritePicture(90, 60, 6), cutting), LzMode::greedy)};
    for (const Bytes& original : originals) {
        support::Decoded decoded = support::decodeFile(original);
        ASSERT_EQ(decoded.status, Status::ok);
        Bytes opaque = decoded.bytes();
        for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
        Canvas picture;
        ASSERT_EQ(makeCanvas(decoded.canvas.width, decoded.canvas.height, picture), Status::ok);
        std::memcpy(picture.pixels.data(), opaque.data(), opaque.size());
        LikeFile like = likeFile(original, picture, LikeAlpha::original);
        ASSERT_EQ(like.result.status, Status::ok);
        EXPECT_EQ(like.result.outside.count, 0u);
        EXPECT_EQ(partDataOf(like.file), partDataOf(original));

        // A colour changed in a part changes only its colour; uncovered pixels count when
        // they are not black, whatever their alpha.
        const uint32_t w = decoded.canvas.width;
        Bytes wanted = decoded.bytes();
        size_t drawn = 3;  // a pixel some part draws visibly
        while (wanted[drawn] == 0) drawn += 4;
        picture.pixels.data()[drawn - 2] ^= 0x55;
        wanted[drawn - 2] ^= 0x55;
        like = likeFile(original, picture, LikeAlpha::original);
        EXPECT_EQ(ref::decodeG00(like.file).canvas, wanted);
        if (original.size() == originals[0].size() && original == originals[0]) {
            storeLe32(picture.pixels.data() + (8 * w + 0) * 4, 0xFF000000u);  // black: the same
            storeLe32(picture.pixels.data() + (8 * w + 1) * 4, 0x00000001u);
            like = likeFile(original, picture, LikeAlpha::original);
            EXPECT_EQ(like.result.outside.count, 1u);
            EXPECT_EQ(like.result.outside.left, 1u);
            EXPECT_EQ(like.result.outside.top, 8u);
        }
    }
}

TEST(G00Write, AnOriginalWhoseStreamEndsEarlyKeepsItsLengthAndStoresOnlyTheChanges) {
    // One part over the whole picture; its stream under a length 16 MiB longer than it writes,
    // and a stream cut before the part's last two rows (which decode as 0).
    G00RegionImage image;
    image.width = 8;
    image.height = 6;
    image.regions = {{0, 0, 7, 5}};
    G00Entry entry;
    entry.parts = {{0, 0, 8, 6, makePhotoPicture(8, 6, 3).bgra}};
    image.entries = {entry};
    const Bytes data = buildPartData(image);
    const Bytes cut(data.begin(), data.end() - 2 * 8 * 4);
    const Bytes originals[] = {
        assembleG00Regions(image, compressLzBytes(data, LzMode::compress),
                           uint32_t(data.size()) + (16u << 20)),
        assembleG00Regions(image, compressLzBytes(cut, LzMode::compress), uint32_t(data.size()))};
    for (const Bytes& original : originals) {
        SCOPED_TRACE(&original == &originals[0] ? "longer" : "cut");
        const G00LikePlan plan = planG00Like(original);
        // The work follows the picture and the stream, not the announced length.
        EXPECT_LT(g00LikeWorkSize(plan) + g00LikeBound(plan), 1u << 20);
        support::Decoded decoded = support::decodeFile(original);
        ASSERT_EQ(decoded.status, Status::ok);
        LikeFile same = likeFile(original, decoded.canvas);
        EXPECT_TRUE(same.result.unchanged);
        EXPECT_EQ(same.file, original);

        Canvas edited;
        ASSERT_EQ(makeCanvas(8, 6, edited), Status::ok);
        for (size_t i = 0; i < edited.pixels.size(); i += 4)
            storeLe32(edited.pixels.data() + i, 0x80402010u);
        LikeFile like = likeFile(original, edited);
        ASSERT_EQ(like.result.status, Status::ok);
        EXPECT_FALSE(like.result.unchanged);
        const size_t sizes = size_t(regionSizePairOffset(1));
        EXPECT_EQ(le32(like.file, sizes + 4), le32(original, sizes + 4));
        EXPECT_EQ(ref::decodeG00(like.file).canvas,
                  Bytes(edited.pixels.span().begin(), edited.pixels.span().end()));
    }
}

// Pictures large enough for the match search to be split in two write the same files whichever
// way the writers run it: fresh and like an original, whole and region by region.
TEST(G00Write, ASplitSearchWritesTheSameFiles) {
    const Canvas photo = canvasOf(makePhotoPicture(600, 450, 3));
    const Canvas sprite = canvasOf(makeTestPicture(PictureKind::sprite, 600, 450, 4));
    const Parallel one, two{2, {}};
    auto bytesOf = [](const Encoded& file) {
        return Bytes(file.bytes.data(), file.bytes.data() + file.length);
    };
    for (const Canvas* picture : {&photo, &sprite}) {
        Encoded a, b;
        ASSERT_EQ(encodeFreshG00(*picture, a, one), Status::ok);
        ASSERT_EQ(encodeFreshG00(*picture, b, two), Status::ok);
        EXPECT_EQ(bytesOf(a), bytesOf(b));
        const Bytes original = bytesOf(a);
        const G00LikePlan plan = planG00Like(original);
        Encoded likeA, likeB;
        EXPECT_EQ(encodeG00Like(original, plan, *picture, likeA, one).size, original.size());
        EXPECT_EQ(encodeG00Like(original, plan, *picture, likeB, two).size, original.size());
        EXPECT_EQ(bytesOf(likeA), bytesOf(likeB));
    }
    const RegionPicture regions[] = {{0, 0, 0, &sprite}, {1, 10, 20, &photo}};
    Encoded freshA, freshB;
    ASSERT_EQ(encodeFreshRegionsG00(regions, 620, 470, freshA, one), Status::ok);
    ASSERT_EQ(encodeFreshRegionsG00(regions, 620, 470, freshB, two), Status::ok);
    EXPECT_EQ(bytesOf(freshA), bytesOf(freshB));
    const Bytes original = bytesOf(freshA);
    Encoded likeA, likeB;
    EXPECT_EQ(encodeG00LikeRegions(original, regions, likeA, one).status, Status::ok);
    EXPECT_EQ(encodeG00LikeRegions(original, regions, likeB, two).status, Status::ok);
    EXPECT_EQ(bytesOf(likeA), bytesOf(likeB));
}

TEST(G00Write, FreshRegionsOffTheCanvasDrawNothingAndThoseOnItTheirPixels) {
    Canvas pixels = canvasOf(makePhotoPicture(6, 4, 7));
    const Canvas none;  // a layer of no pixels
    const struct {
        int32_t left, top;
        const Canvas* picture;
        RegionBox box;
    } cases[] = {{20, 0, &pixels, {}},
                 {16, 3, &pixels, {}},
                 {-6, 0, &pixels, {}},
                 {0, -4, &pixels, {}},
                 {0, 10, &pixels, {}},
                 {3, 3, &none, {}},
                 {13, 9, &pixels, {13, 9, 3, 1}},
                 {-2, -1, &pixels, {0, 0, 4, 3}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.left) + ", " + std::to_string(c.top));
        const RegionPicture regions[] = {{0, 2, 2, &pixels}, {1, c.left, c.top, c.picture}};
        Encoded file;
        ASSERT_EQ(encodeFreshRegionsG00(regions, 16, 10, file), Status::ok);
        const std::span<const uint8_t> bytes = file.bytes.span().first(file.length);
        Canvas canvas;
        ByteBuffer data;
        ASSERT_EQ(decodeG00Picture(bytes, canvas, 0, &data).status, Status::ok);
        RegionBoxes boxes;
        ASSERT_EQ(regionBoxes(bytes, data.span(), 16, 10, boxes), Status::ok);
        EXPECT_EQ(boxes.box[0], (RegionBox{2, 2, 6, 4}));
        EXPECT_EQ(boxes.box[1], c.box);
    }
}

// ---------------------------------------------------------------------------------------
// PNG
// ---------------------------------------------------------------------------------------

TEST(Png, EveryPixelReadsBackAtEveryShapeKindAndTaskCount) {
    struct Case {
        uint32_t width, height;
        PictureKind kind;
        PngColour colour;
        uint32_t tasks;
    };
    // Widths around the 16-byte filter steps and one pixel; heights across band boundaries
    // (bands of kPngBandBytes of filtered rows).
    const uint32_t tall = 2 * (kPngBandBytes / 401 + 1) + 1;
    const Case cases[] = {
        {1, 1, PictureKind::noise, PngColour::rgba, 1},
        {1, 7, PictureKind::noise, PngColour::rgb, 1},
        {3, 5, PictureKind::sprite, PngColour::rgba, 1},
        {5, 3, PictureKind::photo, PngColour::rgb, 2},
        {16, 9, PictureKind::flat, PngColour::rgba, 1},
        {17, 9, PictureKind::lineArt, PngColour::rgb, 1},
        {33, 40, PictureKind::sprite, PngColour::rgba, 1},
        {100, tall, PictureKind::sprite, PngColour::rgba, 3},
        {100, tall, PictureKind::photo, PngColour::rgb, 2},
        {700, 400, PictureKind::photo, PngColour::rgba, 8},
        {640, 480, PictureKind::noise, PngColour::rgb, 1},
    };
    bool filterSeen[5] = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " " << pictureKindName(c.kind) << " type "
                     << int(c.colour) << " tasks " << c.tasks);
        Canvas canvas = canvasOf(makeTestPicture(c.kind, c.width, c.height, c.width + c.height));
        const Bytes file = writePngFile(canvas, c.colour, c.tasks);
        const PngFile png = readPng(file);
        EXPECT_EQ(png.width, c.width);
        EXPECT_EQ(png.height, c.height);
        EXPECT_EQ(png.depth, 8);
        EXPECT_EQ(png.colourType, uint8_t(c.colour));
        EXPECT_EQ(png.interlace, 0);
        if (c.height == tall && c.colour == PngColour::rgba) {
            EXPECT_EQ(png.idatChunks, 3 + 1) << "a chunk per band, one for the Adler-32";
        }
        ASSERT_EQ(png.pixels, pngSamples(canvas, c.colour));
        for (uint8_t f : png.filters) filterSeen[f] = true;
    }
    for (int f = 0; f < 5; ++f) EXPECT_TRUE(filterSeen[f]) << "no row chose filter " << f;
}

TEST(Png, BandsCompressedByAnyNumberOfTasksInAnyOrderMakeTheSameFile) {
    Canvas canvas = canvasOf(makeTestPicture(PictureKind::sprite, 300, 650, 4));
    for (PngColour colour : {PngColour::rgba, PngColour::rgb}) {
        const Bytes whole = writePngFile(canvas, colour);
        for (uint32_t tasks : {2u, 3u, 8u})
            EXPECT_EQ(writePngFile(canvas, colour, tasks), whole) << tasks;
    }
}

TEST(Png, IncompressiblePicturesStayInsideTheBound) {
    // Noise in every byte is deflate's worst case.
    Rng rng(12);
    for (int trial = 0; trial < 8; ++trial) {
        const uint32_t w = trial < 2 ? 1 : rng.between(2, 3000), h = rng.between(1, 300);
        Canvas canvas = canvasOf(makeNoisePicture(w, h, rng.next()));
        for (PngColour colour : {PngColour::rgba, PngColour::rgb})
            EXPECT_EQ(readPng(writePngFile(canvas, colour)).pixels, pngSamples(canvas, colour))
                << w << "x" << h;
    }
}

TEST(Png, ShortBuffersWriteNothing) {
    Canvas canvas = canvasOf(makeNoisePicture(40, 30, 13));
    const PngColour colour = PngColour::rgba;
    Bytes work(pngWorkSize(40, colour)), out(pngBound(40, 30, colour), 0);
    EXPECT_EQ(writePng(canvas, colour, {work.data(), work.size() - 1}, out), 0u);
    EXPECT_EQ(writePng(canvas, colour, work, {out.data(), out.size() - 1}), 0u);
    EXPECT_EQ(out, Bytes(out.size(), 0));
}

// Bands strung into one raw deflate stream, as the PNG writer strings them: complete streams of
// zlib's (stored, fixed and dynamic blocks, so every block kind is walked) made to go on, and
// literal and stored bands, then a final band; zlib's inflate must give back every byte.
TEST(DeflateBlocks, BandsOfEveryKindInflateBackAsOneStream) {
    Rng rng(21);
    auto bytesOf = [&](int kind, size_t n) {
        Bytes b(n);
        for (size_t i = 0; i < n; ++i)
            b[i] = kind == 0 ? uint8_t(rng.next()) : kind == 1 ? uint8_t(i / 7 % 5) : uint8_t(i % 251);
        return b;
    };
    auto completeStream = [](const Bytes& in, int level, int strategy) {
        z_stream z{};
        EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
        Bytes out(deflateBound(&z, uLong(in.size())) + kSyncFlushBytes + 8);
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = uInt(in.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        out.resize(z.total_out);
        deflateEnd(&z);
        return out;
    };
    for (size_t n : {size_t(1), size_t(300), size_t(70000)}) {
        SCOPED_TRACE(n);
        Bytes stream, expected;
        auto add = [&](const Bytes& in, Bytes band) {
            stream.insert(stream.end(), band.begin(), band.end());
            expected.insert(expected.end(), in.begin(), in.end());
        };
        const std::tuple<int, int, int> zlibBands[] = {
            {0, 0, Z_DEFAULT_STRATEGY}, {1, 6, Z_FIXED}, {2, 6, Z_DEFAULT_STRATEGY}, {0, 6, Z_HUFFMAN_ONLY}};
        for (auto [kind, level, strategy] : zlibBands) {
            const Bytes in = bytesOf(kind, n);
            Bytes band = completeStream(in, level, strategy);
            const size_t length = band.size();
            band.resize(length + kSyncFlushBytes + 8);
            const uint64_t continued = continueStream(band.data(), length);
            ASSERT_GT(continued, 0u);
            band.resize(size_t(continued));
            add(in, band);
        }
        for (int kind = 0; kind < 3; ++kind) {
            const Bytes in = bytesOf(kind, n);
            uint32_t counts[256] = {};
            for (uint8_t v : in) ++counts[v];
            for (bool stored : {false, true}) {
                Bytes band(size_t(std::max(huffmanOnlySize(counts, false), storedSize(n, false))) + 8);
                const uint64_t written = stored ? writeStored(in, false, band)
                                                : writeHuffmanOnly(in, counts, false, band);
                ASSERT_EQ(written, stored ? storedSize(n, false) : huffmanOnlySize(counts, false));
                band.resize(size_t(written));
                add(in, band);
            }
        }
        const Bytes last = bytesOf(0, n);
        uint32_t counts[256] = {};
        for (uint8_t v : last) ++counts[v];
        Bytes band(size_t(huffmanOnlySize(counts, true)) + 8);
        band.resize(size_t(writeHuffmanOnly(last, counts, true, band)));
        add(last, band);

        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
        Bytes out(expected.size() + 1);
        z.next_in = stream.data();
        z.avail_in = uInt(stream.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        EXPECT_EQ(z.avail_in, 0u) << "bytes after the final block";
        out.resize(z.total_out);
        inflateEnd(&z);
        EXPECT_EQ(out, expected);
    }
}

// Filtered rows of every kind the match search meets, as bands of one stream: runs longer than
// a match (so matches go on), repeats at a pixel's and a row's distance and near the window's
// end, noise (literals over several blocks), rows of one pixel and bands shorter than a hash.
TEST(DeflateRows, BandsOfEveryKindInflateBackAsOneStream) {
    struct Case {
        uint32_t width, height, pixel;
        int kind;  // 0 zeros, 1 sparse steps, 2 a repeat every 3 rows, 3 noise, 4 a pattern
    };
    const Case cases[] = {
        {1, 1, 4, 1},   {1, 9, 3, 3},    {3, 2, 3, 4},   {700, 30, 4, 0}, {700, 30, 3, 1},
        {2730, 6, 4, 2}, {900, 40, 3, 4}, {500, 70, 4, 3}, {257, 60, 4, 1},
    };
    Rng rng(5);
    Bytes stream, expected;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(k);
        const uint32_t rowSize = 1 + c.width * c.pixel;
        Bytes rows(size_t(rowSize) * c.height);
        for (size_t i = 0; i < rows.size(); ++i) {
            const size_t y = i / rowSize, x = i % rowSize;
            rows[i] = x == 0        ? uint8_t(y % 5)
                      : c.kind == 0 ? 0
                      : c.kind == 1 ? uint8_t(rng.chance(40))
                      : c.kind == 2 ? (y < 3 ? rng.byte() : rows[i - 3 * rowSize])
                      : c.kind == 3 ? rng.byte()
                                    : uint8_t(x % 7 * 3 + x / 50);
        }
        const bool last = k + 1 == std::size(cases);
        Bytes work(deflateRowsWorkSize(rows.size(), c.pixel));
        Bytes band(2 * rows.size() + 64, 0xA5);
        const uint64_t length = deflateRows(rows, rowSize, c.pixel, last, work, band);
        ASSERT_GT(length, 0u);
        if (c.kind == 0) {
            EXPECT_LT(length, rows.size() / 100);
        }
        // Short of room by a byte, it writes nothing past the room and says so.
        Bytes tight(size_t(length) - 1 + 16, 0xA5);
        EXPECT_EQ(deflateRows(rows, rowSize, c.pixel, last, work, {tight.data(), size_t(length) - 1}), 0u);
        EXPECT_EQ(Bytes(tight.end() - 16, tight.end()), Bytes(16, 0xA5));
        stream.insert(stream.end(), band.begin(), band.begin() + ptrdiff_t(length));
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(expected.size() + 1);
    z.next_in = stream.data();
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the final block";
    out.resize(z.total_out);
    inflateEnd(&z);
    EXPECT_EQ(out, expected);
}
