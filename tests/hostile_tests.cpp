// The hostile-file corpus: every file gets its expected outcome, and nothing is left held.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "batch/convert_file.h"
#include "common/fault_injection.h"

namespace {

bool matches(const std::string& expected, Status status) {
    if (expected == "any") return true;  // random data: only safety is checked
    if (expected == "ok-or-outOfMemory")  // a 4 GiB decompression buffer, where the system has it
        return status == Status::ok || status == Status::outOfMemory;
    return expected == statusName(status);
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
        for (bool psd : {true, false}) {
            SCOPED_TRACE(name + (psd ? " as PSD" : " as BMP"));
            EncodedImage image;
            ConvertResult result = encodeFile(path.c_str(), psd, image);
            EXPECT_TRUE(matches(expected, result.status))
                << "expected " << expected << ", got " << statusName(result.status);
            if (result.ok()) {
                EXPECT_GT(image.length, 0u);
            }
        }
        ++files;
    }
    EXPECT_GT(files, 50);
    EXPECT_EQ(faults::liveBlocks(), 0);
    EXPECT_EQ(faults::liveHandles(), 0);
}
