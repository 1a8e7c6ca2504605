// bench-inputs DIR: writes the inputs of the whole-process comparison (bench/compare.sh).
//   DIR/picture.g00      a 1920x1080 region-based sprite with soft transparency
//   DIR/picture.rgba     the same pixels as raw R, G, B, A bytes, rows top to bottom
//   DIR/noisy.g00        a 1920x1080 region-based photo with strong grain, its stream mostly
//                        literals; DIR/noisy.rgba its pixels as raw RGBA
//   DIR/batch/NNN.g00    500 region-based pictures of 640x480, all four realistic kinds
// The batch repeats 20 distinct pictures (5 seeds of each kind) under 500 names: making 500
// distinct ones would take longer than converting them, and every file is read from the page
// cache either way.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

namespace {

constexpr uint32_t kPictureWidth = 1920, kPictureHeight = 1080;
constexpr uint32_t kBatchFiles = 500, kBatchWidth = 640, kBatchHeight = 480, kBatchSeeds = 5;
constexpr PictureKind kBatchKinds[] = {PictureKind::photo, PictureKind::flat, PictureKind::lineArt,
                                       PictureKind::sprite};

bool writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) std::fprintf(stderr, "bench-inputs: cannot write %s\n", path.c_str());
    return bool(out);
}

// A photo with grain of up to +-kGrain in every colour byte, as a scan or a noisy camera gives:
// few repeats are left for the LZ stream to copy.
constexpr int kGrain = 24;
TestPicture noisyPhoto(uint32_t width, uint32_t height) {
    TestPicture picture = makePhotoPicture(width, height, 5);
    uint32_t state = 0x9E3779B9u;
    for (size_t i = 0; i < picture.bgra.size(); ++i) {
        if (i % 4 == 3) continue;
        state = state * 1664525u + 1013904223u;
        const int grain = int(state >> 24) % (2 * kGrain + 1) - kGrain;
        picture.bgra[i] = uint8_t(std::clamp(int(picture.bgra[i]) + grain, 0, 255));
    }
    return picture;
}

std::vector<uint8_t> rgbaBytes(const TestPicture& picture) {
    std::vector<uint8_t> rgba(picture.bgra.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = picture.bgra[i + 2];
        rgba[i + 1] = picture.bgra[i + 1];
        rgba[i + 2] = picture.bgra[i];
        rgba[i + 3] = picture.bgra[i + 3];
    }
    return rgba;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: bench-inputs DIR\n", stderr);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir / "batch", error);
    if (error) {
        std::fprintf(stderr, "bench-inputs: cannot make %s\n", (dir / "batch").c_str());
        return 1;
    }

    TestPicture picture = makeSpritePicture(kPictureWidth, kPictureHeight, 3);
    if (!writeFile(dir / "picture.g00",
                   encodeG00Regions(cutIntoParts(picture), LzMode::compress)) ||
        !writeFile(dir / "picture.rgba", rgbaBytes(picture)))
        return 1;
    TestPicture noisy = noisyPhoto(kPictureWidth, kPictureHeight);
    if (!writeFile(dir / "noisy.g00", encodeG00Regions(cutIntoParts(noisy), LzMode::compress)) ||
        !writeFile(dir / "noisy.rgba", rgbaBytes(noisy)))
        return 1;

    std::vector<std::vector<uint8_t>> distinct;
    for (uint32_t seed = 1; seed <= kBatchSeeds; ++seed)
        for (PictureKind kind : kBatchKinds)
            distinct.push_back(encodeG00Regions(
                cutIntoParts(makeTestPicture(kind, kBatchWidth, kBatchHeight, seed)),
                LzMode::compress));
    for (uint32_t i = 0; i < kBatchFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%03u.g00", i);
        if (!writeFile(dir / "batch" / name, distinct[i % distinct.size()])) return 1;
    }
    return 0;
}
