// Writing G00 images, the steps under codec/encode.h's G00 entries: a fresh file from a Canvas,
// or a file "like" an original, whose bytes are kept and whose parts take their pixels anew.
// Pure functions over memory; the caller supplies the output and a work area (aligned to 4
// bytes, as page blocks are) of the sizes given here.
#pragma once

#include <cstdint>
#include <span>

#include "codec/g00_encode.h"
#include "common/canvas.h"
#include "common/status.h"

// ---- A fresh file ----
//
// A Canvas whose alpha is 255 everywhere becomes a full-frame file (type 0). Any other becomes
// a region-based file (type 2) with one region and one part: the region's origin is the top
// left of the bounding box of the pixels whose alpha is not 0, and the part, at (0, 0) in it,
// covers that box. Decoding gives back every pixel whose alpha is above 0 exactly; the others
// come back as the decoded Canvas shows them (within the box as they were, outside it all 0).
// A Canvas with no such pixel gets a box of 0 x 0 at the origin, so nothing is drawn.
// Fields the decoder does not read are 0. The region record's x2 and y2 hold the box's far
// corner, one past its last column and row (x1 + width, y1 + height): never both 0 for a box
// of a pixel or more, so the region never reads as empty, and both 0 for the 0 x 0 box.
struct G00FreshPlan {
    uint8_t type = 0;
    uint32_t left = 0, top = 0, width = 0, height = 0;  // type 2: the part's box on the Canvas
    uint64_t units = 0;  // what the LZ stream holds: pixels (type 0) or decompressed bytes
    uint32_t tasks = 1;  // the parts of the match search the work area has room for
};

// The Canvas must be at most 65,535 pixels in either direction (the header's fields).
G00FreshPlan planFreshG00(const Canvas& canvas);
uint64_t freshG00WorkSize(const G00FreshPlan& plan);
uint64_t freshG00Bound(const G00FreshPlan& plan);
// Returns the file's length, or 0 when out or work is too small or the Canvas too large.
// The match search runs on as many of parallel's tasks as plan.tasks allows (the stream is
// the same however many), here and in the writers below.
uint64_t writeFreshG00(const Canvas& canvas, const G00FreshPlan& plan, std::span<uint8_t> work,
                       std::span<uint8_t> out, const Parallel& parallel = {});

// ---- A file like an original ----
//
// The picture must have the original's width and height. The output keeps the original's type
// and header, its region table, its PartTable and PartBlock headers and every PartHeader byte
// for byte; only the parts' pixels are taken anew from the picture, each part from its own
// place (region origin plus part position). Parts the decoder does not draw (absent entries,
// empty regions, parts wholly outside the Canvas or of no pixels) keep their pixels, and so do
// the pixels of a part beyond the Canvas's edge and those a later part covers (the decoder
// draws later parts over earlier ones, so only the part shown at a pixel can take it). An
// original whose part pixels lie over its own tables or headers is refused (damagedParts):
// refilling them would change what the decoder reads. The decompressed data is the original's with
// new pixels, so its size, and its length field, stay; the compressed length follows the new
// stream. Bytes of the original after its compressed data are not kept. A full-frame original
// keeps its header and decompressed length; its stream holds the picture's colours (the alpha
// is not stored).
//
// The new stream writes the data up to where the original's stream ends (plan.written), or
// up to the last byte the picture changes past that end; the decoder gives 0 for the rest, as
// it did for the original. Only changes within the picture's size past that end are stored
// (refilledMost): others are refused (damagedParts).
//
// The caller supplies, besides work and out, the decompressed data's block of g00LikeDataSize
// bytes, zero-filled (a page block is): only the pages the stream and the refill write are
// touched, so the length the original announces need not become resident.
uint64_t g00LikeWorkSize(const G00LikePlan& plan);
uint64_t g00LikeDataSize(const G00LikePlan& plan);
uint64_t g00LikeBound(const G00LikePlan& plan);
// size is 0 also when out, work or data is too small or the picture's size differs from the
// plan's.
G00LikeResult writeG00Like(std::span<const uint8_t> original, const G00LikePlan& plan,
                           const Canvas& picture, LikeAlpha alpha, std::span<uint8_t> work,
                           std::span<uint8_t> data, std::span<uint8_t> out,
                           const Parallel& parallel = {});

// A region-based original refilled region by region: each region given takes the pixels of its
// parts from its own picture (where a later part of the same region covers a pixel, only that
// part takes it, as in writeG00Like); parts beyond the original picture and regions not given
// keep their pixels, so a region hidden under another is edited through its own picture. A
// region beyond the original's records is noSuchRegion, one given twice regionTwice (result
// region names it; nothing written). Pixels of a region's picture that are not transparent
// (for LikeAlpha::original: not black) and lie outside that region's drawn parts are counted
// per region, the file written all the same. A pixel a picture leaves fully transparent where
// a later region's parts replace its region keeps the original's: editors that apply the
// layered PSD's masks to the pixels (ImageMagick) make exactly those transparent, and the game
// shows the region alone too. Output and data as for writeG00Like, work of
// g00LikeRegionsWorkSize bytes; a full-frame original is notG00.
uint64_t g00LikeRegionsWorkSize(const G00LikePlan& plan);
G00LikeRegionsResult writeG00LikeRegions(std::span<const uint8_t> original, const G00LikePlan& plan,
                                         std::span<const RegionPicture> regions,
                                         std::span<uint8_t> work, std::span<uint8_t> data,
                                         std::span<uint8_t> out, const Parallel& parallel = {});

// ---- A fresh file of several regions ----
//
// One region per picture, in order (the first drawn first), each picture clipped to the
// width x height picture: its record at the clipped rectangle, one part over the box of its
// pixels whose alpha is not 0 (no part when there is none), so that each region drawn alone
// gives its picture back. The alpha field of the pictures is not read.
struct G00RegionsPlan {
    Status status = Status::ok;  // tooManyRegions beyond 256, pictureTooLarge beyond 65,535
    uint32_t width = 0, height = 0, regions = 0;
    uint64_t units = 0;  // the decompressed data's bytes
    uint32_t tasks = 1;  // as G00FreshPlan's
};
G00RegionsPlan planFreshRegionsG00(std::span<const RegionPicture> regions, uint32_t width,
                                   uint32_t height);
uint64_t freshRegionsG00WorkSize(const G00RegionsPlan& plan);
uint64_t freshRegionsG00Bound(const G00RegionsPlan& plan);
// Returns the file's length, or 0 when out or work is too small or the plan not ok.
uint64_t writeFreshRegionsG00(std::span<const RegionPicture> regions, const G00RegionsPlan& plan,
                              std::span<uint8_t> work, std::span<uint8_t> out,
                              const Parallel& parallel = {});
