// Packing one picture file (PNG, BMP or PSD) into one G00 file: a fresh one, or one like an
// original G00 file whose bytes it keeps.
#pragma once

#include <cstdint>

#include "batch/convert_file.h"
#include "codec/g00_write.h"

struct PackResult {
    Status status = Status::ok;
    int systemError = 0;          // the system's code behind a failed open or read
    uint8_t typeByte = 0;         // the original's, for notG00 and unsupportedType
    uint32_t layerCount = 0;      // severalLayers: how many the PSD file has
    uint32_t width = 0, height = 0;  // sizeDiffers: the picture's
    OutsidePixels outside;        // pixelsOutside: those no part can hold
    bool ok() const { return status == Status::ok; }
};

// The G00 file a run packs like, read once and kept open for the run, so that nothing
// replaces it meanwhile.
struct PackOriginal {
    FileHandle source;
    ByteBuffer bytes;
    uint32_t size = 0;
    G00LikePlan plan;
};

// Reads the original and checks that it decodes: every failure it would give each picture.
PackResult readOriginal(const char* path, PackOriginal& original);

// Reads the picture and writes the G00 file into image (extension "g00"), with the picture
// still open. Without like, a fresh file. With it, a file like the original: the picture must
// have the original's size (else sizeDiffers), and pixels that no part of the original holds
// fail it as pixelsOutside unless dropOutside. Every buffer but the output is released before
// it returns.
PackResult packFile(const char* picturePath, const PackOriginal* like, bool dropOutside,
                    EncodedImage& image);
