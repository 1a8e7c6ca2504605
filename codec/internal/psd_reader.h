// Reading one-layer Photoshop files (version 1, RGB or grey, 8 bits per channel) into a Canvas.
#pragma once

#include <cstdint>
#include <span>

#include "codec/picture_facts.h"
#include "codec/picture_reader.h"
#include "common/canvas.h"
#include "common/status.h"

// One layer gives a Canvas of the document's size holding the layer at its place (clipped to
// the document), its transparency channel as alpha (255 inside the layer when it has none),
// scaled by the layer's opacity; the pixels around it are transparent black. Masks and extra
// channels are skipped. No layer gives the merged image, its fourth channel (a grey
// document's second) as alpha when it has one, opaque otherwise. A grey document's grey is
// each pixel's three colours. Channels are raw, PackBits (every row must unpack to exactly its
// width) or ZIP with or without prediction (one zlib stream of the block's rows, inflated in
// work, which must give exactly the rows' samples; the merged image's stream holds every
// channel). A ZIP stream's claim is checked before the Canvas is obtained: deflate gives at
// most 1,032 bytes for one of its data.
// Results: ok; notPicture without the "8BPS" signature; truncated when a section, a channel,
// a row or a stream runs past what holds it; unsupportedPicture for version 2 (PSB), colour
// modes other than RGB and grey, depths other than 8 and unknown channel compressions;
// damagedPicture for impossible fields and rows that do not unpack to their width;
// damagedStream and badChecksum for a ZIP stream that is no deflate data, or gives more or
// fewer samples, or whose Adler-32 differs; outOfMemory when work is smaller than
// kPictureWorkSize or a row's block is refused; severalLayers; emptyPicture, pictureTooLarge
// (beyond 65,535 pixels, checked before the Canvas is obtained), and makeCanvas's refusals.
// facts gets the format, the depth, colour mode and refused compression, the limit a refused
// file met, and the number of layers (read, or the count of a file with several).
Status readPsd(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas,
               PictureFacts& facts);
