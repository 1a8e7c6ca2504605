// Reading a PNG, BMP or PSD picture into a Canvas, the reader chosen by the file's signature.
#pragma once

#include <cstdint>
#include <span>

#include "codec/picture_facts.h"
#include "common/canvas.h"
#include "common/status.h"

// The PNG and PSD readers' work area (zlib's inflate state and window), in bytes.
inline constexpr uint32_t kPictureWorkSize = 48 * 1024;

// The reader's result, and what it says of the file (codec/picture_facts.h).
struct PictureRead : PictureFacts {
    Status status = Status::ok;
    bool ok() const { return status == Status::ok; }
};

// work is the PNG and PSD readers' work area, at least kPictureWorkSize bytes; the BMP reader
// does not use it. A file with none of the three signatures is notPicture. On failure the
// Canvas holds nothing.
PictureRead readPicture(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas);
