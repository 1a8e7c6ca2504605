// g00-data FILE.g00 OUT: writes the decompressed data of a region-based file, as the plain
// reference decompressor gives it, so that a test can tell which bytes an editor changed.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/reference_codec.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: g00-data FILE.g00 OUT\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    if (file.size() < kRegionTableStart || file[kG00TypeOffset] != kG00Regions) {
        std::fprintf(stderr, "g00-data: %s is not a region-based G00 file\n", argv[1]);
        return 1;
    }
    const uint64_t sizes = regionSizePairOffset(g00RegionCount(file));
    if (sizes + kSizePairSize > file.size() || sizes + ref::le32(file, sizes) > file.size()) {
        std::fprintf(stderr, "g00-data: %s is cut short\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> data(ref::le32(file, sizes + kDecompressedLengthOffset), 0);
    if (ref::decodeLzBytes(file, sizes + kSizePairSize, sizes + ref::le32(file, sizes), data) !=
        Status::ok) {
        std::fprintf(stderr, "g00-data: %s: the compressed data is damaged\n", argv[1]);
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return out.good() ? 0 : 1;
}
