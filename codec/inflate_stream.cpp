#include "codec/internal/inflate_stream.h"

#include <algorithm>
#include <cstring>

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

Status InflateStream::open() {
    const int result = inflateInit(&stream_);
    if (result == Z_MEM_ERROR) return Status::outOfMemory;
    if (result != Z_OK) return Status::damagedStream;
    open_ = true;
    return Status::ok;
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
    if (stream_.avail_in == 0) {
        const uint8_t* bytes = nullptr;
        uint32_t length = 0;
        if (!next_(source_, bytes, length)) return Status::truncated;
        stream_.next_in = const_cast<Bytef*>(bytes);
        stream_.avail_in = length;
    }
    const int result = inflate(&stream_, Z_NO_FLUSH);
    switch (result) {
    case Z_OK: return Status::ok;
    case Z_STREAM_END: ended_ = true; return Status::ok;
    case Z_BUF_ERROR: return stream_.avail_in == 0 ? Status::ok : Status::damagedStream;
    case Z_MEM_ERROR: return Status::outOfMemory;
    case Z_DATA_ERROR:
        if (stream_.msg && std::strcmp(stream_.msg, "incorrect data check") == 0)
            return Status::badChecksum;
        return Status::damagedStream;
    default: return Status::damagedStream;  // a preset dictionary, which neither format allows
    }
}
