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

#include "codec/g00.h"
#include "codec/g00_regions.h"
#include "codec/png.h"
#include "codec/psd.h"
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
        root = fs::temp_directory_path() / (std::string("tavimore-cli-") + info->name());
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
    EXPECT_NE(run.errors.find("b.g00: not a picture this program converts (G00 type 1)"), std::string::npos) << run.errors;
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
    const char* refused[] = {"", "-j 0 a.g00", "-jx a.g00", "-o", "--output", "--frobnicate a.g00",
                             "-kx a.g00", "--bmp=1 a.g00", "--max-pixels=-1 a.g00", "--png --bmp a.g00",
                             "--layers --bmp a.g00", "--layers --png a.g00", "--layers --regions a.g00",
                             "--json a.g00", "--info -o out a.g00", "--info --regions a.g00"};
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
        const std::string command = "cd \"" + root.string() + "\" && { \"" TAVIMORE_CLI
                                    "\" -q -o out big.g00 & sleep " + std::to_string(delay) +
                                    "; kill -TERM $! 2>/dev/null; wait $!; } 2>/dev/null";
        const int raw = std::system(command.c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        ASSERT_TRUE(status == 0 || status == 128 + SIGTERM) << status;
        interrupted += status != 0;
        auto entries = fs::directory_iterator(root / "out");
        ASSERT_EQ(std::distance(entries, fs::directory_iterator()), 1) << "a temporary file is left";
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
    const std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e') + "/" +
                             std::string(120, 'f');
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
        std::string command = "cd \"" + root.string() + "\" && script -qec 'stty cols " +
                              std::to_string(columns) + "; \"" TAVIMORE_CLI
                              "\" -j1 -o out p*.g00 >/dev/null' /dev/null >shown.txt";
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
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
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
    EXPECT_NE(info.find("bad.g00: " + std::to_string(damaged.size()) + " bytes, region-based picture (type 2), 96 x 60\n"),
              std::string::npos) << info;
    EXPECT_NE(info.find("  result: fails: the file is cut short\n"), std::string::npos) << info;
    EXPECT_NE(info.find("full.g00: "), std::string::npos);
    EXPECT_TRUE(namesIn(root / "out").empty());
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{"bad.g00", "full.g00", "out", "pose.g00", "stderr.txt", "stdout.txt"}));

    // The JSON array holds what the decoder reads, numbers as numbers.
    ASSERT_EQ(cli("--info --json pose.g00 bad.g00 full.g00 missing.g00").status, 1);
    const fs::path json = root / "stdout.txt";
    std::string check = "python3 -c 'import json, sys\n"
                        "files = json.load(open(sys.argv[1]))\n"
                        "pose, bad, full, missing = files\n"
                        "assert [f[\"file\"] for f in files] == [\"pose.g00\", \"bad.g00\", \"full.g00\", \"missing.g00\"]\n"
                        "assert pose[\"type\"] == 2 and pose[\"width\"] == 96 and pose[\"height\"] == 60\n"
                        "assert pose[\"result\"] == \"ok\" and pose[\"reason\"] is None\n"
                        "assert len(pose[\"regions\"]) == pose[\"region_count\"] == len(pose[\"entries\"])\n"
                        "drawn = [e for e in pose[\"entries\"] if e[\"box\"] is not None]\n"
                        "assert len(drawn) == int(sys.argv[2]) and all(len(e[\"parts\"]) == e[\"part_count\"] for e in drawn)\n"
                        "assert bad[\"result\"] == \"truncated\" and bad[\"reason\"] == \"the file is cut short\"\n"
                        "assert bad[\"entries\"] == [] and len(bad[\"regions\"]) == pose[\"region_count\"]\n"
                        "assert full[\"type\"] == 0 and full[\"region_count\"] is None and full[\"compressed_length\"] > 8\n"
                        "assert missing[\"file_size\"] is None and missing[\"result\"] == \"cannot_open\"\n"
                        "' \"" + json.string() + "\" " + std::to_string(drawn);
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST_F(CliTest, ARegionNameThatDoesNotFitFailsThatFileOnly) {
    // NAME.psd fits the file system's 255 bytes of a name, NAME_000.psd does not.
    const std::string stem(248, 'p');
    writeFile(root / (stem + ".g00"), posesFile());
    writeFile(root / "full.g00", fixtures::fullFrame(5, 3));
    CliRun run = cli("--regions -k -o out " + stem + ".g00 full.g00");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find(stem + ".g00: cannot create the output: out/" + stem + "_"), std::string::npos)
        << run.errors;
    EXPECT_EQ(namesIn(root / "out"), (std::vector<std::string>{"full.bmp"})) << "nothing of it is written";
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
    const uint64_t sizes = regionSizePairOffset(file[kRegionCountOffset] == 0 ? 256 : file[kRegionCountOffset]);
    parts.kept.assign(file.begin(), file.begin() + sizes);
    parts.data.assign(ref::le32(file, sizes + 4), 0);
    EXPECT_EQ(ref::decodeLzBytes(file, sizes + 8, sizes + ref::le32(file, sizes), parts.data), Status::ok);
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
                if (opaque) wanted[(uint64_t(y) * p.width + x) * 4 + 3] = 0;  // type 0 stores none
                else if (x < left || x > right || y < top || y > bottom)
                    std::memset(&wanted[(uint64_t(y) * p.width + x) * 4], 0, 4);
        EXPECT_EQ(decoded.canvas, wanted);
    }
}

TEST_F(CliTest, PackLikeAnOriginalGivesItsDataBack) {
    // Several regions with parts, an absent entry among them; and a full frame through BMP.
    PartCutting cutting;
    cutting.regionSize = 40;
    cutting.bandHeight = 16;
    const std::vector<uint8_t> regions =
        encodeG00Regions(cutIntoParts(makeSpritePicture(150, 100, 3), cutting), LzMode::literalsOnly);
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
        {"--like orig.g00 -o out small.png same.png", 1,
         {"small.png: the picture is 8x6, orig.g00 is 30x20"}, {}},
        {"-k --like orig.g00 -o out small.png outside.png missing.png same.png", 1,
         {"small.png: the picture is 8x6, orig.g00 is 30x20",
          "outside.png: 2 pixels lie outside the original's parts, within (20, 15) to (25, 15)"
          " (--drop-outside leaves them out)",
          "missing.png: cannot open the file: No such file or directory"},
         {"same.g00"}},
        {"--like orig.g00 --drop-outside -o out outside.png", 0, {}, {"outside.g00"}},
        {"--like orig.g00 -o . orig.png", 1, {"orig.png: the output would replace a source: ./orig.g00"}, {}},
        {"-o out layers.psd", 1, {"layers.psd: has 3 layers: merge them into one first"}, {}},
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
