// Reading a PNG, BMP or PSD picture into a Canvas, the reader chosen by the file's signature.
#pragma once

#include <cstdint>
#include <span>

#include "common/canvas.h"
#include "common/status.h"

struct PictureRead {
    Status status = Status::ok;
    uint32_t layerCount = 0;  // for severalLayers: how many the PSD file has
    bool ok() const { return status == Status::ok; }
};

// The text of a severalLayers failure, with the count: "has 3 layers: merge them into one first".
inline constexpr const char* kSeveralLayersFormat = "has %u layers: merge them into one first";

// work is the PNG reader's work area, at least kPngWorkSize bytes (codec/png_reader.h); the
// other readers do not use it. A file with none of the three signatures is notPicture. On
// failure the Canvas holds nothing.
PictureRead readPicture(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas);
