// Fuzzes encode-then-decode: the input's bytes compressed by each LZ variant and decoded back by
// the decoders, written as a fresh G00 file from a Canvas and decoded back by decodeG00Picture,
// and deflated as PNG rows and inflated back by zlib.
// Every buffer is exactly the size its bound function gives (ASan catches a byte past it), and
// a result that differs from the input aborts.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/g00.h"
#include "codec/internal/deflate_rows.h"
#include "codec/internal/g00_write.h"
#include "codec/internal/lz.h"
#include "codec/internal/lz_encoder.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "encode_fuzzer: %s\n", what);
    std::abort();
}

ByteBuffer block(uint64_t size) {
    ByteBuffer b;
    if (obtainBlock(size, b) != Status::ok) fail("no block for a small input");
    return b;
}

void bytesRoundTrip(const uint8_t* data, size_t size) {
    ByteBuffer work = block(lzEncodeWorkSize(size)), stream = block(lzBytesEncodedBound(size));
    const uint64_t length = encodeLzBytes({data, size}, work.span(), stream.span());
    if (length == 0 || length > stream.size()) fail("byte stream length");
    ByteBuffer out = block(size);
    if (decodeLzBytes(stream.data(), stream.data() + length, stream.end(), out.data(), out.end()) !=
            Status::ok ||
        std::memcmp(out.data(), data, size) != 0)
        fail("bytes differ after the round trip");
}

void pixelsRoundTrip(const uint8_t* data, size_t size, PixelUnit unit) {
    const size_t unitBytes = size_t(unit), pixels = size / unitBytes;
    if (pixels == 0) return;
    ByteBuffer work = block(lzEncodeWorkSize(pixels)), stream = block(lzPixelsEncodedBound(pixels));
    const uint64_t length =
        encodeLzPixels({data, pixels * unitBytes}, unit, work.span(), stream.span());
    if (length == 0 || length > stream.size()) fail("pixel stream length");
    ByteBuffer out = block(pixels * 4);
    if (decodeLzPixels(stream.data(), stream.data() + length, stream.end(), out.data(),
                       out.end()) != Status::ok)
        fail("pixel stream does not decode");
    for (size_t i = 0; i < pixels; ++i)
        if (std::memcmp(out.data() + 4 * i, data + unitBytes * i, 3) != 0)
            fail("pixels differ after the round trip");
}

// The first byte gives the width; the rest are the Canvas's pixels, row after row.
void freshFileRoundTrip(const uint8_t* data, size_t size) {
    if (size < 5) return;
    const uint32_t width = uint32_t(data[0]) + 1;
    const uint32_t height = uint32_t((size - 1) / 4 / width);
    if (height == 0) return;
    Canvas canvas, decoded;
    if (makeCanvas(width, height, canvas) != Status::ok) fail("no Canvas");
    std::memcpy(canvas.pixels.data(), data + 1, canvas.pixels.size());
    const G00FreshPlan plan = planFreshG00(canvas);
    ByteBuffer work = block(freshG00WorkSize(plan)), file = block(freshG00Bound(plan));
    const uint64_t length = writeFreshG00(canvas, plan, work.span(), file.span());
    if (length == 0) fail("fresh file not written");
    if (decodeG00Picture({file.data(), size_t(length)}, decoded).status != Status::ok)
        fail("fresh file does not decode");
    for (uint64_t i = 0; i < canvas.pixels.size(); i += 4) {
        const uint8_t* want = canvas.pixels.data() + i;
        const uint8_t* got = decoded.pixels.data() + i;
        const bool same = plan.type == 0 ? std::memcmp(want, got, 3) == 0
                          : want[3] != 0 ? std::memcmp(want, got, 4) == 0
                                         : got[3] == 0;
        if (!same) fail("the fresh file's picture differs");
    }
}

// The first byte gives the pixel size and the width; the rest are filtered rows, as many whole
// ones as there are. The rows deflated must inflate back, and a block a byte shorter than what
// was written must be refused.
void rowsRoundTrip(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const uint32_t pixel = data[0] % 2 == 0 ? 3 : 4;
    const uint32_t rowSize = 1 + pixel * (uint32_t(data[0] >> 1) + 1);
    const size_t length = (size - 1) / rowSize * rowSize;
    if (length == 0) return;
    const std::span<const uint8_t> rows{data + 1, length};
    ByteBuffer work = block(deflateRowsWorkSize(length, pixel)), out = block(2 * length + 64);
    const uint64_t written = deflateRows(rows, rowSize, pixel, true, work.span(), out.span());
    if (written == 0) fail("rows not deflated");
    ByteBuffer back = block(length), tight = block(written - 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) fail("no inflater");
    z.next_in = out.data();
    z.avail_in = uInt(written);
    z.next_out = back.data();
    z.avail_out = uInt(length);
    const int status = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (status != Z_STREAM_END || z.avail_out != 0 || z.avail_in != 0 ||
        std::memcmp(back.data(), rows.data(), length) != 0)
        fail("rows differ after the round trip");
    if (deflateRows(rows, rowSize, pixel, true, work.span(), tight.span()) != 0)
        fail("rows deflated into too little room");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    const uint8_t* body = data + 1;
    const size_t bodySize = size - 1;
    switch (data[0] % 5) {
    case 0:
        if (bodySize > 0) bytesRoundTrip(body, bodySize);
        break;
    case 1: pixelsRoundTrip(body, bodySize, PixelUnit::bgr); break;
    case 2: pixelsRoundTrip(body, bodySize, PixelUnit::bgra); break;
    case 3: freshFileRoundTrip(body, bodySize); break;
    default: rowsRoundTrip(body, bodySize);
    }
    return 0;
}
