// Reading 24-bit and 32-bit Windows BMP files into a Canvas.
#pragma once

#include <cstdint>
#include <span>

#include "codec/picture_facts.h"
#include "common/canvas.h"
#include "common/status.h"

// Takes the info headers of 40 bytes and more (V2 to V5), stored bottom-up or top-down,
// 24-bit BI_RGB and 32-bit BI_RGB or BI_BITFIELDS with masks of whole bytes. A 32-bit file's
// fourth byte is its alpha, unless it is 0 in every pixel (writers that leave it unused) or a
// V4/V5 header gives an alpha mask of 0: the picture is then opaque. A 24-bit file is opaque.
// Results: ok; notPicture without the "BM" signature; truncated when the headers or the rows
// run past the file; unsupportedPicture for other depths, compressions, masks and the OS/2
// header; damagedPicture for impossible fields (planes, a pixel offset inside the headers);
// emptyPicture, pictureTooLarge (beyond 65,535 pixels, checked before the Canvas is obtained),
// and makeCanvas's refusals. facts gets the format, the depth and compression fields, and the
// limit a refused file met.
Status readBmp(std::span<const uint8_t> file, Canvas& canvas, PictureFacts& facts);
