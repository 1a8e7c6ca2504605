// The programs and the C library are two faces of one codec: for every file of a corpus (game-like
// pictures, the hostile files), each output the programs write is the library's, byte for byte,
// and each file one refuses the other refuses for the same reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "tavimore.h"
#include "tests/g00_fixtures.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

struct ProgramRun {
    bool ok;
    std::string errors;
};

class FacesAgree : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("tavimore-faces-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "in");
    }
    void TearDown() override { fs::remove_all(root); }

    ProgramRun runProgram(const char* program, const std::string& arguments) {
        const fs::path errors = root / "stderr.txt";
        const std::string command = "cd \"" + root.string() + "\" && \"" + program + "\" -q " +
                                    arguments + " >/dev/null 2>\"" + errors.string() + "\"";
        const int raw = std::system(command.c_str());
        const Bytes text = fixtures::readFile(errors);
        return {WIFEXITED(raw) && WEXITSTATUS(raw) == 0, std::string(text.begin(), text.end())};
    }

    // The corpus: made pictures of every kind the games ship, and the hostile files.
    std::vector<fs::path> corpus() {
        const char* made[][2] = {
            {"photo", "--kind photo --size 97x61 --seed 2"},
            {"flat", "--kind flat --size 64x48 --seed 3"},
            {"lineart-literal", "--kind lineart --size 50x40 --literal --seed 4"},
            {"sprite", "--kind sprite --size 120x90 --region-size 32 --seed 5"},
            {"faces", "--kind sprite --size 96x80 --expressions 4 --seed 6"},
            {"empty-kept", "--kind sprite --size 70x70 --region-size 16 --keep-empty --seed 7"},
            {"noise-regions", "--kind noise --type 2 --size 33x17 --band 5 --seed 8"},
        };
        std::vector<fs::path> files;
        for (const auto& [name, options] : made) {
            const fs::path file = root / "in" / (std::string(name) + ".g00");
            const std::string command = std::string("\"") + TAVIMORE_G00_MAKE + "\" " + options +
                                        " \"" + file.string() + "\" >/dev/null";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
            files.push_back(file);
        }
        for (const auto& entry : fs::directory_iterator(TAVIMORE_HOSTILE_DIR))
            if (entry.path().extension() == ".g00") files.push_back(entry.path());
        return files;
    }

    fs::path root;
};

std::string quoted(const fs::path& path) {
    std::ostringstream text;
    text << path;  // in double quotes
    return text.str();
}

Bytes taken(uint8_t* out, size_t size) {
    Bytes bytes(out, out + size);
    tavimore_free(out);
    return bytes;
}

// The programs' message for a refused file holds the library's words for its status; the
// programs name the limit where the library says only that there is one.
void expectSameRefusal(const ProgramRun& program, tavimore_status status) {
    EXPECT_FALSE(program.ok);
    std::ostringstream words;
    if (status == TAVIMORE_TOO_MANY_PIXELS)
        words << "larger than " << TAVIMORE_DEFAULT_MAX_PIXELS << " pixels";
    else
        words << tavimore_status_text(status);
    EXPECT_NE(program.errors.find(words.str()), std::string::npos)
        << "library: " << words.str() << "\nprogram: " << program.errors;
}

}  // namespace

TEST_F(FacesAgree, ConversionsAndPacksGiveTheSameBytesAndRefusals) {
    int compared = 0;
    for (const fs::path& path : corpus()) {
        SCOPED_TRACE(path.filename().string());
        const std::string name = path.stem().string();
        const std::string in = quoted(path);
        const Bytes file = fixtures::readFile(path);
        if (file.empty()) continue;  // the programs' own failure, before any decoding
        fs::remove_all(root / "out");

        tavimore_image* image = nullptr;
        const tavimore_status decoded = tavimore_decode(file.data(), file.size(), &image);
        tavimore_header header;
        const tavimore_status said =
            tavimore_read_header(file.data(), file.size(), nullptr, &header);
        // The header call gives every refusal that comes before decoding.
        if (said != TAVIMORE_OK) {
            EXPECT_EQ(said, decoded);
        }

        const ProgramRun png = runProgram(TAVIMORE_CLI, "--png -o out/png " + in);
        const ProgramRun bmp = runProgram(TAVIMORE_CLI, "--bmp -o out/bmp " + in);
        const ProgramRun layers = runProgram(TAVIMORE_CLI, "--layers -o out/layers " + in);
        if (decoded != TAVIMORE_OK) {
            for (const ProgramRun* program : {&png, &bmp, &layers}) expectSameRefusal(*program, decoded);
            continue;
        }
        ASSERT_TRUE(png.ok && bmp.ok && layers.ok) << png.errors << bmp.errors << layers.errors;
        const bool regions = image->region_count != 0;
        uint8_t* out = nullptr;
        size_t size = 0;
        ASSERT_EQ(tavimore_write_png(image, regions ? TAVIMORE_PNG_RGBA : TAVIMORE_PNG_RGB, &out,
                                     &size),
                  TAVIMORE_OK);
        EXPECT_EQ(taken(out, size), fixtures::readFile(root / "out/png" / (name + ".png")));
        ASSERT_EQ(tavimore_write_bmp(image, &out, &size), TAVIMORE_OK);
        EXPECT_EQ(taken(out, size), fixtures::readFile(root / "out/bmp" / (name + ".bmp")));
        if (regions) {
            ASSERT_EQ(tavimore_write_layered_psd(file.data(), file.size(), &out, &size),
                      TAVIMORE_OK);
            EXPECT_EQ(taken(out, size), fixtures::readFile(root / "out/layers" / (name + ".psd")));
        }

        // Packed back: fresh, like the original whole, and like it region by region from the
        // region BMPs, which have no transparency of their own.
        const std::string picture = "out/png/" + name + ".png";
        const ProgramRun fresh = runProgram(TAVIMORE_PACK, "-o out/fresh " + picture);
        const ProgramRun like = runProgram(TAVIMORE_PACK, "--like " + in + " -o out/like " + picture);
        tavimore_status packed = tavimore_pack(image, &out, &size);
        ASSERT_EQ(fresh.ok, packed == TAVIMORE_OK) << fresh.errors;
        if (packed == TAVIMORE_OK) {
            EXPECT_EQ(taken(out, size), fixtures::readFile(root / "out/fresh" / (name + ".g00")));
        }
        packed = tavimore_pack_like(file.data(), file.size(), image, TAVIMORE_OUTSIDE_FAILS, &out,
                                    &size);
        if (packed == TAVIMORE_OK) {
            EXPECT_EQ(taken(out, size), fixtures::readFile(root / "out/like" / (name + ".g00")));
        } else {
            expectSameRefusal(like, packed);
        }
        tavimore_free(image);

        tavimore_layers* drawn = nullptr;
        ASSERT_EQ(tavimore_decode_layers(file.data(), file.size(), nullptr, &drawn), TAVIMORE_OK);
        if (drawn->layer_count != 0) {
            EXPECT_TRUE(runProgram(TAVIMORE_CLI, "--regions --bmp -o out/regions " + in).ok);
            std::string files;
            std::vector<tavimore_image*> pictures;
            std::vector<tavimore_region_picture> given;
            for (uint32_t i = 0; i < drawn->layer_count; ++i) {
                const tavimore_layer& layer = drawn->layers[i];
                char region[16];
                std::snprintf(region, sizeof region, "_%03u.bmp", layer.region);
                const fs::path bmpFile = root / "out/regions" / (name + region);
                files.append(" ").append(quoted(bmpFile));
                const Bytes bytes = fixtures::readFile(bmpFile);
                tavimore_image* read = nullptr;
                ASSERT_EQ(tavimore_read_picture(bytes.data(), bytes.size(), &read), TAVIMORE_OK);
                pictures.push_back(read);
                given.push_back({layer.region, int32_t(layer.box.left), int32_t(layer.box.top),
                                 read});
            }
            const ProgramRun byRegion = runProgram(TAVIMORE_PACK, "--like " + in + " -o out/by-region" + files);
            packed = tavimore_pack_like_regions(file.data(), file.size(), given.data(),
                                                given.size(), TAVIMORE_OUTSIDE_FAILS, &out, &size,
                                                nullptr);
            if (packed == TAVIMORE_OK) {
                EXPECT_EQ(taken(out, size),
                          fixtures::readFile(root / "out/by-region" / (name + ".g00")));
            } else {
                expectSameRefusal(byRegion, packed);
            }
            for (tavimore_image* read : pictures) tavimore_free(read);
        }
        tavimore_free(drawn);
        ++compared;
    }
    EXPECT_GE(compared, 7);
}
