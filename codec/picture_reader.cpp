#include "codec/picture_reader.h"

#include <cstring>

#include "codec/bmp_reader.h"
#include "codec/internal/png_common.h"
#include "codec/png_reader.h"
#include "codec/psd_reader.h"

PictureRead readPicture(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas) {
    PictureRead read;
    auto startsWith = [&](const char* signature, size_t length) {
        return file.size() >= length && std::memcmp(file.data(), signature, length) == 0;
    };
    if (startsWith(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature))
        read.status = readPng(file, work, canvas);
    else if (startsWith("BM", 2))
        read.status = readBmp(file, canvas);
    else if (startsWith("8BPS", 4))
        read.status = readPsd(file, canvas, read.layerCount);
    else
        read.status = Status::notPicture;
    if (!read.ok()) {
        canvas.pixels.release();
        canvas.width = canvas.height = 0;
    }
    return read;
}
