// Inflating a zlib stream for the picture readers (PNG image data, PSD channels compressed with
// ZIP): zlib's state and its 32 KB window live in a work area the caller provides, so reading
// takes no memory from the heap, and the output is asked for a run of bytes at a time.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <span>

#include "codec/internal/png_common.h"
#include "common/status.h"

// Enough for zlib's inflate state and window, aligned, in any stream.
inline constexpr uint32_t kInflateWorkSize = 48 * 1024;

class InflateStream {
public:
    // Gives the stream's next piece of input; false when the input has no more.
    using NextInput = bool (*)(void* source, const uint8_t*& bytes, uint32_t& length);

    InflateStream(std::span<uint8_t> work, NextInput next, void* source);
    ~InflateStream();
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // outOfMemory when the work area cannot hold zlib's state; damagedStream otherwise.
    Status open();

    // Fills out whole. truncated when the input ends first; damagedStream when the stream ends
    // first or is no deflate data; badChecksum for its Adler-32.
    Status fill(uint8_t* out, uint64_t count);

    // After the last byte wanted: the stream must end there (its Adler-32 checked) and give no
    // byte more (damagedStream).
    Status finish();

private:
    Status step();
    bool feed();                   // the next non-empty piece of input; false at its end
    bool takeByte(uint8_t& byte);  // a byte of the zlib wrapper, outside the deflate data

    NextInput next_;
    void* source_;
    ZlibArena area_{};
    z_stream stream_{};
    bool open_ = false;
    bool ended_ = false;
    uLong adler_ = 0;
};
