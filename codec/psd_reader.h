// Reading one-layer Photoshop files (version 1, RGB, 8 bits per channel) into a Canvas.
#pragma once

#include <cstdint>
#include <span>

#include "common/canvas.h"
#include "common/status.h"

// One layer gives a Canvas of the document's size holding the layer at its place (clipped to
// the document), its transparency channel as alpha (255 inside the layer when it has none),
// scaled by the layer's opacity; the pixels around it are transparent black. Masks and extra
// channels are skipped. No layer gives the merged image, its fourth channel as alpha when it
// has one, opaque otherwise. Channels are raw or PackBits, and every row must unpack to
// exactly its width.
// Results: ok; notPicture without the "8BPS" signature; truncated when a section, a channel
// or a row runs past what holds it; unsupportedPicture for version 2 (PSB), other colour modes
// and depths, and ZIP channels; damagedPicture for impossible fields and rows that do not
// unpack to their width; severalLayers, with layerCount set to their number; emptyPicture,
// pictureTooLarge (beyond 65,535 pixels, checked before the Canvas is obtained), and
// makeCanvas's refusals. layerCount is the number of layers read, 0 for the merged image.
Status readPsd(std::span<const uint8_t> file, Canvas& canvas, uint32_t& layerCount);
