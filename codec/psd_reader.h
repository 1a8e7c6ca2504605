// Reading one-layer Photoshop files (version 1, RGB, 8 bits per channel) into a Canvas.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/picture_facts.h"
#include "common/canvas.h"
#include "common/status.h"

// zlib's inflate state and window for ZIP channels, in a work area the caller provides.
inline constexpr uint32_t kPsdWorkSize = 48 * 1024;

// One layer gives a Canvas of the document's size holding the layer at its place (clipped to
// the document), its transparency channel as alpha (255 inside the layer when it has none),
// scaled by the layer's opacity; the pixels around it are transparent black. Masks and extra
// channels are skipped. No layer gives the merged image, its fourth channel as alpha when it
// has one, opaque otherwise. Channels are raw, PackBits (every row must unpack to exactly its
// width) or ZIP with or without prediction (one zlib stream of the block's rows, inflated in
// work, which must give exactly the rows' samples; the merged image's stream holds every
// channel). A ZIP stream's claim is checked before the Canvas is obtained: deflate gives at
// most 1,032 bytes for one of its data.
// Results: ok; notPicture without the "8BPS" signature; truncated when a section, a channel,
// a row or a stream runs past what holds it; unsupportedPicture for version 2 (PSB), colour
// modes other than RGB, depths other than 8 and unknown channel compressions; damagedPicture
// for impossible fields and rows that do not unpack to their width; damagedStream and
// badChecksum for a ZIP stream that is no deflate data, or gives more or fewer samples, or
// whose Adler-32 differs; outOfMemory when work is smaller than kPsdWorkSize or a row's block
// is refused; severalLayers; emptyPicture, pictureTooLarge (beyond 65,535 pixels, checked
// before the Canvas is obtained), and makeCanvas's refusals. facts gets the format, the depth,
// colour mode and refused compression, the limit a refused file met, and the number of layers
// (read, or the count of a file with several).
Status readPsd(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas,
               PictureFacts& facts);

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

// The layers of a file with several, read as readPsd reads one, each at most 65,535 pixels
// either way (pictureTooLarge) and within its own Canvas's limits. readPsd's results for the
// file; notPicture for a file of one layer or none.
Status readPsdLayers(std::span<const uint8_t> file, std::span<uint8_t> work, PsdLayers& read,
                     PictureFacts& facts);
