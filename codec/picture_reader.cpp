#include "codec/picture_reader.h"

#include <cstring>

#include "codec/internal/bmp_reader.h"
#include "codec/internal/png_common.h"
#include "codec/internal/png_reader.h"
#include "codec/internal/psd_reader.h"

PictureRead readPicture(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas) {
    PictureRead read;
    PictureFacts& facts = read;
    auto startsWith = [&](const char* signature, size_t length) {
        return file.size() >= length && std::memcmp(file.data(), signature, length) == 0;
    };
    if (startsWith(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature))
        read.status = readPng(file, work, canvas, facts);
    else if (startsWith("BM", 2))
        read.status = readBmp(file, canvas, facts);
    else if (startsWith("8BPS", 4))
        read.status = readPsd(file, work, canvas, facts);
    else
        read.status = Status::notPicture;
    if (!read.ok()) {
        canvas.pixels.release();
        canvas.width = canvas.height = 0;
    }
    return read;
}
