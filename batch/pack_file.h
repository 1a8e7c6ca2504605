// Packing one picture file (PNG, BMP or PSD) into one G00 file: a fresh one, or one like an
// original G00 file whose bytes it keeps; and the words for a picture that cannot be packed.
#pragma once

#include <cstdint>
#include <string>

#include "batch/convert_file.h"
#include "codec/g00_write.h"
#include "codec/picture_facts.h"

struct PackResult {
    Status status = Status::ok;
    int systemError = 0;          // the system's code behind a failed open or read
    uint8_t typeByte = 0;         // the original's, for notG00 and unsupportedType
    PictureFacts picture;         // what the reader told of the picture (its limit, its layers)
    uint32_t width = 0, height = 0;  // sizeDiffers: the picture's
    uint32_t originalWidth = 0, originalHeight = 0;  // sizeDiffers: the original's
    OutsidePixels outside;        // pixelsOutside: those no part can hold
    bool coloursOnly = false;     // pixelsOutside: the picture is opaque, so its alpha is the
                                  // original's and the pixels outside would not show anyway
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
// have the original's size (else sizeDiffers). A picture whose alpha is 255 everywhere (or
// that has none: a 24-bit BMP, a PNG or PSD without transparency) gives only its colours, and
// the original's parts keep their alpha, so that a BMP of a region-based picture comes back
// with its transparency; any other gives its alpha too, which a full-frame original cannot
// hold (transparencyLost). Pixels that no part of the original holds and that the original
// would not show the same fail it as pixelsOutside unless dropOutside. Every buffer but the
// output is released before it returns.
PackResult packFile(const char* picturePath, const PackOriginal* like, bool dropOutside,
                    EncodedImage& image);

// What the user reads for a picture (or the original, named originalName) that could not be
// packed: the reason, and for a picture the readers refuse, what to save it as instead.
std::string packFailureText(const PackResult& result, const std::string& originalName);
