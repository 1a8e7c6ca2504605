#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/png.h"
#include "tests/g00_fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using fixtures::readFile;
using fixtures::writeFile;

namespace {

struct CliRun {
    int status;
    std::string errors;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / (std::string("tavimore-cli-") + info->name());
        fs::remove_all(root);
        fs::create_directories(root / "out");
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs the converter in root with the arguments; stderr is kept, stdout dropped.
    CliRun cli(const std::string& arguments) {
        fs::path errors = root / "stderr.txt";
        std::string command = "cd \"" + root.string() + "\" && \"" TAVIMORE_CLI "\" " + arguments +
                              " >\"" + (root / "stdout.txt").string() + "\" 2>\"" +
                              errors.string() + "\"";
        int raw = std::system(command.c_str());
#ifdef _WIN32
        int status = raw;
#else
        int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
        std::vector<uint8_t> text = readFile(errors);
        return CliRun{status, std::string(text.begin(), text.end())};
    }

    fs::path root;
};

}  // namespace

TEST_F(CliTest, ConvertsEachFileIntoTheFolder) {
    writeFile(root / "full.g00", fixtures::fullFrame(6, 4));
    writeFile(root / "parts.g00", fixtures::regions(8, 8, 4, 4));
    CliRun run = cli("-o out full.g00 parts.g00");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(fs::exists(root / "out" / "full.bmp"));
    EXPECT_TRUE(fs::exists(root / "out" / "parts.psd"));

    run = cli("--bmp -q -o out parts.g00");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(fs::exists(root / "out" / "parts.bmp"));
    EXPECT_EQ(readFile(root / "stdout.txt").size(), 0u);  // -q prints nothing but errors

    run = cli("full.g00");  // the default folder is the current one
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(fs::exists(root / "full.bmp"));
}

TEST_F(CliTest, ReportsEachFailureAndStopsUnlessKeepGoing) {
    std::vector<uint8_t> typeOne = fixtures::fullFrame(2, 2);
    typeOne[0] = 1;
    writeFile(root / "a.g00", fixtures::fullFrame(2, 2));
    writeFile(root / "b.g00", typeOne);
    writeFile(root / "c.g00", fixtures::fullFrame(3, 3));
    writeFile(root / "empty.g00", {});

    CliRun run = cli("-j 1 -o out a.g00 b.g00 c.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("b.g00: not a G00 image (type 1)"), std::string::npos) << run.errors;
    EXPECT_TRUE(fs::exists(root / "out" / "a.bmp"));
    EXPECT_FALSE(fs::exists(root / "out" / "c.bmp"));

    run = cli("-k -j 1 -o out b.g00 missing.g00 empty.g00 c.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("missing.g00: cannot open the file"), std::string::npos);
    EXPECT_NE(run.errors.find("empty.g00: the file is empty"), std::string::npos);
    EXPECT_TRUE(fs::exists(root / "out" / "c.bmp"));

    run = cli("-o no-such-folder a.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("a.g00: cannot create the output"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    for (const char* arguments :
         {"", "-j 0 a.g00", "-j x a.g00", "-o", "--frobnicate a.g00", "--png --bmp a.g00"}) {
        CliRun run = cli(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_NE(run.errors.find("usage:"), std::string::npos) << arguments;
    }
    EXPECT_EQ(cli("--help").status, 0);
    EXPECT_NE(readFile(root / "stdout.txt").size(), 0u);
    EXPECT_EQ(cli("--version").status, 0);
    std::vector<uint8_t> version = readFile(root / "stdout.txt");
    EXPECT_EQ(std::string(version.begin(), version.end()).rfind("tavimore-cli ", 0), 0u);
}

TEST_F(CliTest, SeveralAtOnceGiveTheResultsOfOneAfterAnother) {
    // Twenty files, among them pairs that map to the same output name and one failure.
    std::string names;
    for (int i = 0; i < 20; ++i) {
        std::string name = "p" + std::to_string(i % 7) + "." + std::to_string(i) + ".g00";
        writeFile(root / name, i % 2 ? fixtures::regions(40, 30, 20 + i, 10, i)
                                     : fixtures::fullFrame(30 + i, 20, i));
        names += " " + name;
    }
    std::vector<uint8_t> typeOne = fixtures::fullFrame(2, 2);
    typeOne[0] = 1;
    writeFile(root / "bad.g00", typeOne);

    fs::create_directories(root / "one");
    fs::create_directories(root / "many");
    EXPECT_EQ(cli("-k -j 1 -o one" + names + " bad.g00" + names).status, 1);
    EXPECT_EQ(cli("-k -j 4 -o many" + names + " bad.g00" + names).status, 1);
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root / "one")) {
        EXPECT_EQ(readFile(entry.path()), readFile(root / "many" / entry.path().filename()))
            << entry.path();
        ++compared;
    }
    EXPECT_EQ(compared, 14);  // p0..p6, each as bmp and psd

    // Without -k nothing after the failure is written, however many run at once.
    fs::remove_all(root / "many");
    fs::create_directories(root / "many");
    EXPECT_EQ(cli("-j 4 -o many p0.0.g00 bad.g00" + names).status, 1);
    EXPECT_TRUE(fs::exists(root / "many" / "p0.bmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "many"), fs::directory_iterator()), 1);
}

TEST_F(CliTest, PngWritesWhatTheWriterWritesWhateverTheThreads) {
    // Pictures of several bands, so that the bands are compressed on several threads and put
    // together; region-based ones keep their alpha, full-frame ones are RGB.
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        PngColour colour;
    };
    const Case cases[] = {{"parts", fixtures::regions(300, 1000, 280, 990, 3), PngColour::rgba},
                          {"full", fixtures::fullFrame(500, 900, 4), PngColour::rgb}};
    std::string names;
    for (const Case& c : cases) {
        writeFile(root / (std::string(c.name) + ".g00"), c.file);
        names += std::string(" ") + c.name + ".g00";
    }
    CliRun run = cli("--png -q -o out" + names);
    ASSERT_EQ(run.status, 0) << run.errors;
    for (const Case& c : cases) {
        support::Decoded decoded = support::decodeFile(c.file);
        ASSERT_EQ(decoded.status, Status::ok);
        const Canvas& canvas = decoded.canvas;
        ASSERT_GT(pngBandCount(canvas.width, canvas.height, c.colour), 2u);
        std::vector<uint8_t> work(pngWorkSize(canvas.width, c.colour));
        std::vector<uint8_t> png(pngFileBound(canvas.width, canvas.height, c.colour));
        png.resize(writePng(canvas, c.colour, {}, work, png));
        EXPECT_EQ(readFile(root / "out" / (std::string(c.name) + ".png")), png) << c.name;
    }
}
