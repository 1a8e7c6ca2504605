// Deflate (RFC 1951) at the level of its blocks, for the PNG writer's bands: each band is a run
// of blocks that a whole zlib stream strings together, so a band that does not end the stream
// must end on a non-final block and a byte boundary (an empty stored block, as zlib's sync
// flush writes it). These write such bands themselves (literals under a Huffman code made for
// the band, or stored blocks) and turn a complete stream written by another compressor into
// one that goes on.
#pragma once

#include <bit>
#include <cstdint>
#include <span>

#include "common/bytes.h"

// The bytes of the empty stored block that ends a band that goes on, at most: 3 bits, the
// padding to a byte, LEN and NLEN.
inline constexpr uint32_t kSyncFlushBytes = 5;
// The writers below store whole words: the room they need past the bytes they write.
inline constexpr uint32_t kWriteSlack = 8;

// Literals only, under one dynamic Huffman block whose code is made for these bytes (every
// byte a literal, no match): the fastest code for bytes that repeat little, such as a noisy
// photo's filtered rows. `last`: the block ends the stream (BFINAL, then padding to a byte);
// otherwise an empty stored block follows. Returns the bytes written, or 0 when out is short
// (it needs kWriteSlack bytes past them).
// huffmanOnlySize tells the length beforehand from the byte counts (256 of them).
uint64_t huffmanOnlySize(const uint32_t (&counts)[256], bool last);
uint64_t writeHuffmanOnly(std::span<const uint8_t> in, const uint32_t (&counts)[256], bool last,
                          std::span<uint8_t> out);

// Stored blocks of at most 65,535 bytes, the last one final when `last`; otherwise an empty
// stored block follows. Returns the bytes written (storedSize), or 0 when out is short.
uint64_t storedSize(uint64_t length, bool last);
uint64_t writeStored(std::span<const uint8_t> in, bool last, std::span<uint8_t> out);

// A raw deflate stream of `length` bytes at stream, complete (its last block final), made
// into one that goes on: the final block's BFINAL bit cleared and an empty stored block
// written after its end, padded to a byte. stream must have kSyncFlushBytes of room past
// length, and 8 readable bytes past that. Returns the new length, or 0 when the stream does not
// parse (it then may be changed).
uint64_t continueStream(uint8_t* stream, uint64_t length);

// ---- Blocks of literals and matches ----

inline constexpr uint32_t kLiteralLengthSymbols = 286;  // 256 bytes, end of block, 29 lengths
inline constexpr uint32_t kDistanceSymbols = 30;
inline constexpr uint32_t kMatchLongest = 258;
inline constexpr uint32_t kMatchFarthest = 32768;

// Deflate's length and distance symbols: bases and extra bits, and each length's symbol.
struct DeflateTables {
    uint16_t lengthBase[29] = {};
    uint8_t lengthExtraBits[29] = {};
    uint16_t distanceBase[30] = {};
    uint8_t distanceExtraBits[30] = {};
    uint8_t lengthSymbol[256] = {};  // by length - 3
    constexpr DeflateTables() {
        for (uint32_t s = 0, base = 3; s < 28; ++s) {
            lengthExtraBits[s] = uint8_t(s < 8 ? 0 : s / 4 - 1);
            lengthBase[s] = uint16_t(base);
            for (uint32_t l = base; l < base + (1u << lengthExtraBits[s]); ++l)
                lengthSymbol[l - 3] = uint8_t(s);
            base += 1u << lengthExtraBits[s];
        }
        lengthBase[28] = 258;
        lengthSymbol[255] = 28;
        for (uint32_t s = 0, base = 1; s < 30; ++s) {
            distanceExtraBits[s] = uint8_t(s < 4 ? 0 : s / 2 - 1);
            distanceBase[s] = uint16_t(base);
            base += 1u << distanceExtraBits[s];
        }
    }
};
inline constexpr DeflateTables kDeflateTables;

// The symbol of distance 1 to 32,768: two per power of two past 4.
inline uint32_t distanceSymbol(uint32_t distance) {
    const uint32_t d = distance - 1;
    if (d < 4) return d;
    const uint32_t top = uint32_t(std::bit_width(d)) - 1;
    return 2 * top + (d >> (top - 1) & 1);
}

struct DeflateCounts {
    uint32_t literals[kLiteralLengthSymbols] = {};  // bytes, end of block (unused), lengths
    uint32_t distances[kDistanceSymbols] = {};
};

// One block's literals and matches in order, over the bytes they stand for (from `input`), and
// their symbols' counts. A token is a run of literals, its length (below 65,536), or a match,
// length << 16 | distance (lengths 3 to 258, distances to 32,768).
struct DeflateTokens {
    static constexpr uint32_t kLongestRun = 65535;

    const uint8_t* input;  // the block's first byte
    const uint8_t* next;   // the byte after its last token's
    uint32_t* tokens;
    uint32_t count = 0;
    DeflateCounts counts;

    // The n bytes from `next` as literals, 1 <= n <= kLongestRun.
    void literals(uint32_t n) {
        tokens[count++] = n;
        for (uint32_t k = 0; k < n; ++k) ++counts.literals[next[k]];
        next += n;
    }
    void match(uint32_t length, uint32_t distance) {
        tokens[count++] = length << 16 | distance;
        ++counts.literals[257 + kDeflateTables.lengthSymbol[length - 3]];
        ++counts.distances[distanceSymbol(distance)];
        next += length;
    }
    // Empty, for the block that starts where this one ended.
    void clear() {
        input = next;
        count = 0;
        counts = {};
    }
};

// Bits, least significant first, into memory known to have room (sizes are worked out before
// writing); a put of up to 32 bits.
struct BitWriter {
    uint8_t* out;
    uint64_t buffer = 0;
    uint32_t count = 0;

    void put(uint32_t bits, uint32_t n) {
        buffer |= uint64_t(bits) << count;
        count += n;
        if (count >= 32) {
            storeLe32(out, uint32_t(buffer));
            out += 4;
            buffer >>= 32;
            count -= 32;
        }
    }
    // Pads with zero bits to a byte and writes what is held.
    void align() {
        while (count > 0) {
            *out++ = uint8_t(buffer);
            buffer >>= 8;
            count = count >= 8 ? count - 8 : 0;
        }
        buffer = 0;
    }
};

// A band of token blocks being written into out.
struct BandWriter {
    BitWriter bits;
    uint8_t* start;
    uint8_t* end;
    explicit BandWriter(std::span<uint8_t> out)
        : bits{out.data()}, start(out.data()), end(out.data() + out.size()) {}
};

// Writes the tokens as one dynamic block under codes made for their counts, final (BFINAL)
// when asked. False when out has no room for it and the band's end after it (nothing is
// written then).
bool writeTokenBlock(const DeflateTokens& tokens, bool final, BandWriter& band);
// Ends the band as writeHuffmanOnly does and returns its length.
uint64_t endTokenBand(BandWriter& band, bool last);
