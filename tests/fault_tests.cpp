// Every allocation, open, create, read, write and placing the conversion makes is failed in
// turn, while an older output of the same name exists: it stays byte for byte as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/convert_file.h"
#include "codec/encode.h"
#include "codec/g00.h"
#include "codec/g00_encode.h"
#include "common/fault_injection.h"
#include "batch/file_access.h"
#include "tests/g00_fixtures.h"

namespace fs = std::filesystem;
using fixtures::readFile;
using fixtures::writeFile;

namespace {

struct Picture {
    const char* name;
    std::vector<uint8_t> bytes;
    BuiltInFormat regionFormat;
    const char* output;
};

}  // namespace

TEST(FaultSweep, EveryFaultFailsTheFileAndReleasesEverything) {
    fs::path root = fs::temp_directory_path() / "tavimore-fault-sweep";
    fs::remove_all(root);
    fs::create_directories(root / "out");
#ifdef _WIN32
    std::string folder = (root / "out").string() + "\\";
#else
    std::string folder = (root / "out").string() + "/";
#endif
    char outputPath[kPathSize] = {};
    std::memcpy(outputPath, folder.c_str(), folder.size() + 1);

    const Picture pictures[] = {
        {"full.g00", fixtures::fullFrame(33, 17), BuiltInFormat::psd, "full.bmp"},
        {"parts.g00", fixtures::regions(40, 30, 20, 12), BuiltInFormat::psd, "parts.psd"},
        {"parts-bmp.g00", fixtures::regions(40, 30, 20, 12), BuiltInFormat::bmp, "parts-bmp.bmp"},
    };
    const faults::Point points[] = {faults::Point::allocation, faults::Point::open,
                                    faults::Point::create,     faults::Point::read,
                                    faults::Point::write,      faults::Point::place};
    const std::vector<uint8_t> older(3000, 0xA5);
    int swept = 0;
    for (const Picture& picture : pictures) {
        fs::path source = root / picture.name;
        {
            std::ofstream out(source, std::ios::binary);
            out.write(reinterpret_cast<const char*>(picture.bytes.data()),
                      std::streamsize(picture.bytes.size()));
        }
        auto convert = [&] {
            return convertFile(source.string().c_str(), outputPath, folder.size(), picture.name,
                               picture.regionFormat);
        };
        for (faults::Point point : points) {
            faults::disarm();
            ASSERT_TRUE(convert().ok());
            const uint32_t reached = faults::calls(point);
            ASSERT_GT(reached, 0u);
            fs::remove_all(root / "out");
            fs::create_directories(root / "out");
            writeFile(root / "out" / picture.output, older);
            for (uint32_t nth = 1; nth <= reached; ++nth) {
                SCOPED_TRACE(std::string(picture.name) + " point " + std::to_string(int(point)) +
                             " call " + std::to_string(nth));
                faults::arm(point, nth);
                EXPECT_FALSE(convert().ok());
                EXPECT_EQ(faults::liveBlocks(), 0);
                EXPECT_EQ(faults::liveHandles(), 0);
                // The older output alone: no temporary file is left beside it.
                auto entries = fs::directory_iterator(root / "out");
                ASSERT_EQ(std::distance(entries, fs::directory_iterator()), 1);
                EXPECT_EQ(readFile(root / "out" / picture.output), older);
                EXPECT_EQ(readFile(source), picture.bytes);
                ++swept;
            }
        }
    }
    faults::disarm();
    // Three pictures, each with open, create, read, write and place once and three or four
    // blocks.
    EXPECT_GE(swept, 3 * 5 + 3 + 4 + 3);
    std::printf("fault points swept: %d\n", swept);
    fs::remove_all(root);
}

TEST(FaultSweep, APsdOnTwoThreadsWithoutRoomForItsSecondBlockIsPackedInPlace) {
    const std::vector<uint8_t> file = fixtures::regions(40, 30, 20, 12);
    Canvas canvas;
    ASSERT_EQ(decodeG00Picture(file, canvas).status, Status::ok);
    Encoded alone, inPlace, noRoom;
    ASSERT_EQ(encodePsd(canvas, {}, alone), Status::ok);
    auto bytesOf = [](const Encoded& encoded) {
        return std::vector<uint8_t>(encoded.bytes.data(), encoded.bytes.data() + encoded.length);
    };
    faults::arm(faults::Point::allocation, 2);  // the merged colours' own block
    EXPECT_EQ(encodePsd(canvas, onThreads(2), inPlace), Status::ok);
    EXPECT_EQ(bytesOf(inPlace), bytesOf(alone));
    faults::arm(faults::Point::allocation, 1);  // the file's block
    EXPECT_EQ(encodePsd(canvas, onThreads(2), noRoom), Status::outOfMemory);
    faults::disarm();
}

// A pack on two threads whose split work area cannot be had packs on one: the same file.
TEST(FaultSweep, APackOnTwoThreadsWithoutRoomForItsSplitWorkIsPackedOnOne) {
    const std::vector<uint8_t> file = fixtures::regions(40, 30, 20, 12);
    Canvas canvas;
    ASSERT_EQ(decodeG00Picture(file, canvas).status, Status::ok);
    const G00LikePlan plan = planG00Like(file);
    auto bytesOf = [](const Encoded& encoded) {
        return std::vector<uint8_t>(encoded.bytes.data(), encoded.bytes.data() + encoded.length);
    };
    Encoded alone, refused, likeAlone, likeRefused;
    ASSERT_EQ(encodeFreshG00(canvas, alone), Status::ok);
    ASSERT_EQ(encodeG00Like(file, plan, canvas, likeAlone).status, Status::ok);
    const int blocks = faults::liveBlocks();
    faults::arm(faults::Point::allocation, 1);  // the work area for two tasks
    EXPECT_EQ(encodeFreshG00(canvas, refused, onThreads(2)), Status::ok);
    faults::arm(faults::Point::allocation, 1);
    EXPECT_EQ(encodeG00Like(file, plan, canvas, likeRefused, onThreads(2)).status, Status::ok);
    faults::disarm();
    EXPECT_EQ(bytesOf(refused), bytesOf(alone));
    EXPECT_EQ(bytesOf(likeRefused), bytesOf(likeAlone));
    EXPECT_EQ(faults::liveBlocks(), blocks + 2);  // the two files' blocks, nothing else
}
