// g00-make: writes G00 files made from the test pictures.
//
//   g00-make [options] OUTPUT.g00    one picture (see usage below)
//   g00-make --samples DIR           the bundled samples: landscape.g00 and sprite.g00
//   g00-make --seeds DIR             a small seed corpus for the fuzzer (a few KB in all)
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

namespace {

struct Options {
    PictureKind kind = PictureKind::photo;
    uint32_t width = 320, height = 240, seed = 1;
    int type = -1;  // -1: 2 for sprites, 0 otherwise
    LzMode mode = LzMode::compress;
    uint32_t levels = 0;  // 0: keep every colour; else quantise each channel to this many levels
    uint32_t faces = 0;   // a sprite with this many expressions in regions of their own
    PartCutting cutting;
};

void usage() {
    std::fputs(
        "usage: g00-make [options] OUTPUT.g00\n"
        "       g00-make --samples DIR   (writes DIR/landscape.g00 and DIR/sprite.g00)\n"
        "       g00-make --seeds DIR     (writes a small fuzzing seed corpus into DIR)\n"
        "options:\n"
        "  --kind photo|flat|lineart|sprite|noise   picture generator (photo)\n"
        "  --size WxH                                picture size, 1..65535 each (320x240)\n"
        "  --seed N                                  generator seed (1)\n"
        "  --type 0|2                                full-frame or region-based\n"
        "                                            (2 for sprites, 0 otherwise)\n"
        "  --levels N                                quantise colours to N levels a channel\n"
        "  --literal                                 literal-only LZ stream\n"
        "  --region-size N, --band N                 cutting of region-based pictures\n"
        "  --expressions N                           a sprite body with N faces over it,\n"
        "                                            overlapping, in regions of their own\n"
        "  --keep-empty                              empty regions get a 0-part block, not\n"
        "                                            an absent entry\n",
        stderr);
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "g00-make: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

void quantise(TestPicture& picture, uint32_t levels) {
    if (levels < 2 || levels >= 256) return;
    for (size_t i = 0; i < picture.bgra.size(); ++i) {
        if (i % 4 == 3) continue;
        uint32_t step = picture.bgra[i] * levels / 256;
        picture.bgra[i] = uint8_t(step * 255 / (levels - 1));
    }
}

std::vector<uint8_t> encode(const Options& o) {
    if (o.faces != 0)
        return encodeG00Regions(makeExpressionSprite(o.width, o.height, o.seed, o.faces), o.mode);
    TestPicture picture = makeTestPicture(o.kind, o.width, o.height, o.seed);
    quantise(picture, o.levels);
    int type = o.type >= 0 ? o.type : o.kind == PictureKind::sprite ? 2 : 0;
    if (type == 0)
        return encodeG00FullFrame(uint16_t(o.width), uint16_t(o.height), picture.bgra,
                                  PixelLayout::bgra, o.mode);
    return encodeG00Regions(cutIntoParts(picture, o.cutting), o.mode);
}

bool makeDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) std::fprintf(stderr, "g00-make: cannot create %s\n", dir.c_str());
    return !error;
}

bool writeSamples(const std::string& dir) {
    if (!makeDirectory(dir)) return false;
    Options landscape;  // a photo-like full frame, posterised so that it stays small
    landscape.kind = PictureKind::photo;
    landscape.width = 320;
    landscape.height = 240;
    landscape.seed = 7;
    landscape.levels = 8;
    Options sprite;  // soft transparency, cut into parts
    sprite.kind = PictureKind::sprite;
    sprite.width = 256;
    sprite.height = 256;
    sprite.seed = 3;
    sprite.levels = 12;
    sprite.cutting.regionSize = 128;
    sprite.cutting.bandHeight = 32;
    return writeFile(dir + "/landscape.g00", encode(landscape)) &&
           writeFile(dir + "/sprite.g00", encode(sprite));
}

// Small inputs that reach every path of the decoder and both writers.
bool writeSeeds(const std::string& dir) {
    if (!makeDirectory(dir)) return false;
    bool ok = true;
    auto put = [&](const char* name, const std::vector<uint8_t>& bytes) {
        ok = writeFile(dir + "/" + name, bytes) && ok;
    };
    TestPicture photo = makePhotoPicture(12, 9, 1);
    put("full-compressed.g00",
        encodeG00FullFrame(12, 9, photo.bgra, PixelLayout::bgra, LzMode::compress));
    TestPicture flat = makeFlatPicture(16, 6, 2);
    put("full-literal.g00",
        encodeG00FullFrame(16, 6, flat.bgra, PixelLayout::bgra, LzMode::literalsOnly));
    put("full-1x1.g00", encodeG00FullFrame(1, 1, std::vector<uint8_t>{1, 2, 3}, PixelLayout::bgr,
                                           LzMode::compress));

    PartCutting cutting;
    cutting.regionSize = 8;
    cutting.bandHeight = 4;
    TestPicture sprite = makeSpritePicture(16, 16, 3);
    put("regions-sprite.g00", encodeG00Regions(cutIntoParts(sprite, cutting), LzMode::compress));
    cutting.absentEmptyRegions = false;
    TestPicture lines = makeLineArtPicture(20, 7, 4);
    put("regions-lineart.g00",
        encodeG00Regions(cutIntoParts(lines, cutting), LzMode::literalsOnly));

    // Hand-made oddities: absent entries, an empty region, 0 parts, overlapping and clipped
    // parts, an entry beyond the region count.
    G00RegionImage odd;
    odd.width = 6;
    odd.height = 5;
    odd.regions = {{0, 0, 5, 4, {0, 0}}, {1, 1, 0, 0, {0, 0}}, {2, 1, 0, 1, {0, 0}}};
    auto part = [](uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t fill) {
        G00Part p{x, y, w, h, {}};
        p.pixels.assign(size_t(w) * h * 4, fill);
        return p;
    };
    G00Entry first;
    first.parts = {part(0, 0, 3, 2, 0x40), part(1, 1, 3, 3, 0x80), part(4, 3, 4, 4, 0xC0)};
    G00Entry second;
    second.parts = {part(0, 0, 2, 2, 0x11)};
    G00Entry third;
    third.parts = {part(0, 0, 0, 3, 0x22), part(1, 0, 2, 1, 0x33)};
    odd.entries = {first, second, third, G00Entry::absent(0x80000000u)};
    put("regions-odd.g00", encodeG00Regions(odd, LzMode::compress));
    G00Entry none;
    none.partCountField = 0;
    none.parts = {part(0, 0, 1, 1, 0x55)};
    G00RegionImage zero = odd;
    zero.entries = {none, G00Entry::absent()};
    put("regions-zero-parts.g00", encodeG00Regions(zero, LzMode::literalsOnly));
    return ok;
}

bool parseNumber(const char* text, uint32_t& value, uint32_t low, uint32_t high) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    value = uint32_t(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto takeValue = [&] {
            if (value == nullptr) {
                usage();
                std::exit(2);
            }
            ++i;
            return value;
        };
        if (arg == "--samples") return writeSamples(takeValue()) ? 0 : 1;
        if (arg == "--seeds") return writeSeeds(takeValue()) ? 0 : 1;
        if (arg == "--literal") {
            options.mode = LzMode::literalsOnly;
        } else if (arg == "--keep-empty") {
            options.cutting.absentEmptyRegions = false;
        } else if (arg == "--kind") {
            std::string kind = takeValue();
            bool found = false;
            for (PictureKind k : kAllPictureKinds) {
                std::string name = pictureKindName(k);
                for (char& c : name) c = char(std::tolower(uint8_t(c)));
                if (name == kind) {
                    options.kind = k;
                    found = true;
                }
            }
            if (!found) {
                usage();
                return 2;
            }
        } else if (arg == "--size") {
            std::string size = takeValue();
            size_t x = size.find('x');
            if (x == std::string::npos ||
                !parseNumber(size.substr(0, x).c_str(), options.width, 1, 65535) ||
                !parseNumber(size.substr(x + 1).c_str(), options.height, 1, 65535)) {
                usage();
                return 2;
            }
        } else if (arg == "--seed" || arg == "--type" || arg == "--levels" ||
                   arg == "--region-size" || arg == "--band" || arg == "--expressions") {
            uint32_t v = 0;
            if (!parseNumber(takeValue(), v, 0, 0xFFFFFFFFu)) {
                usage();
                return 2;
            }
            if (arg == "--seed") options.seed = v;
            if (arg == "--type") {
                if (v != 0 && v != 2) {
                    usage();
                    return 2;
                }
                options.type = int(v);
            }
            if (arg == "--levels") options.levels = v;
            if (arg == "--region-size") options.cutting.regionSize = v;
            if (arg == "--band") options.cutting.bandHeight = v;
            if (arg == "--expressions") options.faces = std::min<uint32_t>(v, 255);
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage();
            return 2;
        } else if (output == nullptr) {
            output = argv[i];
        } else {
            usage();
            return 2;
        }
    }
    if (output == nullptr) {
        usage();
        return 2;
    }
    return writeFile(output, encode(options)) ? 0 : 1;
}
