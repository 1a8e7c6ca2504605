// Converting one G00 file into one BMP, PSD or PNG file, one file per region, or a PSD with
// a layer per region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/file_access.h"
#include "codec/g00.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/status.h"

// A file's outcome: the files' side failed (file), or the codec's (status), or neither.
struct ConvertResult {
    Status status = Status::ok;
    uint8_t typeByte = 0;  // what a notG00 or unsupportedType file held instead of 0 or 2
    int systemError = 0;   // the system's code behind a failed open, read, create or write
    FileStatus file = FileStatus::ok;
    bool ok() const { return status == Status::ok && file == FileStatus::ok; }
};

// A converted picture held in memory, with its source still open for reading so that nothing
// can replace the source before the output is written.
struct EncodedImage {
    FileHandle source;
    ByteBuffer bytes;
    uint32_t length = 0;
    const char* extension = "bmp";  // "bmp", "psd" or "png"
    // A region's box on its picture, given to the writer: a PNG records its place (oFFs).
    const RegionBox* place = nullptr;

    // A region picture encoded region by region: one picture per region that draws a pixel, in
    // region order, each in extension's format; bytes is then unused. Empty otherwise.
    struct Region {
        uint32_t index = 0;
        ByteBuffer bytes;
        uint32_t length = 0;
    };
    bool byRegion = false;
    std::vector<Region> regions;
};

// Which kind of G00 picture a Canvas came from: type 0 or 2 (type-2 files have regions).
enum class G00Layout : uint8_t { fullFrame, regions };

// Writes the Canvas into image's bytes, length and extension; a BMP or PSD goes into the block
// image.bytes already holds when it is large enough (encodeBmp, encodePsd). How the command
// line writes PNG, whose zlib the window's program does not link, and PSD on several threads.
using ImageWriter =
    std::function<Status(const Canvas& canvas, G00Layout layout, EncodedImage& image)>;

enum class BuiltInFormat : uint8_t { bmp, psd };

// The built-in writers on one thread, into a new output buffer.
Status writeImage(const Canvas& canvas, BuiltInFormat format, EncodedImage& image);

// What becomes of a region picture; full-frame pictures are written whole in every case.
enum class RegionOutput : uint8_t {
    whole,   // the whole Canvas as one picture
    each,    // each region that draws a pixel alone, cut to its box (codec/g00_regions.h)
    layers,  // one PSD, a layer per region that draws a pixel; the one-layer PSD when none does
};

struct EncodeRequest {
    BuiltInFormat regionFormat = BuiltInFormat::psd;  // of region pictures, when no writer is given
    uint64_t maxPixels = 0;        // more pixels fail as tooManyPixels; 0: no limit
    ImageWriter writer = nullptr;  // every picture through it, when given (not with layers)
    RegionOutput regions = RegionOutput::whole;
};

// Blocks a command-line worker keeps from one file to the next, so that a batch does not
// pay for fresh pages (their faults and the system's zeroing) on every file; only what the
// previous file wrote is cleared. The window obtains and releases its blocks per file.
struct KeptBlocks {
    KeptBlock file;
    G00Blocks decode;
};

// Reads, checks, decodes and writes the picture into memory: every picture through the
// request's writer when one is given; otherwise type-2 pictures in the request's regionFormat,
// everything else BMP. A file fails with the same result whatever the request's region
// output, since the whole picture is decoded first in every case. Every buffer but the
// outputs is released before it returns; with kept, the source's,
// the Canvas's and the decompression blocks are taken from it and given back to it instead.
// A block image.bytes holds is the built-in writers' to write the whole picture into.
ConvertResult encodeFile(const char* sourcePath, const EncodeRequest& request, EncodedImage& image,
                         KeptBlocks* kept = nullptr);

// Opens the source and reads it whole into file (at least a header's worth of bytes, those a
// short file lacks zero), as encodeFile does: cannotOpen, notRegularFile, emptyFile, tooLarge,
// readFailed or an obtainBlock result on failure. size receives the file's own size.
ConvertResult readSourceFile(const char* sourcePath, FileHandle& source, ByteBuffer& file,
                             uint64_t& size, KeptBlock* kept = nullptr);

// The output's file name for a source's: up to the first "." of fileName, then "." and the
// extension ("a.b.g00" -> "a.psd", ".name.g00" -> ".psd"; a name without "." gets one).
std::string outputFileName(std::string_view fileName, const char* extension);

// Puts fileName into outputPath (kPathSize bytes) at namePos with its part from the first "."
// replaced by the extension ("a.b.g00" -> "a.psd"; a name without "." gets one). False when
// the result would not fit; nothing is then written past the buffer.
bool buildOutputName(char* outputPath, size_t namePos, const char* fileName, const char* extension);

// Writes the image to outputPath (its name from namePos) under a temporary name and puts it
// in place; on failure an existing file of that name is left as it was. The image keeps its
// bytes, for the caller to release or use again.
ConvertResult placeImage(const char* outputPath, size_t namePos, EncodedImage& image,
                         const OutputGuards& guards = {});

// The output's file name for region `region` of a source: as outputFileName, with "_" and the
// region's index in three digits before the extension ("a.g00", 7 -> "a_007.png").
std::string regionFileName(std::string_view fileName, uint32_t region, const char* extension);

// One output among several of the same source.
struct OutputFile {
    std::string path;
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
};

// Writes every output under its temporary name and, only once all of them are complete, puts
// them in place in order. On a failure before that, every file of those names is left as it
// was and failedAt is the output that failed; a failed rename (rare) leaves the outputs before
// it in place.
ConvertResult placeImages(const std::vector<OutputFile>& outputs, const FileHandle& source,
                          const OutputGuards& guards, size_t& failedAt);

// Names the output (nameTooLong when it does not fit), then placeImage.
ConvertResult writeOutput(char* outputPath, size_t namePos, const char* fileName,
                          EncodedImage& image, const OutputGuards& guards = {});

// encodeFile then writeOutput; everything is released and closed on every path.
ConvertResult convertFile(const char* sourcePath, char* outputPath, size_t outputNamePos,
                          const char* fileName, BuiltInFormat regionFormat,
                          const OutputGuards& guards = {});
