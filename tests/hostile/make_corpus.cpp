// Writes the hostile-file corpus: truncated, damaged and foreign files, each with the outcome
// the converter must give it. Run once to refresh tests/hostile/; the files are committed.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"
#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

namespace fs = std::filesystem;

namespace {

struct Corpus {
    fs::path folder;
    std::ofstream expected;

    void add(const std::string& name, const std::vector<uint8_t>& bytes, const char* outcome) {
        std::ofstream out(folder / (name + ".g00"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        expected << name << ".g00 " << outcome << "\n";
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
    for (size_t cut : {size_t(6), size_t(9), size_t(30), size_t(9 + 24 * 4), sprite.size() / 3,
                       sprite.size() - 1}) {
        std::vector<uint8_t> bytes(sprite.begin(), sprite.begin() + cut);
        corpus.add("parts-cut-" + std::to_string(cut), bytes, "truncated");
    }

    // Stream ends beyond the file.
    {
        std::vector<uint8_t> bytes = full;
        storeLe32(bytes.data() + 5, loadLe32(bytes.data() + 5) + 1);
        corpus.add("full-stream-beyond-file", bytes, "truncated");
        storeLe32(bytes.data() + 5, 0xFFFFFFFF);
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
               encodeG00Regions(oneRegion(16, 16, {solidPart(12, 12, 8, 8), solidPart(60000, 3, 2, 2),
                                                   solidPart(3, 65535, 1, 1)}),
                                LzMode::compress),
               "ok");
    corpus.add("parts-zero-sized",
               encodeG00Regions(oneRegion(16, 16, {solidPart(1, 1, 0, 5), solidPart(2, 2, 5, 0),
                                                   solidPart(3, 3, 2, 2)}),
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

    // Huge and empty headers.
    corpus.add("full-65535x65535", assembleG00FullFrame(65535, 65535, {}), "tooLarge");
    corpus.add("parts-65535x65535", encodeG00Regions(oneRegion(65535, 65535, {}), LzMode::compress),
               "tooLarge");
    corpus.add("full-width-0", assembleG00FullFrame(0, 10, {}), "emptyPicture");
    {
        G00RegionImage image = oneRegion(16, 16, {});
        corpus.add("parts-data-length-0", assembleG00Regions(image, {}, 0), "damagedParts");
        std::vector<uint8_t> huge = assembleG00Regions(image, {}, 0xFFFFFFFF);
        corpus.add("parts-data-length-max", huge, "ok-or-outOfMemory");
    }

    // Other formats renamed .g00.
    corpus.add("png-renamed", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'},
               "notG00");
    corpus.add("bmp-renamed", {'B', 'M', 0x3E, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0}, "notG00");
    corpus.add("zip-renamed", {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0}, "notG00");
    corpus.add("text-renamed", {'h', 'e', 'l', 'l', 'o', '\n'}, "notG00");
    corpus.add("ico-renamed", {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0}, "truncated");
    corpus.add("type-1", assembleG00FullFrame(4, 4, {}, {}, 1), "unsupportedType");

    // Random bytes after valid headers: whatever they decode to, nothing leaves its buffers.
    std::mt19937 random(20261208);
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> noise(2000 + 500 * i);
        for (uint8_t& byte : noise) byte = uint8_t(random());
        corpus.add("full-random-" + std::to_string(i), assembleG00FullFrame(40, 30, noise),
                   "any");
        G00RegionImage image = oneRegion(40, 30, {});
        corpus.add("parts-random-" + std::to_string(i),
                   assembleG00Regions(image, noise, uint32_t(noise.size() * 2)), "any");
    }
    return 0;
}
