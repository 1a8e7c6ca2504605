// Reading a PNG, BMP or PSD picture into a Canvas, the reader chosen by the file's signature.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

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

// Takes PNG of every colour type and depth, interlaced or not (16-bit samples rounded to 8);
// 24-bit and 32-bit BMP (BI_RGB, or BI_BITFIELDS of whole bytes); PSD version 1, RGB or grey
// (read as RGB), 8 bits, of one layer or none, its channels raw, PackBits or ZIP. Every length
// is checked against the file, and the size against 65,535 pixels (pictureTooLarge), before
// the Canvas is obtained.
// work is the PNG and PSD readers' work area, at least kPictureWorkSize bytes; the BMP reader
// does not use it. notPicture without one of the three signatures; truncated, damagedPicture,
// damagedStream, badChecksum, unsupportedPicture, severalLayers (facts.layerCount says how
// many), emptyPicture, and makeCanvas's refusals. facts says what the file is and which limit
// a refused one met. On failure the Canvas holds nothing.
PictureRead readPicture(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas);

// One layer of a file with several, as it is stored: its rectangle's pixels with the
// transparency as alpha (255 without one), its opacity and blend mode apart, its mask not
// applied.
struct PsdStoredLayer {
    int32_t left = 0, top = 0;  // its rectangle's top-left corner on the document
    uint8_t opacity = 255;
    uint32_t blendMode = 0;  // the key's four letters, big-endian ('norm' is normal)
    uint8_t nameLength = 0;
    char name[255] = {};  // the Pascal name, as its bytes are stored
    Canvas pixels;        // empty for a layer of no pixels
};

struct PsdLayers {
    uint32_t width = 0, height = 0;      // the document's
    std::vector<PsdStoredLayer> layers;  // bottom first
};

// The layers of a PSD file with several, each read as readPicture reads a PSD of one, and each
// at most 65,535 pixels either way (pictureTooLarge) and within its own Canvas's limits: the
// PSD reader's results for the file; notPicture for a file of one layer or none.
Status readPsdLayers(std::span<const uint8_t> file, std::span<uint8_t> work, PsdLayers& read,
                     PictureFacts& facts);
