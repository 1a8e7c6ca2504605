#include "codec/internal/inflate_stream.h"

#include <algorithm>

InflateStream::InflateStream(std::span<uint8_t> work, NextInput next, void* source)
    : next_(next), source_(source) {
    uint8_t* start = work.data();
    start += (16 - reinterpret_cast<uintptr_t>(start) % 16) % 16;
    area_ = {std::min(start, work.data() + work.size()), work.data() + work.size()};
    useArena(stream_, area_);
}

InflateStream::~InflateStream() {
    if (open_) inflateEnd(&stream_);
}

// The zlib header and the Adler-32 after the data are read here, around a raw inflate, so that a
// wrong checksum is told from damaged data by the values themselves rather than by zlib's words.
Status InflateStream::open() {
    const int result = inflateInit2(&stream_, -MAX_WBITS);
    if (result == Z_MEM_ERROR) return Status::outOfMemory;
    if (result != Z_OK) return Status::damagedStream;
    open_ = true;
    uint8_t method = 0, flags = 0;
    if (!takeByte(method) || !takeByte(flags)) return Status::truncated;
    const bool deflate = (method & 0x0F) == Z_DEFLATED && (method >> 4) + 8 <= MAX_WBITS;
    const bool presetDictionary = (flags & 0x20) != 0;  // neither format allows one
    if (!deflate || presetDictionary || (method * 256u + flags) % 31 != 0)
        return Status::damagedStream;
    adler_ = adler32(0, Z_NULL, 0);
    return Status::ok;
}

bool InflateStream::takeByte(uint8_t& byte) {
    if (stream_.avail_in == 0 && !feed()) return false;
    byte = *stream_.next_in++;
    stream_.avail_in--;
    return true;
}

bool InflateStream::feed() {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    do {
        if (!next_(source_, bytes, length)) return false;
    } while (length == 0);
    stream_.next_in = const_cast<Bytef*>(bytes);
    stream_.avail_in = length;
    return true;
}

Status InflateStream::fill(uint8_t* out, uint64_t count) {
    stream_.next_out = out;
    stream_.avail_out = uInt(count);
    while (stream_.avail_out > 0) {
        if (ended_) return Status::damagedStream;
        Status status = step();
        if (status != Status::ok) return status;
    }
    return Status::ok;
}

Status InflateStream::finish() {
    uint8_t beyond;
    while (!ended_) {
        stream_.next_out = &beyond;
        stream_.avail_out = 1;
        Status status = step();
        if (status != Status::ok) return status;
        if (stream_.avail_out == 0) return Status::damagedStream;
    }
    return Status::ok;
}

Status InflateStream::step() {
    if (stream_.avail_in == 0 && !feed()) return Status::truncated;
    uint8_t* const from = stream_.next_out;
    const int result = inflate(&stream_, Z_NO_FLUSH);
    adler_ = adler32(adler_, from, uInt(stream_.next_out - from));
    switch (result) {
    case Z_OK: return Status::ok;
    case Z_STREAM_END: {
        ended_ = true;
        uint32_t stored = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t byte;
            if (!takeByte(byte)) return Status::truncated;
            stored = stored << 8 | byte;
        }
        return stored == adler_ ? Status::ok : Status::badChecksum;
    }
    case Z_BUF_ERROR: return stream_.avail_in == 0 ? Status::ok : Status::damagedStream;
    case Z_MEM_ERROR: return Status::outOfMemory;
    default: return Status::damagedStream;
    }
}
