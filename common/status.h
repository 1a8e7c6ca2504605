// What the codec gives for the bytes it decodes, reads or writes.
#pragma once

#include <cstdint>

enum class Status : uint8_t {
    ok,
    notG00,              // the type byte is no G00 type
    unsupportedType,     // a G00 type this program does not convert (type 1)
    emptyPicture,        // width or height is 0
    tooLarge,            // a buffer the picture needs exceeds 4 GiB - 1 bytes
    tooManyPixels,       // more pixels than the caller's limit
    outOfMemory,         // the system refused a buffer
    truncated,           // the file ends before the data its header announces
    damagedStream,       // the compressed data overruns its output or copies from before its start
    damagedParts,        // the part table points outside the decompressed data
    notPicture,          // the file is neither a PNG, a BMP nor a PSD picture
    pictureTooLarge,     // wider or taller than the 65,535 pixels a G00 header can hold
    unsupportedPicture,  // a kind of picture the readers do not take (depth, mode, compression)
    damagedPicture,      // a field holds an impossible value, or the data contradicts it
    badChecksum,         // a PNG chunk's CRC or the zlib stream's Adler-32 does not match
    severalLayers,       // a PSD file with more than one layer (the reader says how many)
    sizeDiffers,         // the picture's width or height is not the original G00 file's
    pixelsOutside,       // pixels of the picture that no part of the original can hold
    transparencyLost,    // a picture with transparency for a full-frame original, which has none
    noSuchRegion,        // a region picture names a region the original does not have
    regionTwice,         // two region pictures name the same region
    tooManyRegions,      // more than the 256 regions a region-based file can hold
};

// What the value means, in a few English words ("the part table is damaged"; "success" for
// ok): the one table the C library hands out and the programs build their messages on.
const char* statusWords(Status status);

// The value's name as written in the code ("damagedParts"), for test expectations and logs.
const char* statusName(Status status);
