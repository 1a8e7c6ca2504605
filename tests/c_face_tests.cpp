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
    return encodeG00Regions(cutIntoParts(makeSpritePicture(side, side, 7), cutting), LzMode::greedy);
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
        {"PNG", [&](uint8_t** out, size_t* size) { return tavimore_write_png(&sprite.image, TAVIMORE_PNG_RGBA, out, size); },
         tavimore_read_picture},
        {"PSD", [&](uint8_t** out, size_t* size) { return tavimore_write_psd(&sprite.image, out, size); },
         tavimore_read_picture},
        {"G00", [&](uint8_t** out, size_t* size) { return tavimore_pack(&sprite.image, out, size); },
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
        EXPECT_EQ(d->fields & TAVIMORE_HAS_ENTRY_COUNT, expected.entryCount ? uint32_t(TAVIMORE_HAS_ENTRY_COUNT) : 0u);
        EXPECT_EQ(d->result, file == &cut ? TAVIMORE_TRUNCATED : TAVIMORE_OK);
        ASSERT_EQ(d->records_listed, expected.regions.size());
        ASSERT_EQ(d->entries_listed, expected.entries.size());
        for (uint32_t i = 0; i < d->records_listed; ++i) EXPECT_EQ(d->records[i].x2, expected.regions[i].x2);
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
    uint8_t* out = nullptr;
    size_t size = 0;
    tavimore_image* image = nullptr;
    tavimore_box box{};
    auto image_ = [&](tavimore_status status) { return std::make_pair(status, static_cast<void*>(image)); };
    auto out_ = [&](tavimore_status status) { return std::make_pair(status, static_cast<void*>(out)); };
    const struct {
        const char* name;
        std::function<std::pair<tavimore_status, void*>()> call;
        tavimore_status expected;
    } cases[] = {
        {"decode a cut file", [&] { return image_(tavimore_decode(full.data(), 9, &image)); }, TAVIMORE_TRUNCATED},
        {"decode type 1", [&] { return image_(tavimore_decode(paletted.data(), paletted.size(), &image)); },
         TAVIMORE_UNSUPPORTED_TYPE},
        {"decode no file", [&] { return image_(tavimore_decode(nullptr, 0, &image)); }, TAVIMORE_INVALID_ARGUMENT},
        {"a region of a full frame",
         [&] { return image_(tavimore_draw_region(full.data(), full.size(), 0, &image, &box)); },
         TAVIMORE_INVALID_ARGUMENT},
        {"a region beyond the table",
         [&] { return image_(tavimore_draw_region(parts.data(), parts.size(), 5, &image, &box)); },
         TAVIMORE_EMPTY_PICTURE},
        {"a G00 file read as a picture", [&] { return image_(tavimore_read_picture(full.data(), full.size(), &image)); },
         TAVIMORE_NOT_PICTURE},
        {"an unknown PNG colour",
         [&] { return out_(tavimore_write_png(&opaque.image, tavimore_png_colour(3), &out, &size)); },
         TAVIMORE_INVALID_ARGUMENT},
        {"a picture without pixels",
         [&] {
             const tavimore_image none{4, 4, 0, nullptr};
             return out_(tavimore_write_bmp(&none, &out, &size));
         },
         TAVIMORE_INVALID_ARGUMENT},
        {"packed like a file of another size",
         [&] {
             return out_(tavimore_pack_like(parts.data(), parts.size(), &small.image, TAVIMORE_OUTSIDE_DROPPED, &out, &size));
         },
         TAVIMORE_SIZE_DIFFERS},
        {"pixels outside the original's part",
         [&] {
             return out_(tavimore_pack_like(parts.data(), parts.size(), &opaque.image, TAVIMORE_OUTSIDE_FAILS, &out, &size));
         },
         TAVIMORE_PIXELS_OUTSIDE},
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
    ASSERT_EQ(tavimore_pack_like(parts.data(), parts.size(), &opaque.image, TAVIMORE_OUTSIDE_DROPPED, &out, &size),
              TAVIMORE_OK);
    tavimore_free(out);
}

TEST(CFace, EachStatusHasAText) {
    std::set<std::string> texts;
    for (int s = TAVIMORE_OK; s <= TAVIMORE_INVALID_ARGUMENT; ++s)
        texts.insert(tavimore_status_text(tavimore_status(s)));
    EXPECT_EQ(texts.size(), size_t(TAVIMORE_INVALID_ARGUMENT) + 1);
}

TEST(CFace, AnAllocationRefusedIsOutOfMemoryAndLeavesNoBlock) {
    const std::vector<uint8_t> file = spriteFile(64, 32);
    const Picture sprite(makeSpritePicture(64, 64, 7));
    const std::function<tavimore_status(void**)> calls[] = {
        [&](void** r) { return tavimore_decode(file.data(), file.size(), reinterpret_cast<tavimore_image**>(r)); },
        [&](void** r) {
            size_t size;
            return tavimore_write_layered_psd(file.data(), file.size(), reinterpret_cast<uint8_t**>(r), &size);
        },
        [&](void** r) {
            size_t size;
            return tavimore_write_png(&sprite.image, TAVIMORE_PNG_RGBA, reinterpret_cast<uint8_t**>(r), &size);
        },
        [&](void** r) {
            size_t size;
            return tavimore_pack_like(file.data(), file.size(), &sprite.image, TAVIMORE_OUTSIDE_FAILS,
                                      reinterpret_cast<uint8_t**>(r), &size);
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
