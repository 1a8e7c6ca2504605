#include "codec/internal/psd_write.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/internal/packbits.h"
#include "common/bytes.h"

namespace {

constexpr uint32_t kPsdTemplateSize = 178;

// The fixed part of every file; the fields marked below are filled in for each picture.
constexpr uint8_t kPsdTemplate[kPsdTemplateSize] = {
    '8',  'B',  'P',  'S',  0,    1,    0,    0,    0,    0,    0,    0,  // signature, version 1,
                                                                          // reserved
    0,    4,                                        // 4 channels in the merged image
    0,    0,    0,    0,                            // 14: height
    0,    0,    0,    0,                            // 18: width
    0,    8,    0,    3,                            // 8 bits per channel, RGB
    0,    0,    0,    0,                            // colour mode data length
    0,    0,    0,    0,                            // image resources length
    0,    0,    0,    0,                            // 34: layer and mask information length
    0,    0,    0,    0,                            // 38: layer info length
    0xFF, 0xFF,                                     // layer count -1: merged alpha is transparency
    0,    0,    0,    0,    0,    0,    0,    0,    // layer top, left
    0,    0,    0,    0,    0,    0,    0,    0,    // 52: layer bottom, 56: right
    0,    4,                                        // 4 channels in the layer
    0xFF, 0xFF, 0,    0,    0,    0,                // 62: transparency, 64: its length
    0,    0,    0,    0,    0,    0,                // 68: red, 70: its length
    0,    1,    0,    0,    0,    0,                // 74: green, 76: its length
    0,    2,    0,    0,    0,    0,                // 80: blue, 82: its length
    '8',  'B',  'I',  'M',  'n',  'o',  'r',  'm',  // blend mode normal
    255,  0,    8,    0,                            // opacity, clipping base, flags, filler
    0,    0,    0,    76,                           // extra data length
    0,    0,    0,    0,                            // layer mask data length
    0,    0,    0,    40,                           // blending ranges length
    0,    0,    0xFF, 0xFF, 0,    0,    0xFF, 0xFF, 0,    0,    0xFF, 0xFF, 0,    0,
    0xFF, 0xFF, 0,    0,    0xFF, 0xFF, 0,    0,    0xFF, 0xFF, 0,    0,    0xFF, 0xFF,
    0,    0,    0xFF, 0xFF, 0,    0,    0xFF, 0xFF, 0,    0,    0xFF, 0xFF, 10,   0x83,
    0x8C, 0x83, 0x43, 0x83, 0x84, 0x81, 0x5B, 0x20, 0x31, 0,  // name "レイヤー 1" in code page 932
    '8',  'B',  'I',  'M',  'l',  'y',  'i',  'd',  0,    0,    0,    4,    0,    0,
    0,    2,  // layer id 2
};

// The layer record: the template from offset 44 to its end, the same for every layer a file
// holds; its fields are given from the record's start.
constexpr uint32_t kLayerCount = 42;
constexpr uint32_t kLayerRecordStart = 44;
constexpr uint32_t kLayerRecordSize = kPsdTemplateSize - kLayerRecordStart;  // 134
constexpr uint32_t kRecordTop = 0, kRecordLeft = 4, kRecordBottom = 8, kRecordRight = 12;
constexpr uint32_t kRecordName = 106;     // length byte, 10 bytes, a pad byte
constexpr uint32_t kRecordLayerId = 130;  // the lyid value
constexpr uint32_t recordChannelLength(uint32_t channel) { return 20 + 6 * channel; }
// A layer with a mask: a fifth channel (the user mask, id -2) after the four in the table, and
// the mask's rectangle, default colour and flags as the layer mask data in the extra data.
constexpr uint32_t kRecordChannelCount = 16;
constexpr uint32_t kRecordChannelsEnd = 42;  // the four channels' table
constexpr uint32_t kRecordExtraLength = 54;
constexpr uint32_t kRecordMaskLength = 58;
constexpr uint32_t kRecordMaskEnd = 62;
constexpr uint32_t kChannelInfoSize = 6;
constexpr uint32_t kMaskDataSize = 20;
constexpr uint32_t kMaskGrowth = kChannelInfoSize + kMaskDataSize;

constexpr uint32_t kHeightFields[] = {14, kLayerRecordStart + kRecordBottom};
constexpr uint32_t kWidthFields[] = {18, kLayerRecordStart + kRecordRight};
constexpr uint32_t kLayerMaskInfoLength = 34;
constexpr uint32_t kLayerInfoLength = 38;
// The layer count and the layer record up to the channel data.
constexpr uint32_t kLayerInfoFixed = 2 + kLayerRecordSize;

// (c * a + (255 - a) * 255) / 255. The sum is at most 255 * 255, so it and the division fit
// 16 bits; written on 16-bit values, the compiler turns the division into a multiply-high and
// a shift over eight lanes at a time.
inline uint8_t overWhite(uint16_t colour, uint16_t alpha, uint16_t white) {
    return uint8_t(uint16_t(colour * alpha + white) / 255);
}

// The header with this picture's size in it.
void writeTemplate(uint32_t width, uint32_t height, uint8_t* start) {
    std::memcpy(start, kPsdTemplate, kPsdTemplateSize);
    for (uint32_t field : kHeightFields) storeBe32(start + field, height);
    for (uint32_t field : kWidthFields) storeBe32(start + field, width);
}

// The Canvas byte each part's samples come from: the layer's transparency, red, green, blue,
// then the merged image's red, green, blue, alpha.
constexpr uint32_t kPsdParts = 8;
constexpr uint32_t kPartBytes[kPsdParts] = {3, 2, 1, 0, 2, 1, 0, 3};
constexpr uint32_t kFirstMergedPart = 4;
constexpr uint32_t kMergedAlphaPart = 7;

bool flattenedPart(uint32_t part) { return part >= kFirstMergedPart && part != kMergedAlphaPart; }

// Eight flattened samples of one colour byte as 16-bit lanes, from the eight pixels at q:
// 65025 - a * (255 - c) is c * a + (255 - a) * 255, and its division by 255 is exact as a
// multiply-high by 0x8081 and a shift by 7 for every value up to 65025.
inline __m128i flattenEight(const uint8_t* q, __m128i shift) {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
    const __m128i colour = _mm_packs_epi32(_mm_and_si128(_mm_srl_epi32(v0, shift), lowByte),
                                           _mm_and_si128(_mm_srl_epi32(v1, shift), lowByte));
    const __m128i alpha = _mm_packs_epi32(_mm_srli_epi32(v0, 24), _mm_srli_epi32(v1, 24));
    const __m128i covered = _mm_mullo_epi16(alpha, _mm_sub_epi16(_mm_set1_epi16(255), colour));
    const __m128i sum = _mm_sub_epi16(_mm_set1_epi16(int16_t(-511)), covered);  // 65025 as u16
    return _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(int16_t(0x8081))), 7);
}

// Writes exactly width samples of one colour byte of a Canvas row flattened on white.
void flattenRow(const uint8_t* pixel, uint32_t width, uint32_t byte, uint8_t* out) {
    const __m128i shift = _mm_cvtsi32_si128(int(8 * byte));
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi16(flattenEight(pixel + 4 * x, shift),
                                          flattenEight(pixel + 4 * x + 32, shift)));
    for (; x < width; ++x) {
        const uint16_t a = pixel[4 * x + 3];
        out[x] = overWhite(pixel[4 * x + byte], a, uint16_t((255 - a) * 255));
    }
}

// Row y of a part's samples, exactly width bytes.
void partRow(const Canvas& canvas, uint32_t part, uint32_t y, uint8_t* out) {
    const uint8_t* pixel = canvas.pixels.data() + uint64_t(y) * canvas.width * 4;
    if (flattenedPart(part))
        flattenRow(pixel, canvas.width, kPartBytes[part], out);
    else
        gatherEveryFourth(pixel + kPartBytes[part], canvas.width, out);
}

// One part's rows, each made into row and packed to data with its length in table. Returns
// the end of the packed bytes, or nullptr as soon as they reach limit or a row passes the
// 65,535 bytes its length slot holds. end must lie a packed row's bound past limit, or past
// all the rows packed at their longest.
uint8_t* packPartRows(const Canvas& canvas, uint32_t part, uint8_t* table, uint8_t* data,
                      const uint8_t* limit, const uint8_t* end) {
    alignas(16) uint8_t row[kMaxG00Side + 1];
    for (uint32_t y = 0; y < canvas.height; ++y) {
        partRow(canvas, part, y, row);
        uint8_t* rowStart = data;
        data = packBitsRow(row, canvas.width, data, end);
        if (data >= limit || uint64_t(data - rowStart) > kMaxPackedRowLength) return nullptr;
        storeBe16(table + 2 * uint64_t(y), uint32_t(data - rowStart));
    }
    return data;
}

bool packable(const Canvas& canvas) { return canvas.width >= 4 && canvas.width <= kMaxG00Side; }

// A layer block at out: packed when that is smaller, raw otherwise. Returns its length.
uint32_t writeLayerBlock(const Canvas& canvas, uint32_t part, uint8_t* out) {
    return packBitsChannel(canvas.pixels.data() + kPartBytes[part], 4, canvas.height, canvas.width,
                           out);
}

// The merged image stored raw at out: its four channels' rows one after another.
uint32_t writeRawMerged(const Canvas& canvas, uint8_t* out) {
    const uint32_t width = canvas.width, height = canvas.height;
    storeBe16(out, 0);
    uint8_t* o = out + 2;
    for (uint32_t part = kFirstMergedPart; part < kPsdParts; ++part)
        for (uint32_t y = 0; y < height; ++y, o += width) partRow(canvas, part, y, o);
    return uint32_t(o - out);
}

// The fields that hold the layer blocks' lengths and the sections' lengths.
void writeLengths(uint8_t* start, const uint32_t (&layerLengths)[4]) {
    uint64_t layerInfo = kLayerInfoFixed;
    for (uint32_t c = 0; c < 4; ++c) {
        storeBe32(start + kLayerRecordStart + recordChannelLength(c), layerLengths[c]);
        layerInfo += layerLengths[c];
    }
    storeBe32(start + kLayerInfoLength, uint32_t(layerInfo));
    storeBe32(start + kLayerMaskInfoLength, uint32_t(layerInfo + 8));
}

}  // namespace

namespace {

// The header and the layer's four blocks at start. Returns their end.
uint8_t* writeHeaderAndLayer(const Canvas& canvas, uint8_t* start) {
    writeTemplate(canvas.width, canvas.height, start);
    uint8_t* o = start + kPsdTemplateSize;
    uint32_t layerLengths[4];
    for (uint32_t part = 0; part < kFirstMergedPart; ++part) {
        layerLengths[part] = writeLayerBlock(canvas, part, o);
        o += layerLengths[part];
    }
    writeLengths(start, layerLengths);
    return o;
}

// The merged image is one block: the compression field, the four channels' length tables,
// then their rows. These pack its red, green and blue rows at merged, leaving the alpha
// table's place; they return the end of the rows, or nullptr when the block must be raw (its
// rows reach the raw size, or the picture cannot be packed). end must lie a packed row's
// bound past the block's raw end.
uint8_t* packMergedColours(const Canvas& canvas, uint8_t* merged, const uint8_t* end) {
    if (!packable(canvas)) return nullptr;
    const uint64_t channelRows = canvas.height;
    uint8_t* table = merged + 2;
    uint8_t* data = table + 2 * 4 * channelRows;
    const uint8_t* limit = table + 4 * channelRows * canvas.width;
    for (uint32_t part = kFirstMergedPart; part < kMergedAlphaPart && data != nullptr; ++part)
        data = packPartRows(canvas, part, table + 2 * channelRows * (part - kFirstMergedPart), data,
                            limit, end);
    return data;
}

// Completes the merged block at merged, whose colour rows end at data (nullptr: raw), with
// the alpha rows; start is the file's. alphaBlock, when given, is a layer block of the whole
// Canvas's transparency (length bytes), whose rows are the merged alpha rows. Returns the file
// size.
uint32_t finishMerged(const Canvas& canvas, uint8_t* start, uint8_t* merged, uint8_t* data,
                      const uint8_t* end, const uint8_t* alphaBlock, uint32_t alphaLength) {
    const uint32_t width = canvas.width, height = canvas.height;
    const uint64_t channelRows = height;
    uint8_t* table = merged + 2;
    const uint8_t* limit = table + 4 * channelRows * width;
    if (data != nullptr) {
        uint8_t* alphaTable = table + 2 * channelRows * (kMergedAlphaPart - kFirstMergedPart);
        // The merged alpha rows are the layer's transparency rows: when that block was packed,
        // its table and rows are copied (rows pack the same wherever they are). Rows that
        // reach the raw size make the block raw wherever they do so, so the copied rows are
        // judged at their end, before they are written: they may be longer than the room
        // left past the raw size.
        const uint64_t tableBytes = 2 * channelRows;
        if (alphaBlock != nullptr && loadBe16(alphaBlock) == 1) {
            const uint8_t* layerBlock = alphaBlock;
            const uint64_t rowBytes = alphaLength - 2 - tableBytes;
            if (rowBytes >= uint64_t(limit - data)) {
                data = nullptr;
            } else {
                std::memcpy(alphaTable, layerBlock + 2, size_t(tableBytes));
                std::memcpy(data, layerBlock + 2 + tableBytes, size_t(rowBytes));
                data += rowBytes;
            }
        } else {
            data = packPartRows(canvas, kMergedAlphaPart, alphaTable, data, limit, end);
        }
    }
    if (data == nullptr) return uint32_t(merged + writeRawMerged(canvas, merged) - start);
    storeBe16(merged, 1);
    return uint32_t(data - start);
}

// Where the merged block starts: behind the layer blocks and the global layer mask length.
uint8_t* startMerged(uint8_t* layerEnd) {
    storeBe32(layerEnd, 0);
    return layerEnd + 4;
}

// Whether every pixel is opaque; found at the first row that is not, for most pictures with
// transparency at once.
bool allOpaque(const Canvas& canvas) {
    const __m128i alphas = _mm_set1_epi32(int32_t(0xFF000000u));
    const uint8_t* pixel = canvas.pixels.data();
    const uint64_t count = uint64_t(canvas.width) * canvas.height;
    uint64_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i* v = reinterpret_cast<const __m128i*>(pixel + 4 * i);
        const __m128i both =
            _mm_and_si128(_mm_and_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                          _mm_and_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(both, alphas), alphas)) != 0xFFFF)
            return false;
    }
    for (; i < count; ++i)
        if (pixel[4 * i + 3] != 255) return false;
    return true;
}

// An opaque picture, whose merged colours are the layer's (flattening on white changes
// nothing): each colour channel is packed once, into the merged block, and the layer's block
// of that channel copied from it, or stored raw where packing does not make it smaller. The
// merged block is packed where it lies when every layer colour block is raw and moved down
// behind the layer. One task: splitting the channels between two threads gained a few percent
// at best on an idle machine, where the second task's rows must be copied into place after,
// and lost more than that whenever another program held the other processor. Returns the file
// size, or 0 when the merged colour rows do not pack (the picture is then written the general
// way).
uint32_t writeOpaquePsd(const Canvas& canvas, std::span<uint8_t> out) {
    const uint32_t width = canvas.width, height = canvas.height;
    const uint64_t rows = height;
    uint8_t* start = out.data();
    const uint8_t* end = start + out.size();
    writeTemplate(width, height, start);
    uint8_t* alphaBlock = start + kPsdTemplateSize;
    uint32_t lengths[4];
    lengths[0] = writeLayerBlock(canvas, 0, alphaBlock);
    // The merged block, where it lies behind raw colour blocks.
    uint8_t* const staged = alphaBlock + lengths[0] + 3 * packBitsRawSize(height, width) + 4;
    uint8_t* const table = staged + 2;
    const uint8_t* const limit = table + 4 * rows * width;
    // The merged colour parts in order; the layer part of the same byte gathers its samples.
    uint8_t* data = table + 2 * 4 * rows;
    for (uint32_t part = kFirstMergedPart; part < kMergedAlphaPart && data != nullptr; ++part)
        data = packPartRows(canvas, part - kFirstMergedPart + 1,
                            table + 2 * rows * (part - kFirstMergedPart), data, limit, end);
    if (data == nullptr) return 0;
    // The layer's colour blocks, from the merged rows: the rows of each part follow those of
    // the part before.
    uint8_t* o = alphaBlock + lengths[0];
    const uint8_t* partRows = table + 2 * 4 * rows;
    for (uint32_t part = kFirstMergedPart; part < kMergedAlphaPart; ++part) {
        const uint8_t* partTable = table + 2 * rows * (part - kFirstMergedPart);
        uint64_t rowBytes = 0;
        for (uint64_t y = 0; y < rows; ++y) rowBytes += loadBe16(partTable + 2 * y);
        const uint32_t layerPart = part - kFirstMergedPart + 1;
        if (2 + 2 * rows + rowBytes < packBitsRawSize(height, width)) {
            storeBe16(o, 1);
            std::memcpy(o + 2, partTable, size_t(2 * rows));
            std::memcpy(o + 2 + 2 * rows, partRows, size_t(rowBytes));
            lengths[layerPart] = uint32_t(2 + 2 * rows + rowBytes);
        } else {
            storeBe16(o, 0);
            gatherEveryFourth(canvas.pixels.data() + kPartBytes[layerPart], rows * width, o + 2);
            lengths[layerPart] = uint32_t(packBitsRawSize(height, width));
        }
        o += lengths[layerPart];
        partRows += rowBytes;
    }
    writeLengths(start, lengths);
    uint8_t* merged = startMerged(o);
    std::memmove(merged, staged, size_t(data - staged));
    return finishMerged(canvas, start, merged, merged + (data - staged), end, alphaBlock,
                        lengths[0]);
}

}  // namespace

uint64_t psdBound(uint32_t width, uint32_t height) {
    return kPsdTemplateSize + 4 * packBitsRawSize(height, width) + 4 +
           packBitsBound(4 * height, width);
}

uint64_t psdSecondBound(uint32_t width, uint32_t height) {
    return packBitsBound(4 * height, width) + 2 * 4 * uint64_t(height);
}

uint32_t writePsd(const Canvas& canvas, std::span<uint8_t> out, std::span<uint8_t> second,
                  const Parallel& parallel) {
    const uint32_t width = canvas.width, height = canvas.height;
    if (width == 0 || height == 0 || out.size() < psdBound(width, height)) return 0;
    uint8_t* start = out.data();
    const uint8_t* end = start + out.size();
    const uint8_t* alphaBlock = start + kPsdTemplateSize;
    auto alphaLength = [&] { return loadBe32(start + kLayerRecordStart + recordChannelLength(0)); };
    if (packable(canvas) && allOpaque(canvas)) {
        const uint32_t size = writeOpaquePsd(canvas, out);
        if (size != 0) return size;
    }
    if (parallel.most < 2 || second.size() < psdSecondBound(width, height)) {
        uint8_t* merged = startMerged(writeHeaderAndLayer(canvas, start));
        return finishMerged(canvas, start, merged, packMergedColours(canvas, merged, end), end,
                            alphaBlock, alphaLength());
    }
    // The layer's blocks are packed in place while the merged image's colour rows are packed
    // into second, then moved behind the layer (a copy of about a third of the file); the two
    // halves cost about the same.
    uint8_t* layerEnd = nullptr;
    const uint8_t* colourEnd = nullptr;
    parallel(2, [&](uint32_t task) {
        if (task == 0)
            layerEnd = writeHeaderAndLayer(canvas, start);
        else
            colourEnd = packMergedColours(canvas, second.data(), second.data() + second.size());
    });
    uint8_t* merged = startMerged(layerEnd);
    // The colour rows end below the raw size, so they fit wherever the layer blocks end.
    uint8_t* data = nullptr;
    if (colourEnd != nullptr) {
        const uint64_t length = uint64_t(colourEnd - second.data());
        std::memmove(merged, second.data(), size_t(length));
        data = merged + length;
    }
    return finishMerged(canvas, start, merged, data, end, alphaBlock, alphaLength());
}

uint64_t layeredPsdBound(uint32_t width, uint32_t height, std::span<const PsdRegionLayer> layers) {
    uint64_t size = kLayerRecordStart + uint64_t(kLayerRecordSize) * layers.size();
    for (const PsdRegionLayer& layer : layers) {
        const uint32_t channels = layer.mask != nullptr ? 5 : 4;
        size += channels * packBitsRawSize(layer.pixels->height, layer.pixels->width);
        if (layer.mask != nullptr) size += kMaskGrowth;
    }
    // A pad byte, the global layer mask length, and the merged image with the packed bytes of
    // one row (no layer is wider than the document) past its raw end.
    return size + 1 + 4 + packBitsBound(4 * height, width);
}

uint32_t writeLayeredPsd(const Canvas& canvas, std::span<const PsdRegionLayer> layers,
                         std::span<uint8_t> out) {
    const uint32_t width = canvas.width;
    const uint32_t height = canvas.height;
    if (width == 0 || height == 0 || layers.empty() || layers.size() > kMostPsdLayers ||
        out.size() < layeredPsdBound(width, height, layers))
        return 0;
    for (const PsdRegionLayer& layer : layers) {
        const Canvas& pixels = *layer.pixels;
        if (pixels.width == 0 || pixels.height == 0 || layer.region > 999 ||
            uint64_t(layer.left) + pixels.width > width ||
            uint64_t(layer.top) + pixels.height > height)
            return 0;
    }

    uint8_t* start = out.data();
    std::memcpy(start, kPsdTemplate, kLayerRecordStart);
    storeBe32(start + kHeightFields[0], height);
    storeBe32(start + kWidthFields[0], width);
    // Negative: the merged image's first alpha channel holds its transparency.
    storeBe16(start + kLayerCount, uint32_t(-int32_t(layers.size())));

    uint8_t* o = start + kLayerRecordStart;
    for (size_t i = 0; i < layers.size(); ++i) {
        const PsdRegionLayer& layer = layers[i];
        const uint32_t shift = layer.mask != nullptr ? kMaskGrowth : 0;
        uint8_t* record = o;
        if (layer.mask == nullptr) {
            std::memcpy(o, kPsdTemplate + kLayerRecordStart, kLayerRecordSize);
        } else {
            const uint8_t* from = kPsdTemplate + kLayerRecordStart;
            std::memcpy(o, from, kRecordChannelsEnd);
            storeBe16(o + kRecordChannelCount, 5);
            storeBe16(o + kRecordChannelsEnd, 0xFFFE);  // the user mask
            std::memcpy(o + kRecordChannelsEnd + kChannelInfoSize, from + kRecordChannelsEnd,
                        kRecordMaskEnd - kRecordChannelsEnd);
            uint8_t* mask = o + kRecordMaskEnd + kChannelInfoSize;
            storeBe32(o + kRecordExtraLength + kChannelInfoSize,
                      loadBe32(from + kRecordExtraLength) + kMaskDataSize);
            storeBe32(o + kRecordMaskLength + kChannelInfoSize, kMaskDataSize);
            storeBe32(mask, layer.top);
            storeBe32(mask + 4, layer.left);
            storeBe32(mask + 8, layer.top + layer.pixels->height);
            storeBe32(mask + 12, layer.left + layer.pixels->width);
            std::memset(mask + 16, 0, 4);
            mask[16] = 255;  // outside the rectangle the layer shows; no flags
            std::memcpy(mask + kMaskDataSize, from + kRecordMaskEnd,
                        kLayerRecordSize - kRecordMaskEnd);
            record = o + kMaskGrowth;  // the fields after the mask data lie that much later
        }
        storeBe32(o + kRecordTop, layer.top);
        storeBe32(o + kRecordLeft, layer.left);
        storeBe32(o + kRecordBottom, layer.top + layer.pixels->height);
        storeBe32(o + kRecordRight, layer.left + layer.pixels->width);
        char name[11];
        std::snprintf(name, sizeof name, "region %03u", unsigned(layer.region));
        std::memcpy(record + kRecordName + 1, name,
                    10);  // the same 10 bytes as the template's name
        storeBe32(record + kRecordLayerId, uint32_t(2 + i));
        o += kLayerRecordSize + shift;
    }

    uint64_t layerInfo = 2 + uint64_t(o - (start + kLayerRecordStart));
    uint8_t* record = start + kLayerRecordStart;
    for (const PsdRegionLayer& layer : layers) {
        const Canvas& pixels = *layer.pixels;
        const uint32_t channels = layer.mask != nullptr ? 5 : 4;
        for (uint32_t channel = 0; channel < channels; ++channel) {
            const uint32_t length =
                channel < 4 ? writeLayerBlock(pixels, channel, o)
                            : packBitsChannel(layer.mask, 1, pixels.height, pixels.width, o);
            storeBe32(record + recordChannelLength(channel), length);
            layerInfo += length;
            o += length;
        }
        record += kLayerRecordSize + (layer.mask != nullptr ? kMaskGrowth : 0);
    }
    // Several layers are new to the readers, so the section keeps the even length the format
    // asks for.
    if (layerInfo % 2 != 0) {
        *o++ = 0;
        ++layerInfo;
    }
    storeBe32(start + kLayerInfoLength, uint32_t(layerInfo));
    storeBe32(start + kLayerMaskInfoLength, uint32_t(layerInfo + 8));
    uint8_t* merged = startMerged(o);
    const uint8_t* end = start + out.size();
    return finishMerged(canvas, start, merged, packMergedColours(canvas, merged, end), end, nullptr,
                        0);
}

static_assert(kPsdTemplate[150] == 10 && kPsdTemplate[161] == 0 && kPsdTemplate[162] == '8' &&
                  kPsdTemplate[177] == 2,
              "the template's fields sit at their file offsets");
