// Fuzzes every entry of the C face as another program calls it. The input is a G00 file, or a
// picture (it starts as a PNG, BMP or PSD file does) then, after a 0xFF 0x00 0xFF marker, a G00
// original to pack it like. Besides the sanitizers, oracles abort on a broken promise: a failure
// hands back nothing; the header call refuses what a decode refuses before decoding; the layers of
// one decode are the regions drawn alone with their masks; a full frame is opaque; a picture packs
// back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "tavimore.h"

namespace {

// Pictures above this are refused by the limits, so the oracles run on small pictures while
// larger headers still exercise the refusals; the functions without limits are called only on
// files the header call passes at this limit.
constexpr tavimore_limits kLimits{uint64_t(1) << 16};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "c_face_fuzzer: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what) {
    if (!holds) fail(what);
}

size_t pixelBytes(const tavimore_image& image) { return size_t(image.width) * image.height * 4; }

// The same picture as a viewer sees it: a fresh pack stores no part where nothing shows, so the
// colour of a pixel of alpha 0 is not kept.
bool samePicture(const tavimore_image& a, const tavimore_image& b) {
    if (a.width != b.width || a.height != b.height) return false;
    for (size_t i = 0; i < pixelBytes(a); i += 4)
        if (a.rgba[i + 3] != b.rgba[i + 3] ||
            (a.rgba[i + 3] != 0 && std::memcmp(a.rgba + i, b.rgba + i, 3) != 0))
            return false;
    return true;
}

// A G00 file through every function that reads one.
void readG00(const uint8_t* file, size_t size) {
    tavimore_header header;
    const tavimore_status said = tavimore_read_header(file, size, &kLimits, &header);
    tavimore_image* image = nullptr;
    const tavimore_status decoded = tavimore_decode_limited(file, size, &kLimits, &image);
    if (said != TAVIMORE_OK) check(decoded == said, "the header call and the decode disagree");
    tavimore_layers* layers = nullptr;
    const tavimore_status layered = tavimore_decode_layers(file, size, &kLimits, &layers);
    check(layered == decoded, "the layers' decode and the decode disagree");
    tavimore_description* description = nullptr;
    check(tavimore_describe(file, size, &description) == TAVIMORE_OK, "no description");
    tavimore_free(description);
    if (decoded != TAVIMORE_OK) {
        check(image == nullptr && layers == nullptr, "a failure handed back a result");
        return;
    }
    check(std::memcmp(image->rgba, layers->picture.rgba, pixelBytes(*image)) == 0,
          "the layers' picture is not the decoded one");
    if (image->region_count == 0)
        for (size_t i = 3; i < pixelBytes(*image); i += 4)
            check(image->rgba[i] == 255, "a full-frame pixel is not opaque");
    uint32_t layer = 0;
    for (uint32_t region = 0; region < image->region_count && region < 8; ++region) {
        tavimore_image* alone = nullptr;
        tavimore_box box;
        if (tavimore_draw_region(file, size, region, &alone, &box) != TAVIMORE_OK) continue;
        while (layer < layers->layer_count && layers->layers[layer].region < region) ++layer;
        check(layer < layers->layer_count && layers->layers[layer].region == region,
              "a region that draws is not a layer");
        const tavimore_layer& drawn = layers->layers[layer];
        check(std::memcmp(&drawn.box, &box, sizeof box) == 0 &&
                  std::memcmp(drawn.rgba, alone->rgba, pixelBytes(*alone)) == 0,
              "a layer is not its region drawn alone");
        uint8_t* mask = nullptr;
        check(tavimore_region_mask(file, size, region, &mask, &box) == TAVIMORE_OK &&
                  std::memcmp(drawn.mask, mask, size_t(box.width) * box.height) == 0,
              "a layer's mask is not the region's");
        tavimore_free(mask);
        tavimore_free(alone);
    }
    uint8_t* out = nullptr;
    size_t outSize = 0;
    if (tavimore_write_layered_psd(file, size, &out, &outSize) == TAVIMORE_OK) tavimore_free(out);
    if (tavimore_pack(image, &out, &outSize) == TAVIMORE_OK) {
        tavimore_image* again = nullptr;
        check(tavimore_decode_limited(out, outSize, &kLimits, &again) == TAVIMORE_OK &&
                  samePicture(*again, *image),
              "a fresh pack does not decode to its picture");
        tavimore_free(again);
        tavimore_free(out);
    }
    if (tavimore_pack_like(file, size, image, TAVIMORE_OUTSIDE_DROPPED, &out, &outSize) ==
        TAVIMORE_OK)
        tavimore_free(out);
    tavimore_free(layers);
    tavimore_free(image);
}

// A picture written every way, and packed fresh, region by region, and like the original.
void packPicture(const uint8_t* picture, size_t size, const uint8_t* original, size_t originalSize) {
    tavimore_image* image = nullptr;
    if (tavimore_read_picture(picture, size, &image) != TAVIMORE_OK) {
        check(image == nullptr, "a failure handed back a picture");
        return;
    }
    if (uint64_t(image->width) * image->height <= kLimits.max_pixels) {
        uint8_t* out = nullptr;
        size_t outSize = 0;
        for (tavimore_status (*write)(const tavimore_image*, uint8_t**, size_t*) :
             {tavimore_write_bmp, tavimore_write_psd, tavimore_pack})
            if (write(image, &out, &outSize) == TAVIMORE_OK) tavimore_free(out);
        if (tavimore_write_png(image, TAVIMORE_PNG_RGBA, &out, &outSize) == TAVIMORE_OK)
            tavimore_free(out);
        const tavimore_region_picture regions[] = {{0, -3, 2, image}, {1, 5, -7, image}};
        if (tavimore_pack_regions(regions, 2, image->width + 4, image->height, &out, &outSize) ==
            TAVIMORE_OK)
            tavimore_free(out);
        tavimore_header header;
        if (tavimore_read_header(original, originalSize, &kLimits, &header) == TAVIMORE_OK) {
            if (tavimore_pack_like(original, originalSize, image, TAVIMORE_OUTSIDE_FAILS, &out,
                                   &outSize) == TAVIMORE_OK)
                tavimore_free(out);
            tavimore_pack_report report;
            if (tavimore_pack_like_regions(original, originalSize, regions, 2,
                                           TAVIMORE_OUTSIDE_DROPPED, &out, &outSize,
                                           &report) == TAVIMORE_OK)
                tavimore_free(out);
        }
    }
    tavimore_free(image);
}

// A copy of exactly these bytes, so that ASan sees any read past them; never a null pointer, since
// an empty file is an empty buffer, not a missing one.
std::vector<uint8_t> copyOf(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(std::max<size_t>(size, 1));
    if (size != 0) std::memcpy(bytes.data(), data, size);
    bytes.resize(size);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto startsWith = [&](const char* signature) {
        const size_t length = std::strlen(signature);
        return size >= length && std::memcmp(data, signature, length) == 0;
    };
    if (!startsWith("\x89PNG") && !startsWith("BM") && !startsWith("8BPS")) {
        const std::vector<uint8_t> file = copyOf(data, size);
        readG00(file.data(), file.size());
        return 0;
    }
    static constexpr uint8_t kMarker[] = {0xFF, 0x00, 0xFF};
    size_t split = size;
    for (size_t i = 0; i + sizeof kMarker <= size; ++i)
        if (std::memcmp(data + i, kMarker, sizeof kMarker) == 0) {
            split = i;
            break;
        }
    const size_t originalStart = std::min(size, split + sizeof kMarker);
    const std::vector<uint8_t> picture = copyOf(data, split);
    const std::vector<uint8_t> original = copyOf(data + originalStart, size - originalStart);
    packPicture(picture.data(), picture.size(), original.data(), original.size());
    return 0;
}
