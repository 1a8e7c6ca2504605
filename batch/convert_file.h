// Converting one G00 file into one BMP, PSD or PNG file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "batch/file_access.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/status.h"

struct ConvertResult {
    Status status = Status::ok;
    uint8_t typeByte = 0;  // what a notG00 file held instead of 0 or 2
    bool ok() const { return status == Status::ok; }
};

// A converted picture held in memory, with its source still open for reading so that nothing
// can replace the source before the output is written.
struct EncodedImage {
    FileHandle source;
    ByteBuffer bytes;
    uint32_t length = 0;
    const char* extension = "bmp";  // "bmp", "psd" or "png"
};

// Writes the Canvas into image's bytes, length and extension; regionBased says whether it
// came from a type-2 picture. How the command line writes PNG, whose zlib the window's
// program does not link.
using ImageWriter = Status (*)(const Canvas& canvas, bool regionBased, EncodedImage& image);

// Reads, checks, decodes and writes the picture into memory: every picture through writer
// when one is given; otherwise type-2 pictures become PSD when psdWanted, everything else
// BMP. Every buffer but the output is released before it returns.
ConvertResult encodeFile(const char* sourcePath, bool psdWanted, EncodedImage& image,
                         ImageWriter writer = nullptr);

// Puts fileName into outputPath (kPathSize bytes) at namePos with its part from the first "."
// replaced by the extension ("a.b.g00" -> "a.psd"; a name without "." gets one). False when
// the result would not fit; nothing is then written past the buffer.
bool buildOutputName(char* outputPath, size_t namePos, const char* fileName,
                     const char* extension);

// Names the output, creates it and writes it in one piece; a failed write removes it.
ConvertResult writeOutput(char* outputPath, size_t namePos, const char* fileName,
                          EncodedImage& image);

// encodeFile then writeOutput; everything is released and closed on every path.
ConvertResult convertFile(const char* sourcePath, char* outputPath, size_t outputNamePos,
                          const char* fileName, bool psdWanted, ImageWriter writer = nullptr);
