#include "codec/internal/bmp_reader.h"

#include <cstring>

#include "codec/g00.h"
#include "common/bytes.h"

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER; V2 52, V3 56, V4 108, V5 124
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

// The byte of a pixel that a mask selects, or -1 for a mask that is not one whole byte.
int maskByte(uint32_t mask) {
    for (int byte = 0; byte < 4; ++byte)
        if (mask == 0xFFu << (8 * byte)) return byte;
    return -1;
}

}  // namespace

Status readBmp(std::span<const uint8_t> file, Canvas& canvas, PictureFacts& facts) {
    facts = PictureFacts{};
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') return Status::notPicture;
    facts.format = PictureFormat::bmp;
    auto refuse = [&](PictureLimit limit) {
        facts.limit = limit;
        return Status::unsupportedPicture;
    };
    if (file.size() < kFileHeaderSize + 4) return Status::truncated;
    const uint8_t* bytes = file.data();
    const uint32_t pixelOffset = loadLe32(bytes + 10);
    const uint32_t infoSize = loadLe32(bytes + 14);
    if (infoSize < kInfoHeaderSize) return refuse(PictureLimit::os2Header);  // OS/2's 12 bytes
    if (infoSize > file.size() - kFileHeaderSize) return Status::truncated;
    const uint8_t* info = bytes + kFileHeaderSize;
    const int32_t width = int32_t(loadLe32(info + 4));
    const int32_t storedHeight = int32_t(loadLe32(info + 8));
    const uint32_t planes = loadLe16(info + 12);
    const uint32_t depth = loadLe16(info + 14);
    const uint32_t compression = loadLe32(info + 16);
    facts.depth = depth;
    facts.compression = compression;
    if (planes != 1) return Status::damagedPicture;
    if (depth != 24 && depth != 32) return refuse(PictureLimit::depth);
    if (compression != kBiRgb && !(compression == kBiBitfields && depth == 32))
        return refuse(PictureLimit::compression);

    // Which byte of a stored pixel holds blue, green, red and alpha (-1: none, opaque).
    int blue = 0, green = 1, red = 2, alpha = depth == 32 ? 3 : -1;
    uint64_t headersEnd = kFileHeaderSize + uint64_t(infoSize);
    if (compression == kBiBitfields) {
        // A 40-byte header is followed by the three colour masks; larger ones hold them.
        const uint64_t masksAt = kFileHeaderSize + kInfoHeaderSize;
        if (infoSize == kInfoHeaderSize) headersEnd += 12;
        if (headersEnd > file.size()) return Status::truncated;
        red = maskByte(loadLe32(bytes + masksAt));
        green = maskByte(loadLe32(bytes + masksAt + 4));
        blue = maskByte(loadLe32(bytes + masksAt + 8));
        if (red < 0 || green < 0 || blue < 0 || red == green || red == blue || green == blue)
            return refuse(PictureLimit::masks);
        alpha = 6 - red - green - blue;  // the byte the colours leave
        if (infoSize >= 56) {
            const uint32_t alphaMask = loadLe32(bytes + masksAt + 12);
            if (alphaMask == 0)
                alpha = -1;
            else if (maskByte(alphaMask) != alpha)
                return refuse(PictureLimit::masks);
        }
    }

    if (width <= 0 || storedHeight == 0) {
        return width < 0 ? Status::damagedPicture : Status::emptyPicture;
    }
    const bool topDown = storedHeight < 0;
    const uint64_t height = topDown ? uint64_t(-int64_t(storedHeight)) : uint64_t(storedHeight);
    if (uint32_t(width) > kMaxG00Side || height > kMaxG00Side) return Status::pictureTooLarge;
    if (pixelOffset < headersEnd) return Status::damagedPicture;
    const uint32_t pixelSize = depth / 8;
    const uint64_t rowSize = (uint64_t(width) * pixelSize + 3) & ~uint64_t(3);
    if (pixelOffset > file.size() || rowSize * height > file.size() - pixelOffset)
        return Status::truncated;

    Status status = makeCanvas(uint32_t(width), uint32_t(height), canvas, PagingHint::whole);
    if (status != Status::ok) return status;
    const uint8_t* rows = bytes + pixelOffset;
    bool anyAlpha = false;
    for (uint64_t y = 0; y < height; ++y) {
        const uint8_t* source = rows + (topDown ? y : height - 1 - y) * rowSize;
        uint8_t* out = canvas.pixels.data() + y * canvas.stride();
        for (int32_t x = 0; x < width; ++x, source += pixelSize, out += 4) {
            out[0] = source[blue];
            out[1] = source[green];
            out[2] = source[red];
            out[3] = alpha < 0 ? 255 : source[alpha];
            anyAlpha |= out[3] != 0;
        }
    }
    if (alpha >= 0 && !anyAlpha) {
        uint8_t* pixels = canvas.pixels.data();
        for (uint64_t i = 3; i < canvas.pixels.size(); i += 4) pixels[i] = 255;
    }
    return Status::ok;
}
