// Where a G00 file's LZ stream lies, and a region picture's decompressed data: what the
// decoder, the writer of files like an original and the description read alike.
#pragma once

#include <cstdint>
#include <span>

#include "common/byte_buffer.h"
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

// A region picture's decompressed data (the part table and blocks) on its own: notG00 for any
// other type; otherwise the decoder's results up to the composition. Empty on failure.
Status decompressRegionData(std::span<const uint8_t> file, ByteBuffer& data);
