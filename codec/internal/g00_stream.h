// Where a G00 file's LZ stream lies, and a region picture's decompressed data: what the
// decoder, the writer of files like an original and the description read alike.
#pragma once

#include <cstdint>
#include <span>

#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "common/status.h"

// Found from the fields alone, so that a file is judged before any buffer is obtained.
struct StreamPlace {
    uint64_t start = 0;
    uint64_t end = 0;
    uint32_t dataSize = 0;  // region pictures only
    uint64_t bytes() const { return end > start ? end - start : 0; }
};

// truncated when the file ends before its size pair or its stream; unsupportedType for type 1,
// notG00 for a type byte that is no G00 type; damagedParts for a region picture whose
// decompressed size is 0 (no part table to read).
Status placeStream(std::span<const uint8_t> file, StreamPlace& place);

// The header's fields; the file must hold kG00HeaderSize bytes.
struct G00Header;
G00Header readG00Header(std::span<const uint8_t> file);

// Places the parts of the decompressed data onto the Canvas, entry by entry, region by region.
// Bounds, chosen so that nothing is read outside the file or the data and nothing is written
// outside the Canvas:
//  - an entry count of 0 draws nothing (a fully transparent picture);
//  - a table, block header or part that runs past the end of the data fails: damagedParts;
//  - an entry beyond the file's region count fails (damagedParts) unless it is marked absent,
//    since there is no region record to place it by;
//  - a part is clipped to the Canvas: pixels right of the last column or below the last row
//    are dropped, rather than wrapping into the next row or leaving the Canvas;
//  - a part of width or height 0 draws nothing and the next part follows its header.
Status composeRegions(std::span<const uint8_t> file, std::span<const uint8_t> data, Canvas& canvas);

// A region picture's decompressed data (the part table and blocks) on its own: notG00 for any
// other type; otherwise the decoder's results up to the composition. Empty on failure.
Status decompressRegionData(std::span<const uint8_t> file, ByteBuffer& data);
