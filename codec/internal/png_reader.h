// Reading PNG files into a Canvas, the image data inflated through zlib.
#pragma once

#include <cstdint>
#include <span>

#include "codec/picture_facts.h"
#include "codec/picture_reader.h"
#include "common/canvas.h"
#include "common/status.h"

// Takes every colour type and depth (grey 1 to 16 bits, palette 1 to 8 with or without tRNS,
// grey with alpha, RGB and RGBA at 8 and 16 bits, the tRNS colour key of grey and RGB),
// interlaced or not. 16-bit samples become 8-bit ones by rounding, (v * 255 + 32767) / 65535;
// lower grey depths are scaled to 0..255. Every chunk's CRC is checked, up to IEND. The
// image data is inflated one row at a time, no further than the rows the header implies: a
// stream that ends before them or would go past them is refused, and so a small file cannot
// claim more rows than deflate could fill from its data before the Canvas is obtained.
// Results: ok; notPicture without the PNG signature; truncated when a chunk runs past the
// file, IEND is missing, or the image data ends early; badChecksum for a chunk CRC or the
// stream's Adler-32; damagedStream for deflate errors and streams longer than the image;
// unsupportedPicture for an unknown critical chunk; damagedPicture for impossible header
// fields, a missing palette or image data, a palette index past the palette or a row filter
// other than 0 to 4; outOfMemory when work is smaller than kPictureWorkSize or the rows' block is
// refused; emptyPicture, pictureTooLarge (beyond 65,535 pixels, before the Canvas is
// obtained), and makeCanvas's refusals. facts gets the format and an unknown critical chunk's
// type.
Status readPng(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas,
               PictureFacts& facts);
