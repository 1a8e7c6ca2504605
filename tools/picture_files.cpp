#include "tools/picture_files.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "common/bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Byte by byte: g++ 12 warns wrongly about inserting initializer lists into vectors.
void appendBytes(Bytes& bytes, std::initializer_list<uint8_t> more) {
    for (uint8_t byte : more) bytes.push_back(byte);
}
void appendBe32(Bytes& bytes, uint32_t value) {
    appendBytes(bytes,
                {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)});
}
void appendBe16(Bytes& bytes, uint32_t value) {
    appendBytes(bytes, {uint8_t(value >> 8), uint8_t(value)});
}
void appendLe32(Bytes& bytes, uint32_t value) {
    appendBytes(bytes,
                {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)});
}
void append(Bytes& bytes, std::span<const uint8_t> more) {
    for (uint8_t byte : more) bytes.push_back(byte);
}

struct Adam7Pass {
    uint32_t x0, y0, dx, dy;
};
constexpr Adam7Pass kPasses[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The row's bytes, samples packed most significant bit first, 16-bit ones high byte first.
Bytes packRow(const PngImage& image, uint32_t y, uint32_t x0, uint32_t dx) {
    const uint32_t channels = pngChannels(image.colourType);
    Bytes row;
    uint32_t bits = 0, used = 0;
    for (uint32_t x = x0; x < image.width; x += dx)
        for (uint32_t c = 0; c < channels; ++c) {
            const uint16_t sample = image.samples[(size_t(y) * image.width + x) * channels + c];
            if (image.depth == 16) {
                appendBe16(row, sample);
                continue;
            }
            bits = bits << image.depth | sample;
            used += image.depth;
            if (used == 8) {
                row.push_back(uint8_t(bits));
                bits = used = 0;
            }
        }
    if (used) row.push_back(uint8_t(bits << (8 - used)));
    return row;
}

uint8_t paethOf(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

void appendFiltered(Bytes& out, const Bytes& row, const Bytes& prior, uint32_t step,
                    uint8_t filter) {
    out.push_back(filter);
    for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= step ? row[i - step] : 0, b = prior.empty() ? 0 : prior[i];
        const int c = i >= step && !prior.empty() ? prior[i - step] : 0;
        const int predicted = filter == 1   ? a
                              : filter == 2 ? b
                              : filter == 3 ? (a + b) / 2
                              : filter == 4 ? paethOf(a, b, c)
                                            : 0;
        out.push_back(uint8_t(row[i] - predicted));
    }
}

}  // namespace

uint32_t pngChannels(uint8_t colourType) {
    switch (colourType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
    }
}

Bytes pngChunk(const char* type, std::span<const uint8_t> data) {
    Bytes chunk;
    appendBe32(chunk, uint32_t(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    append(chunk, data);
    appendBe32(chunk, uint32_t(crc32(0, chunk.data() + 4, uInt(data.size() + 4))));
    return chunk;
}

Bytes pngHeaderData(const PngImage& image) {
    Bytes data;
    appendBe32(data, image.width);
    appendBe32(data, image.height);
    appendBytes(data, {image.depth, image.colourType, 0, 0, uint8_t(image.interlaced)});
    return data;
}

Bytes pngFilteredRows(const PngImage& image) {
    const uint32_t step = std::max(1u, pngChannels(image.colourType) * image.depth / 8);
    Bytes out;
    uint32_t rowNumber = 0;
    auto pass = [&](uint32_t x0, uint32_t y0, uint32_t dx, uint32_t dy) {
        if (x0 >= image.width) return;
        Bytes prior;
        for (uint32_t y = y0; y < image.height; y += dy) {
            Bytes row = packRow(image, y, x0, dx);
            appendFiltered(out, row, prior, step, uint8_t(rowNumber++ % 5));
            prior = std::move(row);
        }
    };
    if (!image.interlaced)
        pass(0, 0, 1, 1);
    else
        for (const Adam7Pass& p : kPasses) pass(p.x0, p.y0, p.dx, p.dy);
    return out;
}

Bytes zlibCompress(std::span<const uint8_t> bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    Bytes out(size);
    compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), 9);
    out.resize(size);
    return out;
}

Bytes assemblePng(const PngImage& image, std::span<const uint8_t> zlibStream, size_t idatSize) {
    Bytes file = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    append(file, pngChunk("IHDR", pngHeaderData(image)));
    if (!image.palette.empty()) append(file, pngChunk("PLTE", image.palette));
    if (!image.transparency.empty()) append(file, pngChunk("tRNS", image.transparency));
    for (size_t at = 0; at < zlibStream.size(); at += idatSize)
        append(file, pngChunk("IDAT",
                              zlibStream.subspan(at, std::min(idatSize, zlibStream.size() - at))));
    append(file, pngChunk("IEND", {}));
    return file;
}

Bytes writeBmpFile(const TestPicture& picture, const BmpLayout& layout) {
    const uint32_t pixelSize = layout.depth / 8u;
    const uint32_t rowSize = (picture.width * pixelSize + 3) & ~3u;
    const bool masksAfter = layout.compression == 3 && layout.infoSize == 40;
    const uint32_t offset = 14 + layout.infoSize + (masksAfter ? 12 : 0);
    Bytes file = {'B', 'M'};
    appendLe32(file, offset + rowSize * picture.height);
    appendLe32(file, 0);
    appendLe32(file, offset);
    appendLe32(file, layout.infoSize);
    appendLe32(file, picture.width);
    appendLe32(file, layout.topDown ? uint32_t(-int32_t(picture.height)) : picture.height);
    appendBytes(file, {1, 0, uint8_t(layout.depth), 0});
    appendLe32(file, layout.compression);
    appendLe32(file, rowSize * picture.height);
    for (int i = 0; i < 4; ++i) appendLe32(file, 0);  // resolution, palette counts
    if (masksAfter)
        for (int i = 0; i < 3; ++i) appendLe32(file, layout.masks[i]);
    if (layout.infoSize > 40) {
        for (uint32_t mask : layout.masks) appendLe32(file, mask);
        file.resize(14 + layout.infoSize, 0);
    }
    for (uint32_t k = 0; k < picture.height; ++k) {
        const uint32_t y = layout.topDown ? k : picture.height - 1 - k;
        Bytes row(rowSize, 0);
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.at(x, y);
            if (layout.compression != 3) {
                std::memcpy(row.data() + x * pixelSize, p, pixelSize);
                continue;
            }
            const uint32_t value =
                (p[2] * (layout.masks[0] / 255)) | (p[1] * (layout.masks[1] / 255)) |
                (p[0] * (layout.masks[2] / 255)) | (p[3] * (layout.masks[3] / 255));
            storeLe32(row.data() + 4 * x, value);
        }
        append(file, row);
    }
    return file;
}

Bytes psdZipChannelBlock(std::span<const uint8_t> samples, uint32_t rows, uint32_t width,
                         bool predicted) {
    Bytes block;
    appendBe16(block, predicted ? 3 : 2);
    Bytes stored(samples.begin(), samples.end());
    if (predicted)
        for (uint32_t r = 0; r < rows; ++r)
            for (uint32_t x = width; x-- > 1;)
                stored[size_t(r) * width + x] =
                    uint8_t(stored[size_t(r) * width + x] - stored[size_t(r) * width + x - 1]);
    append(block, zlibCompress(stored));
    return block;
}

Bytes psdChannelBlock(std::span<const uint8_t> samples, uint32_t rows, uint32_t width,
                      bool packed) {
    Bytes block;
    appendBe16(block, packed ? 1 : 0);
    if (!packed) {
        append(block, samples);
        return block;
    }
    Bytes data;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* row = samples.data() + size_t(r) * width;
        const size_t start = data.size();
        for (uint32_t j = 0; j < width;) {
            uint32_t run = 1;
            while (j + run < width && run < 128 && row[j + run] == row[j]) ++run;
            if (run >= 2) {
                data.push_back(uint8_t(257 - run));
                data.push_back(row[j]);
                j += run;
                continue;
            }
            uint32_t count = 1;
            while (j + count < width && count < 128 &&
                   !(j + count + 1 < width && row[j + count] == row[j + count + 1]))
                ++count;
            data.push_back(uint8_t(count - 1));
            data.insert(data.end(), row + j, row + j + count);
            j += count;
        }
        appendBe16(block, uint32_t(data.size() - start));
    }
    append(block, data);
    return block;
}

Bytes pictureChannel(const TestPicture& picture, uint32_t byte, uint32_t left, uint32_t top,
                     uint32_t width, uint32_t height) {
    Bytes samples;
    for (uint32_t y = top; y < top + height; ++y)
        for (uint32_t x = left; x < left + width; ++x) samples.push_back(picture.at(x, y)[byte]);
    return samples;
}

PsdDocument oneLayerDocument(const TestPicture& picture, bool packed) {
    PsdDocument document;
    document.width = picture.width;
    document.height = picture.height;
    document.layerCountField = 1;
    PsdLayer layer;
    layer.bottom = int32_t(picture.height);
    layer.right = int32_t(picture.width);
    const uint32_t w = picture.width, h = picture.height;
    for (auto [id, byte] : {std::pair<int16_t, uint32_t>{-1, 3}, {0, 2}, {1, 1}, {2, 0}})
        layer.channels.push_back(
            {id, psdChannelBlock(pictureChannel(picture, byte, 0, 0, w, h), h, w, packed)});
    document.layers.push_back(std::move(layer));
    Bytes planes;
    for (uint32_t byte : {2u, 1u, 0u}) append(planes, pictureChannel(picture, byte, 0, 0, w, h));
    document.merged = psdChannelBlock(planes, 3 * h, w, false);
    return document;
}

Bytes writePsdFile(const PsdDocument& document) {
    Bytes file = {'8', 'B', 'P', 'S'};
    appendBe16(file, document.version);
    file.resize(12, 0);
    appendBe16(file, document.channelCount);
    appendBe32(file, document.height);
    appendBe32(file, document.width);
    appendBe16(file, document.depth);
    appendBe16(file, document.mode);
    appendBe32(file, 0);  // colour mode data
    appendBe32(file, 0);  // image resources
    Bytes layers;
    if (document.layerSection) {
        Bytes info;
        appendBe16(info, uint16_t(document.layerCountField));
        for (const PsdLayer& layer : document.layers) {
            for (int32_t edge : {layer.top, layer.left, layer.bottom, layer.right})
                appendBe32(info, uint32_t(edge));
            appendBe16(info, uint32_t(layer.channels.size()));
            for (const PsdChannel& channel : layer.channels) {
                appendBe16(info, uint16_t(channel.id));
                appendBe32(info, uint32_t(channel.block.size()));
            }
            appendBytes(info, {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', layer.opacity, 0, 0, 0});
            const Bytes extra = {0, 0, 0, 0,   0,   0,
                                 0, 0, 3, 'o', 'n', 'e'};  // no mask, no ranges, name
            appendBe32(info, uint32_t(extra.size()));
            append(info, extra);
        }
        for (const PsdLayer& layer : document.layers)
            for (const PsdChannel& channel : layer.channels) append(info, channel.block);
        appendBe32(layers, uint32_t(info.size()));
        append(layers, info);
        appendBe32(layers, 0);  // global layer mask information
    }
    appendBe32(file, uint32_t(layers.size()));
    append(file, layers);
    append(file, document.merged);
    return file;
}
