// Writes the picture fuzzers' seeds: small valid PNG (every colour type, plain and
// interlaced), BMP (each layout) and PSD (one layer, merged image) files, into FOLDER/png,
// FOLDER/bmp and FOLDER/psd.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/g00_fixtures.h"
#include "tools/picture_files.h"
#include "tools/test_pictures.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: picture-seeds FOLDER\n");
        return 2;
    }
    const fs::path folder = argv[1];
    for (const char* kind : {"png", "bmp", "psd"}) fs::create_directories(folder / kind);
    const TestPicture picture = makeTestPicture(PictureKind::sprite, 11, 7, 1);
    int n = 0;
    const struct {
        uint8_t type, depth;
    } pngKinds[] = {{0, 1}, {0, 16}, {2, 8}, {3, 2}, {3, 8}, {4, 8}, {6, 16}};
    for (auto [type, depth] : pngKinds)
        for (bool interlaced : {false, true}) {
            PngImage image;
            image.width = 11;
            image.height = 7;
            image.colourType = type;
            image.depth = depth;
            image.interlaced = interlaced;
            const uint32_t count = 11 * 7 * pngChannels(type);
            for (uint32_t i = 0; i < count; ++i)
                image.samples.push_back(uint16_t((i * 37) % (type == 3 ? 3 : 1u << depth)));
            if (type == 3)
                image.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255}, image.transparency = {128};
            if (type == 2) image.transparency = {0, 0, 0, 37, 0, 74};
            fixtures::writeFile(folder / "png" / (std::to_string(n++) + ".png"),
                                writePngFile(image, 64));
        }
    BmpLayout layouts[4];
    layouts[1].depth = 24;
    layouts[2].compression = 3;
    layouts[3].infoSize = 124;
    layouts[3].compression = 3;
    layouts[3].topDown = true;
    for (const BmpLayout& layout : layouts)
        fixtures::writeFile(folder / "bmp" / (std::to_string(n++) + ".bmp"),
                            writeBmpFile(picture, layout));
    for (bool packed : {true, false}) {
        PsdDocument document = oneLayerDocument(picture, packed);
        fixtures::writeFile(folder / "psd" / (std::to_string(n++) + ".psd"),
                            writePsdFile(document));
        document.layerSection = false;
        fixtures::writeFile(folder / "psd" / (std::to_string(n++) + ".psd"),
                            writePsdFile(document));
    }
    // ZIP channels, without and with prediction, as ImageMagick and Photoshop write them.
    for (bool predicted : {false, true}) {
        PsdDocument document = oneLayerDocument(picture, true);
        for (PsdChannel& channel : document.layers[0].channels) {
            const uint32_t byte = channel.id == -1 ? 3 : 2 - uint32_t(channel.id);
            channel.block = psdZipChannelBlock(
                pictureChannel(picture, byte, 0, 0, picture.width, picture.height), picture.height,
                picture.width, predicted);
        }
        fixtures::writeFile(folder / "psd" / (std::to_string(n++) + ".psd"),
                            writePsdFile(document));
    }
    return 0;
}
