// The hostile-file corpus: every file gets its expected outcome, and nothing is left held.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "batch/convert_file.h"
#include "batch/result_text.h"
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

}  // namespace

TEST(HostileCorpus, EveryFileGetsItsOutcome) {
    std::ifstream list(TAVIMORE_HOSTILE_DIR "/expected.txt");
    ASSERT_TRUE(list.good());
    std::string line;
    int files = 0;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string name, expected;
        fields >> name >> expected;
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
            ++files;
            continue;
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
