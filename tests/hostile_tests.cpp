// The hostile-file corpus: every file gets its expected outcome, and nothing is left held.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "batch/convert_file.h"
#include "batch/result_text.h"
#include "codec/g00_encode.h"
#include "codec/g00_inspect.h"
#include "codec/picture_reader.h"
#include "common/fault_injection.h"
#include "tests/g00_fixtures.h"

namespace {

bool matches(const std::string& expected, const char* name) {
    if (expected == "ok-or-outOfMemory")  // a 4 GiB decompression buffer, where the system has it
        return name == std::string("ok") || name == std::string("outOfMemory");
    return expected == name;
}

// A picture of the original's size, opaque white, packed like it whole and as region 0: both
// writers give the same outcome, and a file written decodes.
void packLikeWhite(const std::string& path, const std::string& expected) {
    const std::vector<uint8_t> original = fixtures::readFile(path);
    const G00LikePlan plan = planG00Like(original);
    ASSERT_EQ(plan.status, Status::ok);
    Canvas white;
    ASSERT_EQ(makeCanvas(plan.width, plan.height, white), Status::ok);
    std::memset(white.pixels.data(), 255, white.pixels.size());
    Encoded whole, regions;
    const Status wholeStatus = encodeG00Like(original, plan, white, whole).status;
    const RegionPicture region0{0, 0, 0, &white, LikeAlpha::original};
    const Status regionStatus = encodeG00LikeRegions(original, {&region0, 1}, regions).status;
    EXPECT_TRUE(matches(expected, statusName(wholeStatus))) << statusName(wholeStatus);
    EXPECT_TRUE(matches(expected, statusName(regionStatus))) << statusName(regionStatus);
    for (const Encoded* file : {&whole, &regions}) {
        if (file->length == 0) continue;
        Canvas decoded;
        EXPECT_EQ(decodeG00Picture(file->bytes.span().first(file->length), decoded).status,
                  Status::ok);
    }
}

}  // namespace

TEST(HostileCorpus, EveryFileGetsItsOutcome) {
    std::ifstream list(TAVIMORE_HOSTILE_DIR "/expected.txt");
    ASSERT_TRUE(list.good());
    std::string line;
    int files = 0;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string name, expected, packed;
        fields >> name >> expected >> packed;
        std::string path = std::string(TAVIMORE_HOSTILE_DIR "/") + name;
        if (!name.ends_with(".g00")) {
            // A picture to pack: read into a Canvas from exactly its bytes.
            SCOPED_TRACE(name);
            const std::vector<uint8_t> bytes = fixtures::readFile(path);
            ByteBuffer file, work;
            ASSERT_EQ(obtainBlock(kPictureWorkSize, work), Status::ok);
            if (!bytes.empty()) {
                ASSERT_EQ(obtainBlock(bytes.size(), file), Status::ok);
                std::memcpy(file.data(), bytes.data(), bytes.size());
            }
            Canvas canvas;
            const PictureRead read = readPicture(file.span(), work.span(), canvas);
            EXPECT_TRUE(matches(expected, statusName(read.status)))
                << "expected " << expected << ", got " << statusName(read.status);
            if (packed.starts_with("pack=")) {  // its layers packed fresh, a region each
                PsdLayers layers;
                PictureFacts facts;
                ASSERT_EQ(readPsdLayers(file.span(), work.span(), layers, facts), Status::ok);
                std::vector<RegionPicture> pictures;
                for (const PsdStoredLayer& layer : layers.layers)
                    pictures.push_back({uint32_t(pictures.size()), layer.left, layer.top,
                                        &layer.pixels, LikeAlpha::picture});
                Encoded fresh;
                EXPECT_EQ(
                    statusName(encodeFreshRegionsG00(pictures, layers.width, layers.height, fresh)),
                    packed.substr(5));
            }
            ++files;
            continue;
        }
        if (packed.starts_with("like=")) {
            SCOPED_TRACE(name + " packed like");
            packLikeWhite(path, packed.substr(5));
        }
        // Every way of writing a picture fails it the same way, and its description says so;
        // with the pixel limit every caller gets by default.
        constexpr uint64_t limit = kDefaultMaxPixels;
        struct Mode {
            const char* name;
            EncodeRequest request;
        } modes[] = {{"as PSD", {BuiltInFormat::psd, limit, nullptr, RegionOutput::whole}},
                     {"as BMP", {BuiltInFormat::bmp, limit, nullptr, RegionOutput::whole}},
                     {"region by region", {BuiltInFormat::psd, limit, nullptr, RegionOutput::each}},
                     {"as layers", {BuiltInFormat::psd, limit, nullptr, RegionOutput::layers}}};
        ConvertResult first;
        for (const Mode& mode : modes) {
            SCOPED_TRACE(name + " " + mode.name);
            EncodedImage image;
            ConvertResult result = encodeFile(path.c_str(), mode.request, image);
            EXPECT_TRUE(matches(expected, resultName(result)))
                << "expected " << expected << ", got " << resultName(result);
            if (&mode == &modes[0]) first = result;
            EXPECT_EQ(result.status, first.status);
            EXPECT_EQ(result.file, first.file);
            EXPECT_EQ(result.typeByte, first.typeByte);
            if (result.ok() && !image.byRegion) {
                EXPECT_GT(image.length, 0u);
            }
        }
        FileHandle source;
        ByteBuffer bytes;
        uint64_t size = 0;
        if (readSourceFile(path.c_str(), source, bytes, size).ok()) {
            EXPECT_EQ(describeG00(bytes.span().first(size_t(size)), limit).result, first.status)
                << name;
        }
        ++files;
    }
    EXPECT_GT(files, 90);
    EXPECT_EQ(faults::liveBlocks(), 0);
    EXPECT_EQ(faults::liveHandles(), 0);
}
