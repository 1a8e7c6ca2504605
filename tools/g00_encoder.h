// A G00 encoder for the tests and the sample tools: full-frame files and region-based files
// around the codec's compressor, a greedy compressor to measure it against, and hooks for
// writing the odd files the decoder must survive.
// It is a tool, not part of the shipped codec: it allocates freely and returns plain vectors.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "codec/internal/g00_layout.h"

enum class LzMode : uint8_t {
    compress,      // the codec's compressor (codec/lz_encoder.h): the shortest stream
    greedy,        // a hash-chain match finder taking the longest match it finds at each
                   // position: the yardstick the codec's compressor must never lose to
    literalsOnly,  // every unit a literal: control bytes of 0xFF (the last one may be partial)
};

// How the pixels handed to the full-frame encoder are laid out.
enum class PixelLayout : uint8_t {
    bgr,   // 3 bytes per pixel
    bgra,  // 4 bytes per pixel, the alpha byte is not stored (type 0 has none)
};

// Item by item writer of an LZ stream: reserves a control byte before every 8 items and sets
// its bits (least significant first: 1 literal, 0 copy). Tests use it to write streams by hand.
class LzStreamWriter {
public:
    // Pixel variant literal: blue, green, red.
    void literalPixel(uint8_t blue, uint8_t green, uint8_t red);
    // Byte variant literal.
    void literalByte(uint8_t value);
    // A copy word as it is stored: distance << 4 | code; the code is count - 1 (pixels) or
    // count - 2 (bytes). Any distance 0..4095 and code 0..15 may be written, 0 included.
    void copyWord(uint32_t distance, uint32_t code);
    void copyPixels(uint32_t distance, uint32_t count) { copyWord(distance, count - 1); }
    void copyBytes(uint32_t distance, uint32_t count) { copyWord(distance, count - 2); }
    // Appends a raw byte outside the item structure (e.g. a cut-off item or a trailing control).
    void rawByte(uint8_t value) { stream_.push_back(value); }

    const std::vector<uint8_t>& stream() const { return stream_; }
    std::vector<uint8_t> take() { return std::move(stream_); }

private:
    void item(bool literal);

    std::vector<uint8_t> stream_;
    size_t control_ = 0;  // position of the current control byte
    size_t items_ = 0;
};

// Pixel variant (type 0). Input: pixel colours, 3 or 4 bytes each per the layout. A literal is
// 3 bytes (blue, green, red); a copy word is distance in pixels << 4 | (count - 1), count
// 1..16, distance 1..4095 (overlapping copies such as runs included).
std::vector<uint8_t> compressLzPixels(std::span<const uint8_t> pixels, PixelLayout layout,
                                      LzMode mode);

// Byte variant (type 2): literal 1 byte; copy word distance << 4 | (count - 2), count 2..17.
std::vector<uint8_t> compressLzBytes(std::span<const uint8_t> bytes, LzMode mode);

// A complete type-0 file: header, compressed length (8 + stream size, counted from offset 5),
// decompressed length (width * height * 4), stream. pixels holds width * height pixels.
std::vector<uint8_t> encodeG00FullFrame(uint16_t width, uint16_t height,
                                        std::span<const uint8_t> pixels, PixelLayout layout,
                                        LzMode mode);

// Lengths written into a file's two size fields; unset fields take their proper values.
struct G00Lengths {
    std::optional<uint32_t> compressed;  // counted from the field's own offset
    std::optional<uint32_t> decompressed;
};

// A type-0 file around a given stream (any bytes: tests write malformed ones).
std::vector<uint8_t> assembleG00FullFrame(uint16_t width, uint16_t height,
                                          std::span<const uint8_t> stream, G00Lengths lengths = {},
                                          uint8_t type = 0);

// ---- Region-based files (type 2) ----

struct G00RegionRecord {
    uint32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // whole 32-bit fields; the decoder uses low halves
    uint32_t unused[2] = {0, 0};              // offsets 16 and 20, never read
};

struct G00Part {
    uint16_t x = 0, y = 0;  // relative to the region origin
    uint16_t width = 0, height = 0;
    // BGRA, written as given: normally width * height * 4 bytes. Fewer or more bytes make the
    // next part header (or the end of the data) fall elsewhere, which tests use on purpose.
    std::vector<uint8_t> pixels;
};

struct G00Entry {
    std::vector<G00Part> parts;
    bool hasBlock = true;                    // false: no PartBlock is written for this entry
    std::optional<uint32_t> offsetField;     // default: where its block was written (0 if none)
    std::optional<uint32_t> lengthField;     // default: the block's size; 0xFFFFFFFF etc. = absent
    std::optional<uint16_t> partCountField;  // default: parts.size()

    static G00Entry absent(uint32_t lengthField = 0xFFFFFFFFu) {
        G00Entry entry;
        entry.hasBlock = false;
        entry.lengthField = lengthField;
        return entry;
    }
};

struct G00RegionImage {
    uint8_t type = 2;
    uint16_t width = 0, height = 0;
    std::vector<G00RegionRecord> regions;      // every record given is written
    std::optional<uint32_t> regionCountField;  // default: regions.size()
    std::vector<G00Entry> entries;             // PartTable entries, in order
    std::optional<uint32_t> entryCountField;   // default: entries.size()
    std::vector<uint8_t> trailer;              // bytes appended to the decompressed data
};

// The decompressed data: PartTable, then each entry's PartBlock in entry order, then the trailer.
std::vector<uint8_t> buildPartData(const G00RegionImage& image);

// Header and region table of the image, the two size fields and the given stream.
std::vector<uint8_t> assembleG00Regions(const G00RegionImage& image,
                                        std::span<const uint8_t> stream, uint32_t dataSize,
                                        G00Lengths lengths = {});

// A complete type-2 file: buildPartData compressed with the byte variant.
std::vector<uint8_t> encodeG00Regions(const G00RegionImage& image, LzMode mode);
