// Reads a PNG, BMP or PSD file with the program's picture readers and writes the Canvas as
// straight R, G, B, A bytes, for the checks that compare it with what other programs saved.
//   read_picture FILE OUT.rgba   prints "WIDTH HEIGHT", or the refusal and exits with 1
#include <cstdio>
#include <vector>

#include "codec/picture_reader.h"
#include "tests/g00_fixtures.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: read_picture FILE OUT.rgba\n");
        return 2;
    }
    const std::vector<uint8_t> file = fixtures::readFile(argv[1]);
    std::vector<uint8_t> work(kPictureWorkSize);
    Canvas canvas;
    const PictureRead read = readPicture(file, work, canvas);
    if (!read.ok()) {
        std::printf("%s\n", statusName(read.status));
        return 1;
    }
    std::vector<uint8_t> rgba(canvas.pixels.data(), canvas.pixels.data() + canvas.pixels.size());
    for (size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);
    fixtures::writeFile(argv[2], rgba);
    std::printf("%u %u\n", canvas.width, canvas.height);
    return 0;
}
