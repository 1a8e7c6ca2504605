// Converting one G00 file into one BMP, PSD or PNG file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "batch/file_access.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/status.h"

struct ConvertResult {
    Status status = Status::ok;
    uint8_t typeByte = 0;  // what a notG00 or unsupportedType file held instead of 0 or 2
    int systemError = 0;   // the system's code behind a failed open, read, create or write
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

// Opens the file at path into source and reads it whole into file, a block of at least
// minimumSize bytes (the bytes past the file's own stay 0): empty, tooLarge (4 GiB or more),
// outOfMemory, or the open's and read's failures with the system's code.
ConvertResult readSource(const char* path, uint32_t minimumSize, FileHandle& source,
                         ByteBuffer& file, uint32_t& size);

// Writes the Canvas into image's bytes, length and extension; regionBased says whether it
// came from a type-2 picture. How the command line writes PNG, whose zlib the window's
// program does not link.
using ImageWriter = Status (*)(const Canvas& canvas, bool regionBased, EncodedImage& image);

// Reads, checks, decodes and writes the picture into memory: every picture through writer
// when one is given; otherwise type-2 pictures become PSD when psdWanted, everything else
// BMP. A picture of more than maxPixels pixels fails as tooManyPixels (0: no limit). Every
// buffer but the output is released before it returns.
ConvertResult encodeFile(const char* sourcePath, bool psdWanted, EncodedImage& image,
                         uint64_t maxPixels = 0, ImageWriter writer = nullptr);

// The output's file name for a source's: up to the first "." of fileName, then "." and the
// extension ("a.b.g00" -> "a.psd", ".name.g00" -> ".psd"; a name without "." gets one).
std::string outputFileName(std::string_view fileName, const char* extension);

// Puts fileName into outputPath (kPathSize bytes) at namePos with its part from the first "."
// replaced by the extension ("a.b.g00" -> "a.psd"; a name without "." gets one). False when
// the result would not fit; nothing is then written past the buffer.
bool buildOutputName(char* outputPath, size_t namePos, const char* fileName,
                     const char* extension);

// Writes the image to outputPath (its name from namePos) under a temporary name and puts it
// in place; on failure an existing file of that name is left as it was.
ConvertResult placeImage(const char* outputPath, size_t namePos, EncodedImage& image,
                         const OutputGuards& guards = {});

// Names the output (nameTooLong when it does not fit), then placeImage.
ConvertResult writeOutput(char* outputPath, size_t namePos, const char* fileName,
                          EncodedImage& image, const OutputGuards& guards = {});

// encodeFile then writeOutput; everything is released and closed on every path.
ConvertResult convertFile(const char* sourcePath, char* outputPath, size_t outputNamePos,
                          const char* fileName, bool psdWanted, const OutputGuards& guards = {});
