// Deflate (RFC 1951) at the level of its blocks, for the PNG writer's bands: each band is a run
// of blocks that a whole zlib stream strings together, so a band that does not end the stream
// must end on a non-final block and a byte boundary (an empty stored block, as zlib's sync
// flush writes it). These write such bands themselves (literals under a Huffman code made for
// the band, or stored blocks) and turn a complete stream written by another compressor into
// one that goes on.
#pragma once

#include <cstdint>
#include <span>

// The bytes of the empty stored block that ends a band that goes on, at most: 3 bits, the
// padding to a byte, LEN and NLEN.
inline constexpr uint32_t kSyncFlushBytes = 5;

// Literals only, under one dynamic Huffman block whose code is made for these bytes (every
// byte a literal, no match): the fastest code for bytes that repeat little, such as a noisy
// photo's filtered rows. `last`: the block ends the stream (BFINAL, then padding to a byte);
// otherwise an empty stored block follows. Returns the bytes written, or 0 when out is short.
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
