// Writes the pictures the reader checks open: for each, NAME.psd, NAME.bmp, NAME.png (RGBA)
// and NAME.rgb.png (RGB) as the program writes them, NAME.layer.rgba (the Canvas as straight
// R,G,B,A) and NAME.merged.rgba (the layer flattened on white, with its alpha), plus manifest.json
// describing every file. And a few PSD files with a layer per region, layered/NAME.psd, with
// NAME.merged.rgba, each layer's pixels NAME.N.rgba, and layered/manifest.json giving every layer's
// name and place.
//
// The flattened values are computed here on their own, not by flattenOnWhite, so a fault in
// the writer's flattening shows up as a reader mismatch.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "codec/internal/bmp_write.h"
#include "codec/internal/png_write.h"
#include "codec/internal/psd_write.h"
#include "common/canvas.h"

namespace {

enum class Colour { flat, noise, ramp, mixed, black };
enum class Alpha { none, full, partial, half };

const char* colourName(Colour c) {
    switch (c) {
    case Colour::flat: return "flat";
    case Colour::noise: return "noise";
    case Colour::ramp: return "ramp";
    case Colour::mixed: return "mixed";
    case Colour::black: return "black";
    }
    return "?";
}

const char* alphaName(Alpha a) {
    switch (a) {
    case Alpha::none: return "none";
    case Alpha::full: return "full";
    case Alpha::partial: return "partial";
    case Alpha::half: return "half";
    }
    return "?";
}

struct Sample {
    uint32_t width;
    uint32_t height;
    Colour colour;
    Alpha alpha;
};

// Widths around the packing limits (below 4 always raw, 128 samples per run) and wide
// pictures kept short so every reader gets through the set quickly.
constexpr Sample kSamples[] = {
    {1, 1, Colour::flat, Alpha::half},          {1, 9, Colour::noise, Alpha::partial},
    {3, 5, Colour::noise, Alpha::none},         {3, 4, Colour::noise, Alpha::full},
    {4, 6, Colour::mixed, Alpha::partial},      {4, 3, Colour::flat, Alpha::none},
    {5, 9, Colour::noise, Alpha::none},         {5, 8, Colour::mixed, Alpha::partial},
    {127, 33, Colour::mixed, Alpha::partial},   {127, 5, Colour::black, Alpha::full},
    {128, 16, Colour::flat, Alpha::none},       {128, 31, Colour::noise, Alpha::partial},
    {129, 17, Colour::ramp, Alpha::partial},    {129, 3, Colour::noise, Alpha::full},
    {1000, 24, Colour::mixed, Alpha::partial},  {1000, 6, Colour::noise, Alpha::none},
    {1920, 12, Colour::mixed, Alpha::partial},  {1920, 4, Colour::flat, Alpha::full},
    {1920, 2, Colour::noise, Alpha::none},      {3, 200, Colour::ramp, Alpha::partial},
    {1000, 150, Colour::mixed, Alpha::partial},  // PNG rows in three bands
};

struct Random {
    uint32_t state;
    uint8_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return uint8_t(state >> 11);
    }
};

// A colour that stays the same over 16 x 8 tiles, so whole row segments repeat.
uint8_t tileValue(uint32_t x, uint32_t y, uint32_t channel) {
    uint32_t h = (x / 16) * 73856093u ^ (y / 8) * 19349663u ^ (channel + 1) * 83492791u;
    return uint8_t(h >> 7);
}

void fill(const Sample& s, uint32_t seed, Canvas& canvas) {
    Random random{seed * 2654435761u | 1};
    const uint32_t w = s.width, h = s.height;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = canvas.pixels.data() + (uint64_t(y) * w + x) * 4;
            for (uint32_t c = 0; c < 3; ++c) {  // c: 0 blue, 1 green, 2 red
                uint8_t v = 0;
                switch (s.colour) {
                case Colour::flat: v = tileValue(x, y, c); break;
                case Colour::noise: v = random.next(); break;
                case Colour::ramp:
                    v = uint8_t(c == 2   ? x * 255 / (w > 1 ? w - 1 : 1)
                                : c == 1 ? y * 255 / (h > 1 ? h - 1 : 1)
                                         : (x + y) * 7);
                    break;
                case Colour::mixed:
                    v = ((x / 32 + y / 4) & 1) ? random.next() : tileValue(x, y, c);
                    break;
                case Colour::black: v = 0; break;
                }
                p[c] = v;
            }
            uint8_t a = 0;
            switch (s.alpha) {
            case Alpha::none: a = 255; break;
            case Alpha::full: a = 0; break;
            case Alpha::half: a = 128; break;
            case Alpha::partial:
                // Transparent and opaque areas, a ramp across, a soft diagonal, and noise.
                switch ((x * 5 / w + y) % 5) {
                case 0: a = 0; break;
                case 1: a = 255; break;
                case 2: a = uint8_t(x * 255 / (w > 1 ? w - 1 : 1)); break;
                case 3: a = uint8_t((x + y) * 3 + 1); break;
                default: a = random.next(); break;
                }
                break;
            }
            p[3] = a;
        }
    }
}

bool save(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

const char* compression(const uint8_t* block) {
    return (block[0] << 8 | block[1]) == 1 ? "packed" : "raw";
}

uint32_t loadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Documents whose layers are rectangles cut from one picture, as the regions of a G00 file
// are: placed at the edges, overlapping or apart, one pixel small, packed and raw.
struct LayeredSample {
    const char* name;
    uint32_t width, height;
    Colour colour;
    struct Box {
        uint32_t left, top, width, height, region;
    } boxes[4];
    uint32_t count;
};

constexpr LayeredSample kLayeredSamples[] = {
    {"three_apart",
     64,
     48,
     Colour::mixed,
     {{0, 0, 20, 10, 0}, {30, 20, 34, 28, 2}, {5, 15, 1, 1, 7}},
     3},
    {"overlapping",
     300,
     40,
     Colour::noise,
     {{0, 0, 129, 40, 1}, {100, 5, 200, 30, 3}, {296, 0, 4, 40, 255}},
     3},
    {"one_inside", 9, 7, Colour::flat, {{3, 2, 5, 4, 12}}, 1},
    {"wide_flat", 1920, 12, Colour::flat, {{0, 0, 1920, 6, 0}, {640, 6, 1280, 6, 1}}, 2},
};

bool writeLayeredSamples(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::string manifest = "[\n";
    uint32_t index = 0;
    for (const LayeredSample& l : kLayeredSamples) {
        ++index;
        Canvas canvas;
        if (makeCanvas(l.width, l.height, canvas) != Status::ok) return false;
        fill(Sample{l.width, l.height, l.colour, Alpha::partial}, 100 + index, canvas);
        std::vector<Canvas> crops(l.count);
        std::vector<PsdRegionLayer> layers;
        std::string entries;
        for (uint32_t i = 0; i < l.count; ++i) {
            const auto& box = l.boxes[i];
            if (makeCanvas(box.width, box.height, crops[i]) != Status::ok) return false;
            std::vector<uint8_t> rgba(uint64_t(box.width) * box.height * 4);
            for (uint32_t y = 0; y < box.height; ++y)
                for (uint32_t x = 0; x < box.width; ++x) {
                    const uint8_t* from = canvas.pixels.data() +
                                          ((uint64_t(box.top) + y) * l.width + box.left + x) * 4;
                    uint8_t* to = crops[i].pixels.data() + (uint64_t(y) * box.width + x) * 4;
                    std::memcpy(to, from, 4);
                    uint8_t* out = rgba.data() + (uint64_t(y) * box.width + x) * 4;
                    out[0] = from[2], out[1] = from[1], out[2] = from[0], out[3] = from[3];
                }
            layers.push_back({&crops[i], box.left, box.top, box.region});
            if (!save(folder / (std::string(l.name) + "." + std::to_string(i) + ".rgba"), rgba))
                return false;
            char name[16];
            std::snprintf(name, sizeof name, "region %03u", box.region);
            entries += std::string(i ? ", " : "") + "{\"name\": \"" + name +
                       "\", \"left\": " + std::to_string(box.left) +
                       ", \"top\": " + std::to_string(box.top) +
                       ", \"width\": " + std::to_string(box.width) +
                       ", \"height\": " + std::to_string(box.height) + "}";
        }
        std::vector<uint8_t> merged(uint64_t(l.width) * l.height * 4);
        const uint8_t* p = canvas.pixels.data();
        for (uint64_t i = 0; i < uint64_t(l.width) * l.height; ++i, p += 4) {
            for (uint32_t c = 0; c < 3; ++c)
                merged[i * 4 + c] = uint8_t((p[2 - c] * p[3] + (255 - p[3]) * 255) / 255);
            merged[i * 4 + 3] = p[3];
        }
        std::vector<uint8_t> psd(layeredPsdBound(l.width, l.height, layers));
        psd.resize(writeLayeredPsd(canvas, layers, psd));
        if (psd.empty() || !save(folder / (std::string(l.name) + ".psd"), psd) ||
            !save(folder / (std::string(l.name) + ".merged.rgba"), merged))
            return false;
        manifest += std::string("  {\"name\": \"") + l.name +
                    "\", \"width\": " + std::to_string(l.width) +
                    ", \"height\": " + std::to_string(l.height) + ", \"layers\": [" + entries +
                    "]}" + (index < std::size(kLayeredSamples) ? ",\n" : "\n");
    }
    manifest += "]\n";
    return save(folder / "manifest.json",
                {reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size()});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_samples OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    std::string manifest = "[\n";
    bool infoOdd = false, infoEven = false, layerPacked = false, layerRaw = false;
    bool mergedPacked = false, mergedRaw = false;
    uint32_t index = 0;
    for (const Sample& s : kSamples) {
        ++index;
        char label[64];
        std::snprintf(label, sizeof label, "w%u_h%u_%s_%s", s.width, s.height, colourName(s.colour),
                      alphaName(s.alpha));
        const std::string name = label;
        Canvas canvas;
        if (makeCanvas(s.width, s.height, canvas) != Status::ok) {
            std::fprintf(stderr, "%s: no Canvas\n", name.c_str());
            return 1;
        }
        fill(s, index, canvas);

        const uint64_t count = uint64_t(s.width) * s.height;
        std::vector<uint8_t> layer(count * 4), merged(count * 4);
        const uint8_t* p = canvas.pixels.data();
        for (uint64_t i = 0; i < count; ++i, p += 4) {
            const uint32_t a = p[3];
            for (uint32_t c = 0; c < 3; ++c) {
                layer[i * 4 + c] = p[2 - c];
                merged[i * 4 + c] = uint8_t((p[2 - c] * a + (255 - a) * 255) / 255);
            }
            layer[i * 4 + 3] = merged[i * 4 + 3] = uint8_t(a);
        }

        std::vector<uint8_t> psd(psdBound(s.width, s.height));
        const uint32_t psdSize = writePsd(canvas, psd);
        std::vector<uint8_t> bmp(bmpFileSize(s.width, s.height), 0);
        const uint32_t bmpSize = writeBmp(canvas, bmp);
        if (psdSize == 0 || bmpSize != bmp.size()) {
            std::fprintf(stderr, "%s: the writers refused the picture\n", name.c_str());
            return 1;
        }
        psd.resize(psdSize);
        std::vector<uint8_t> png[2];
        const PngColour colours[2] = {PngColour::rgba, PngColour::rgb};
        for (int k = 0; k < 2; ++k) {
            std::vector<uint8_t> work(pngWorkSize(s.width, colours[k]));
            png[k].resize(pngBound(s.width, s.height, colours[k]));
            png[k].resize(writePng(canvas, colours[k], work, png[k]));
            if (png[k].empty()) {
                std::fprintf(stderr, "%s: the PNG writer refused the picture\n", name.c_str());
                return 1;
            }
        }
        if (!save(folder / (name + ".psd"), psd) || !save(folder / (name + ".bmp"), bmp) ||
            !save(folder / (name + ".png"), png[0]) ||
            !save(folder / (name + ".rgb.png"), png[1]) ||
            !save(folder / (name + ".layer.rgba"), layer) ||
            !save(folder / (name + ".merged.rgba"), merged)) {
            std::fprintf(stderr, "%s: cannot write into %s\n", name.c_str(), argv[1]);
            return 1;
        }

        // Where the blocks start and how each is stored, read back from the written file.
        const uint32_t infoLength = loadBe32(psd.data() + 38);
        std::string blocks, lengths;
        uint32_t at = 178;  // past the header and the layer record
        for (uint32_t field : {64u, 70u, 76u, 82u}) {
            const char* kind = compression(psd.data() + at);
            (kind[0] == 'p' ? layerPacked : layerRaw) = true;
            blocks += std::string("\"") + kind + "\", ";
            const uint32_t length = loadBe32(psd.data() + field);
            lengths += std::to_string(length) + ", ";
            at += length;
        }
        const uint32_t mergedAt = at + 4;
        const char* mergedKind = compression(psd.data() + mergedAt);
        (mergedKind[0] == 'p' ? mergedPacked : mergedRaw) = true;
        (infoLength % 2 ? infoOdd : infoEven) = true;

        manifest += "  {\"name\": \"" + name + "\", \"width\": " + std::to_string(s.width) +
                    ", \"height\": " + std::to_string(s.height) + ", \"colour\": \"" +
                    colourName(s.colour) + "\", \"alpha\": \"" + alphaName(s.alpha) +
                    "\", \"psd_size\": " + std::to_string(psdSize) +
                    ", \"layer_info_length\": " + std::to_string(infoLength) +
                    ", \"layer_blocks\": [" + blocks.substr(0, blocks.size() - 2) +
                    "], \"layer_block_lengths\": [" + lengths.substr(0, lengths.size() - 2) +
                    "], \"merged_block\": \"" + mergedKind +
                    "\", \"merged_at\": " + std::to_string(mergedAt) + "}" +
                    (index < std::size(kSamples) ? ",\n" : "\n");
    }
    manifest += "]\n";
    if (!save(folder / "manifest.json",
              {reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size()})) {
        std::fprintf(stderr, "cannot write the manifest\n");
        return 1;
    }

    if (!writeLayeredSamples(folder / "layered")) return 1;

    // The readers must meet every layout the writer produces, or the set proves little.
    if (!infoOdd || !infoEven || !layerPacked || !layerRaw || !mergedPacked || !mergedRaw) {
        std::fprintf(stderr,
                     "the pictures miss a layout: odd info %d, even info %d, layer packed %d, "
                     "layer raw %d, merged packed %d, merged raw %d\n",
                     infoOdd, infoEven, layerPacked, layerRaw, mergedPacked, mergedRaw);
        return 1;
    }
    std::printf("wrote %zu pictures into %s\n", std::size(kSamples), argv[1]);
    return 0;
}
