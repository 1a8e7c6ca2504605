// The C face: RGBA in both directions, region counts, the description's one allocation, and
// failures that hand back nothing. Its outputs against the programs' are c_library_test.sh's.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "codec/g00_inspect.h"
#include "common/fault_injection.h"
#include "tavimore.h"
#include "tests/g00_fixtures.h"
#include "tests/reference_codec.h"
#include "tools/test_pictures.h"

namespace {

std::vector<uint8_t> rgbaOf(const std::vector<uint8_t>& bgra) {
    std::vector<uint8_t> rgba(bgra);
    for (size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);
    return rgba;
}

std::vector<uint8_t> pixelsOf(const tavimore_image* image) {
    return {image->rgba, image->rgba + size_t(image->width) * image->height * 4};
}

// A sprite in square regions: many regions, soft alpha, fully transparent pixels all zero.
std::vector<uint8_t> spriteFile(uint32_t side, uint32_t regionSize) {
    PartCutting cutting;
    cutting.regionSize = regionSize;
    return encodeG00Regions(cutIntoParts(makeSpritePicture(side, side, 7), cutting),
                            LzMode::greedy);
}

// The picture an image holds, with its own pixels, for the functions that take one.
struct Picture {
    std::vector<uint8_t> rgba;
    tavimore_image image;
    explicit Picture(const TestPicture& from)
        : rgba(rgbaOf(from.bgra)), image{from.width, from.height, 0, rgba.data()} {}
};

}  // namespace

TEST(CFace, DecodeHandsTheReferencePixelsAsRgbaWithTheRegionCount) {
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        uint32_t regions;
    } cases[] = {
        {"full frame", fixtures::fullFrame(31, 9), 0},
        {"one region", fixtures::regions(40, 30, 20, 12), 1},
        {"256 regions, the count's low byte 0", spriteFile(160, 10), 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tavimore_image* image = nullptr;
        ASSERT_EQ(tavimore_decode(c.file.data(), c.file.size(), &image), TAVIMORE_OK);
        const ref::Decoded expected = ref::decodeG00(c.file);
        EXPECT_EQ(image->region_count, c.regions);
        EXPECT_EQ(pixelsOf(image), rgbaOf(expected.canvas));
        tavimore_free(image);
    }
}

TEST(CFace, PicturesComeBackFromTheFilesWrittenOfThem) {
    const Picture sprite(makeSpritePicture(70, 45, 3));
    using Write = std::function<tavimore_status(uint8_t**, size_t*)>;
    using Read = tavimore_status (*)(const uint8_t*, size_t, tavimore_image**);
    const struct {
        const char* name;
        Write write;
        Read read;
    } cases[] = {
        {"PNG",
         [&](uint8_t** out, size_t* size) {
             return tavimore_write_png(&sprite.image, TAVIMORE_PNG_RGBA, out, size);
         },
         tavimore_read_picture},
        {"PSD",
         [&](uint8_t** out, size_t* size) { return tavimore_write_psd(&sprite.image, out, size); },
         tavimore_read_picture},
        {"G00",
         [&](uint8_t** out, size_t* size) { return tavimore_pack(&sprite.image, out, size); },
         tavimore_decode},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t* file = nullptr;
        size_t size = 0;
        ASSERT_EQ(c.write(&file, &size), TAVIMORE_OK);
        tavimore_image* back = nullptr;
        ASSERT_EQ(c.read(file, size, &back), TAVIMORE_OK);
        EXPECT_EQ(pixelsOf(back), sprite.rgba);
        tavimore_free(back);
        tavimore_free(file);
    }
}

TEST(CFace, TheDescriptionHoldsEveryRecordEntryAndPartInItsOneBlock) {
    const std::vector<uint8_t> whole = spriteFile(90, 30);
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + 60);
    for (const std::vector<uint8_t>* file : {&whole, &cut}) {
        const G00Description expected = describeG00(*file);
        tavimore_description* d = nullptr;
        ASSERT_EQ(tavimore_describe(file->data(), file->size(), &d), TAVIMORE_OK);
        EXPECT_EQ(d->fields & TAVIMORE_HAS_ENTRY_COUNT,
                  expected.entryCount ? uint32_t(TAVIMORE_HAS_ENTRY_COUNT) : 0u);
        EXPECT_EQ(d->result, file == &cut ? TAVIMORE_TRUNCATED : TAVIMORE_OK);
        ASSERT_EQ(d->records_listed, expected.regions.size());
        ASSERT_EQ(d->entries_listed, expected.entries.size());
        for (uint32_t i = 0; i < d->records_listed; ++i)
            EXPECT_EQ(d->records[i].x2, expected.regions[i].x2);
        for (uint32_t i = 0; i < d->entries_listed; ++i) {
            const tavimore_entry& entry = d->entries[i];
            ASSERT_EQ(entry.parts_listed, expected.entries[i].parts.size());
            EXPECT_EQ(entry.box.width, expected.entries[i].box.width);
            for (uint32_t k = 0; k < entry.parts_listed; ++k)
                EXPECT_EQ(entry.parts[k].height, expected.entries[i].parts[k].height);
        }
        tavimore_free(d);
    }
}

TEST(CFace, EveryFailureGivesItsStatusAndHandsBackNothing) {
    const std::vector<uint8_t> full = fixtures::fullFrame(8, 8);
    const std::vector<uint8_t> parts = fixtures::regions(12, 10, 4, 3);
    std::vector<uint8_t> paletted = full;
    paletted[0] = 1;
    const Picture opaque(makePhotoPicture(12, 10, 1));
    const Picture small(makePhotoPicture(4, 4, 1));
    const Picture soft(makeSpritePicture(8, 8, 3));
    uint8_t* out = nullptr;
    size_t size = 0;
    tavimore_image* image = nullptr;
    tavimore_box box{};
    auto image_ = [&](tavimore_status status) {
        return std::make_pair(status, static_cast<void*>(image));
    };
    auto out_ = [&](tavimore_status status) {
        return std::make_pair(status, static_cast<void*>(out));
    };
    const struct {
        const char* name;
        std::function<std::pair<tavimore_status, void*>()> call;
        tavimore_status expected;
    } cases[] = {
        {"decode a cut file", [&] { return image_(tavimore_decode(full.data(), 9, &image)); },
         TAVIMORE_TRUNCATED},
        {"decode type 1",
         [&] { return image_(tavimore_decode(paletted.data(), paletted.size(), &image)); },
         TAVIMORE_UNSUPPORTED_TYPE},
        {"decode no file", [&] { return image_(tavimore_decode(nullptr, 0, &image)); },
         TAVIMORE_INVALID_ARGUMENT},
        {"a region of a full frame",
         [&] { return image_(tavimore_draw_region(full.data(), full.size(), 0, &image, &box)); },
         TAVIMORE_INVALID_ARGUMENT},
        {"a region beyond the table",
         [&] { return image_(tavimore_draw_region(parts.data(), parts.size(), 5, &image, &box)); },
         TAVIMORE_EMPTY_PICTURE},
        {"a G00 file read as a picture",
         [&] { return image_(tavimore_read_picture(full.data(), full.size(), &image)); },
         TAVIMORE_NOT_PICTURE},
        {"an unknown PNG colour",
         [&] {
             return out_(tavimore_write_png(&opaque.image, tavimore_png_colour(3), &out, &size));
         },
         TAVIMORE_INVALID_ARGUMENT},
        {"a picture without pixels",
         [&] {
             const tavimore_image none{4, 4, 0, nullptr};
             return out_(tavimore_write_bmp(&none, &out, &size));
         },
         TAVIMORE_INVALID_ARGUMENT},
        {"packed like a file of another size",
         [&] {
             return out_(tavimore_pack_like(parts.data(), parts.size(), &small.image,
                                            TAVIMORE_OUTSIDE_DROPPED, &out, &size));
         },
         TAVIMORE_SIZE_DIFFERS},
        {"pixels outside the original's part",
         [&] {
             return out_(tavimore_pack_like(parts.data(), parts.size(), &opaque.image,
                                            TAVIMORE_OUTSIDE_FAILS, &out, &size));
         },
         TAVIMORE_PIXELS_OUTSIDE},
        {"transparency packed like a full frame",
         [&] {
             return out_(tavimore_pack_like(full.data(), full.size(), &soft.image,
                                            TAVIMORE_OUTSIDE_DROPPED, &out, &size));
         },
         TAVIMORE_TRANSPARENCY_LOST},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        out = reinterpret_cast<uint8_t*>(&size);  // stale values the call must clear
        image = reinterpret_cast<tavimore_image*>(&size);
        size = 7;
        const auto [status, result] = c.call();
        EXPECT_EQ(status, c.expected);
        EXPECT_EQ(result, nullptr);
    }
    // The same pixels outside, dropped, are packed.
    ASSERT_EQ(tavimore_pack_like(parts.data(), parts.size(), &opaque.image,
                                 TAVIMORE_OUTSIDE_DROPPED, &out, &size),
              TAVIMORE_OK);
    tavimore_free(out);
}

TEST(CFace, EachStatusHasAText) {
    std::set<std::string> texts;
    for (int s = TAVIMORE_OK; s <= TAVIMORE_REGION_TWICE; ++s)
        texts.insert(tavimore_status_text(tavimore_status(s)));
    EXPECT_EQ(texts.size(), size_t(TAVIMORE_REGION_TWICE) + 1);
    EXPECT_EQ(texts.count(tavimore_status_text(tavimore_status(TAVIMORE_REGION_TWICE + 1))), 0u);
}

TEST(CFace, AnAllocationRefusedIsOutOfMemoryAndLeavesNoBlock) {
    const std::vector<uint8_t> file = spriteFile(64, 32);
    const Picture sprite(makeSpritePicture(64, 64, 7));
    const std::function<tavimore_status(void**)> calls[] = {
        [&](void** r) {
            return tavimore_decode(file.data(), file.size(), reinterpret_cast<tavimore_image**>(r));
        },
        [&](void** r) {
            size_t size;
            return tavimore_write_layered_psd(file.data(), file.size(),
                                              reinterpret_cast<uint8_t**>(r), &size);
        },
        [&](void** r) {
            size_t size;
            return tavimore_write_png(&sprite.image, TAVIMORE_PNG_RGBA,
                                      reinterpret_cast<uint8_t**>(r), &size);
        },
        [&](void** r) {
            size_t size;
            return tavimore_pack_like(file.data(), file.size(), &sprite.image,
                                      TAVIMORE_OUTSIDE_FAILS, reinterpret_cast<uint8_t**>(r),
                                      &size);
        },
        [&](void** r) {
            size_t size;
            const tavimore_region_picture regions[] = {{3, 32, 0, &sprite.image},
                                                       {0, 0, 0, &sprite.image}};
            return tavimore_pack_like_regions(file.data(), file.size(), regions, 2,
                                              TAVIMORE_OUTSIDE_DROPPED,
                                              reinterpret_cast<uint8_t**>(r), &size, nullptr);
        },
        [&](void** r) {
            size_t size;
            const tavimore_region_picture layers[] = {{0, 0, 0, &sprite.image},
                                                      {1, 5, 7, &sprite.image}};
            return tavimore_pack_regions(layers, 2, 64, 64, reinterpret_cast<uint8_t**>(r), &size);
        },
        [&](void** r) {
            tavimore_box box;
            return tavimore_region_mask(file.data(), file.size(), 0, reinterpret_cast<uint8_t**>(r),
                                        &box);
        },
        [&](void** r) {
            return tavimore_decode_layers(file.data(), file.size(), nullptr,
                                          reinterpret_cast<tavimore_layers**>(r));
        },
    };
    for (const auto& call : calls) {
        faults::arm(faults::Point::allocation, 0);
        void* result = nullptr;
        ASSERT_EQ(call(&result), TAVIMORE_OK);
        tavimore_free(result);
        const uint32_t allocations = faults::calls(faults::Point::allocation);
        ASSERT_GT(allocations, 0u);
        for (uint32_t n = 1; n <= allocations; ++n) {
            SCOPED_TRACE(n);
            faults::arm(faults::Point::allocation, n);
            EXPECT_EQ(call(&result), TAVIMORE_OUT_OF_MEMORY);
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(faults::liveBlocks(), 0);
        }
    }
    faults::disarm();
}

namespace {

// The decompressed data of a region-based file, by the reference decoder.
std::vector<uint8_t> regionData(const std::vector<uint8_t>& file) {
    const uint64_t sizes = regionSizePairOffset(file[kRegionCountOffset]);
    std::vector<uint8_t> data(ref::le32(file, sizes + kDecompressedLengthOffset));
    EXPECT_EQ(ref::decodeLzBytes(file, sizes + kSizePairSize, sizes + ref::le32(file, sizes), data),
              Status::ok);
    return data;
}

// Every region of a file drawn alone, as the pictures that pack it back.
struct RegionPictures {
    std::vector<tavimore_image*> images;
    std::vector<tavimore_region_picture> given;
    explicit RegionPictures(const std::vector<uint8_t>& file) {
        for (uint32_t r = 0;; ++r) {
            tavimore_image* image = nullptr;
            tavimore_box box{};
            if (tavimore_draw_region(file.data(), file.size(), r, &image, &box) != TAVIMORE_OK)
                break;
            images.push_back(image);
            given.push_back({r, int32_t(box.left), int32_t(box.top), image});
        }
    }
    ~RegionPictures() {
        for (tavimore_image* image : images) tavimore_free(image);
    }
};

std::vector<uint8_t> expressionFile() {
    return encodeG00Regions(makeExpressionSprite(64, 56, 5, 3), LzMode::compress);
}

}  // namespace

TEST(CFace, RegionsPackBackAndAnEditOfAHiddenRegionChangesOnlyItsPart) {
    const std::vector<uint8_t> file = expressionFile();
    RegionPictures regions(file);
    ASSERT_EQ(regions.given.size(), 4u);
    uint8_t* out = nullptr;
    size_t size = 0;
    ASSERT_EQ(tavimore_pack_like_regions(file.data(), file.size(), regions.given.data(),
                                         regions.given.size(), TAVIMORE_OUTSIDE_FAILS, &out, &size,
                                         nullptr),
              TAVIMORE_OK);
    EXPECT_EQ(std::vector<uint8_t>(out, out + size), file);
    tavimore_free(out);

    // Face 1's middle pixel lies under face 2's: the decoded picture does not show it.
    tavimore_image& hidden = *regions.images[1];
    uint8_t* pixel = hidden.rgba + (13 * hidden.width + 13) * 4;
    ASSERT_NE(pixel[3], 0);
    pixel[0] ^= 0xFF;
    const tavimore_region_picture only[] = {regions.given[1]};
    ASSERT_EQ(tavimore_pack_like_regions(file.data(), file.size(), only, 1, TAVIMORE_OUTSIDE_FAILS,
                                         &out, &size, nullptr),
              TAVIMORE_OK);
    const std::vector<uint8_t> before = regionData(file), after = regionData({out, out + size});
    tavimore_free(out);
    ASSERT_EQ(before.size(), after.size());
    std::vector<size_t> changed;
    for (size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) changed.push_back(i);
    // Entry 1's block, its one part's pixels after the block and part headers: (4, 4)'s red byte.
    const uint32_t block =
        ref::le32(before, kPartTableHeaderSize + kPartTableEntrySize + kEntryOffsetField);
    EXPECT_EQ(
        changed,
        std::vector<size_t>{
            block + kPartBlockHeaderSize + kPartHeaderSize +
            (13 * ref::le16(before, block + kPartBlockHeaderSize + kPartWidth) + 13) * 4 + 2});
}

TEST(CFace, RegionPicturesWithoutTransparencyKeepTheOriginalsAlpha) {
    // Opaque, as region BMPs and layers without alpha are: their colours refill the soft-edged
    // faces, whose alpha comes from the original, as tavimore-pack's region files do.
    const std::vector<uint8_t> file = expressionFile();
    RegionPictures regions(file);
    for (tavimore_image* image : regions.images)
        for (size_t i = 3; i < size_t(image->width) * image->height * 4; i += 4)
            image->rgba[i] = 255;
    uint8_t* out = nullptr;
    size_t size = 0;
    ASSERT_EQ(tavimore_pack_like_regions(file.data(), file.size(), regions.given.data(),
                                         regions.given.size(), TAVIMORE_OUTSIDE_FAILS, &out, &size,
                                         nullptr),
              TAVIMORE_OK);
    EXPECT_EQ(std::vector<uint8_t>(out, out + size), file);
    tavimore_free(out);
}

TEST(CFace, RegionPicturesThatCannotBePackedSayWhichRegion) {
    const std::vector<uint8_t> file = expressionFile();
    RegionPictures regions(file);
    std::vector<uint8_t> opaque(12 * 10 * 4, 255);
    const tavimore_image block{12, 10, 0, opaque.data()};
    const struct {
        const char* name;
        std::vector<tavimore_region_picture> given;
        tavimore_status expected;
        tavimore_pack_report report;
    } cases[] = {
        {"a region named twice",
         {regions.given[2], regions.given[1], regions.given[2]},
         TAVIMORE_REGION_TWICE,
         {2, 0, {}}},
        {"a region the original lacks",
         {{4, 0, 0, regions.images[0]}},
         TAVIMORE_NO_SUCH_REGION,
         {4, 0, {}}},
        // Face 3's part covers rows 18 to 35 from x 55 (past the picture's right edge): of the
        // block at (60, 30), 4 columns of rows 36 to 39 lie on the picture outside it.
        {"opaque pixels below a face",
         {regions.given[0], {3, 60, 30, &block}},
         TAVIMORE_PIXELS_OUTSIDE,
         {3, 4 * 4, {60, 36, 4, 4}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t* out = nullptr;
        size_t size = 0;
        tavimore_pack_report report{};
        EXPECT_EQ(
            tavimore_pack_like_regions(file.data(), file.size(), c.given.data(), c.given.size(),
                                       TAVIMORE_OUTSIDE_FAILS, &out, &size, &report),
            c.expected);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(report.region, c.report.region);
        EXPECT_EQ(report.outside_count, c.report.outside_count);
        EXPECT_EQ(report.outside_box.left, c.report.outside_box.left);
        EXPECT_EQ(report.outside_box.top, c.report.outside_box.top);
    }
}

namespace {

// A region picture on a transparent picture of the file's size, pixels of alpha 0 made all 0.
std::vector<uint8_t> placed(const tavimore_image& image, tavimore_box box, uint32_t width,
                            uint32_t height) {
    std::vector<uint8_t> picture(size_t(width) * height * 4, 0);
    for (uint32_t y = 0; y < box.height; ++y)
        for (uint32_t x = 0; x < box.width; ++x) {
            const uint8_t* p = image.rgba + (size_t(y) * box.width + x) * 4;
            if (p[3] != 0)
                std::memcpy(picture.data() + ((box.top + y) * size_t(width) + box.left + x) * 4, p,
                            4);
        }
    return picture;
}

}  // namespace

TEST(CFace, FreshRegionsDrawTheirPicturesBackAndMasksLeaveOnlyWhatIsShown) {
    const std::vector<uint8_t> file = expressionFile();
    RegionPictures regions(file);
    uint8_t* fresh = nullptr;
    size_t size = 0;
    ASSERT_EQ(
        tavimore_pack_regions(regions.given.data(), regions.given.size(), 64, 56, &fresh, &size),
        TAVIMORE_OK);
    const std::vector<uint8_t> packed(fresh, fresh + size);
    tavimore_free(fresh);
    // In both files each mask lets exactly one region's pixel through where the decoded
    // picture shows one, and that pixel is the picture's.
    for (const std::vector<uint8_t>* g00 : {&file, &packed}) {
        SCOPED_TRACE(g00 == &file ? "original" : "fresh");
        tavimore_image* decoded = nullptr;
        ASSERT_EQ(tavimore_decode(g00->data(), g00->size(), &decoded), TAVIMORE_OK);
        const std::vector<uint8_t> picture = pixelsOf(decoded);
        tavimore_free(decoded);
        std::vector<uint8_t> composite(picture.size(), 0);
        std::vector<int> shown(64 * 56, 0);
        for (const tavimore_region_picture& region : regions.given) {
            SCOPED_TRACE(region.region);
            tavimore_image* alone = nullptr;
            tavimore_box box{};
            ASSERT_EQ(tavimore_draw_region(g00->data(), g00->size(), region.region, &alone, &box),
                      TAVIMORE_OK);
            const tavimore_box given{uint32_t(region.left), uint32_t(region.top),
                                     region.image->width, region.image->height};
            EXPECT_EQ(placed(*alone, box, 64, 56), placed(*region.image, given, 64, 56));
            uint8_t* mask = nullptr;
            tavimore_box maskBox{};
            ASSERT_EQ(
                tavimore_region_mask(g00->data(), g00->size(), region.region, &mask, &maskBox),
                TAVIMORE_OK);
            EXPECT_EQ(maskBox.width * maskBox.height, box.width * box.height);
            for (uint32_t y = 0; y < box.height; ++y)
                for (uint32_t x = 0; x < box.width; ++x) {
                    const uint8_t* p = alone->rgba + (y * box.width + x) * 4;
                    if (mask[y * box.width + x] == 0 || p[3] == 0) continue;
                    const size_t at = (box.top + y) * 64 + box.left + x;
                    ++shown[at];
                    std::memcpy(composite.data() + at * 4, p, 4);
                }
            tavimore_free(mask);
            tavimore_free(alone);
        }
        for (size_t i = 3; i < picture.size(); i += 4)
            if (picture[i] == 0)
                std::memset(&composite[i - 3], 0, 4),
                    std::memset(const_cast<uint8_t*>(&picture[i - 3]), 0, 4);
        EXPECT_EQ(composite, picture);
        EXPECT_EQ(*std::max_element(shown.begin(), shown.end()), 1);
    }
}

TEST(CFace, TheHeaderCallGivesWhatADecodeRefusesBeforeDecoding) {
    // Header, compressed length 8 (no stream), decompressed length 0: 13 bytes.
    std::vector<uint8_t> bomb = {0, 0, 0x40, 0, 0x40, 8, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> sprite = spriteFile(160, 10);
    const tavimore_limits none{0}, small{100};
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        const tavimore_limits* limits;
        tavimore_status expected;
        uint32_t fields, width, regions;
    } cases[] = {
        {"16384 x 16384 in 13 bytes", bomb, nullptr, TAVIMORE_TOO_MANY_PIXELS, 7, 16384, 0},
        {"the same without a limit", bomb, &none, TAVIMORE_OK, 7, 16384, 0},
        {"31 x 9 over a limit of 100", fixtures::fullFrame(31, 9), &small,
         TAVIMORE_TOO_MANY_PIXELS, 7, 31, 0},
        {"256 regions", sprite, nullptr, TAVIMORE_OK, 15, 160, 256},
        {"4 bytes", {2, 1, 0, 1}, nullptr, TAVIMORE_TRUNCATED, 0, 0, 0},
        {"type 7", {7, 1, 0, 1, 0, 8, 0, 0, 0}, nullptr, TAVIMORE_NOT_G00, 1, 1, 0},
        {"width 0", {0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, 0, 0}, nullptr, TAVIMORE_EMPTY_PICTURE, 7, 0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tavimore_header header;
        EXPECT_EQ(tavimore_read_header(c.file.data(), c.file.size(), c.limits, &header),
                  c.expected);
        EXPECT_EQ(header.fields, c.fields);
        EXPECT_EQ(header.width, c.width);
        EXPECT_EQ(header.region_count, c.regions);
        if (c.expected != TAVIMORE_OK) {
            tavimore_image* image = nullptr;
            EXPECT_EQ(tavimore_decode_limited(c.file.data(), c.file.size(), c.limits, &image),
                      c.expected);
        }
    }
}

TEST(CFace, LayersFromOneDecodeAreTheRegionsDrawnAloneWithTheirMasks) {
    for (const std::vector<uint8_t>& file : {expressionFile(), spriteFile(64, 16)}) {
        tavimore_layers* layers = nullptr;
        ASSERT_EQ(tavimore_decode_layers(file.data(), file.size(), nullptr, &layers), TAVIMORE_OK);
        tavimore_image* whole = nullptr;
        ASSERT_EQ(tavimore_decode(file.data(), file.size(), &whole), TAVIMORE_OK);
        EXPECT_EQ(pixelsOf(&layers->picture), pixelsOf(whole));
        EXPECT_EQ(layers->picture.region_count, whole->region_count);
        tavimore_free(whole);
        uint32_t drawn = 0;
        for (uint32_t region = 0; region < layers->picture.region_count; ++region) {
            tavimore_image* alone = nullptr;
            tavimore_box box;
            if (tavimore_draw_region(file.data(), file.size(), region, &alone, &box) != TAVIMORE_OK)
                continue;
            ASSERT_LT(drawn, layers->layer_count);
            const tavimore_layer& layer = layers->layers[drawn++];
            EXPECT_EQ(layer.region, region);
            EXPECT_EQ(std::memcmp(&layer.box, &box, sizeof box), 0);
            EXPECT_EQ(std::vector<uint8_t>(layer.rgba, layer.rgba + box.width * box.height * 4),
                      pixelsOf(alone));
            tavimore_free(alone);
            uint8_t* mask = nullptr;
            ASSERT_EQ(tavimore_region_mask(file.data(), file.size(), region, &mask, &box),
                      TAVIMORE_OK);
            EXPECT_EQ(std::memcmp(layer.mask, mask, box.width * box.height), 0);
            tavimore_free(mask);
        }
        EXPECT_EQ(drawn, layers->layer_count);
        tavimore_free(layers);
    }
    const std::vector<uint8_t> full = fixtures::fullFrame(31, 9);
    tavimore_layers* layers = nullptr;
    ASSERT_EQ(tavimore_decode_layers(full.data(), full.size(), nullptr, &layers), TAVIMORE_OK);
    EXPECT_EQ(layers->layer_count, 0u);
    tavimore_free(layers);
}

TEST(CFace, AFullFramePictureIsOpaqueAndPacksBackToAFullFrame) {
    const std::vector<uint8_t> file = fixtures::fullFrame(31, 9);
    tavimore_image* image = nullptr;
    ASSERT_EQ(tavimore_decode(file.data(), file.size(), &image), TAVIMORE_OK);
    uint8_t* packed = nullptr;
    size_t size = 0;
    ASSERT_EQ(tavimore_pack(image, &packed, &size), TAVIMORE_OK);
    EXPECT_EQ(packed[0], 0);  // full frame
    tavimore_image* again = nullptr;
    ASSERT_EQ(tavimore_decode(packed, size, &again), TAVIMORE_OK);
    EXPECT_EQ(pixelsOf(again), pixelsOf(image));
    for (size_t i = 3; i < size_t(image->width) * image->height * 4; i += 4)
        ASSERT_EQ(image->rgba[i], 255);
    tavimore_free(again);
    tavimore_free(packed);
    tavimore_free(image);
}
