#include "codec/internal/psd_reader.h"

#include <algorithm>
#include <cstring>

#include "codec/g00.h"
#include "codec/internal/inflate_stream.h"
#include "common/byte_buffer.h"
#include "common/bytes.h"

static_assert(kPictureWorkSize >= kInflateWorkSize);

namespace {

constexpr uint32_t kHeaderSize = 26;
constexpr uint32_t kMaxChannels = 56;
constexpr uint16_t kGreyMode = 1;
constexpr uint16_t kRgbMode = 3;
constexpr uint16_t kRaw = 0;
constexpr uint16_t kPackBits = 1;
constexpr uint16_t kZip = 2;           // one zlib stream of the block's rows
constexpr uint16_t kZipPredicted = 3;  // the same, each row stored as differences from the left
// Deflate never gives more than about 1,032 bytes for one byte of its data.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint32_t kChannelInfoSize = 6;  // id, length
// Bytes of a layer record between its channel table and its extra data: blend signature and
// key, opacity, clipping, flags, filler.
constexpr uint32_t kBlendFieldsSize = 12;

// A range of the file that grows only forward, every take checked against its end.
struct Cursor {
    const uint8_t* at;
    const uint8_t* end;

    uint64_t left() const { return uint64_t(end - at); }
    bool take(uint64_t count, const uint8_t*& field) {
        if (count > left()) return false;
        field = at;
        at += count;
        return true;
    }
    bool skip(uint64_t count) {
        const uint8_t* unused = nullptr;
        return take(count, unused);
    }
    // A section that starts with its own 32-bit length: the cursor moves past it.
    bool section(Cursor& inside) {
        const uint8_t* length = nullptr;
        if (!take(4, length)) return false;
        const uint8_t* start = nullptr;
        if (!take(loadBe32(length), start)) return false;
        inside = {start, at};
        return true;
    }
};

// Where a channel's samples go: the Canvas byte of each pixel, and the channel's top-left
// corner on the Canvas (which may lie outside it: samples off the Canvas are dropped).
struct Placement {
    Canvas* canvas;
    uint32_t canvasByte;
    int64_t left;
    int64_t top;
};

// Unpacks one PackBits row of exactly width samples into the Canvas row (or nowhere, when the
// row is off the Canvas). The row is clipped to the columns [0, canvas width).
bool unpackRow(Cursor packed, uint64_t width, const Placement& place, uint8_t* canvasRow) {
    const int64_t canvasWidth = place.canvas ? int64_t(place.canvas->width) : 0;
    auto put = [&](uint64_t from, uint64_t count, const uint8_t* literal, uint8_t repeat) {
        if (!canvasRow) return;
        const int64_t first = std::max<int64_t>(place.left + int64_t(from), 0);
        const int64_t last = std::min<int64_t>(place.left + int64_t(from + count), canvasWidth);
        for (int64_t x = first; x < last; ++x)
            canvasRow[4 * x + place.canvasByte] =
                literal ? literal[x - place.left - int64_t(from)] : repeat;
    };
    uint64_t done = 0;
    const uint8_t* header = nullptr;
    while (packed.take(1, header)) {
        const uint8_t n = header[0];
        if (n == 128) continue;  // no operation
        const uint64_t count = n < 128 ? uint64_t(n) + 1 : 257 - uint64_t(n);
        if (count > width - done) return false;
        const uint8_t* samples = nullptr;
        if (!packed.take(n < 128 ? count : 1, samples)) return false;
        put(done, count, n < 128 ? samples : nullptr, samples[0]);
        done += count;
    }
    return done == width;
}

// Copies one row of width samples into the Canvas row (or nowhere, when the row is off the
// Canvas), clipped to the columns [0, canvas width).
void placeRow(const uint8_t* samples, uint64_t width, const Placement& place, uint8_t* canvasRow) {
    if (!canvasRow) return;
    const int64_t first = std::max<int64_t>(place.left, 0);
    const int64_t last =
        std::min<int64_t>(place.left + int64_t(width), int64_t(place.canvas->width));
    for (int64_t x = first; x < last; ++x)
        canvasRow[4 * x + place.canvasByte] = samples[x - place.left];
}

bool isZip(uint16_t compression) { return compression == kZip || compression == kZipPredicted; }

// Whether a zlib stream of compressed bytes could give rows x width samples: checked before the
// Canvas is obtained, so that a small file cannot claim a large one.
bool zipCanHold(uint64_t compressed, uint64_t rows, uint64_t width) {
    return rows * width <= compressed * kMaxInflateRatio + 64;
}

// A block's bytes as the inflate stream's input, in pieces that fit its 32-bit counts.
struct BlockInput {
    const uint8_t* at;
    const uint8_t* end;

    static bool next(void* source, const uint8_t*& bytes, uint32_t& length) {
        BlockInput& input = *static_cast<BlockInput*>(source);
        if (input.at == input.end) return false;
        const uint64_t left = uint64_t(input.end - input.at);
        length = uint32_t(std::min<uint64_t>(left, uint64_t(1) << 30));
        bytes = input.at;
        input.at += length;
        return true;
    }
};

// Where ZIP rows are inflated: zlib's work area and one row of samples.
struct ZipRows {
    std::span<uint8_t> work;
    uint8_t* row;
};

// Inflates the zlib stream of a block (after its compression field) into rows of width
// samples, undoing the prediction, and hands each to put(row number, samples). The stream must
// end with the last row.
template <typename Put>
Status inflateRows(Cursor block, uint16_t compression, uint64_t rows, uint64_t width,
                   const ZipRows& zip, Put put) {
    BlockInput input{block.at, block.end};
    InflateStream stream(zip.work, BlockInput::next, &input);
    Status status = stream.open();
    if (status != Status::ok) return status;
    for (uint64_t r = 0; r < rows; ++r) {
        status = stream.fill(zip.row, width);
        if (status != Status::ok) return status;
        if (compression == kZipPredicted)
            for (uint64_t x = 1; x < width; ++x) zip.row[x] = uint8_t(zip.row[x] + zip.row[x - 1]);
        put(r, zip.row);
    }
    return stream.finish();
}

// Reads one block of rows x width samples (its compression field first) into the Canvas.
Status readChannel(Cursor block, uint64_t rows, uint64_t width, const Placement& place,
                   const ZipRows& zip) {
    const uint8_t* field = nullptr;
    if (!block.take(2, field)) return Status::truncated;
    const uint16_t compression = loadBe16(field);
    // A layer of no pixels has no samples, however many rows or columns it claims: nothing is
    // read (and no row is visited) for it.
    if (rows == 0 || width == 0) return Status::ok;
    Canvas& canvas = *place.canvas;
    auto canvasRow = [&](uint64_t row) -> uint8_t* {
        const int64_t y = place.top + int64_t(row);
        if (y < 0 || y >= int64_t(canvas.height)) return nullptr;
        return canvas.pixels.data() + uint64_t(y) * canvas.stride();
    };
    if (compression == kRaw) {
        if (block.left() < rows * width) return Status::truncated;
        for (uint64_t row = 0; row < rows; ++row)
            placeRow(block.at + row * width, width, place, canvasRow(row));
        return Status::ok;
    }
    if (isZip(compression))
        return inflateRows(block, compression, rows, width, zip,
                           [&](uint64_t row, const uint8_t* samples) {
                               placeRow(samples, width, place, canvasRow(row));
                           });
    const uint8_t* table = nullptr;
    if (!block.take(2 * rows, table)) return Status::truncated;
    for (uint64_t row = 0; row < rows; ++row) {
        const uint8_t* packed = nullptr;
        if (!block.take(loadBe16(table + 2 * row), packed)) return Status::truncated;
        if (!unpackRow({packed, block.at}, width, place, canvasRow(row)))
            return Status::damagedPicture;
    }
    return Status::ok;
}

// The Canvas byte a layer channel fills: red, green, blue and the transparency; a grey
// document's grey goes to red (and from there to the other two, spreadGrey); -1 for masks and
// extra channels.
int canvasByteOf(int16_t id, bool grey) {
    switch (id) {
    case 0: return 2;
    case 1: return grey ? -1 : 1;
    case 2: return grey ? -1 : 0;
    case -1: return 3;
    default: return -1;
    }
}

// A grey document's samples, read into the red byte, made the pixel's three colours: grey
// converts to RGB without loss.
void spreadGrey(Canvas& canvas) {
    uint8_t* pixel = canvas.pixels.data();
    for (uint64_t i = 0; i < canvas.pixels.size(); i += 4) pixel[i] = pixel[i + 1] = pixel[i + 2];
}

struct LayerChannel {
    int16_t id;
    uint32_t length;
};

// A channel's compression, known before the Canvas is obtained: unsupportedPicture for one
// the reader does not know, truncated for a ZIP stream too short for its samples.
Status checkCompression(Cursor block, uint64_t rows, uint64_t width, PictureFacts& facts) {
    const uint8_t* field = nullptr;
    if (!block.take(2, field)) return Status::truncated;
    const uint16_t compression = loadBe16(field);
    if (compression != kRaw && compression != kPackBits && !isZip(compression)) {
        facts.limit = PictureLimit::compression;
        facts.compression = compression;
        return Status::unsupportedPicture;
    }
    if (isZip(compression) && !zipCanHold(block.left(), rows, width)) return Status::truncated;
    return Status::ok;
}

// A layer record, up to its channel data.
struct LayerRecord {
    bool grey = false;  // the document's colour mode
    int64_t top = 0, left = 0, bottom = 0, right = 0;
    uint32_t channelCount = 0;
    LayerChannel channels[kMaxChannels];
    uint8_t opacity = 255;
    uint32_t blendMode = 0;
    Cursor extra{nullptr, nullptr};
    uint64_t rows() const { return uint64_t(bottom - top); }
    uint64_t width() const { return uint64_t(right - left); }
};

Status readLayerRecord(Cursor& info, bool grey, LayerRecord& layer) {
    layer.grey = grey;
    const uint8_t* record = nullptr;
    if (!info.take(18, record)) return Status::truncated;
    layer.top = int32_t(loadBe32(record));
    layer.left = int32_t(loadBe32(record + 4));
    layer.bottom = int32_t(loadBe32(record + 8));
    layer.right = int32_t(loadBe32(record + 12));
    layer.channelCount = loadBe16(record + 16);
    if (layer.bottom < layer.top || layer.right < layer.left || layer.channelCount > kMaxChannels)
        return Status::damagedPicture;
    for (uint32_t c = 0; c < layer.channelCount; ++c) {
        const uint8_t* entry = nullptr;
        if (!info.take(kChannelInfoSize, entry)) return Status::truncated;
        layer.channels[c] = {int16_t(loadBe16(entry)), loadBe32(entry + 2)};
    }
    const uint8_t* blend = nullptr;
    if (!info.take(kBlendFieldsSize, blend)) return Status::truncated;
    if (std::memcmp(blend, "8BIM", 4) != 0) return Status::damagedPicture;
    layer.blendMode = loadBe32(blend + 4);
    layer.opacity = blend[8];
    return info.section(layer.extra) ? Status::ok : Status::truncated;
}

// Checks that every channel's block lies in the file and the channels read can be read,
// before anything is obtained; data moves past the blocks. zip says whether one is ZIP.
Status checkLayerChannels(Cursor& data, const LayerRecord& layer, PictureFacts& facts, bool& zip) {
    for (uint32_t c = 0; c < layer.channelCount; ++c) {
        const uint8_t* block = nullptr;
        if (!data.take(layer.channels[c].length, block)) return Status::truncated;
        if (canvasByteOf(layer.channels[c].id, layer.grey) < 0) continue;
        const Cursor channel{block, block + layer.channels[c].length};
        Status status = checkCompression(channel, layer.rows(), layer.width(), facts);
        if (status != Status::ok) return status;
        zip = zip || (layer.channels[c].length >= 2 && isZip(loadBe16(block)));
    }
    return Status::ok;
}

// Reads the layer's channels from data (checked with checkLayerChannels) onto the Canvas, the
// layer's top-left corner at (left, top) of it; its pixels there get the transparency as alpha,
// or 255 when it has none. zip: a row's block for ZIP channels is needed.
Status readLayerChannels(Cursor& data, const LayerRecord& layer, int64_t left, int64_t top,
                         bool zip, std::span<uint8_t> work, Canvas& canvas, bool& hasTransparency) {
    ByteBuffer row;
    Status status = Status::ok;
    if (zip && (status = obtainBlock(std::max<uint64_t>(layer.width(), 1), row)) != Status::ok)
        return status;
    const ZipRows zipRows{work, row.data()};
    hasTransparency = false;
    for (uint32_t c = 0; c < layer.channelCount; ++c) {
        const uint8_t* block = nullptr;
        data.take(layer.channels[c].length, block);
        const int canvasByte = canvasByteOf(layer.channels[c].id, layer.grey);
        if (canvasByte < 0) continue;  // masks have their own rectangles; extra channels
        hasTransparency |= canvasByte == 3;
        const Placement place{&canvas, uint32_t(canvasByte), left, top};
        status = readChannel({block, block + layer.channels[c].length}, layer.rows(), layer.width(),
                             place, zipRows);
        if (status != Status::ok) return status;
    }
    if (layer.grey) spreadGrey(canvas);
    if (hasTransparency) return Status::ok;
    const uint64_t x0 = uint64_t(std::clamp<int64_t>(left, 0, canvas.width));
    const uint64_t x1 =
        uint64_t(std::clamp<int64_t>(left + int64_t(layer.width()), 0, canvas.width));
    const uint64_t y0 = uint64_t(std::clamp<int64_t>(top, 0, canvas.height));
    const uint64_t y1 =
        uint64_t(std::clamp<int64_t>(top + int64_t(layer.rows()), 0, canvas.height));
    for (uint64_t y = y0; y < y1; ++y)
        for (uint64_t x = x0; x < x1; ++x)
            canvas.pixels.data()[y * canvas.stride() + 4 * x + 3] = 255;
    return Status::ok;
}

Status readLayer(Cursor& info, uint32_t documentWidth, uint32_t documentHeight, bool grey,
                 std::span<uint8_t> work, Canvas& canvas, PictureFacts& facts) {
    LayerRecord layer;
    Status status = readLayerRecord(info, grey, layer);
    if (status != Status::ok) return status;
    Cursor data = info;
    bool zip = false;
    status = checkLayerChannels(data, layer, facts, zip);
    if (status != Status::ok) return status;
    status = makeCanvas(documentWidth, documentHeight, canvas);
    if (status != Status::ok) return status;
    bool hasTransparency = false;
    status =
        readLayerChannels(info, layer, layer.left, layer.top, zip, work, canvas, hasTransparency);
    if (status != Status::ok || layer.opacity == 255) return status;
    // The layer's pixels on the Canvas get their alpha scaled by the opacity.
    const uint64_t x0 = uint64_t(std::clamp<int64_t>(layer.left, 0, documentWidth));
    const uint64_t x1 = uint64_t(std::clamp<int64_t>(layer.right, 0, documentWidth));
    const uint64_t y0 = uint64_t(std::clamp<int64_t>(layer.top, 0, documentHeight));
    const uint64_t y1 = uint64_t(std::clamp<int64_t>(layer.bottom, 0, documentHeight));
    for (uint64_t y = y0; y < y1; ++y) {
        uint8_t* pixel = canvas.pixels.data() + y * canvas.stride() + 4 * x0;
        for (uint64_t x = x0; x < x1; ++x, pixel += 4)
            pixel[3] = uint8_t((uint32_t(pixel[3]) * layer.opacity + 127) / 255);
    }
    return Status::ok;
}

// The layer's name: the Pascal string after its mask and blending ranges in the extra data.
void readLayerName(Cursor extra, PsdStoredLayer& layer) {
    Cursor skipped;
    const uint8_t* length = nullptr;
    const uint8_t* name = nullptr;
    if (!extra.section(skipped) || !extra.section(skipped) || !extra.take(1, length) ||
        !extra.take(length[0], name))
        return;
    layer.nameLength = length[0];
    std::memcpy(layer.name, name, length[0]);
}

Status readMerged(Cursor image, uint32_t channelCount, uint32_t width, uint32_t height, bool grey,
                  std::span<uint8_t> work, Canvas& canvas, PictureFacts& facts) {
    // The colours' channels, then the transparency: red, green, blue, alpha; or grey, alpha.
    const uint32_t colours = grey ? 1 : 3;
    const uint32_t used = std::min(channelCount, colours + 1);
    const uint64_t rows = uint64_t(height) * channelCount;
    // Checked before the Canvas is obtained: the raw samples, the row table, or a stream that
    // could give the samples, are in the file.
    Status status = checkCompression(image, rows, width, facts);
    if (status != Status::ok) return status;
    const uint8_t* field = nullptr;
    image.take(2, field);
    const uint16_t compression = loadBe16(field);
    if (compression == kRaw && image.left() < rows * width) return Status::truncated;
    if (compression == kPackBits && image.left() < 2 * rows) return Status::truncated;
    status = makeCanvas(width, height, canvas, PagingHint::whole);
    if (status != Status::ok) return status;

    const uint32_t canvasBytes[4] = {2, grey ? 3u : 1u, 0, 3};
    auto out = [&](uint64_t y) { return canvas.pixels.data() + y * canvas.stride(); };
    if (isZip(compression)) {
        // One stream of every channel's rows, those past the fourth channel read and dropped.
        ByteBuffer row;
        status = obtainBlock(width, row);
        if (status != Status::ok) return status;
        status = inflateRows(
            image, compression, rows, width, ZipRows{work, row.data()},
            [&](uint64_t r, const uint8_t* samples) {
                const uint64_t c = r / height;
                if (c < used)
                    placeRow(samples, width, {&canvas, canvasBytes[c], 0, 0}, out(r % height));
            });
        if (status != Status::ok) return status;
    } else {
        const uint8_t* table = image.at;
        Cursor samples = image;
        if (compression == kPackBits) samples.skip(2 * rows);
        for (uint32_t c = 0; c < used; ++c) {
            const Placement place{&canvas, canvasBytes[c], 0, 0};
            for (uint64_t y = 0; y < height; ++y) {
                const uint8_t* row = nullptr;
                if (compression == kRaw) {
                    samples.take(width, row);
                    placeRow(row, width, place, out(y));
                    continue;
                }
                if (!samples.take(loadBe16(table + 2 * (uint64_t(c) * height + y)), row))
                    return Status::truncated;
                if (!unpackRow({row, samples.at}, width, place, out(y)))
                    return Status::damagedPicture;
            }
        }
    }
    if (grey) spreadGrey(canvas);
    if (used == colours) {
        uint8_t* pixels = canvas.pixels.data();
        for (uint64_t i = 3; i < canvas.pixels.size(); i += 4) pixels[i] = 255;
    }
    return Status::ok;
}

}  // namespace

Status readPsd(std::span<const uint8_t> file, std::span<uint8_t> work, Canvas& canvas,
               PictureFacts& facts) {
    facts = PictureFacts{};
    if (file.size() < 4 || std::memcmp(file.data(), "8BPS", 4) != 0) return Status::notPicture;
    facts.format = PictureFormat::psd;
    if (file.size() < kHeaderSize) return Status::truncated;
    const uint8_t* header = file.data();
    const uint16_t version = loadBe16(header + 4);
    const uint32_t channelCount = loadBe16(header + 12);
    const uint32_t height = loadBe32(header + 14);
    const uint32_t width = loadBe32(header + 18);
    const uint16_t depth = loadBe16(header + 22);
    const uint16_t mode = loadBe16(header + 24);
    facts.depth = depth;
    facts.colourMode = mode;
    auto refuse = [&](PictureLimit limit) {
        facts.limit = limit;
        return Status::unsupportedPicture;
    };
    if (version == 2) return refuse(PictureLimit::largeDocument);
    if (version != 1 || channelCount == 0 || channelCount > kMaxChannels)
        return Status::damagedPicture;
    if (mode != kRgbMode && mode != kGreyMode) return refuse(PictureLimit::colourMode);
    if (depth != 8) return refuse(PictureLimit::depth);
    const bool grey = mode == kGreyMode;
    if (channelCount < (grey ? 1u : 3u)) return Status::damagedPicture;
    if (width == 0 || height == 0) return Status::emptyPicture;
    if (width > kMaxG00Side || height > kMaxG00Side) return Status::pictureTooLarge;

    Cursor sections{header + kHeaderSize, header + file.size()};
    Cursor colourModeData, resources, layersAndMasks;
    if (!sections.section(colourModeData) || !sections.section(resources) ||
        !sections.section(layersAndMasks))
        return Status::truncated;
    Cursor layerInfo{layersAndMasks.at, layersAndMasks.at};
    if (layersAndMasks.left() > 0 && !layersAndMasks.section(layerInfo)) return Status::truncated;

    if (layerInfo.left() > 0) {
        const uint8_t* count = nullptr;
        if (!layerInfo.take(2, count)) return Status::truncated;
        // A negative count says the merged image's first extra channel is its transparency.
        const int32_t signedCount = int16_t(loadBe16(count));
        facts.layerCount = uint32_t(signedCount < 0 ? -signedCount : signedCount);
        if (facts.layerCount > 1) return Status::severalLayers;
        if (facts.layerCount == 1)
            return readLayer(layerInfo, width, height, grey, work, canvas, facts);
    }
    return readMerged(sections, channelCount, width, height, grey, work, canvas, facts);
}

Status readPsdLayers(std::span<const uint8_t> file, std::span<uint8_t> work, PsdLayers& read,
                     PictureFacts& facts) {
    read = PsdLayers{};
    std::vector<PsdStoredLayer>& layers = read.layers;
    Canvas unused;
    const Status status = readPsd(file, work, unused, facts);
    if (status != Status::severalLayers) return status == Status::ok ? Status::notPicture : status;
    // readPsd has checked the header and found the layer count in whole sections.
    Cursor sections{file.data() + kHeaderSize, file.data() + file.size()};
    Cursor skipped{nullptr, nullptr}, layersAndMasks{nullptr, nullptr}, layerInfo{nullptr, nullptr};
    const uint8_t* count = nullptr;
    if (!sections.section(skipped) || !sections.section(skipped) ||
        !sections.section(layersAndMasks) || !layersAndMasks.section(layerInfo) ||
        !layerInfo.take(2, count))
        return Status::truncated;
    read.height = loadBe32(file.data() + 14);
    read.width = loadBe32(file.data() + 18);
    const bool grey = facts.colourMode == kGreyMode;
    std::vector<LayerRecord> records(facts.layerCount);
    for (LayerRecord& record : records) {
        Status status = readLayerRecord(layerInfo, grey, record);
        if (status != Status::ok) return status;
        if (record.rows() > kMaxG00Side || record.width() > kMaxG00Side)
            return Status::pictureTooLarge;
    }
    Cursor data = layerInfo;
    bool zip = false;
    for (const LayerRecord& record : records) {
        Status checked = checkLayerChannels(data, record, facts, zip);
        if (checked != Status::ok) return checked;
    }
    layers.resize(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const LayerRecord& record = records[i];
        PsdStoredLayer& layer = layers[i];
        layer.left = int32_t(record.left);
        layer.top = int32_t(record.top);
        layer.opacity = record.opacity;
        layer.blendMode = record.blendMode;
        readLayerName(record.extra, layer);
        Status status = Status::ok;
        // An empty layer keeps an empty Canvas: it shows nothing.
        if (record.rows() != 0 && record.width() != 0)
            status = makeCanvas(uint32_t(record.width()), uint32_t(record.rows()), layer.pixels);
        if (status != Status::ok) return status;
        bool hasTransparency = false;
        Cursor blocks = layerInfo;
        if (layer.pixels.width != 0) {
            status =
                readLayerChannels(blocks, record, 0, 0, zip, work, layer.pixels, hasTransparency);
            if (status != Status::ok) return status;
        }
        for (uint32_t c = 0; c < record.channelCount; ++c)
            layerInfo.skip(record.channels[c].length);
    }
    return Status::ok;
}
