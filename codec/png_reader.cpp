#include "codec/internal/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "codec/internal/inflate_stream.h"
#include "codec/internal/png_common.h"
#include "codec/g00.h"
#include "common/bytes.h"

static_assert(kPictureWorkSize >= kInflateWorkSize);

namespace {

constexpr uint32_t kChunkOverhead = 12;  // length, type, CRC
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
// Deflate never gives more than about 1,032 bytes for one byte of its data.
constexpr uint64_t kMaxInflateRatio = 1032;

constexpr uint32_t chunkType(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}
constexpr uint32_t kIhdr = chunkType("IHDR");
constexpr uint32_t kPlte = chunkType("PLTE");
constexpr uint32_t kTrns = chunkType("tRNS");
constexpr uint32_t kIdat = chunkType("IDAT");
constexpr uint32_t kIend = chunkType("IEND");
constexpr uint32_t kAncillaryBit = 0x20000000;  // lower case first letter: safe to skip

enum ColourType : uint8_t { grey = 0, rgb = 2, palette = 3, greyAlpha = 4, rgba = 6 };

struct Pass {
    uint32_t x0, y0, dx, dy;
};
constexpr Pass kWhole[] = {{0, 0, 1, 1}};
constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// What the chunks before the image data say, and where that data is.
struct PngFacts {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0, interlace = 0;
    uint32_t channels = 0;
    uint8_t palette[256][4] = {};  // blue, green, red, alpha
    uint32_t paletteCount = 0;
    bool hasKey = false;
    uint16_t key[3] = {};    // the tRNS colour: grey, or red, green, blue
    uint64_t firstIdat = 0;  // offset of the first IDAT chunk
    uint64_t idatBytes = 0;

    uint64_t rowBytes(uint64_t pixels) const { return (pixels * channels * depth + 7) / 8; }
};

bool validDepth(uint8_t colourType, uint8_t depth) {
    switch (colourType) {
    case grey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case palette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case rgb:
    case greyAlpha:
    case rgba: return depth == 8 || depth == 16;
    default: return false;
    }
}

Status readHeader(const uint8_t* data, uint32_t length, PngFacts& facts) {
    if (length != 13) return Status::damagedPicture;
    facts.width = loadBe32(data);
    facts.height = loadBe32(data + 4);
    facts.depth = data[8];
    facts.colourType = data[9];
    facts.interlace = data[12];
    if (!validDepth(facts.colourType, facts.depth) || data[10] != 0 || data[11] != 0 ||
        facts.interlace > 1 || facts.width > kMaxChunkLength || facts.height > kMaxChunkLength)
        return Status::damagedPicture;
    const uint32_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
    facts.channels = channels[facts.colourType];
    for (auto& entry : facts.palette) entry[3] = 255;
    return Status::ok;
}

Status readPalette(const uint8_t* data, uint32_t length, PngFacts& facts) {
    if (length == 0 || length % 3 != 0 || length > 3 * 256) return Status::damagedPicture;
    facts.paletteCount = length / 3;
    for (uint32_t i = 0; i < facts.paletteCount; ++i) {
        facts.palette[i][0] = data[3 * i + 2];
        facts.palette[i][1] = data[3 * i + 1];
        facts.palette[i][2] = data[3 * i];
    }
    return Status::ok;
}

Status readTransparency(const uint8_t* data, uint32_t length, PngFacts& facts) {
    switch (facts.colourType) {
    case palette:
        if (length > facts.paletteCount) return Status::damagedPicture;
        for (uint32_t i = 0; i < length; ++i) facts.palette[i][3] = data[i];
        return Status::ok;
    case grey:
    case rgb:
        if (length != 2 * facts.channels) return Status::damagedPicture;
        for (uint32_t c = 0; c < facts.channels; ++c) facts.key[c] = loadBe16(data + 2 * c);
        facts.hasKey = true;
        return Status::ok;
    default: return Status::ok;  // colour types with alpha have no use for it
    }
}

// Walks every chunk up to IEND, checking each CRC, and gathers the facts the rows need.
Status readChunks(std::span<const uint8_t> file, PngFacts& facts, PictureFacts& told) {
    uint64_t at = sizeof kPngSignature;
    uint32_t previous = 0;
    bool idatDone = false;
    for (;;) {
        if (file.size() - at < kChunkOverhead) return Status::truncated;
        const uint8_t* chunk = file.data() + at;
        const uint32_t length = loadBe32(chunk);
        const uint32_t type = loadBe32(chunk + 4);
        if (length > kMaxChunkLength) return Status::damagedPicture;
        if (length > file.size() - at - kChunkOverhead) return Status::truncated;
        const uint8_t* data = chunk + 8;
        if (crc32(crc32(0, nullptr, 0), chunk + 4, length + 4) != loadBe32(data + length))
            return Status::badChecksum;
        if ((at == sizeof kPngSignature) != (type == kIhdr)) return Status::damagedPicture;

        Status status = Status::ok;
        if (type == kIhdr) {
            status = readHeader(data, length, facts);
        } else if (type == kPlte) {
            if (facts.firstIdat != 0) return Status::damagedPicture;
            status = readPalette(data, length, facts);
        } else if (type == kTrns) {
            if (facts.firstIdat != 0) return Status::damagedPicture;
            status = readTransparency(data, length, facts);
        } else if (type == kIdat) {
            if (idatDone) return Status::damagedPicture;  // the data must be one run of chunks
            if (facts.firstIdat == 0) facts.firstIdat = at;
            facts.idatBytes += length;
        } else if (type == kIend) {
            break;
        } else if (!(type & kAncillaryBit)) {
            told.limit = PictureLimit::criticalChunk;
            told.chunk = type;
            return Status::unsupportedPicture;
        }
        if (status != Status::ok) return status;
        if (previous == kIdat && type != kIdat) idatDone = true;
        previous = type;
        at += kChunkOverhead + uint64_t(length);
    }
    if (facts.firstIdat == 0) return Status::damagedPicture;
    if (facts.colourType == palette && facts.paletteCount == 0) return Status::damagedPicture;
    return Status::ok;
}

// The IDAT chunks' data, one chunk after another, for the inflate stream (the chunks were
// checked whole before).
struct IdatChunks {
    std::span<const uint8_t> file;
    uint64_t next;

    static bool nextInput(void* source, const uint8_t*& bytes, uint32_t& length) {
        IdatChunks& chunks = *static_cast<IdatChunks*>(source);
        while (chunks.next + kChunkOverhead <= chunks.file.size()) {
            const uint8_t* chunk = chunks.file.data() + chunks.next;
            if (loadBe32(chunk + 4) != kIdat) return false;
            length = loadBe32(chunk);
            chunks.next += kChunkOverhead + uint64_t(length);
            if (length == 0) continue;
            bytes = chunk + 8;
            return true;
        }
        return false;
    }
};

uint8_t paeth(uint8_t left, uint8_t up, uint8_t upLeft) {
    const int p = int(left) + up - upLeft;
    const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
    if (pa <= pb && pa <= pc) return left;
    return pb <= pc ? up : upLeft;
}

// Undoes the row's filter in place; prior is the previous row of the pass (zeros for its first).
bool unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, uint64_t length, uint32_t step) {
    switch (filter) {
    case 0: return true;
    case 1:
        for (uint64_t i = step; i < length; ++i) row[i] = uint8_t(row[i] + row[i - step]);
        return true;
    case 2:
        for (uint64_t i = 0; i < length; ++i) row[i] = uint8_t(row[i] + prior[i]);
        return true;
    case 3:
        for (uint64_t i = 0; i < length; ++i) {
            const uint32_t left = i >= step ? row[i - step] : 0;
            row[i] = uint8_t(row[i] + ((left + prior[i]) >> 1));
        }
        return true;
    case 4:
        for (uint64_t i = 0; i < length; ++i) {
            const uint8_t left = i >= step ? row[i - step] : 0;
            const uint8_t upLeft = i >= step ? prior[i - step] : 0;
            row[i] = uint8_t(row[i] + paeth(left, prior[i], upLeft));
        }
        return true;
    default: return false;
    }
}

inline uint32_t sampleAt(const uint8_t* row, uint64_t index, uint32_t depth) {
    if (depth == 8) return row[index];
    if (depth == 16) return loadBe16(row + 2 * index);
    const uint64_t bit = index * depth;
    return uint32_t(row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

inline uint8_t toEightBits(uint32_t sample, uint32_t depth) {
    if (depth == 16) return uint8_t((sample * 255 + 32767) / 65535);
    if (depth == 8) return uint8_t(sample);
    return uint8_t(sample * 255 / ((1u << depth) - 1));
}

// Writes one unfiltered row of a pass to its pixels on the Canvas.
bool placeRow(const PngFacts& facts, const uint8_t* row, uint64_t pixels, uint8_t* out,
              uint32_t dx) {
    const uint32_t depth = facts.depth;
    for (uint64_t i = 0; i < pixels; ++i, out += 4 * dx) {
        const uint64_t s = i * facts.channels;
        switch (facts.colourType) {
        case grey: {
            const uint32_t g = sampleAt(row, s, depth);
            out[0] = out[1] = out[2] = toEightBits(g, depth);
            out[3] = facts.hasKey && g == facts.key[0] ? 0 : 255;
            break;
        }
        case rgb: {
            const uint32_t r = sampleAt(row, s, depth), g = sampleAt(row, s + 1, depth),
                           b = sampleAt(row, s + 2, depth);
            out[0] = toEightBits(b, depth);
            out[1] = toEightBits(g, depth);
            out[2] = toEightBits(r, depth);
            out[3] = facts.hasKey && r == facts.key[0] && g == facts.key[1] && b == facts.key[2]
                         ? 0
                         : 255;
            break;
        }
        case palette: {
            const uint32_t index = sampleAt(row, s, depth);
            if (index >= facts.paletteCount) return false;
            std::memcpy(out, facts.palette[index], 4);
            break;
        }
        case greyAlpha:
            out[0] = out[1] = out[2] = toEightBits(sampleAt(row, s, depth), depth);
            out[3] = toEightBits(sampleAt(row, s + 1, depth), depth);
            break;
        default:  // rgba
            out[0] = toEightBits(sampleAt(row, s + 2, depth), depth);
            out[1] = toEightBits(sampleAt(row, s + 1, depth), depth);
            out[2] = toEightBits(sampleAt(row, s, depth), depth);
            out[3] = toEightBits(sampleAt(row, s + 3, depth), depth);
            break;
        }
    }
    return true;
}

uint64_t passSize(uint32_t size, uint32_t start, uint32_t step) {
    return size > start ? (uint64_t(size) - start + step - 1) / step : 0;
}

}  // namespace

Status readPng(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas,
               PictureFacts& told) {
    told = PictureFacts{};
    if (file.size() < sizeof kPngSignature ||
        std::memcmp(file.data(), kPngSignature, sizeof kPngSignature) != 0)
        return Status::notPicture;
    told.format = PictureFormat::png;
    PngFacts facts;
    Status status = readChunks(file, facts, told);
    if (status != Status::ok) return status;
    if (facts.width == 0 || facts.height == 0) return Status::emptyPicture;
    if (facts.width > kMaxG00Side || facts.height > kMaxG00Side) return Status::pictureTooLarge;

    const std::span<const Pass> passes =
        facts.interlace ? std::span<const Pass>(kAdam7) : std::span<const Pass>(kWhole);
    uint64_t imageBytes = 0;
    for (const Pass& pass : passes) {
        const uint64_t w = passSize(facts.width, pass.x0, pass.dx);
        const uint64_t h = passSize(facts.height, pass.y0, pass.dy);
        if (w != 0) imageBytes += h * (1 + facts.rowBytes(w));
    }
    if (imageBytes > facts.idatBytes * kMaxInflateRatio + 64) return Status::truncated;

    // Two rows, each with its filter byte: the one being read and the one before it.
    const uint64_t rowSize = 1 + facts.rowBytes(facts.width);
    ByteBuffer rows;
    status = obtainBlock(2 * rowSize, rows);
    if (status != Status::ok) return status;
    status = makeCanvas(facts.width, facts.height, canvas, PagingHint::whole);
    if (status != Status::ok) return status;

    IdatChunks chunks{file, facts.firstIdat};
    InflateStream data(work, IdatChunks::nextInput, &chunks);
    status = data.open();
    if (status != Status::ok) return status;
    const uint32_t step = std::max(1u, facts.channels * facts.depth / 8);
    for (const Pass& pass : passes) {
        const uint64_t w = passSize(facts.width, pass.x0, pass.dx);
        const uint64_t h = passSize(facts.height, pass.y0, pass.dy);
        if (w == 0 || h == 0) continue;
        const uint64_t length = facts.rowBytes(w);
        uint8_t* row = rows.data();
        uint8_t* prior = rows.data() + rowSize;
        std::memset(prior, 0, size_t(length + 1));
        for (uint64_t y = 0; y < h; ++y) {
            status = data.fill(row, length + 1);
            if (status != Status::ok) return status;
            if (!unfilter(row[0], row + 1, prior + 1, length, step)) return Status::damagedPicture;
            uint8_t* out = canvas.pixels.data() + (pass.y0 + y * pass.dy) * canvas.stride() +
                           4 * uint64_t(pass.x0);
            if (!placeRow(facts, row + 1, w, out, pass.dx)) return Status::damagedPicture;
            std::swap(row, prior);
        }
    }
    return data.finish();
}
