#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "codec/g00.h"
#include "codec/g00_regions.h"
#include "codec/internal/png_write.h"
#include "codec/internal/psd_write.h"
#include "codec/picture_reader.h"
#include "common/bytes.h"
#include "tests/g00_fixtures.h"
#include "tests/test_support.h"
#include "tools/picture_files.h"
#include "tests/reference_codec.h"
#include "tools/test_pictures.h"

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
        // The process id too: test runs of other build trees may run at the same time.
        root = fs::temp_directory_path() /
               (std::string("tavimore-cli-") + info->name() + "-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "out");
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs the converter in root with the arguments; stderr is kept, stdout dropped.
    CliRun cli(const std::string& arguments) { return run(TAVIMORE_CLI, arguments); }
    CliRun pack(const std::string& arguments) { return run(TAVIMORE_PACK, arguments); }

    CliRun run(const char* program, const std::string& arguments) {
        fs::path errors = root / "stderr.txt";
        std::string command = "cd \"" + root.string() + "\" && \"" + program + "\" " + arguments +
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
    EXPECT_NE(run.errors.find("b.g00: not a picture this program converts (G00 type 1)"),
              std::string::npos)
        << run.errors;
    EXPECT_TRUE(fs::exists(root / "out" / "a.bmp"));
    EXPECT_FALSE(fs::exists(root / "out" / "c.bmp"));

    run = cli("-k -j 1 -o out b.g00 missing.g00 empty.g00 c.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("missing.g00: cannot open the file: No such file or directory"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("empty.g00: the file is empty"), std::string::npos);
    EXPECT_TRUE(fs::exists(root / "out" / "c.bmp"));

    // An output that cannot be put in place names itself and the system's reason.
    fs::remove(root / "out" / "a.bmp");
    fs::create_directories(root / "out" / "a.bmp");
    run = cli("-o out a.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("a.g00: cannot create the output: out/a.bmp: Is a directory"),
              std::string::npos)
        << run.errors;
}

TEST_F(CliTest, UsageErrorsExitWithTwoOnOneLine) {
    const char* refused[] = {"",
                             "-j 0 a.g00",
                             "-jx a.g00",
                             "-o",
                             "--output",
                             "--frobnicate a.g00",
                             "-kx a.g00",
                             "--bmp=1 a.g00",
                             "--max-pixels=-1 a.g00",
                             "--png --bmp a.g00",
                             "--layers --bmp a.g00",
                             "--layers --png a.g00",
                             "--layers --regions a.g00",
                             "--json a.g00",
                             "--info -o out a.g00",
                             "--info --regions a.g00"};
    for (const char* arguments : refused) {
        CliRun run = cli(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_NE(run.errors.find("(try --help)"), std::string::npos) << run.errors;
    }
    EXPECT_EQ(cli("--help").status, 0);
    EXPECT_NE(readFile(root / "stdout.txt").size(), 0u);
    EXPECT_EQ(cli("--version").status, 0);
    std::vector<uint8_t> version = readFile(root / "stdout.txt");
    EXPECT_EQ(std::string(version.begin(), version.end()).rfind("tavimore-cli ", 0), 0u);
    // A standard output that takes nothing fails the run.
    EXPECT_NE(std::system("\"" TAVIMORE_CLI "\" --version >/dev/full"), 0);

    // Bundled letters, attached values, long forms and "--" before a name that starts with "-".
    writeFile(root / "-dash.g00", fixtures::fullFrame(2, 2));
    EXPECT_EQ(cli("-kqj2 -oout -- -dash.g00").status, 0);
    EXPECT_TRUE(fs::exists(root / "out" / "-dash.bmp"));
    fs::remove(root / "out" / "-dash.bmp");
    EXPECT_EQ(cli("--keep-going --quiet --jobs=2 --output=out -- -dash.g00").status, 0);
    EXPECT_TRUE(fs::exists(root / "out" / "-dash.bmp"));
}

TEST_F(CliTest, SeveralAtOnceGiveTheResultsOfOneAfterAnother) {
    // Twenty files, among them pairs that map to the same output name and one failure.
    std::string names;
    for (int i = 0; i < 20; ++i) {
        std::string name = "p";
        name += std::to_string(i % 7);
        name += '.';
        name += std::to_string(i);
        name += ".g00";
        writeFile(root / name, i % 2 ? fixtures::regions(40, 30, uint16_t(20 + i), 10, uint32_t(i))
                                     : fixtures::fullFrame(uint16_t(30 + i), 20, uint32_t(i)));
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

    // A worker keeps its blocks from file to file: each file alone (fresh blocks) must give
    // what the run gave after the pictures before it, the sparse parts over the full frames.
    fs::create_directories(root / "alone");
    for (size_t at = 1, end; at < names.size(); at = end + 1) {
        end = names.find(' ', at);
        if (end == std::string::npos) end = names.size();
        cli("-o alone " + names.substr(at, end - at));
    }
    for (const auto& entry : fs::directory_iterator(root / "alone"))
        EXPECT_EQ(readFile(entry.path()), readFile(root / "one" / entry.path().filename()))
            << entry.path();

    // Without -k nothing after the failure is written, however many run at once.
    fs::remove_all(root / "many");
    fs::create_directories(root / "many");
    EXPECT_EQ(cli("-j 4 -o many p0.0.g00 bad.g00" + names).status, 1);
    EXPECT_TRUE(fs::exists(root / "many" / "p0.bmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "many"), fs::directory_iterator()), 1);
}

TEST_F(CliTest, NoOutputReplacesAFileTheRunReads) {
    // a.bmp is a G00 file too: a.g00's output would replace it, and so would its own.
    const std::vector<uint8_t> named = fixtures::fullFrame(4, 4);
    writeFile(root / "a.g00", fixtures::fullFrame(3, 3));
    writeFile(root / "a.bmp", named);
    struct Case {
        const char* arguments;
        std::vector<const char*> failed;
    };
    const Case cases[] = {
        {"a.g00 a.bmp", {"a.g00"}},
        {"a.bmp a.g00", {"a.bmp"}},
        {"-j 8 -k a.g00 a.bmp", {"a.g00", "a.bmp"}},
        {"-j 8 -k a.bmp a.g00", {"a.g00", "a.bmp"}},
        {"-k a.g00 ./a.bmp", {"a.g00", "a.bmp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        CliRun run = cli(std::string("-o . ") + c.arguments);
        EXPECT_EQ(run.status, 1);
        for (const char* file : c.failed)
            EXPECT_NE(run.errors.find(std::string(file) + ": the output would replace a source"),
                      std::string::npos)
                << run.errors;
        EXPECT_EQ(readFile(root / "a.bmp"), named);
    }
}

TEST_F(CliTest, AnInterruptLeavesTheOlderOutputOrAWholeNewOne) {
    writeFile(root / "big.g00", fixtures::fullFrame(1600, 1200));
    ASSERT_EQ(cli("-q -o out big.g00").status, 0);
    auto started = std::chrono::steady_clock::now();  // a second run, with the file cached
    ASSERT_EQ(cli("-q -o out big.g00").status, 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    const std::vector<uint8_t> fresh = readFile(root / "out" / "big.bmp");
    const std::vector<uint8_t> older(5000, 0x5A);
    support::Rng rng(11);
    int interrupted = 0;
    for (int i = 0; i < 12; ++i) {
        writeFile(root / "out" / "big.bmp", older);
        // SIGTERM at a random moment of the conversion, or just after it.
        const double delay = double(rng.below(uint32_t(took.count()) + 1)) / 1e6;
        const std::string command =
            "cd \"" + root.string() + "\" && { \"" TAVIMORE_CLI "\" -q -o out big.g00 & sleep " +
            std::to_string(delay) + "; kill -TERM $! 2>/dev/null; wait $!; } 2>/dev/null";
        const int raw = std::system(command.c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        ASSERT_TRUE(status == 0 || status == 128 + SIGTERM) << status;
        interrupted += status != 0;
        auto entries = fs::directory_iterator(root / "out");
        ASSERT_EQ(std::distance(entries, fs::directory_iterator()), 1)
            << "a temporary file is left";
        const std::vector<uint8_t> now = readFile(root / "out" / "big.bmp");
        EXPECT_TRUE(now == older || now == fresh) << "after " << delay << " s: " << now.size();
    }
    std::printf("interrupted %d of 12 conversions of %lld us\n", interrupted,
                static_cast<long long>(took.count()));
}

TEST_F(CliTest, ReasonsForWhatIsNoPictureFile) {
    writeFile(root / "pic.g00", fixtures::fullFrame(4, 4));
    fs::create_directories(root / "pics");
    ASSERT_EQ(mkfifo((root / "fifo.g00").c_str(), 0644), 0);
    struct Case {
        const char* arguments;
        int status;
        const char* reason;
    };
    const Case cases[] = {
        {"-o pic.g00 pic.g00", 2, "pic.g00 is not a folder (try --help)"},
        {"-k fifo.g00 /dev/null", 1, "fifo.g00: not a regular file"},
        {"-k fifo.g00 /dev/null", 1, "/dev/null: not a regular file"},
        {"pics", 1, "pics: is a folder (use -r)"},
        {"--max-pixels=15 pic.g00", 1, "pic.g00: larger than 15 pixels (use --max-pixels)"},
        {TAVIMORE_HOSTILE_DIR "/full-65535x65535.g00", 1,
         "larger than 178956970 pixels (use --max-pixels)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        CliRun run = cli(std::string("-o out ") + c.arguments);  // a FIFO must not hang it
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.errors.find(c.reason), std::string::npos) << run.errors;
    }
    EXPECT_EQ(cli("--max-pixels=16 pic.g00").status, 0);
    // The output folder is made, parents too, before anything is read.
    EXPECT_EQ(cli("-o made/deeper pic.g00").status, 0);
    EXPECT_TRUE(fs::exists(root / "made" / "deeper" / "pic.bmp"));
    // Paths are not held to the window's 260 bytes.
    const std::string deep =
        std::string(120, 'd') + "/" + std::string(120, 'e') + "/" + std::string(120, 'f');
    EXPECT_EQ(cli("-o " + deep + " pic.g00").status, 0);
    EXPECT_TRUE(fs::exists(root / deep / "pic.bmp"));
}

TEST_F(CliTest, FoldersWithRecursionKeepTheirRelativeFolders) {
    fs::create_directories(root / "pics" / "sub");
    fs::create_directories(root / "elsewhere");
    writeFile(root / "pics" / "b.G00", fixtures::fullFrame(2, 2));
    writeFile(root / "pics" / "a.g00", fixtures::fullFrame(3, 2));
    writeFile(root / "pics" / "sub" / "c.g00", fixtures::regions(4, 4, 2, 2));
    writeFile(root / "pics" / "sub" / "notes.txt", {1, 2, 3});
    writeFile(root / "elsewhere" / "d.g00", fixtures::fullFrame(2, 2));
    fs::create_directory_symlink(root / "elsewhere", root / "pics" / "link");
    ASSERT_EQ(mkfifo((root / "pics" / "sub" / "fifo.g00").c_str(), 0644), 0);

    for (const char* jobs : {"-j1", "-j4"}) {
        fs::remove_all(root / "out");
        CliRun run = cli(std::string(jobs) + " -r -v -o out pics");
        EXPECT_EQ(run.status, 0) << run.errors;
        std::vector<uint8_t> listed = readFile(root / "stdout.txt");
        EXPECT_EQ(std::string(listed.begin(), listed.end()),
                  "pics/a.g00 -> out/a.bmp\npics/b.G00 -> out/b.bmp\n"
                  "pics/sub/c.g00 -> out/sub/c.psd\nconverted 3 of 3 files into out\n");
        EXPECT_FALSE(fs::exists(root / "out" / "link"));  // a link to a folder is not followed
    }

    // Two sources of one output name: a warning, the later wins; -n leaves it alone.
    writeFile(root / "a.b.g00", fixtures::fullFrame(2, 2, 5));
    writeFile(root / "a.c.g00", fixtures::fullFrame(2, 2, 6));
    CliRun run = cli("-o out a.b.g00 a.c.g00");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.errors.find("warning: a.c.g00 replaces out/a.bmp, the output of a.b.g00"),
              std::string::npos)
        << run.errors;
    const std::vector<uint8_t> later = readFile(root / "out" / "a.bmp");
    writeFile(root / "out" / "x.bmp", {7});
    run = cli("-n -o out a.b.g00");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.errors.find("out/a.bmp: exists, left alone (-n)"), std::string::npos);
    EXPECT_EQ(readFile(root / "out" / "a.bmp"), later);
}

TEST_F(CliTest, TheProgressBarFitsTheTerminal) {
    for (int i = 0; i < 12; ++i) {
        std::string name = "p";
        name += std::to_string(i);
        name += ".g00";
        writeFile(root / name, fixtures::fullFrame(2, 2));
    }
    for (int columns : {30, 80, 8}) {
        SCOPED_TRACE(columns);
        // A terminal of that width, from script(1); what it shows is kept in the file.
        std::string command =
            "cd \"" + root.string() + "\" && script -qec 'stty cols " + std::to_string(columns) +
            "; \"" TAVIMORE_CLI "\" -j1 -o out p*.g00 >/dev/null' /dev/null >shown.txt";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::vector<uint8_t> shown = readFile(root / "shown.txt");
        std::string text(shown.begin(), shown.end());
        size_t start = 0, drawn = 0;
        for (size_t end; (end = text.find('\r', start)) != std::string::npos; start = end + 1) {
            EXPECT_LT(end - start, size_t(columns)) << text.substr(start, end - start);
            drawn += text.compare(start, 5, "12/12") == 0 || text.compare(start, 1, "[") == 0;
        }
        EXPECT_GT(drawn, 0u) << text;
        EXPECT_EQ(columns < 20, text.find('[') == std::string::npos) << text;
    }
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
        std::vector<uint8_t> work(pngWorkSize(canvas.width, c.colour));
        std::vector<uint8_t> png(pngBound(canvas.width, canvas.height, c.colour));
        png.resize(writePng(canvas, c.colour, work, png));
        EXPECT_EQ(readFile(root / "out" / (std::string(c.name) + ".png")), png) << c.name;
    }
}

namespace {

// A picture of several regions cut from a sprite, some of which draw nothing (the corners are
// transparent), so the region numbers written have gaps.
std::vector<uint8_t> posesFile() {
    TestPicture picture = makeSpritePicture(96, 60, 5);
    for (uint32_t y = 0; y < 24; ++y)
        for (uint32_t x = 24; x < 48; ++x) std::memset(picture.at(x, y), 0, 4);
    PartCutting cutting;
    cutting.regionSize = 24;
    cutting.absentEmptyRegions = false;  // empty regions keep a block of 0 parts
    return encodeG00Regions(cutIntoParts(picture, cutting), LzMode::compress);
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST_F(CliTest, RegionsLayersAndInfo) {
    const std::vector<uint8_t> poses = posesFile();
    writeFile(root / "pose.g00", poses);
    writeFile(root / "full.g00", fixtures::fullFrame(5, 3));
    Canvas canvas;
    ByteBuffer data;
    ASSERT_EQ(decodeG00Picture(poses, canvas, 0, &data).status, Status::ok);
    RegionBoxes boxes;
    ASSERT_EQ(regionBoxes(poses, data.span(), 96, 60, boxes), Status::ok);

    // One file per region that draws a pixel, cut to its box; a full frame whole.
    for (const char* format : {"", "--png ", "--bmp "}) {
        fs::remove_all(root / "out");
        CliRun run = cli(std::string("--regions ") + format + "-o out pose.g00 full.g00");
        ASSERT_EQ(run.status, 0) << run.errors;
        const std::string extension = *format == '\0' ? "psd" : std::string(format + 2, 3);
        std::vector<std::string> expected = {extension == "png" ? "full.png" : "full.bmp"};
        size_t empty = 0;
        for (uint32_t i = 0; i < boxes.count; ++i) {
            if (boxes.box[i].empty()) {
                ++empty;
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "pose_%03u.%s", i, extension.c_str());
            expected.push_back(name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_GT(expected.size(), 3u);
        EXPECT_GT(empty, 0u) << "some regions draw nothing";
        EXPECT_EQ(namesIn(root / "out"), expected) << format;
    }
    // The PSD of a region is the one-layer file of its crop.
    for (uint32_t i = 0; i < boxes.count; ++i) {
        if (boxes.box[i].empty()) continue;
        Canvas cropped;
        ASSERT_EQ(cropRegion(poses, data.span(), i, 96, 60, cropped), Status::ok);
        std::vector<uint8_t> psd(psdBound(cropped.width, cropped.height));
        psd.resize(writePsd(cropped, psd));
        char name[32];
        std::snprintf(name, sizeof name, "pose_%03u.psd", i);
        ASSERT_EQ(cli(std::string("--regions -o out pose.g00")).status, 0);
        EXPECT_EQ(readFile(root / "out" / name), psd) << name;
        break;
    }

    // One PSD of a layer per region that draws; the full frame as ever.
    fs::remove_all(root / "out");
    CliRun run = cli("--layers -o out pose.g00 full.g00");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(namesIn(root / "out"), (std::vector<std::string>{"full.bmp", "pose.psd"}));
    const std::vector<uint8_t> layered = readFile(root / "out" / "pose.psd");
    size_t drawn = 0;
    for (uint32_t i = 0; i < boxes.count; ++i) drawn += boxes.box[i].empty() ? 0 : 1;
    ASSERT_GT(layered.size(), 44u);
    EXPECT_EQ(int16_t(layered[42] << 8 | layered[43]), -int(drawn));

    // A damaged file fails alike in every mode, and --info tells the same reason; nothing is
    // written by any of them.
    std::vector<uint8_t> damaged = poses;
    damaged.resize(damaged.size() - 3);
    writeFile(root / "bad.g00", damaged);
    fs::remove_all(root / "out");
    for (const char* mode : {"", "--regions ", "--layers ", "--png --regions "}) {
        run = cli(std::string(mode) + "-o out bad.g00");
        EXPECT_EQ(run.status, 1) << mode;
        EXPECT_EQ(run.errors, "tavimore-cli: bad.g00: the file is cut short\n") << mode;
        EXPECT_TRUE(namesIn(root / "out").empty()) << mode;
    }
    run = cli("--info bad.g00 pose.g00 full.g00");
    EXPECT_EQ(run.status, 1) << "a file that would fail";
    const std::vector<uint8_t> text = readFile(root / "stdout.txt");
    const std::string info(text.begin(), text.end());
    EXPECT_NE(info.find("bad.g00: " + std::to_string(damaged.size()) +
                        " bytes, region-based picture (type 2), 96 x 60\n"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("  result: fails: the file is cut short\n"), std::string::npos) << info;
    EXPECT_NE(info.find("full.g00: "), std::string::npos);
    EXPECT_TRUE(namesIn(root / "out").empty());
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{"bad.g00", "full.g00", "out", "pose.g00",
                                                       "stderr.txt", "stdout.txt"}));

    // The JSON array holds what the decoder reads, numbers as numbers.
    ASSERT_EQ(cli("--info --json pose.g00 bad.g00 full.g00 missing.g00").status, 1);
    const fs::path json = root / "stdout.txt";
    std::string check =
        "python3 -c 'import json, sys\n"
        "files = json.load(open(sys.argv[1]))\n"
        "pose, bad, full, missing = files\n"
        "assert [f[\"file\"] for f in files] == [\"pose.g00\", \"bad.g00\", \"full.g00\", "
        "\"missing.g00\"]\n"
        "assert pose[\"type\"] == 2 and pose[\"width\"] == 96 and pose[\"height\"] == 60\n"
        "assert pose[\"result\"] == \"ok\" and pose[\"reason\"] is None\n"
        "assert len(pose[\"regions\"]) == pose[\"region_count\"] == len(pose[\"entries\"])\n"
        "drawn = [e for e in pose[\"entries\"] if e[\"box\"] is not None]\n"
        "assert len(drawn) == int(sys.argv[2]) and all(len(e[\"parts\"]) == e[\"part_count\"] for "
        "e in drawn)\n"
        "assert bad[\"result\"] == \"truncated\" and bad[\"reason\"] == \"the file is cut short\"\n"
        "assert bad[\"entries\"] == [] and len(bad[\"regions\"]) == pose[\"region_count\"]\n"
        "assert full[\"type\"] == 0 and full[\"region_count\"] is None and "
        "full[\"compressed_length\"] > 8\n"
        "assert missing[\"file_size\"] is None and missing[\"result\"] == \"cannot_open\"\n"
        "' \"" +
        json.string() + "\" " + std::to_string(drawn);
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST_F(CliTest, ARegionNameThatDoesNotFitFailsThatFileOnly) {
    // NAME.psd fits the file system's 255 bytes of a name, NAME_000.psd does not.
    const std::string stem(248, 'p');
    writeFile(root / (stem + ".g00"), posesFile());
    writeFile(root / "full.g00", fixtures::fullFrame(5, 3));
    CliRun run = cli("--regions -k -o out " + stem + ".g00 full.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find(stem + ".g00: cannot create the output: out/" + stem + "_"),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(namesIn(root / "out"), (std::vector<std::string>{"full.bmp"}))
        << "nothing of it is written";
    EXPECT_EQ(cli("-o out " + stem + ".g00").status, 0);
    EXPECT_TRUE(fs::exists(root / "out" / (stem + ".psd")));
}

// ---- tavimore-pack ----

namespace {

std::vector<uint8_t> pngOf(const Canvas& canvas) {
    std::vector<uint8_t> work(pngWorkSize(canvas.width, PngColour::rgba));
    std::vector<uint8_t> png(pngBound(canvas.width, canvas.height, PngColour::rgba));
    png.resize(writePng(canvas, PngColour::rgba, work, png));
    return png;
}

Canvas canvasOf(const TestPicture& picture) {
    Canvas canvas;
    EXPECT_EQ(canvasFromPicture(picture, canvas), Status::ok);
    return canvas;
}

// The decompressed data of a G00 file (the pixel stream's colours for a full frame), by the
// plain reference decoder, and the bytes before its stream.
struct G00Parts {
    std::vector<uint8_t> kept, data;
};

G00Parts partsOf(const std::vector<uint8_t>& file) {
    G00Parts parts;
    if (file[kG00TypeOffset] == kG00FullFrame) {
        parts.kept.assign(file.begin(), file.begin() + kFullFrameStreamStart);
        parts.data = ref::decodeG00(file).canvas;
        return parts;
    }
    const uint64_t sizes =
        regionSizePairOffset(file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset]);
    parts.kept.assign(file.begin(), file.begin() + sizes);
    parts.data.assign(ref::le32(file, sizes + 4), 0);
    EXPECT_EQ(ref::decodeLzBytes(file, sizes + 8, sizes + ref::le32(file, sizes), parts.data),
              Status::ok);
    return parts;
}

}  // namespace

TEST_F(CliTest, PackedPicturesDecodeToThemselves) {
    // Opaque pictures become full frames; others decode to every pixel with alpha above 0, the
    // rest as they were inside the box of those pixels and 0 outside it.
    TestPicture photo = makePhotoPicture(37, 23, 1);
    TestPicture sprite = makeSpritePicture(60, 50, 2);
    for (uint32_t y = 0; y < sprite.height; ++y)  // colour under full transparency
        for (uint32_t x = 0; x < sprite.width; ++x)
            if (sprite.at(x, y)[3] == 0) sprite.at(x, y)[0] = uint8_t(x + y);
    BmpLayout bmp24;
    bmp24.depth = 24;
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const TestPicture& picture;
    };
    const Case cases[] = {
        {"photo.png", pngOf(canvasOf(photo)), photo},
        {"photo.bmp", writeBmpFile(photo, bmp24), photo},
        {"sprite.png", pngOf(canvasOf(sprite)), sprite},
        {"sprite.psd", writePsdFile(oneLayerDocument(sprite, true)), sprite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(root / c.name, c.file);
        CliRun run = pack(std::string("-q -o out ") + c.name);
        ASSERT_EQ(run.status, 0) << run.errors;
        const std::string stem(c.name, std::strchr(c.name, '.'));
        const std::vector<uint8_t> packed = readFile(root / "out" / (stem + ".g00"));
        const ref::Decoded decoded = ref::decodeG00(packed);
        ASSERT_EQ(decoded.status, Status::ok);
        const TestPicture& p = c.picture;
        uint32_t left = p.width, top = p.height, right = 0, bottom = 0;
        bool opaque = true;
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x) {
                opaque = opaque && p.at(x, y)[3] == 255;
                if (p.at(x, y)[3] == 0) continue;
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        EXPECT_EQ(packed[0], opaque ? kG00FullFrame : kG00Regions);
        std::vector<uint8_t> wanted = p.bgra;
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x)
                if (!opaque && (x < left || x > right || y < top || y > bottom))
                    std::memset(&wanted[(uint64_t(y) * p.width + x) * 4], 0, 4);
        EXPECT_EQ(decoded.canvas, wanted);
    }
}

TEST_F(CliTest, PackLikeAnOriginalGivesItsDataBack) {
    // Several regions with parts, an absent entry among them; and a full frame through BMP.
    PartCutting cutting;
    cutting.regionSize = 40;
    cutting.bandHeight = 16;
    const std::vector<uint8_t> regions = encodeG00Regions(
        cutIntoParts(makeSpritePicture(150, 100, 3), cutting), LzMode::literalsOnly);
    struct Case {
        const char* original;
        std::vector<uint8_t> file;
        const char* convert;  // tavimore-cli's options and its output's name
        const char* picture;
    };
    const Case cases[] = {
        {"parts.g00", regions, "--png", "parts.png"},
        {"full.g00", fixtures::fullFrame(70, 40), "", "full.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original);
        writeFile(root / c.original, c.file);
        ASSERT_EQ(cli(std::string("-q -o pictures ") + c.convert + " " + c.original).status, 0);
        CliRun run = pack(std::string("-q -o out --like ") + c.original + " pictures/" + c.picture);
        ASSERT_EQ(run.status, 0) << run.errors;
        const std::vector<uint8_t> packed = readFile(root / "out" / c.original);
        const G00Parts got = partsOf(packed), original = partsOf(c.file);
        EXPECT_EQ(got.kept, original.kept);
        EXPECT_EQ(got.data, original.data);
    }

    // A pixel changed inside a part comes back changed there and nowhere else.
    support::Decoded decoded = support::decodeFile(regions);
    ASSERT_EQ(decoded.status, Status::ok);
    uint8_t* pixel = decoded.canvas.pixels.data() + (uint64_t(50) * 150 + 75) * 4;
    ASSERT_NE(pixel[3], 0);
    pixel[0] ^= 0xFF;
    pixel[3] = 255;
    writeFile(root / "parts.edited.png", pngOf(decoded.canvas));
    CliRun run = pack("-q -o out --like parts.g00 parts.edited.png");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(ref::decodeG00(readFile(root / "out" / "parts.g00")).canvas, decoded.bytes());
}

TEST_F(CliTest, PackFailsEachPictureWithItsReason) {
    // The original: a 30x20 region-based file with one part of 10x8 at (1, 1).
    writeFile(root / "orig.g00", fixtures::regions(30, 20, 10, 8));
    support::Decoded decoded = support::decodeFile(fixtures::regions(30, 20, 10, 8));
    ASSERT_EQ(decoded.status, Status::ok);
    writeFile(root / "same.png", pngOf(decoded.canvas));
    writeFile(root / "orig.png", pngOf(decoded.canvas));  // its output would be orig.g00
    for (uint32_t x : {20u, 25u}) decoded.canvas.pixels.data()[(uint64_t(15) * 30 + x) * 4 + 3] = 9;
    writeFile(root / "outside.png", pngOf(decoded.canvas));
    writeFile(root / "small.png", pngOf(canvasOf(makePhotoPicture(8, 6, 4))));
    PsdDocument layers = oneLayerDocument(makeSpritePicture(8, 8, 5), false);
    layers.layerCountField = 3;
    writeFile(root / "layers.psd", writePsdFile(layers));

    struct Case {
        const char* arguments;
        int status;
        std::vector<const char*> lines;    // each failure's line, in order
        std::vector<std::string> outputs;  // what out/ holds afterwards
    };
    const Case cases[] = {
        {"--like orig.g00 -o out small.png same.png",
         1,
         {"small.png: the picture is 8x6, orig.g00 is 30x20"},
         {}},
        {"-k --like orig.g00 -o out small.png outside.png missing.png same.png",
         1,
         {"small.png: the picture is 8x6, orig.g00 is 30x20",
          "outside.png: 2 pixels lie outside the original's parts, within (20, 15) to (25, 15),"
          " where orig.g00 shows nothing: make them transparent, or keep the picture inside the "
          "parts",
          "missing.png: cannot open the file: No such file or directory"},
         {"same.g00"}},
        {"--like orig.g00 --drop-outside -o out outside.png", 0, {}, {"outside.g00"}},
        {"--like orig.g00 -o . orig.png",
         1,
         {"orig.png: the output would replace a source: ./orig.g00"},
         {}},
        {"-o out layers.psd", 1, {"layers.psd: the picture is damaged"}, {}},
        {"--like small.png -o out same.png", 1, {"small.png: not a G00 image (type 137)"}, {}},
    };
    const std::vector<uint8_t> original = ref::decodeG00(fixtures::regions(30, 20, 10, 8)).canvas;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        fs::remove_all(root / "out");
        CliRun run = pack(c.arguments);
        EXPECT_EQ(run.status, c.status);
        std::string wanted;
        for (const char* line : c.lines) wanted += std::string("tavimore-pack: ") + line + "\n";
        EXPECT_EQ(run.errors, wanted);
        std::vector<std::string> outputs;
        if (fs::exists(root / "out"))
            for (const auto& entry : fs::directory_iterator(root / "out"))
                outputs.push_back(entry.path().filename().string());
        EXPECT_EQ(outputs, c.outputs);
        // Pixels left out decode as the original has them.
        for (const std::string& output : outputs)
            EXPECT_EQ(ref::decodeG00(readFile(root / "out" / output)).canvas, original);
    }
    EXPECT_EQ(readFile(root / "orig.g00"), fixtures::regions(30, 20, 10, 8));

    for (const char* usage : {"", "--drop-outside same.png", "--like", "-x same.png"}) {
        CliRun run = pack(usage);
        EXPECT_EQ(run.status, 2) << usage;
        EXPECT_NE(run.errors.find("(try --help)"), std::string::npos) << run.errors;
    }
}

namespace {

std::string textOf(const fs::path& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A soft-edged sprite cut into regions of parts, as games hold them.
std::vector<uint8_t> spriteFile(uint32_t width, uint32_t height, uint32_t seed) {
    PartCutting cutting;
    cutting.regionSize = 40;
    cutting.bandHeight = 16;
    return encodeG00Regions(cutIntoParts(makeSpritePicture(width, height, seed), cutting),
                            LzMode::compress);
}

TestPicture pictureOf(const Canvas& canvas) {
    TestPicture picture;
    picture.width = canvas.width;
    picture.height = canvas.height;
    picture.bgra = support::canvasBytes(canvas);
    return picture;
}

}  // namespace

TEST_F(CliTest, PackRefusalsSayWhatToSaveInstead) {
    const TestPicture picture = makeNoisePicture(6, 4, 9);
    BmpLayout bmp24;
    bmp24.depth = 24;
    const std::vector<uint8_t> bmp = writeBmpFile(picture, bmp24);
    auto bmpWith = [&](size_t at, uint32_t value, bool wide) {
        std::vector<uint8_t> file = bmp;
        wide ? storeLe32(file.data() + at, value) : storeLe16(file.data() + at, value);
        return file;
    };
    auto psdWith = [&](void (*change)(PsdDocument&)) {
        PsdDocument d = oneLayerDocument(picture, true);
        change(d);
        return writePsdFile(d);
    };
    PngImage png;
    png.width = 2;
    png.height = 1;
    png.samples = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> chunked = writePngFile(png);
    const std::vector<uint8_t> unknown = pngChunk("ZZZZ", std::vector<uint8_t>{1});
    chunked.insert(chunked.begin() + 33, unknown.begin(), unknown.end());
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        const char* reason;
    } cases[] = {
        {"deep.psd", psdWith([](PsdDocument& d) { d.depth = 16; }),
         "16-bit PSD: save it with 8 bits per channel"},
        {"grey16.psd", psdWith([](PsdDocument& d) { d.mode = 1, d.depth = 16; }),
         "16-bit PSD: save it with 8 bits per channel"},
        {"bits.psd", psdWith([](PsdDocument& d) { d.mode = 0, d.depth = 1; }),
         "1-bit bitmap PSD: save it as RGB with 8 bits per channel"},
        {"print.psd", psdWith([](PsdDocument& d) { d.mode = 4; }), "CMYK PSD: save it as RGB"},
        {"indexed.psd", psdWith([](PsdDocument& d) { d.mode = 2; }), "indexed PSD: save it as RGB"},
        {"large.psd", psdWith([](PsdDocument& d) { d.version = 2; }),
         "large document (PSB): save it as a PSD (Photoshop format)"},
        {"odd.psd", psdWith([](PsdDocument& d) { d.layers[0].channels[1].block[1] = 7; }),
         "PSD channel of compression 7, which no known program writes: save it again with RLE or "
         "ZIP compression"},
        {"icon.bmp", bmpWith(28, 8, false), "8-bit BMP (palette): save it as 24 or 32 bits"},
        {"high.bmp", bmpWith(28, 16, false), "16-bit BMP: save it as 24 or 32 bits"},
        {"rle.bmp", bmpWith(30, 1, true),
         "BMP compressed with RLE: save it uncompressed, with 24 or 32 bits"},
        {"os2.bmp", bmpWith(14, 12, true), "OS/2 BMP: save it as a Windows BMP of 24 or 32 bits"},
        {"odd.png", chunked,
         "PNG with the chunk 'ZZZZ', which this program does not know: save it again as a plain "
         "PNG"},
        {"huge.bmp", bmpWith(18, 70000, true),
         "too large for a G00 picture: make it at most 65,535 pixels wide and high"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(root / c.name, c.file);
        CliRun run = pack(std::string("-o out ") + c.name);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, std::string("tavimore-pack: ") + c.name + ": " + c.reason + "\n");
    }
}

TEST_F(CliTest, PackTakesAGreyPsd) {
    // A grey document (its channel 0, with transparency) packs as its grey in every colour.
    const TestPicture picture = makeNoisePicture(6, 4, 9);
    PsdDocument document = oneLayerDocument(picture, true);
    document.mode = 1;
    writeFile(root / "grey.psd", writePsdFile(document));
    CliRun run = pack("-q -o out grey.psd");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<uint8_t> got = ref::decodeG00(readFile(root / "out" / "grey.g00")).canvas;
    ASSERT_EQ(got.size(), picture.bgra.size());
    for (size_t i = 0; i < got.size(); i += 4) {
        const uint8_t red = picture.bgra[i + 2], alpha = picture.bgra[i + 3];
        if (alpha == 0) continue;
        EXPECT_EQ(std::vector<uint8_t>(&got[i], &got[i] + 4),
                  (std::vector<uint8_t>{red, red, red, alpha}))
            << "pixel " << i / 4;
    }
}

TEST_F(CliTest, PackPicturesWithoutAlphaKeepTheOriginals) {
    // The translator's round trip through BMP: the soft edges come back exactly, the file too.
    const std::vector<uint8_t> sprite = spriteFile(150, 100, 7);
    writeFile(root / "sprite.g00", sprite);
    ASSERT_EQ(cli("-q --bmp -o edit sprite.g00").status, 0);
    CliRun run = pack("-q --like sprite.g00 -o out edit/sprite.bmp");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<uint8_t> packed = readFile(root / "out" / "sprite.g00");
    EXPECT_EQ(partsOf(packed).kept, partsOf(sprite).kept);
    EXPECT_EQ(partsOf(packed).data, partsOf(sprite).data);
    const ref::Decoded original = ref::decodeG00(sprite);
    size_t soft = 0;
    for (size_t i = 3; i < original.canvas.size(); i += 4)
        soft += original.canvas[i] != 0 && original.canvas[i] != 255;
    EXPECT_GT(soft, 100u) << "the sprite has soft edges";

    // The same from an opaque PNG, a 32-bit BMP of alpha 255 and a PSD without transparency;
    // an edited colour comes back with the original's alpha under it.
    support::Decoded decoded = support::decodeFile(sprite);
    ASSERT_EQ(decoded.status, Status::ok);
    TestPicture opaque = pictureOf(decoded.canvas);
    size_t edited = 3;
    while (opaque.bgra[edited] == 0 || opaque.bgra[edited] == 255) edited += 4;
    opaque.bgra[edited - 3] ^= 0x5A;
    std::vector<uint8_t> wanted = original.canvas;
    wanted[edited - 3] ^= 0x5A;
    for (size_t i = 3; i < opaque.bgra.size(); i += 4) opaque.bgra[i] = 255;
    PsdDocument psd = oneLayerDocument(opaque, true);
    psd.layers[0].channels.erase(psd.layers[0].channels.begin());  // no transparency channel
    const struct {
        const char* name;
        std::vector<uint8_t> file;
    } opaqueCases[] = {
        {"sprite.png", pngOf(canvasOf(opaque))},
        {"sprite.32.bmp", writeBmpFile(opaque, {})},
        {"sprite.psd", writePsdFile(psd)},
    };
    for (const auto& c : opaqueCases) {
        SCOPED_TRACE(c.name);
        writeFile(root / "edit" / c.name, c.file);
        run = pack(std::string("-q --like sprite.g00 -o out edit/") + c.name);
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(ref::decodeG00(readFile(root / "out" / "sprite.g00")).canvas, wanted);
    }

    // Paint outside the parts of an opaque picture fails, offering --drop-outside, which
    // loses nothing the packed picture shows; outside pixels of a picture with transparency
    // are visible, and the option is not offered for them.
    uint32_t ox = 0, oy = 0;  // a pixel no part covers: black with alpha 0
    for (uint32_t i = 0; i < decoded.canvas.width * decoded.canvas.height; ++i)
        if (std::all_of(&original.canvas[i * 4], &original.canvas[i * 4 + 4],
                        [](uint8_t b) { return b == 0; })) {
            ox = i % decoded.canvas.width, oy = i / decoded.canvas.width;
            break;
        }
    BmpLayout bmp24;
    bmp24.depth = 24;
    TestPicture painted = opaque;
    std::memset(painted.at(ox, oy), 0xC0, 3);
    writeFile(root / "edit" / "painted.bmp", writeBmpFile(painted, bmp24));
    run = pack("--like sprite.g00 -o out edit/painted.bmp");
    EXPECT_EQ(run.status, 1);
    char line[400];
    std::snprintf(
        line, sizeof line,
        "tavimore-pack: edit/painted.bmp: 1 pixel outside the original's parts is not black, "
        "within (%u, %u) to (%u, %u): the picture is opaque and takes sprite.g00's "
        "transparency, so they would not show (--drop-outside leaves them out)\n",
        ox, oy, ox, oy);
    EXPECT_EQ(run.errors, line);
    run = pack("-q --drop-outside --like sprite.g00 -o out edit/painted.bmp");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(ref::decodeG00(readFile(root / "out" / "painted.g00")).canvas, wanted);
    TestPicture visible = pictureOf(decoded.canvas);
    visible.at(ox, oy)[3] = 40;
    writeFile(root / "edit" / "visible.png", pngOf(canvasOf(visible)));
    run = pack("--like sprite.g00 -o out edit/visible.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors.find("--drop-outside"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("1 pixel lies outside the original's parts"), std::string::npos)
        << run.errors;

    // A full-frame original holds no alpha: a picture with transparency fails with its reason,
    // an opaque one (whatever its kind) is packed.
    writeFile(root / "full.g00", fixtures::fullFrame(20, 10));
    support::Decoded full = support::decodeFile(fixtures::fullFrame(20, 10));
    ASSERT_EQ(full.status, Status::ok);
    TestPicture fullPicture = pictureOf(full.canvas);
    for (size_t i = 3; i < fullPicture.bgra.size(); i += 4) fullPicture.bgra[i] = 255;
    writeFile(root / "full.png", pngOf(canvasOf(fullPicture)));
    fullPicture.at(3, 4)[3] = 254;
    writeFile(root / "full.see.png", pngOf(canvasOf(fullPicture)));
    run = pack("--like full.g00 -o out full.see.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors,
              "tavimore-pack: full.see.png: has transparency, full.g00 is a full-frame "
              "picture without it (make the picture opaque)\n");
    run = pack("-q --like full.g00 -o out full.png");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(partsOf(readFile(root / "out" / "full.g00")).data,
              partsOf(fixtures::fullFrame(20, 10)).data);
}

TEST_F(CliTest, PackTakesTheConvertersCommandLine) {
    const TestPicture a = makeSpritePicture(12, 9, 1), b = makePhotoPicture(7, 5, 2);
    writeFile(root / "a.b.png", pngOf(canvasOf(a)));
    writeFile(root / "a.c.png", pngOf(canvasOf(b)));
    // Two pictures of one output: a warning, the later wins.
    CliRun run = pack("-o out a.b.png a.c.png");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors,
              "tavimore-pack: warning: a.c.png replaces out/a.g00, the output of a.b.png\n");
    EXPECT_EQ(textOf(root / "stdout.txt"), "packed 2 of 2 files into out\n");
    const std::vector<uint8_t> later = readFile(root / "out" / "a.g00");
    EXPECT_EQ(ref::decodeG00(later).canvas.size(), size_t(7 * 5 * 4));

    // The same picture twice, also under another name, is packed once; -v lists it.
    run = pack("-v -o once a.b.png a.b.png ./a.b.png");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(textOf(root / "stdout.txt"), "a.b.png -> once/a.g00\npacked 1 of 1 file into once\n");

    // -n leaves the existing file alone, and the summary says so apart from the files packed.
    run = pack("-n -o out a.b.png");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "tavimore-pack: out/a.g00: exists, left alone (-n)\n");
    EXPECT_EQ(textOf(root / "stdout.txt"), "packed 0 of 1 file into out, 1 output left alone\n");
    EXPECT_EQ(readFile(root / "out" / "a.g00"), later);

    // -r: the pictures below a folder into the same relative folders, in byte order.
    fs::create_directories(root / "pics" / "sub");
    writeFile(root / "pics" / "b.png", pngOf(canvasOf(a)));
    BmpLayout bmp24;
    bmp24.depth = 24;
    writeFile(root / "pics" / "sub" / "c.BMP", writeBmpFile(b, bmp24));
    writeFile(root / "pics" / "sub" / "d.psd", writePsdFile(oneLayerDocument(a, true)));
    writeFile(root / "pics" / "sub" / "notes.txt", {1, 2, 3});
    writeFile(root / "pics" / "A.g00", fixtures::fullFrame(2, 2));
    EXPECT_EQ(pack("-o tree pics").errors, "tavimore-pack: pics: is a folder (use -r)\n");
    run = pack("-r -v -o tree pics");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(textOf(root / "stdout.txt"),
              "pics/b.png -> tree/b.g00\npics/sub/c.BMP -> tree/sub/c.g00\n"
              "pics/sub/d.psd -> tree/sub/d.g00\npacked 3 of 3 files into tree\n");
    EXPECT_EQ(ref::decodeG00(readFile(root / "tree" / "sub" / "d.g00")).status, Status::ok);
}

TEST_F(CliTest, SummariesCountFilesAndOutputsApart) {
    writeFile(root / "pose.g00", posesFile());
    writeFile(root / "full.g00", fixtures::fullFrame(5, 3));
    ASSERT_EQ(cli("--regions -o out pose.g00 full.g00").status, 0);
    const size_t outputs = namesIn(root / "out").size();
    ASSERT_GT(outputs, 3u);
    EXPECT_EQ(textOf(root / "stdout.txt"),
              "converted 2 of 2 files into out, " + std::to_string(outputs) + " outputs written\n");
    ASSERT_EQ(cli("-n --regions -o out pose.g00 full.g00").status, 0);
    EXPECT_EQ(textOf(root / "stdout.txt"), "converted 0 of 2 files into out, " +
                                               std::to_string(outputs) + " outputs left alone\n");
    fs::remove(root / "out" / "full.bmp");
    ASSERT_EQ(cli("-n --regions -o out pose.g00 full.g00").status, 0);
    EXPECT_EQ(textOf(root / "stdout.txt"), "converted 1 of 2 files into out, " +
                                               std::to_string(outputs - 1) +
                                               " outputs left alone\n");

    // One region record and one entry are told in the singular.
    writeFile(root / "one.g00", fixtures::regions(6, 5, 3, 2));
    ASSERT_EQ(cli("--info one.g00").status, 0);
    const std::string info = textOf(root / "stdout.txt");
    EXPECT_NE(info.find("\n  1 region record\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\n  1 entry\n"), std::string::npos) << info;
}

TEST_F(CliTest, PackWhatImageMagickSaves) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ImageMagick";
    // ImageMagick writes its PSD layers' channels with ZIP, by default and with -compress Zip.
    const std::vector<uint8_t> sprite = spriteFile(90, 70, 11);
    writeFile(root / "sprite.g00", sprite);
    ASSERT_EQ(cli("-q --png -o edit sprite.g00").status, 0);
    const std::string commands[] = {"convert edit/sprite.png -compress Zip edit/zip.psd",
                                    "convert edit/sprite.png edit/plain.psd"};
    for (const std::string& command : commands)
        ASSERT_EQ(std::system(("cd \"" + root.string() + "\" && " + command).c_str()), 0)
            << command;
    for (const char* name : {"zip", "plain"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> psd = readFile(root / "edit" / (std::string(name) + ".psd"));
        ASSERT_GT(psd.size(), 26u);
        CliRun run = pack(std::string("-q --like sprite.g00 -o out edit/") + name + ".psd");
        ASSERT_EQ(run.status, 0) << run.errors;
        // Every pixel the original shows comes back; ImageMagick may change the colour under
        // full transparency.
        const std::vector<uint8_t> got =
            ref::decodeG00(readFile(root / "out" / (std::string(name) + ".g00"))).canvas;
        const std::vector<uint8_t> want = ref::decodeG00(sprite).canvas;
        ASSERT_EQ(got.size(), want.size());
        size_t differ = 0;
        for (size_t i = 0; i < want.size(); i += 4)
            differ += got[i + 3] != want[i + 3] ||
                      (want[i + 3] != 0 && !std::equal(&want[i], &want[i + 3], &got[i]));
        EXPECT_EQ(differ, 0u);
    }
}

namespace {

// A copy of bytes with the first `occurrence` (from 0) of from replaced by to (of its length).
std::vector<uint8_t> patched(std::vector<uint8_t> bytes, const std::string& text,
                             const std::string& to, int occurrence = 0) {
    const std::vector<uint8_t> from(text.begin(), text.end());
    auto at = bytes.begin();
    for (int i = 0; i <= occurrence; ++i) {
        if (i > 0) ++at;
        at = std::search(at, bytes.end(), from.begin(), from.end());
        EXPECT_NE(at, bytes.end()) << text;
        if (at == bytes.end()) return bytes;
    }
    std::copy(to.begin(), to.end(), at);
    return bytes;
}

// A picture file read back as a Canvas.
Canvas pictureFile(const fs::path& path) {
    const std::vector<uint8_t> file = readFile(path);
    std::vector<uint8_t> work(kPictureWorkSize);
    Canvas canvas;
    EXPECT_EQ(readPicture(file, work, canvas).status, Status::ok) << path;
    return canvas;
}

}  // namespace

TEST_F(CliTest, LayersAndRegionFilesPackBackRegionByRegion) {
    // A body and three faces over one another, soft-edged, the last past the right edge.
    const std::vector<uint8_t> sprite =
        encodeG00Regions(makeExpressionSprite(64, 56, 5, 3), LzMode::compress);
    writeFile(root / "chara.g00", sprite);
    ASSERT_EQ(cli("-q --layers -o layers chara.g00").status, 0);
    ASSERT_EQ(cli("-q --regions --png -o regions chara.g00").status, 0);
    ASSERT_EQ(cli("-q --regions --bmp -o bmp chara.g00").status, 0);
    const std::vector<uint8_t> psd = readFile(root / "layers" / "chara.psd");
    // Region PNGs say where they lie: face 3 at (55, 18), in pixels.
    const std::vector<uint8_t> facePng = readFile(root / "regions" / "chara_003.png");
    const std::vector<uint8_t> offset = {0, 0, 0,  9, 'o', 'F', 'F', 's', 0,
                                         0, 0, 55, 0, 0,   0,   18,  0};
    ASSERT_GT(facePng.size(), 33 + offset.size());
    EXPECT_EQ(std::vector<uint8_t>(facePng.begin() + 33, facePng.begin() + 33 + offset.size()),
              offset);
    // Face 1's middle pixel, under face 2: edited in its region file alone.
    Canvas face = pictureFile(root / "regions" / "chara_001.png");
    face.pixels.data()[(9 * face.width + 9) * 4] ^= 0xFF;
    fs::create_directories(root / "edited");
    writeFile(root / "edited" / "chara_001.png", pngOf(face));
    const G00Parts original = partsOf(sprite);
    const size_t facePixel = ref::le32(original.data, kPartTableHeaderSize + kPartTableEntrySize) +
                             kPartBlockHeaderSize + kPartHeaderSize + (9 * face.width + 9) * 4;
    writeFile(root / "renamed.psd", patched(psd, "region 002", "face two  "));
    writeFile(root / "beyond.psd", patched(psd, "region 003", "region 004"));
    writeFile(root / "twice.psd", patched(psd, "region 003", "region 002"));
    writeFile(root / "faint.psd",
              patched(psd, std::string("8BIMnorm\xFF", 9), std::string("8BIMnorm\x80", 9), 2));
    writeFile(root / "multiply.psd", patched(psd, "8BIMnorm", "8BIMmul ", 1));
    writeFile(root / "chara_003.png", pngOf(canvasOf(makePhotoPicture(5, 5, 1))));
    {  // Face 3's layer (9 x 18 at (55, 18)) grown by 4 opaque rows below its part.
        Canvas decoded, grown;
        ByteBuffer data;
        ASSERT_EQ(decodeG00Picture(sprite, decoded, 0, &data).status, Status::ok);
        std::vector<Canvas> alone(4);
        std::vector<PsdRegionLayer> layers;
        for (uint32_t r = 0; r < 4; ++r) {
            RegionBox box;
            ASSERT_EQ(cropRegion(sprite, data.span(), r, 64, 56, alone[r], &box), Status::ok);
            layers.push_back({&alone[r], box.left, box.top, r});
        }
        ASSERT_EQ(makeCanvas(9, 22, grown), Status::ok);
        std::memcpy(grown.pixels.data(), alone[3].pixels.data(), alone[3].pixels.size());
        std::memset(grown.pixels.data() + alone[3].pixels.size(), 0xFF, 9 * 4 * 4);
        layers[3].pixels = &grown;
        std::vector<uint8_t> file(layeredPsdBound(64, 56, layers));
        file.resize(writeLayeredPsd(decoded, layers, file));
        writeFile(root / "outside.psd", file);
    }

    struct Case {
        const char* arguments;
        const char* failure;          // the line after "tavimore-pack: ", or none
        std::vector<size_t> changed;  // the data's bytes that differ from the original's
    };
    const Case cases[] = {
        {"layers/chara.psd", nullptr, {}},
        {"regions/chara_000.png regions/chara_001.png regions/chara_002.png regions/chara_003.png",
         nullptr,
         {}},
        {"bmp/chara_002.bmp bmp/chara_003.bmp", nullptr, {}},
        {"edited/chara_001.png", nullptr, {facePixel}},
        {"renamed.psd",
         "renamed.psd: layer 'face two  ' is not a region: merge it into the region layer it "
         "belongs to, or remove it",
         {}},
        {"beyond.psd",
         "beyond.psd: layer 'region 004' names region 004, but chara.g00 has 4 (000 to 003)",
         {}},
        {"twice.psd",
         "twice.psd: layer 'region 002' names region 002, which another layer names too: keep one",
         {}},
        {"faint.psd",
         "faint.psd: layer 'region 002' has an opacity of 50%: set it to 100%, since the game "
         "shows the layer's "
         "pixels as they are",
         {}},
        {"multiply.psd",
         "multiply.psd: layer 'region 001' has the blend mode 'mul ': set it to normal, since the "
         "game shows the "
         "layer's pixels as they are",
         {}},
        {"chara_003.png",
         "chara_003.png: chara_003.png is 5x5, region 003 of chara.g00 is 9x18",
         {}},
        {"outside.psd",
         "outside.psd: 36 pixels lie outside the parts of region 003, within (55, 36) to (63, 39), "
         "where "
         "chara.g00 shows nothing of it: make them transparent, or keep the region inside its "
         "parts "
         "(--drop-outside leaves them out)",
         {}},
        {"--drop-outside outside.psd", nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        fs::remove_all(root / "out");
        const CliRun run = pack(std::string("-o out --like chara.g00 ") + c.arguments);
        EXPECT_EQ(run.errors, c.failure ? std::string("tavimore-pack: ") + c.failure + "\n" : "");
        if (c.failure != nullptr) continue;
        // One output, named after the original (region files) or the picture.
        const std::vector<std::string> outputs = namesIn(root / "out");
        ASSERT_EQ(outputs.size(), 1u);
        const G00Parts got = partsOf(readFile(root / "out" / outputs[0]));
        EXPECT_EQ(got.kept, original.kept);
        ASSERT_EQ(got.data.size(), original.data.size());
        std::vector<size_t> changed;
        for (size_t i = 0; i < got.data.size(); ++i)
            if (got.data[i] != original.data[i]) changed.push_back(i);
        EXPECT_EQ(changed, c.changed);
    }
}
