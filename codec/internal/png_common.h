// What the PNG writer and reader share: the signature, the Paeth predictor, and zlib's memory
// taken from the caller's work area.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>

inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The byte of left a, up b and upper left c nearest to a + b - c, ties to a, then b.
inline uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// zlib's allocations, front to back from a work area the caller supplies; nothing is given
// back before the whole area is dropped.
struct ZlibArena {
    uint8_t* next;
    uint8_t* end;
};

inline voidpf zlibArenaAlloc(voidpf opaque, uInt items, uInt size) {
    ZlibArena& arena = *static_cast<ZlibArena*>(opaque);
    const uint64_t bytes = (uint64_t(items) * size + 15) & ~uint64_t(15);
    if (bytes > uint64_t(arena.end - arena.next)) return Z_NULL;
    uint8_t* block = arena.next;
    arena.next += bytes;
    return block;
}

inline void zlibArenaFree(voidpf, voidpf) {}

// The stream allocates from arena.
inline void useArena(z_stream& stream, ZlibArena& arena) {
    stream.zalloc = zlibArenaAlloc;
    stream.zfree = zlibArenaFree;
    stream.opaque = &arena;
}
