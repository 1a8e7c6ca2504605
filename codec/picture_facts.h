// What the picture readers say of a file beside their Status: its format, and for a refused
// file the limit it met, with the fields' values.
// Facts only: the words for the user are made from them outside the codec.
#pragma once

#include <cstdint>

enum class PictureFormat : uint8_t { none, png, bmp, psd };

// The limit of a reader that a file met (with unsupportedPicture).
enum class PictureLimit : uint8_t {
    none,
    depth,          // BMP: bits per pixel other than 24 and 32; PSD: bits per channel other than 8
    colourMode,     // PSD: a colour mode other than RGB and grey
    compression,    // BMP: RLE, JPEG, PNG or masks at another depth; PSD: a channel compression
                    // other than raw, PackBits and ZIP
    masks,          // BMP: colour or alpha masks that are not whole bytes
    os2Header,      // BMP: the OS/2 header of 12 bytes
    largeDocument,  // PSD: version 2, the large document format (PSB)
    criticalChunk,  // PNG: a critical chunk the reader does not know
};

struct PictureFacts {
    PictureFormat format = PictureFormat::none;  // by the signature, also for a refused file
    PictureLimit limit = PictureLimit::none;
    uint32_t depth = 0;        // BMP: bits per pixel; PSD: bits per channel (as the header says)
    uint32_t colourMode = 0;   // PSD: the colour mode field (0 bitmap, 1 grey, 2 indexed, 3 RGB,
                               // 4 CMYK, 7 multichannel, 8 duotone, 9 Lab)
    uint32_t compression = 0;  // BMP: the compression field; PSD: the channel's compression
    uint32_t chunk = 0;        // PNG: the chunk type, its four letters big-endian
    uint32_t layerCount = 0;   // PSD: the layers read, 0 for the merged image; severalLayers:
                               // how many the file has
};
