// Writes the hostile-file corpus: truncated, damaged and foreign files, each with the outcome
// the converter must give it. Run once to refresh tests/hostile/; the files are committed.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "common/bytes.h"
#include "common/status.h"
#include "tools/g00_encoder.h"
#include "tools/picture_files.h"
#include "tools/test_pictures.h"

namespace fs = std::filesystem;

namespace {

struct Corpus {
    fs::path folder;
    std::ofstream expected;

    void add(const std::string& name, const std::vector<uint8_t>& bytes, const char* outcome,
             const char* extension = ".g00") {
        std::ofstream out(folder / (name + extension), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        expected << name << extension << " " << outcome << "\n";
    }
};

std::vector<uint8_t> fullFrameFile(uint16_t width, uint16_t height, uint32_t seed) {
    TestPicture picture = makeTestPicture(PictureKind::photo, width, height, seed);
    return encodeG00FullFrame(width, height, picture.bgra, PixelLayout::bgra, LzMode::compress);
}

G00RegionImage spriteImage(uint16_t width, uint16_t height, uint32_t seed) {
    TestPicture picture = makeTestPicture(PictureKind::sprite, width, height, seed);
    PartCutting cutting;
    cutting.regionSize = 32;
    cutting.bandHeight = 16;
    return cutIntoParts(picture, cutting);
}

G00Part solidPart(uint16_t x, uint16_t y, uint16_t width, uint16_t height) {
    G00Part part;
    part.x = x;
    part.y = y;
    part.width = width;
    part.height = height;
    part.pixels.assign(size_t(width) * height * 4, 0x80);
    return part;
}

G00RegionImage oneRegion(uint16_t width, uint16_t height, std::vector<G00Part> parts) {
    G00RegionImage image;
    image.width = width;
    image.height = height;
    image.regions.push_back({0, 0, uint32_t(width - 1), uint32_t(height - 1)});
    G00Entry entry;
    entry.parts = std::move(parts);
    image.entries.push_back(entry);
    return image;
}

std::vector<uint8_t> cut(const std::vector<uint8_t>& bytes, size_t size) {
    return {bytes.begin(), bytes.begin() + std::ptrdiff_t(size)};
}

// A zlib stream of `size` zero bytes, deflated in pieces so that it never needs them all.
std::vector<uint8_t> zerosStream(uint64_t size) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15, 9, Z_RLE);
    std::vector<uint8_t> zeros(1 << 20, 0), out, piece(1 << 16);
    for (uint64_t left = size;;) {
        const uint64_t now = std::min<uint64_t>(left, zeros.size());
        left -= now;
        stream.next_in = zeros.data();
        stream.avail_in = uInt(now);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result;
        do {
            stream.next_out = piece.data();
            stream.avail_out = uInt(piece.size());
            result = deflate(&stream, flush);
            out.insert(out.end(), piece.data(), stream.next_out);
        } while (stream.avail_out == 0);
        if (result == Z_STREAM_END) break;
    }
    deflateEnd(&stream);
    return out;
}

PngImage greyPng(uint32_t width, uint32_t height, uint32_t seed) {
    PngImage image;
    image.width = width;
    image.height = height;
    image.colourType = 0;
    std::mt19937 random(seed);
    for (uint32_t i = 0; i < width * height; ++i)
        image.samples.push_back(uint16_t(random() & 0xFF));
    return image;
}

// The picture readers' hostile files: PNG, BMP and PSD.
void addPictures(Corpus& corpus) {
    const PngImage png = greyPng(24, 16, 3);
    const std::vector<uint8_t> pngFile = writePngFile(png, 100);
    for (size_t at : {size_t(12), size_t(30), size_t(40), pngFile.size() / 2, pngFile.size() - 1})
        corpus.add("png-cut-" + std::to_string(at), cut(pngFile, at), "truncated", ".png");
    {
        std::vector<uint8_t> bytes = pngFile;
        bytes[20] ^= 0x40;  // a header byte under the IHDR CRC
        corpus.add("png-bad-crc", bytes, "badChecksum", ".png");
        std::vector<uint8_t> stream = zlibCompress(pngFilteredRows(png));
        stream.back() ^= 1;
        corpus.add("png-bad-adler", assemblePng(png, stream), "badChecksum", ".png");
        std::vector<uint8_t> rows = pngFilteredRows(png);
        rows.insert(rows.end(), 25, 0);  // one row more than the header holds
        corpus.add("png-stream-past-rows", assemblePng(png, zlibCompress(rows)), "damagedStream",
                   ".png");
    }
    // 2 GiB of zeros behind the header of a 256 x 256 grey picture: read up to its 65,792 bytes.
    corpus.add("png-bomb-2gib",
               assemblePng(greyPng(256, 256, 4), zerosStream(uint64_t(2) << 30), 1 << 20),
               "damagedStream", ".png");
    {
        PngImage huge = greyPng(1, 1, 5);
        huge.width = huge.height = 65535;
        huge.colourType = 6;
        huge.depth = 16;
        corpus.add("png-65535x65535-few-bytes",
                   assemblePng(huge, zlibCompress(std::vector<uint8_t>(64))), "truncated", ".png");
        huge.width = 70000;
        corpus.add("png-70000-wide", assemblePng(huge, zlibCompress(std::vector<uint8_t>(64))),
                   "pictureTooLarge", ".png");
        PngImage indexed = greyPng(8, 8, 6);
        indexed.colourType = 3;
        indexed.palette = {1, 2, 3};
        corpus.add("png-index-past-palette", writePngFile(indexed), "damagedPicture", ".png");
    }

    TestPicture picture = makeTestPicture(PictureKind::sprite, 20, 12, 7);
    const std::vector<uint8_t> bmp = writeBmpFile(picture, {});
    for (size_t at : {size_t(2), size_t(20), size_t(54), bmp.size() - 1})
        corpus.add("bmp-cut-" + std::to_string(at), cut(bmp, at), "truncated", ".bmp");
    {
        std::vector<uint8_t> bytes = bmp;
        storeLe32(bytes.data() + 18, 65535);
        storeLe32(bytes.data() + 22, uint32_t(-65535));
        corpus.add("bmp-65535x65535-few-bytes", bytes, "truncated", ".bmp");
        storeLe32(bytes.data() + 22, 0x80000000);
        corpus.add("bmp-height-lowest-int", bytes, "pictureTooLarge", ".bmp");
        bytes = bmp;
        storeLe32(bytes.data() + 10, 0xFFFFFFFF);
        corpus.add("bmp-offset-max", bytes, "truncated", ".bmp");
        bytes = bmp;
        storeLe32(bytes.data() + 30, 1);
        corpus.add("bmp-rle", bytes, "unsupportedPicture", ".bmp");
    }

    const std::vector<uint8_t> psd = writePsdFile(oneLayerDocument(picture, true));
    for (size_t at : {size_t(10), size_t(30), size_t(60), size_t(100), psd.size() / 2})
        corpus.add("psd-cut-" + std::to_string(at), cut(psd, at), "truncated", ".psd");
    // The merged image is not read when there is a layer.
    corpus.add("psd-cut-in-merged", cut(psd, psd.size() - 1), "ok", ".psd");
    for (int16_t count : {int16_t(2), int16_t(-3), int16_t(32767), int16_t(-32768)}) {
        PsdDocument document = oneLayerDocument(picture, true);
        document.layerCountField = count;
        corpus.add("psd-layers-" + std::to_string(count), writePsdFile(document), "severalLayers",
                   ".psd");
    }
    {
        PsdDocument document = oneLayerDocument(picture, true);
        // The layer records are there, the count says none: the merged image is the picture.
        document.layerCountField = 0;
        corpus.add("psd-layers-0-with-records", writePsdFile(document), "ok", ".psd");
        document = oneLayerDocument(picture, true);
        document.layers[0].left = -0x7FFFFFFF;  // a layer wider than any file could fill
        corpus.add("psd-layer-2g-wide", writePsdFile(document), "damagedPicture", ".psd");
        document = oneLayerDocument(picture, false);
        document.layers[0].top = -0x7FFFFFFF;
        corpus.add("psd-raw-layer-2g-high", writePsdFile(document), "truncated", ".psd");
        document = oneLayerDocument(picture, true);
        document.width = document.height = 65535;
        document.layerSection = false;
        corpus.add("psd-65535x65535-few-bytes", writePsdFile(document), "truncated", ".psd");
        document.width = 70000;
        corpus.add("psd-70000-wide", writePsdFile(document), "pictureTooLarge", ".psd");
        document = oneLayerDocument(picture, true);
        document.layers[0].channels[1].block =
            psdChannelBlock(std::vector<uint8_t>(21 * 12, 5), 12, 21, true);
        corpus.add("psd-row-past-width", writePsdFile(document), "damagedPicture", ".psd");
        // Two layers, the second wholly right of the canvas: packed fresh, it makes a region of
        // no pixels.
        document = oneLayerDocument(picture, true);
        document.layerCountField = 2;
        document.layers.push_back(document.layers[0]);
        document.layers[1].left += int32_t(picture.width) + 5;
        document.layers[1].right += int32_t(picture.width) + 5;
        corpus.add("psd-layer-right-of-canvas", writePsdFile(document), "severalLayers pack=ok",
                   ".psd");
    }

    // Random bytes after valid headers. A PNG's first chunk length and a PSD's layer info length
    // then lie past the file's end; a BMP has nothing to check its rows against.
    std::mt19937 random(20261209);
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> noise(1500 + 700 * i);
        for (uint8_t& byte : noise) byte = uint8_t(random());
        std::vector<uint8_t> bytes = cut(pngFile, 33);
        bytes.insert(bytes.end(), noise.begin(), noise.end());
        corpus.add("png-random-" + std::to_string(i), bytes, "truncated", ".png");
        bytes = cut(bmp, 54);
        bytes.insert(bytes.end(), noise.begin(), noise.end());
        corpus.add("bmp-random-" + std::to_string(i), bytes, "ok", ".bmp");
        bytes = cut(psd, 38);
        bytes.insert(bytes.end(), noise.begin(), noise.end());
        corpus.add("psd-random-" + std::to_string(i), bytes, "truncated", ".psd");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-hostile-corpus FOLDER\n");
        return 2;
    }
    Corpus corpus{argv[1], {}};
    fs::create_directories(corpus.folder);
    corpus.expected.open(corpus.folder / "expected.txt");

    // Truncated at many points: the header, the size fields, the stream.
    std::vector<uint8_t> full = fullFrameFile(48, 32, 1);
    for (size_t cut : {size_t(1), size_t(3), size_t(5), size_t(8), size_t(12), size_t(13),
                       size_t(40), full.size() / 2, full.size() - 1}) {
        std::vector<uint8_t> bytes(full.begin(), full.begin() + cut);
        corpus.add("full-cut-" + std::to_string(cut), bytes, "truncated");
    }
    corpus.add("full-cut-0", {}, "empty");
    std::vector<uint8_t> sprite = encodeG00Regions(spriteImage(64, 48, 2), LzMode::compress);
    for (size_t cut : {size_t(6), size_t(9), size_t(30), size_t(regionSizePairOffset(4)),
                       sprite.size() / 3, sprite.size() - 1}) {
        std::vector<uint8_t> bytes(sprite.begin(), sprite.begin() + cut);
        corpus.add("parts-cut-" + std::to_string(cut), bytes, "truncated");
    }

    // Stream ends beyond the file.
    {
        std::vector<uint8_t> bytes = full;
        storeLe32(bytes.data() + kFullFrameSizePairOffset,
                  loadLe32(bytes.data() + kFullFrameSizePairOffset) + 1);
        corpus.add("full-stream-beyond-file", bytes, "truncated");
        storeLe32(bytes.data() + kFullFrameSizePairOffset, 0xFFFFFFFF);
        corpus.add("full-stream-length-max", bytes, "truncated");
    }

    // Copies reaching before the output start, in both variants.
    {
        LzStreamWriter pixels;
        pixels.literalPixel(1, 2, 3);
        pixels.copyPixels(2, 4);
        corpus.add("full-copy-before-start", assembleG00FullFrame(8, 8, pixels.take()),
                   "damagedStream");
        LzStreamWriter bytes;
        bytes.literalByte(1);
        bytes.copyBytes(4095, 17);
        G00RegionImage image = oneRegion(8, 8, {});
        corpus.add("parts-copy-before-start", assembleG00Regions(image, bytes.take(), 4096),
                   "damagedStream");
    }

    // Outputs that would overrun the Canvas or the decompression buffer.
    {
        LzStreamWriter pixels;
        for (int i = 0; i < 5; ++i) pixels.literalPixel(uint8_t(i), 0, 0);
        corpus.add("full-overruns-canvas", assembleG00FullFrame(2, 2, pixels.take()),
                   "damagedStream");
        LzStreamWriter repeat;
        repeat.literalPixel(9, 9, 9);
        for (int i = 0; i < 40; ++i) repeat.copyPixels(1, 16);
        corpus.add("full-copy-overruns-canvas", assembleG00FullFrame(16, 16, repeat.take()),
                   "damagedStream");
        G00RegionImage image = oneRegion(8, 8, {solidPart(0, 0, 4, 4)});
        std::vector<uint8_t> data = buildPartData(image);
        corpus.add("parts-overruns-data",
                   assembleG00Regions(image, compressLzBytes(data, LzMode::compress),
                                      uint32_t(data.size() - 10)),
                   "damagedStream");
    }

    // Parts outside the Canvas are clipped; zero-sized parts draw nothing.
    corpus.add("parts-outside-canvas",
               encodeG00Regions(oneRegion(16, 16,
                                          {solidPart(12, 12, 8, 8), solidPart(60000, 3, 2, 2),
                                           solidPart(3, 65535, 1, 1)}),
                                LzMode::compress),
               "ok");
    corpus.add("parts-zero-sized",
               encodeG00Regions(
                   oneRegion(16, 16,
                             {solidPart(1, 1, 0, 5), solidPart(2, 2, 5, 0), solidPart(3, 3, 2, 2)}),
                   LzMode::literalsOnly),
               "ok");

    // Block offsets and parts beyond the decompressed data.
    {
        G00RegionImage image = oneRegion(16, 16, {solidPart(0, 0, 4, 4)});
        image.entries[0].offsetField = 0x7FFFFFF0;
        corpus.add("parts-block-beyond-data", encodeG00Regions(image, LzMode::compress),
                   "damagedParts");
        G00RegionImage longer = oneRegion(16, 16, {solidPart(0, 0, 4, 4)});
        longer.entries[0].parts[0].height = 400;  // claims more pixels than the data holds
        corpus.add("parts-pixels-beyond-data", encodeG00Regions(longer, LzMode::compress),
                   "damagedParts");
        G00RegionImage many = oneRegion(16, 16, {solidPart(0, 0, 2, 2)});
        many.entries[0].partCountField = 60000;
        corpus.add("parts-count-beyond-data", encodeG00Regions(many, LzMode::compress),
                   "damagedParts");
    }

    // Entry counts of 0 and beyond the region count.
    {
        G00RegionImage none = oneRegion(16, 16, {solidPart(0, 0, 4, 4)});
        none.entryCountField = 0;
        corpus.add("parts-entry-count-0", encodeG00Regions(none, LzMode::compress), "ok");
        G00RegionImage beyond = oneRegion(16, 16, {solidPart(0, 0, 4, 4)});
        G00Entry extra;
        extra.parts.push_back(solidPart(1, 1, 2, 2));
        beyond.entries.push_back(extra);
        corpus.add("parts-entry-beyond-regions", encodeG00Regions(beyond, LzMode::compress),
                   "damagedParts");
        G00RegionImage absent = oneRegion(16, 16, {solidPart(0, 0, 4, 4)});
        absent.entries.push_back(G00Entry::absent());
        corpus.add("parts-absent-entry-beyond-regions", encodeG00Regions(absent, LzMode::compress),
                   "ok");
        G00RegionImage table = oneRegion(16, 16, {});
        table.entryCountField = 0xFFFF;
        corpus.add("parts-table-beyond-data", encodeG00Regions(table, LzMode::compress),
                   "damagedParts");
    }

    // Huge and empty headers, refused by the pixel limit every caller gets by default before
    // anything is obtained; a header of 13 bytes must not make a thumbnailer take gigabytes.
    corpus.add("full-65535x65535", assembleG00FullFrame(65535, 65535, {}), "tooManyPixels");
    corpus.add("parts-65535x65535", encodeG00Regions(oneRegion(65535, 65535, {}), LzMode::compress),
               "tooManyPixels");
    corpus.add("full-16384x16384-13-bytes", assembleG00FullFrame(16384, 16384, {}),
               "tooManyPixels");
    corpus.add("full-width-0", assembleG00FullFrame(0, 10, {}), "emptyPicture");
    {
        G00RegionImage image = oneRegion(16, 16, {});
        corpus.add("parts-data-length-0", assembleG00Regions(image, {}, 0), "damagedParts");
        std::vector<uint8_t> huge = assembleG00Regions(image, {}, 0xFFFFFFFF);
        corpus.add("parts-data-length-max", huge, "ok-or-outOfMemory like=ok-or-outOfMemory");
    }
    // Headers that announce far more decompressed data than the stream gives: the decoder
    // gives 0 past the stream's end, and the packer works by what the stream gives.
    {
        TestPicture picture = makeTestPicture(PictureKind::photo, 6, 5, 11);
        G00RegionImage image = oneRegion(6, 5, {solidPart(0, 0, 6, 5)});
        image.entries[0].parts[0].pixels = picture.bgra;
        const std::vector<uint8_t> data = buildPartData(image);
        corpus.add("parts-data-length-512m",
                   assembleG00Regions(image, compressLzBytes(data, LzMode::compress), 512u << 20),
                   "ok like=ok");
        // The stream ends after the part header of a part 65,535 pixels wide: the pixels the
        // picture shows lie 256 KiB apart, all of them past the stream's end.
        G00RegionImage wide = oneRegion(6, 5, {solidPart(0, 0, 65535, 5)});
        std::vector<uint8_t> headers = buildPartData(wide);
        headers.resize(headers.size() - size_t(65535) * 5 * 4);
        corpus.add("parts-pixels-past-stream",
                   assembleG00Regions(wide, compressLzBytes(headers, LzMode::compress),
                                      uint32_t(headers.size()) + 65535 * 5 * 4),
                   "ok like=damagedParts");
    }

    // Other formats renamed .g00.
    corpus.add("png-renamed",
               {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'}, "notG00");
    corpus.add("bmp-renamed", {'B', 'M', 0x3E, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0}, "notG00");
    corpus.add("zip-renamed", {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0}, "notG00");
    corpus.add("text-renamed", {'h', 'e', 'l', 'l', 'o', '\n'}, "notG00");
    corpus.add("ico-renamed", {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0}, "truncated");
    corpus.add("type-1", assembleG00FullFrame(4, 4, {}, {}, 1), "unsupportedType");

    // Random bytes after valid headers: copies reach before the output's start or past its end.
    std::mt19937 random(20261208);
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> noise(2000 + 500 * i);
        for (uint8_t& byte : noise) byte = uint8_t(random());
        corpus.add("full-random-" + std::to_string(i), assembleG00FullFrame(40, 30, noise),
                   "damagedStream");
        G00RegionImage image = oneRegion(40, 30, {});
        corpus.add("parts-random-" + std::to_string(i),
                   assembleG00Regions(image, noise, uint32_t(noise.size() * 2)), "damagedStream");
    }
    addPictures(corpus);
    return 0;
}
