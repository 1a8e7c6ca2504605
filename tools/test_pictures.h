// Deterministic test pictures (the same seed gives the same bytes on every build; integer
// arithmetic only) and the cutting of a picture into the parts of a region-based G00 file.
#pragma once

#include <cstdint>
#include <vector>

#include "common/canvas.h"
#include "common/status.h"
#include "tools/g00_encoder.h"

// A picture laid out like a Canvas: width x height pixels of blue, green, red, alpha, rows top
// to bottom, stride width * 4.
struct TestPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;

    uint8_t* at(uint32_t x, uint32_t y) { return bgra.data() + (uint64_t(y) * width + x) * 4; }
    const uint8_t* at(uint32_t x, uint32_t y) const {
        return bgra.data() + (uint64_t(y) * width + x) * 4;
    }
};

enum class PictureKind : uint8_t {
    photo,    // smooth multi-scale gradients with fine noise, fully opaque
    flat,     // solid rectangles and discs on a solid background, fully opaque
    lineArt,  // thin dark lines and outlines on white, fully opaque
    sprite,   // a shaded blob with soft alpha edges, holes and specks on full transparency
    noise,    // every byte random, alpha included
};

inline constexpr PictureKind kAllPictureKinds[] = {PictureKind::photo, PictureKind::flat,
                                                   PictureKind::lineArt, PictureKind::sprite,
                                                   PictureKind::noise};
const char* pictureKindName(PictureKind kind);

TestPicture makeTestPicture(PictureKind kind, uint32_t width, uint32_t height, uint32_t seed);

// Fully transparent pixels of a sprite are all-zero (colour 0 too), like an undrawn Canvas.
TestPicture makePhotoPicture(uint32_t width, uint32_t height, uint32_t seed);
TestPicture makeFlatPicture(uint32_t width, uint32_t height, uint32_t seed);
TestPicture makeLineArtPicture(uint32_t width, uint32_t height, uint32_t seed);
TestPicture makeSpritePicture(uint32_t width, uint32_t height, uint32_t seed);
TestPicture makeNoisePicture(uint32_t width, uint32_t height, uint32_t seed);

// A Canvas holding the picture's bytes (through makeCanvas, so it fails like a real one).
Status canvasFromPicture(const TestPicture& picture, Canvas& canvas);

struct PartCutting {
    // Side of the square regions the picture is divided into; grown as needed so that at most
    // 256 regions are made (the file's region count has 8 bits).
    uint32_t regionSize = 128;
    // Each region is cut into bands of this many rows; the bounding box of a band's pixels that
    // are not all-zero becomes one part.
    uint32_t bandHeight = 32;
    // A region with nothing to draw gets an absent entry (length -1) when true, else an entry
    // whose block has a part count of 0.
    bool absentEmptyRegions = true;
};

// Cuts the picture into regions and parts so that decoding the file gives back the picture
// exactly: every pixel that is not all-zero lies in a part, and the Canvas is zero elsewhere.
// Region records hold inclusive corners (x2 = x1 + width - 1); a 1 x 1 region at the origin,
// which would read as empty, gets y2 = 1.
G00RegionImage cutIntoParts(const TestPicture& picture, const PartCutting& cutting = {});

// A character sprite with expressions: region 0 the body (the sprite picture, one part), then
// `faces` regions at nearly one place whose soft-edged faces partly replace one another and
// the body; the last face reaches past the picture's right edge. At least 16 x 16.
G00RegionImage makeExpressionSprite(uint32_t width, uint32_t height, uint32_t seed, uint32_t faces);
