// Packing one picture file (PNG, BMP or PSD) into one G00 file: a fresh one, or one like an
// original G00 file whose bytes it keeps; and the words for a picture that cannot be packed.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "batch/convert_file.h"
#include "codec/g00_encode.h"
#include "codec/g00_regions.h"
#include "codec/picture_facts.h"

// Why a layer of a layered PSD cannot be packed, beyond the Status.
enum class LayerRefusal : uint8_t { none, notRegion, opacity, blendMode, regionEmpty };

// The original's type byte for notG00 and unsupportedType, and the files' failures, as a
// conversion gives them; and what a refusal to pack names.
struct PackResult : ConvertResult {
    PictureFacts picture;            // what the reader told of the picture (its limit, its layers)
    uint32_t width = 0, height = 0;  // sizeDiffers: the picture's
    uint32_t originalWidth = 0, originalHeight = 0;  // sizeDiffers: the original's
    OutsidePixels outside;                           // pixelsOutside: those no part can hold
    bool coloursOnly = false;  // pixelsOutside: the picture is opaque, so its alpha is the
                               // original's and the pixels outside would not show anyway
    // Pictures region by region: the layer or file a refusal names, and the region concerned.
    std::string layer;
    std::string fileName;
    uint32_t region = kNoRegion;
    uint32_t regionCount = 0;     // noSuchRegion: the original's
    uint32_t outsideRegions = 0;  // pixelsOutside by region: how many regions have some
    LayerRefusal layerRefusal = LayerRefusal::none;
    uint32_t layerValue = 0;  // the opacity or the blend mode's key a refusal names
    bool unchanged = false;   // the file written holds the original's data as it was
};

// What becomes of pixels that no part of the original holds and that the original would not
// show the same: they fail the picture (pixelsOutside), or are left out.
enum class OutsidePixelsAre : uint8_t { refused, dropped };

// The G00 file a run packs like, read once and kept open for the run, so that nothing
// replaces it meanwhile.
struct PackOriginal {
    FileHandle source;
    ByteBuffer bytes;
    uint64_t size = 0;
    G00LikePlan plan;
    RegionBoxes boxes;  // a region-based original's
    ByteBuffer pixels;  // a full frame's, as it decodes
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
// would not show the same fail it as pixelsOutside unless outsideRule drops them. Every buffer but
// the output is released before it returns.
//
// A PSD of several layers is packed region by region. With like, each layer named "region RRR"
// refills that region of the original (noSuchRegion, regionTwice; a layer of another name, of
// an opacity below 100% or a blend mode other than normal is refused, since the game shows
// the pixels as they are); without it, the layers make a fresh file of one region each.
// With like, the result says whether the file holds the original's data unchanged.
// The G00 encoder's match search runs on as many of parallel's tasks as it may run at once.
PackResult packFile(const char* picturePath, const PackOriginal* like, OutsidePixelsAre outsideRule,
                    EncodedImage& image, const Parallel& parallel = {});

// Region files as --regions writes them (NAME_RRR.png, .bmp or .psd), each refilling its region
// of the original from that region's box; all of them make one file. A file whose size is not
// its region's box fails (sizeDiffers), and so does one of a region that draws nothing.
struct RegionFile {
    std::string path;
    uint32_t region = 0;
};
PackResult packRegionFiles(std::span<const RegionFile> files, const PackOriginal& like,
                           OutsidePixelsAre outsideRule, EncodedImage& image,
                           const Parallel& parallel = {});

// The region a file name gives ("a_007.png" -> 7, its base "a"), or kNoRegion when the name up
// to its first "." does not end in "_" and three digits.
uint32_t regionOfFileName(const std::string& fileName, std::string& base);

// What the user reads for a picture (or the original, named originalName) that could not be
// packed: the reason, and for a picture the readers refuse, what to save it as instead.
std::string packFailureText(const PackResult& result, const std::string& originalName);
