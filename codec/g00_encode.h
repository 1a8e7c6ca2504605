// G00 files written whole into a block of their own: fresh ones, and ones like an original
// whose bytes they keep, for the whole picture or region by region.
#pragma once

#include <cstdint>
#include <span>

#include "codec/encode.h"
#include "common/canvas.h"
#include "common/status.h"

// A fresh G00 file of the Canvas: full-frame (type 0) when its alpha is 255 everywhere, else
// region-based (type 2) with one region and one part over the box of its pixels whose alpha is
// not 0, which decode exactly. pictureTooLarge beyond 65,535 pixels either way.
// Each writer of this file runs its match search on as many of parallel's tasks as it may run
// at once; the file is the same however many.
Status encodeFreshG00(const Canvas& picture, Encoded& out, const Parallel& parallel = {});

// A file like an original keeps the original's bytes (header, region table, part tables and
// headers) and takes only its parts' pixels anew from the picture, each part from its own
// place; pixels the decoder does not show keep theirs. An original whose part pixels lie over
// its own tables or headers is refused (damagedParts), and so is one whose stream ends before
// pixels the picture changes that lie further past that end than the picture's size (the
// work follows the picture and the original's stream, not the length its header announces).
//
// Pixels of the picture that no drawn part covers cannot be stored. The original decodes them
// as 0 (black, alpha 0); one of them differs unless its alpha is 0 too (a transparent pixel
// looks the same whatever its colour bytes). Their count and bounding box are reported; the
// file is written all the same, and the caller decides whether that is a failure.
//
// A picture without an alpha of its own (LikeAlpha::original) gives only colours: each part
// pixel it refills keeps its alpha byte from the original, so that such a picture of an
// unedited original gives the original's data back. Its pixels that no part covers are then
// reported when their colour is not black, the original's colour there.
struct G00LikePlan {
    Status status = Status::ok;  // the original's: truncated, notG00, unsupportedType, ...
    uint8_t type = 0;
    bool fullFrame = false;  // type 0: colours only, no alpha stored
    uint32_t width = 0, height = 0;
    uint64_t prefix = 0;  // the original's bytes kept before the stream
    uint64_t units = 0;   // what the LZ stream holds: pixels (type 0) or decompressed bytes
    // Regions: the decompressed bytes the original's stream writes, at most units; the decoder
    // gives 0 for the rest, and the new file's stream, too, writes only what is not 0 there.
    uint64_t written = 0;
    uint32_t tasks = 1;  // the parts of the match search a work area is sized for
};

// Reads the original's header and size fields (its data is checked as the file is written).
G00LikePlan planG00Like(std::span<const uint8_t> original);

enum class LikeAlpha : uint8_t {
    picture,      // the part pixels take all four bytes from the picture
    original,     // they take its colours and keep their own alpha
    fromPicture,  // as likeAlphaOf decides for the picture
};
// A picture whose alpha is 255 everywhere is taken as one without alpha (a 24-bit BMP, a
// flattened export): it gives colours only. Any other gives its alpha too.
LikeAlpha likeAlphaOf(const Canvas& picture);

struct OutsidePixels {
    uint64_t count = 0;
    uint32_t left = 0, top = 0, right = 0, bottom = 0;  // inclusive, when count is not 0
};

struct G00LikeResult {
    Status status = Status::ok;  // the original's decoding, as decodeG00Picture reports it
    uint64_t size = 0;           // the file's length, 0 when not written
    OutsidePixels outside;
    // A region-based original's: no part pixel took a new value, so the file decodes to the
    // original's data. A full frame's pixels are not compared (false).
    bool unchanged = false;
};

// A G00 file like the original (planned with planG00Like), its size in result.size; the
// picture's alpha is taken as likeAlphaOf says. A picture of another size is refused
// (sizeDiffers), one with transparency for a full-frame original too (transparencyLost). Pixels
// outside the original's parts are reported in result.outside, the file written all the same.
G00LikeResult encodeG00Like(std::span<const uint8_t> original, const G00LikePlan& plan,
                            const Canvas& picture, Encoded& out, const Parallel& parallel = {});

// ---- Region by region ----
//
// One picture per region, its top-left pixel at (left, top) on the original picture; its
// pixels outside its rectangle are transparent. Its alpha is by default likeAlphaOf's, so that
// a region picture saved without transparency (a region BMP, an editor's layer without alpha)
// keeps the original's alpha whoever packs it; a PSD layer's transparency is its own (picture).
struct RegionPicture {
    uint32_t region = 0;
    int32_t left = 0, top = 0;
    const Canvas* pixels = nullptr;
    LikeAlpha alpha = LikeAlpha::fromPicture;
};

inline constexpr uint32_t kNoRegion = UINT32_MAX;

struct RegionOutside {
    uint32_t region = kNoRegion;  // the first region with pixels outside its parts
    OutsidePixels pixels;         // that region's
    uint32_t regions = 0;         // how many regions have some
};

struct G00LikeRegionsResult {
    Status status = Status::ok;
    uint64_t size = 0;
    uint32_t region = kNoRegion;  // with noSuchRegion and regionTwice: the region named
    RegionOutside outside;
    bool unchanged = false;  // as G00LikeResult's
};

// A region-based original refilled region by region: each region given takes its parts' pixels
// from its own picture, the others keep theirs, so a region hidden under another is edited
// through its own picture. noSuchRegion for a region beyond the original's records,
// regionTwice for one given twice (result.region names it); notG00 for a full-frame original.
// Pixels of a region's picture that are not transparent (for LikeAlpha::original: not black)
// and lie outside that region's drawn parts are counted per region in result.outside, the
// file written all the same. The original's data is checked by decoding it first, so a
// damaged original fails as the decoder finds it.
G00LikeRegionsResult encodeG00LikeRegions(std::span<const uint8_t> original,
                                          std::span<const RegionPicture> regions, Encoded& out,
                                          const Parallel& parallel = {});

// A fresh region-based file of width x height, one region per picture in order (the first
// drawn first), each clipped to the picture, so that each region drawn alone gives its picture
// back. The pictures' alpha field is not read. tooManyRegions beyond 256 pictures,
// pictureTooLarge beyond 65,535 pixels either way.
Status encodeFreshRegionsG00(std::span<const RegionPicture> regions, uint32_t width,
                             uint32_t height, Encoded& out, const Parallel& parallel = {});
