#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/convert_file.h"
#include "app/count_label.h"
#include "batch/selection.h"
#include "codec/g00.h"
#include "codec/g00_encode.h"
#include "codec/g00_regions.h"
#include "codec/internal/bmp_write.h"
#include "codec/internal/psd_write.h"
#include "common/bytes.h"
#include "common/fault_injection.h"
#include "app/work_memory.h"
#include "tests/g00_fixtures.h"
#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using fixtures::readFile;
using fixtures::writeFile;

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// What the pipeline must write for these G00 bytes, made in memory.
std::vector<uint8_t> expectedOutput(const std::vector<uint8_t>& g00, BuiltInFormat format) {
    Canvas canvas;
    EXPECT_EQ(decodeG00Picture(g00, canvas).status, Status::ok);
    std::vector<uint8_t> out;
    if (format == BuiltInFormat::psd) {
        out.resize(psdBound(canvas.width, canvas.height));
        out.resize(writePsd(canvas, out));
    } else {
        out.resize(bmpFileSize(canvas.width, canvas.height));
        out.resize(writeBmp(canvas, out));
    }
    return out;
}

// A fresh folder per test, with an output folder inside it.
class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / (std::string("tavimore-") + info->name());
        fs::remove_all(root);
        fs::create_directories(root / "out");
        setFolder(root / "out");
        faults::disarm();
    }
    void TearDown() override {
        faults::disarm();
        fs::remove_all(root);
    }

    void setFolder(const fs::path& folder) {
        std::string text = folder.string() + kSeparator;
        ASSERT_LT(text.size(), kPathSize);
        std::memset(outputPath, 0, sizeof outputPath);
        std::memcpy(outputPath, text.c_str(), text.size() + 1);
        namePos = text.size();
    }

    // A batch over LIST, in the open dialog's form (folder, NUL, each name and NUL, NUL), into
    // the output folder; sourcePath is the job's path buffer.
    void prepareBatch(const std::string& list, uint16_t count, char* sourcePath, BatchJob& job) {
        job.count = count;
        job.sourcePath = sourcePath;
        ASSERT_TRUE(prepareSourcePath(list.c_str(), sourcePath, job.sourceNamePos, job.cursor));
#ifndef _WIN32
        sourcePath[job.sourceNamePos - 1] = '/';
#endif
        job.outputPath = outputPath;
        job.outputNamePos = namePos;
    }

    fs::path source(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::path path = root / name;
        writeFile(path, bytes);
        return path;
    }

    ConvertResult convert(const fs::path& path, BuiltInFormat regionFormat = BuiltInFormat::psd) {
        std::string file = path.string();
        std::string name = path.filename().string();
        return convertFile(file.c_str(), outputPath, namePos, name.c_str(), regionFormat);
    }

    fs::path root;
    char outputPath[kPathSize + 16] = {};  // room for a canary after the path buffer
    size_t namePos = 0;
};

}  // namespace

TEST_F(ConvertTest, WritesEachTypeInItsFormat) {
    std::vector<uint8_t> full = fixtures::fullFrame(7, 5);
    std::vector<uint8_t> parts = fixtures::regions(9, 6, 5, 4);

    ASSERT_TRUE(convert(source("full.g00", full), BuiltInFormat::psd)
                    .ok());  // full frame: BMP even for PSD
    EXPECT_EQ(readFile(root / "out" / "full.bmp"), expectedOutput(full, BuiltInFormat::bmp));
    EXPECT_FALSE(fs::exists(root / "out" / "full.psd"));

    ASSERT_TRUE(convert(source("parts.g00", parts), BuiltInFormat::psd).ok());
    EXPECT_EQ(readFile(root / "out" / "parts.psd"), expectedOutput(parts, BuiltInFormat::psd));

    ASSERT_TRUE(convert(source("parts.g00", parts), BuiltInFormat::bmp).ok());
    std::vector<uint8_t> bmp = readFile(root / "out" / "parts.bmp");
    EXPECT_EQ(bmp, expectedOutput(parts, BuiltInFormat::bmp));
    // Without PSD the alpha is dropped: undrawn pixels are black, drawn ones keep their colour
    // whatever their alpha (the part's first column has alpha 0).
    const size_t row = bmpRowSize(9);
    const uint8_t* top = bmp.data() + 54 + 5 * row;  // stored last: the top row
    EXPECT_EQ(top[0] | top[1] | top[2], 0);
    const uint8_t* second = bmp.data() + 54 + 4 * row + 3;  // pixel (1, 1): part pixel (0, 0)
    uint32_t c = fixtures::patternColour(0, 0, 2);
    EXPECT_EQ(second[0], uint8_t(c));
    EXPECT_EQ(second[2], uint8_t(c >> 16));
    EXPECT_FALSE(fs::exists(root / "full.bmp"));  // outputs go to the folder, not beside the source
}

TEST_F(ConvertTest, RegionByRegionAndAsLayers) {
    // Three regions: 0 draws two parts, 1 is absent, 2 draws one part clipped at the edge.
    G00RegionImage image;
    image.width = 20;
    image.height = 10;
    image.regions = {{2, 1, 9, 9, {0, 0}}, {0, 0, 1, 1, {0, 0}}, {15, 6, 1, 1, {0, 0}}};
    G00Part a{0, 0, 3, 2, std::vector<uint8_t>(24, 0x40)}, b{4, 3, 1, 1, {1, 2, 3, 255}};
    G00Part c{0, 0, 9, 9, std::vector<uint8_t>(9 * 9 * 4, 0x80)};
    image.entries.resize(3);
    image.entries[0].parts = {a, b};
    image.entries[1] = G00Entry::absent();
    image.entries[2].parts = {c};
    const std::vector<uint8_t> file = encodeG00Regions(image, LzMode::compress);
    const fs::path path = source("pose.g00", file);

    Canvas canvas;
    ByteBuffer data;
    ASSERT_EQ(decodeG00Picture(file, canvas, 0, &data).status, Status::ok);
    auto bmpOf = [](const Canvas& picture) {
        std::vector<uint8_t> out(bmpFileSize(picture.width, picture.height));
        out.resize(writeBmp(picture, out));
        return out;
    };
    EncodedImage each;
    ASSERT_TRUE(encodeFile(path.string().c_str(),
                           {BuiltInFormat::bmp, 0, nullptr, RegionOutput::each}, each)
                    .ok());
    ASSERT_TRUE(each.byRegion);
    EXPECT_STREQ(each.extension, "bmp");
    ASSERT_EQ(each.regions.size(), 2u);
    const uint32_t indices[] = {0, 2};
    const RegionBox boxes[] = {{2, 1, 5, 4}, {15, 6, 5, 4}};
    for (size_t i = 0; i < 2; ++i) {
        Canvas cropped;
        RegionBox box;
        ASSERT_EQ(cropRegion(file, data.span(), indices[i], 20, 10, cropped, &box), Status::ok);
        EXPECT_EQ(box, boxes[i]);
        EXPECT_EQ(each.regions[i].index, indices[i]);
        EXPECT_EQ(std::vector<uint8_t>(each.regions[i].bytes.data(),
                                       each.regions[i].bytes.data() + each.regions[i].length),
                  bmpOf(cropped));
    }

    EncodedImage layered;
    ASSERT_TRUE(encodeFile(path.string().c_str(),
                           {BuiltInFormat::psd, 0, nullptr, RegionOutput::layers}, layered)
                    .ok());
    EXPECT_FALSE(layered.byRegion);
    EXPECT_STREQ(layered.extension, "psd");
    std::vector<Canvas> crops(2);
    std::vector<PsdRegionLayer> layers;
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(cropRegion(file, data.span(), indices[i], 20, 10, crops[i]), Status::ok);
        layers.push_back({&crops[i], boxes[i].left, boxes[i].top, indices[i]});
    }
    std::vector<uint8_t> expected(layeredPsdBound(20, 10, layers));
    expected.resize(writeLayeredPsd(canvas, layers, expected));
    EXPECT_EQ(std::vector<uint8_t>(layered.bytes.data(), layered.bytes.data() + layered.length),
              expected);

    // A full frame is written whole in both; a picture none of whose regions draws gives no
    // picture region by region, and the one-layer file as layers.
    const fs::path full = source("full.g00", fixtures::fullFrame(4, 3));
    for (RegionOutput output : {RegionOutput::each, RegionOutput::layers}) {
        EncodedImage whole;
        ASSERT_TRUE(
            encodeFile(full.string().c_str(), {BuiltInFormat::psd, 0, nullptr, output}, whole)
                .ok());
        EXPECT_FALSE(whole.byRegion);
        EXPECT_EQ(std::vector<uint8_t>(whole.bytes.data(), whole.bytes.data() + whole.length),
                  expectedOutput(fixtures::fullFrame(4, 3), BuiltInFormat::bmp));
    }
    image.entries = {G00Entry::absent()};
    const std::vector<uint8_t> blank = encodeG00Regions(image, LzMode::compress);
    const fs::path nothing = source("blank.g00", blank);
    EncodedImage none;
    ASSERT_TRUE(encodeFile(nothing.string().c_str(),
                           {BuiltInFormat::psd, 0, nullptr, RegionOutput::each}, none)
                    .ok());
    EXPECT_TRUE(none.byRegion);
    EXPECT_TRUE(none.regions.empty());
    ASSERT_TRUE(encodeFile(nothing.string().c_str(),
                           {BuiltInFormat::psd, 0, nullptr, RegionOutput::layers}, none)
                    .ok());
    EXPECT_EQ(std::vector<uint8_t>(none.bytes.data(), none.bytes.data() + none.length),
              expectedOutput(blank, BuiltInFormat::psd));
    EXPECT_EQ(regionFileName("pose.a.g00", 7, "png"), "pose_007.png");
}

TEST_F(ConvertTest, SeveralOutputsArePutInPlaceOnlyWhenAllAreWritten) {
    const std::vector<uint8_t> older(100, 0xAB), first(10, 1), second(20, 2);
    const fs::path a = root / "out" / "a_000.bmp", b = root / "out" / "a_001.bmp";
    writeFile(a, older);
    writeFile(b, older);
    const std::vector<OutputFile> outputs = {{a.string(), first.data(), 10},
                                             {b.string(), second.data(), 20}};
    FileHandle none;
    size_t failedAt = 9;
    faults::arm(faults::Point::write, 2);  // the second output's write falls short
    ConvertResult result = placeImages(outputs, none, {}, failedAt);
    faults::disarm();
    EXPECT_EQ(result.file, FileStatus::writeFailed);
    EXPECT_EQ(failedAt, 1u);
    EXPECT_EQ(readFile(a), older) << "nothing is put in place before every output is written";
    EXPECT_EQ(readFile(b), older);
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "out"), {}), 2)
        << "no temporary file stays";

    ASSERT_TRUE(placeImages(outputs, none, {}, failedAt).ok());
    EXPECT_EQ(readFile(a), first);
    EXPECT_EQ(readFile(b), second);
}

TEST_F(ConvertTest, NamesTheOutputUpToTheFirstDot) {
    std::vector<uint8_t> full = fixtures::fullFrame(2, 2);
    std::vector<uint8_t> parts = fixtures::regions(4, 4, 2, 2);
    EXPECT_TRUE(convert(source("a.b.g00", parts)).ok());
    EXPECT_TRUE(fs::exists(root / "out" / "a.psd"));
    EXPECT_TRUE(convert(source("UPPER.G00", full)).ok());
    EXPECT_TRUE(fs::exists(root / "out" / "UPPER.bmp"));
    EXPECT_TRUE(convert(source("noext", full)).ok());  // a name without "." gets one
    EXPECT_TRUE(fs::exists(root / "out" / "noext.bmp"));

    // Two names that agree up to their first ".": the later conversion replaces the earlier.
    std::vector<uint8_t> other = fixtures::regions(4, 4, 3, 3, 9);
    EXPECT_TRUE(convert(source("a.c.g00", other)).ok());
    EXPECT_EQ(readFile(root / "out" / "a.psd"), expectedOutput(other, BuiltInFormat::psd));
}

TEST_F(ConvertTest, ReplacesAnExistingOutput) {
    writeFile(root / "out" / "pic.bmp", std::vector<uint8_t>(5000, 0xAB));
    std::vector<uint8_t> full = fixtures::fullFrame(3, 3);
    ASSERT_TRUE(convert(source("pic.g00", full)).ok());
    EXPECT_EQ(readFile(root / "out" / "pic.bmp"), expectedOutput(full, BuiltInFormat::bmp));
    // The replaced file is gone, under any name.
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "out"), fs::directory_iterator()), 1);

    // A folder of the output's name is no file to replace: it stays, and the output fails.
    fs::create_directory(root / "out" / "dir.bmp");
    writeFile(root / "out" / "dir.bmp" / "inside", {1});
    EXPECT_EQ(convert(source("dir.g00", full)).file, FileStatus::cannotCreate);
    EXPECT_EQ(readFile(root / "out" / "dir.bmp" / "inside"), std::vector<uint8_t>{1});
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "out"), fs::directory_iterator()), 2);
}

TEST_F(ConvertTest, FilesOfARunInKeptAndReusedBlocksGiveTheBytesOfEachAlone) {
    // Larger and smaller pictures of both types in turn, sprites with undrawn pixels after
    // noise, BMP rows with padding: nothing an earlier file left in the blocks a run keeps and
    // in the output it writes over may reach a later file.
    const std::vector<fs::path> files = {
        source("noise.g00", encodeG00Regions(cutIntoParts(makeNoisePicture(300, 200, 1)),
                                             LzMode::compress)),
        source("frame.g00", fixtures::fullFrame(37, 23, 2)),
        source("sprite.g00", encodeG00Regions(cutIntoParts(makeSpritePicture(90, 70, 3)),
                                              LzMode::compress)),
        source("wide.g00", encodeG00FullFrame(301, 150, makeNoisePicture(301, 150, 4).bgra,
                                              PixelLayout::bgra, LzMode::compress)),
        source("small.g00", fixtures::regions(6, 5, 3, 2, 5)),
    };
    KeptBlocks kept;
    ByteBuffer written;
    for (int round = 0; round < 2; ++round) {
        for (const fs::path& file : files) {
            SCOPED_TRACE(file.filename().string());
            EncodedImage alone, inRun;
            ASSERT_TRUE(encodeFile(file.string().c_str(), {}, alone).ok());
            inRun.bytes = std::move(written);
            ASSERT_TRUE(encodeFile(file.string().c_str(), {}, inRun, &kept).ok());
            EXPECT_EQ(std::vector<uint8_t>(inRun.bytes.data(), inRun.bytes.data() + inRun.length),
                      std::vector<uint8_t>(alone.bytes.data(), alone.bytes.data() + alone.length));
            written = std::move(inRun.bytes);
        }
    }
}

TEST_F(ConvertTest, EveryFailureLeavesNoOutput) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Status expected;
    };
    std::vector<uint8_t> typeOne = fixtures::fullFrame(2, 2);
    typeOne[0] = 1;
    std::vector<uint8_t> zeroWidth = fixtures::fullFrame(2, 2);
    zeroWidth[1] = zeroWidth[2] = 0;
    std::vector<uint8_t> zeroHeight = fixtures::regions(4, 4, 2, 2);
    zeroHeight[3] = zeroHeight[4] = 0;
    std::vector<uint8_t> huge = {0, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> noData = fixtures::regions(4, 4, 2, 2);
    storeLe32(noData.data() + regionSizePairOffset(1) + kDecompressedLengthOffset,
              0);  // decompressed length 0
    std::vector<uint8_t> cut = fixtures::fullFrame(8, 8);
    cut.resize(cut.size() - 10);
    const Case cases[] = {
        {"type1.g00", typeOne, Status::unsupportedType},
        {"type7.g00", {7, 1, 0, 1, 0}, Status::notG00},
        // Header bytes a short file lacks read as the 0xFF marker in the first four, else 0.
        {"short.g00", {0, 1}, Status::truncated},
        {"four.g00", {0, 1, 0, 0}, Status::emptyPicture},
        {"zerowidth.g00", zeroWidth, Status::emptyPicture},
        {"zeroheight.g00", zeroHeight, Status::emptyPicture},
        {"huge.g00", huge, Status::tooLarge},
        {"nodata.g00", noData, Status::damagedParts},
        {"cut.g00", cut, Status::truncated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConvertResult result = convert(source(c.name, c.bytes));
        EXPECT_EQ(result.status, c.expected);
        if (c.expected == Status::notG00 || c.expected == Status::unsupportedType) {
            EXPECT_EQ(result.typeByte, c.bytes[0]);
        }
    }
    EXPECT_EQ(convert(source("empty.g00", {})).file, FileStatus::emptyFile);
    EXPECT_EQ(convert(root / "missing.g00").file, FileStatus::cannotOpen);
    EXPECT_EQ(convert(root).file, FileStatus::notRegularFile);  // a folder
    EXPECT_TRUE(fs::is_empty(root / "out"));

    setFolder(root / "no-such-folder");
    EXPECT_EQ(convert(source("ok.g00", fixtures::fullFrame(2, 2))).file, FileStatus::cannotCreate);
    EXPECT_FALSE(fs::exists(root / "no-such-folder"));
}

TEST_F(ConvertTest, ShortReadAndFailedWriteAreFailures) {
    fs::path file = source("pic.g00", fixtures::fullFrame(4, 4));
    faults::arm(faults::Point::read, 1);
    EXPECT_EQ(convert(file).file, FileStatus::readFailed);
    faults::arm(faults::Point::write, 1);
    EXPECT_EQ(convert(file).file, FileStatus::writeFailed);
    EXPECT_FALSE(fs::exists(root / "out" / "pic.bmp"));  // the partial output was removed
    faults::arm(faults::Point::allocation, 2);           // the Canvas
    EXPECT_EQ(convert(file).status, Status::outOfMemory);
    faults::disarm();
    EXPECT_EQ(faults::liveBlocks(), 0);
    EXPECT_EQ(faults::liveHandles(), 0);
    EXPECT_TRUE(fs::is_empty(root / "out"));
}

#ifndef _WIN32
TEST_F(ConvertTest, AnOutputNamedByALinkReplacesTheLinkNotWhatItPointsTo) {
    const std::vector<uint8_t> elsewhere(700, 0x3C);
    writeFile(root / "elsewhere.bin", elsewhere);
    fs::create_symlink(root / "elsewhere.bin", root / "out" / "pic.bmp");
    std::vector<uint8_t> full = fixtures::fullFrame(4, 4);
    ASSERT_TRUE(convert(source("pic.g00", full)).ok());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / "out" / "pic.bmp")));
    EXPECT_EQ(readFile(root / "out" / "pic.bmp"), expectedOutput(full, BuiltInFormat::bmp));
    EXPECT_EQ(readFile(root / "elsewhere.bin"), elsewhere);
}
#endif

TEST_F(ConvertTest, NeverReplacesItsOwnSource) {
    // A source that already carries the output name, converted into its own folder.
    std::vector<uint8_t> full = fixtures::fullFrame(5, 5);
    fs::path file = source("pic.bmp", full);
    setFolder(root);
    EXPECT_EQ(convert(file).file, FileStatus::sameAsSource);
    EXPECT_EQ(readFile(file), full);
    // The same file under another name: a link, or on Windows a second name of the file.
#ifdef _WIN32
    fs::create_hard_link(file, root / "out" / "pic.bmp");
#else
    fs::create_symlink(file, root / "out" / "pic.bmp");
#endif
    setFolder(root / "out");
    EXPECT_EQ(convert(file).file, FileStatus::sameAsSource);
    EXPECT_EQ(readFile(file), full);
}

#ifdef _WIN32
TEST_F(ConvertTest, AnOutputAnotherProgramHoldsOpenStaysAsItWas) {
    const std::vector<uint8_t> older(300, 0x5A);
    writeFile(root / "out" / "pic.bmp", older);
    HANDLE held = CreateFileW((root / "out" / "pic.bmp").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const ConvertResult result = convert(source("pic.g00", fixtures::fullFrame(4, 4)));
    CloseHandle(held);
    EXPECT_EQ(result.file, FileStatus::cannotCreate);
    EXPECT_NE(result.systemError, 0);
    EXPECT_EQ(readFile(root / "out" / "pic.bmp"), older);
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "out"), fs::directory_iterator()), 1);
}
#endif

TEST_F(ConvertTest, ASourceOf4GiBOrMoreIsTooLarge) {
    // A valid picture followed by a hole: read as 32 bits, the size would be its first bytes.
    std::vector<uint8_t> full = fixtures::fullFrame(2, 2);
    fs::path file = source("huge.g00", full);
    std::error_code error;
    fs::resize_file(file, (uint64_t(1) << 32) + full.size(), error);
    if (error) GTEST_SKIP() << "this file system holds no 4 GiB file: " << error.message();
    EXPECT_EQ(convert(file).status, Status::tooLarge);
    fs::remove(file);
    EXPECT_TRUE(fs::is_empty(root / "out"));
}

TEST_F(ConvertTest, PathsThatDoNotFitFailBeforeAnythingIsWritten) {
    std::vector<uint8_t> full = fixtures::fullFrame(2, 2);
    fs::path file = source("picture.g00", full);
    std::memset(outputPath, 0, sizeof outputPath);
    std::memset(outputPath + kPathSize, 0x5A, 16);
    // A folder leaving exactly room for "picture.bmp" and its NUL, then one byte less.
    for (size_t pos : {size_t(kPathSize) - 12, size_t(kPathSize) - 11, size_t(kPathSize) - 1,
                       size_t(kPathSize)}) {
        namePos = pos;
        bool fits = pos + std::strlen("picture.bmp") + 1 <= kPathSize;
        EXPECT_EQ(buildOutputName(outputPath, namePos, "picture.g00", "bmp"), fits) << pos;
    }
    for (int i = 0; i < 16; ++i) EXPECT_EQ(uint8_t(outputPath[kPathSize + i]), 0x5A);

    // A 259-byte folder fills the path with its separator: the file fails.
    char folder[kPathSize] = {};
    std::memset(folder, 'a', 259);
    EXPECT_EQ(prepareOutputFolder(folder), kPathSize);
    EXPECT_EQ(folder[259], '\\');
    EXPECT_EQ(
        convertFile(file.string().c_str(), folder, kPathSize, "picture.g00", BuiltInFormat::psd)
            .file,
        FileStatus::nameTooLong);
}

TEST(OutputFolder, AppendsASeparatorByCharacters) {
    char folder[kPathSize] = "C:\\out";
    EXPECT_EQ(prepareOutputFolder(folder), 7u);
    EXPECT_STREQ(folder, "C:\\out\\");
    EXPECT_EQ(prepareOutputFolder(folder), 7u);  // already ends in "\"
    char kanji[kPathSize] = "C:\\\x95\x5C";      // a folder named with 0x5C as a trail byte
    EXPECT_EQ(prepareOutputFolder(kanji), 6u);
    EXPECT_STREQ(kanji, "C:\\\x95\x5C\\");
}

TEST(Selection, BringsBothDialogShapesIntoOneList) {
    std::vector<char> buffer(kSelectionBufferSize, '\0');
    auto fill = [&](const std::string& text) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        std::memcpy(buffer.data(), text.data(), text.size());
    };
    char sourcePath[kPathSize];
    size_t namePos;
    const char* cursor;

    fill(std::string("C:\\pics\\a.g00"));
    ASSERT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 1);
    EXPECT_STREQ(buffer.data(), "C:\\pics");
    ASSERT_TRUE(prepareSourcePath(buffer.data(), sourcePath, namePos, cursor));
    EXPECT_STREQ(sourcePath, "C:\\pics\\");
    EXPECT_EQ(namePos, 8u);
    EXPECT_STREQ(cursor, "a.g00");
    EXPECT_STREQ(nextName(cursor), "");

    fill(std::string("C:\\a.g00"));  // a drive root
    ASSERT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 1);
    ASSERT_TRUE(prepareSourcePath(buffer.data(), sourcePath, namePos, cursor));
    EXPECT_STREQ(sourcePath, "C:\\");
    EXPECT_STREQ(cursor, "a.g00");

    fill(std::string("C:\\\0b.g00\0a.g00\0c.g00\0", 21));  // several files, at a root
    ASSERT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 3);
    ASSERT_TRUE(prepareSourcePath(buffer.data(), sourcePath, namePos, cursor));
    EXPECT_STREQ(sourcePath, "C:\\\\");  // the doubled separator the file system accepts
    EXPECT_STREQ(cursor, "b.g00");
    EXPECT_STREQ(nextName(cursor), "a.g00");
    EXPECT_STREQ(nextName(nextName(cursor)), "c.g00");

    // A name whose last character has 0x5C as its trail byte ("表"), in a folder named "ソ".
    fill(std::string("C:\\\x83\x5C\\\x95\x5C"));
    ASSERT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 1);
    EXPECT_STREQ(buffer.data(), "C:\\\x83\x5C");
    EXPECT_STREQ(buffer.data() + 6, "\x95\x5C");

    fill(std::string("a.g00"));  // a single path without "\"
    EXPECT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 0);
    fill(std::string("C:\\pics\\a.g00"));
    EXPECT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::cancelled),
              0);  // cancelled
}

TEST(Selection, RefusesStringsOf260BytesOrMore) {
    std::vector<char> buffer(kSelectionBufferSize, '\0');
    std::string directory = "C:\\" + std::string(255, 'd');  // 258 bytes
    std::string list = directory + '\0' + std::string(259, 'n') + '\0' + "b.g00" + '\0';
    std::memcpy(buffer.data(), list.data(), list.size());
    EXPECT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 2);

    std::string longName = directory + '\0' + std::string(260, 'n') + '\0';
    std::fill(buffer.begin(), buffer.end(), '\0');
    std::memcpy(buffer.data(), longName.data(), longName.size());
    EXPECT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 0);

    std::string longPath = "C:\\" + std::string(257, 'p');  // 260 bytes
    std::fill(buffer.begin(), buffer.end(), '\0');
    std::memcpy(buffer.data(), longPath.data(), longPath.size());
    EXPECT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 0);

    // A list that runs to the end of the buffer without its empty string.
    std::fill(buffer.begin(), buffer.end(), 'x');
    buffer[0] = 'C';
    buffer[1] = '\0';
    for (size_t i = 100; i < buffer.size(); i += 100) buffer[i] = '\0';
    EXPECT_EQ(parseSelection(buffer.data(), buffer.size(), DialogOutcome::chosen), 0);

    // A directory so long that no name fits after it.
    char sourcePath[kPathSize];
    size_t namePos;
    const char* cursor;
    std::string deep = std::string(258, 'd') + '\0' + "a" + '\0';
    EXPECT_FALSE(prepareSourcePath(deep.c_str(), sourcePath, namePos, cursor));
    EXPECT_EQ(namePos, kPathSize);
}

TEST(Selection, FormatsTheCount) {
    auto text = [](uint16_t count) {
        char digits[5];
        formatCount(count, digits);
        return std::string(digits, 5);
    };
    EXPECT_EQ(text(0), "    0");
    EXPECT_EQ(text(7), "    7");
    EXPECT_EQ(text(100), "  100");
    EXPECT_EQ(text(123), "  123");
    EXPECT_EQ(text(10000), "10000");
    EXPECT_EQ(text(10203), "10203");
    EXPECT_EQ(text(65535), "65535");
}

namespace {

struct RecordingView : BatchView {
    int steps = 0;
    int turns = 0;
    std::vector<std::string> paths;
    void stepProgress() override { ++steps; }
    void betweenFiles() override { ++turns; }
    void showPath(const char* path) override { paths.emplace_back(path); }
};

}  // namespace

TEST_F(ConvertTest, BatchStopsAtTheFirstFailure) {
    std::vector<uint8_t> typeOne = fixtures::fullFrame(2, 2);
    typeOne[0] = 1;
    source("one.g00", fixtures::fullFrame(3, 2));
    source("two.g00", typeOne);
    source("three.g00", fixtures::fullFrame(2, 3));
    std::string list =
        root.string() + '\0' + "one.g00" + '\0' + "two.g00" + '\0' + "three.g00" + '\0' + '\0';

    char sourcePath[kPathSize];
    BatchJob job;
    ASSERT_NO_FATAL_FAILURE(prepareBatch(list, 3, sourcePath, job));
    RecordingView view;
    ConvertResult result = runBatch(job, view);
    EXPECT_EQ(result.status, Status::unsupportedType);
    EXPECT_EQ(view.steps, 2);  // the bar shows 2 of 3 while the failure is reported
    EXPECT_EQ(view.turns, 2);
    ASSERT_EQ(view.paths.size(), 2u);
    EXPECT_EQ(fs::path(view.paths[1]).filename(), "two.g00");
    EXPECT_TRUE(fs::exists(root / "out" / "one.bmp"));
    EXPECT_FALSE(fs::exists(root / "out" / "three.bmp"));
}

TEST_F(ConvertTest, BatchNeverReplacesOneOfItsSources) {
    // a.g00's output a.bmp is itself a source of the batch, in either order.
    const std::vector<uint8_t> first = fixtures::fullFrame(3, 2);
    const std::vector<uint8_t> second = fixtures::fullFrame(2, 3, 7);
    source("a.g00", first);
    source("a.bmp", second);
    for (const char* order : {"a.g00\0a.bmp", "a.bmp\0a.g00"}) {
        SCOPED_TRACE(order);
        std::string list = root.string() + '\0' + std::string(order, 11) + '\0' + '\0';
        char sourcePath[kPathSize];
        BatchJob job;
        setFolder(root);
        ASSERT_NO_FATAL_FAILURE(prepareBatch(list, 2, sourcePath, job));
        RecordingView view;
        EXPECT_EQ(runBatch(job, view).file, FileStatus::sameAsSource);
        EXPECT_EQ(view.paths.size(), 1u);
        EXPECT_EQ(readFile(root / "a.bmp"), second);
    }
}

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

// Files that claim a decompressed size far beyond what their streams write (4 GiB, 512 MiB):
// the buffers are obtained, but only what the streams write may become resident, whether the
// file is converted or a picture is packed like it. Run in a child, whose peak resident size is
// reset first.
TEST(ResidentMemory, FollowsWhatTheStreamCanWriteNotWhatTheFileClaims) {
    auto convert = [](const std::string& path) {
        EncodedImage image;
        const ConvertResult result = encodeFile(path.c_str(), EncodeRequest{}, image);
        // ok, or outOfMemory where 4 GiB of address space is refused.
        return result.ok() || result.status == Status::outOfMemory;
    };
    // An edited picture, whole and as region 0, after the decoding the packers do first.
    auto packLike = [](const std::string& path) {
        const std::vector<uint8_t> original = readFile(path);
        Canvas picture;
        ByteBuffer data;
        if (decodeG00Picture(original, picture, 0, &data).status != Status::ok) return false;
        std::memset(picture.pixels.data(), 0x7F, picture.pixels.size());
        const RegionPicture region0{0, 0, 0, &picture};
        Encoded whole, regions;
        return encodeG00Like(original, planG00Like(original), picture, whole).status ==
                   Status::ok &&
               encodeG00LikeRegions(original, {&region0, 1}, regions).status == Status::ok;
    };
    const struct {
        const char* file;
        bool (*run)(const std::string&);
    } cases[] = {{"parts-data-length-max.g00", convert}, {"parts-data-length-512m.g00", packLike}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(TAVIMORE_HOSTILE_DIR "/") + c.file;
        ASSERT_TRUE(fs::exists(path));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child starts with its parent's peak; "5" resets it to what is resident now.
            if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
                std::fputs("5", refs);
                std::fclose(refs);
            }
            const bool done = c.run(path);
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            _exit(done && usage.ru_maxrss < 64 * 1024 ? 0 : 1);  // ru_maxrss is in KiB
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the claimed size became resident";
    }
}
#endif
