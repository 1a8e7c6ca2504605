#include "codec/internal/deflate_blocks.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace {

// ---- Writing ----

constexpr uint32_t kEndOfBlock = 256;
constexpr uint32_t kCodeLengthSymbols = 19;
constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// Code lengths of at most `limit` bits for symbols of these counts (0: unused), a complete
// code (Kraft sum exactly one), as inflaters require. A single used symbol gets a partner of
// the same length.
void codeLengths(const uint32_t* counts, uint32_t n, uint32_t limit, uint8_t* lengths) {
    uint32_t order[288];
    uint32_t used = 0;
    for (uint32_t s = 0; s < n; ++s) {
        lengths[s] = 0;
        if (counts[s] != 0) order[used++] = s;
    }
    if (used == 0) return;
    if (used == 1) {
        lengths[order[0]] = 1;
        lengths[order[0] == 0 ? 1 : 0] = 1;
        return;
    }
    // Huffman's construction with the leaves in ascending order of count and the inner nodes
    // in the order they are made (also ascending): two queues, no heap.
    std::stable_sort(order, order + used, [&](uint32_t a, uint32_t b) { return counts[a] < counts[b]; });
    uint64_t weight[2 * 288];
    uint32_t parent[2 * 288];
    for (uint32_t i = 0; i < used; ++i) weight[i] = counts[order[i]];
    uint32_t leaf = 0, inner = used, made = used;
    auto takeSmallest = [&] {
        if (leaf < used && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    while (made < 2 * used - 1) {
        const uint32_t a = takeSmallest(), b = takeSmallest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    uint32_t depth[2 * 288];
    depth[made - 1] = 0;
    for (uint32_t i = made - 1; i-- > 0;) depth[i] = depth[parent[i]] + 1;

    // Longer than the limit: cut to it, then lengthen the longest codes still short of it
    // until the code fits, and shorten the longest while there is room, which completes it.
    uint64_t kraft = 0;
    const uint64_t whole = uint64_t(1) << limit;
    uint32_t len[288];
    for (uint32_t i = 0; i < used; ++i) {
        len[i] = std::min(depth[i], limit);
        kraft += uint64_t(1) << (limit - len[i]);
    }
    while (kraft > whole) {
        // Leaves are in ascending order of count: the first of the longest is the rarest.
        uint32_t pick = used;
        for (uint32_t i = 0; i < used; ++i)
            if (len[i] < limit && (pick == used || len[i] > len[pick])) pick = i;
        kraft -= uint64_t(1) << (limit - len[pick] - 1);
        ++len[pick];
    }
    while (kraft < whole) {
        uint32_t pick = used;
        for (uint32_t i = used; i-- > 0;)
            if (len[i] > 1 && (uint64_t(1) << (limit - len[i])) <= whole - kraft &&
                (pick == used || len[i] > len[pick]))
                pick = i;
        if (pick == used) break;
        kraft += uint64_t(1) << (limit - len[pick]);
        --len[pick];
    }
    for (uint32_t i = 0; i < used; ++i) lengths[order[i]] = uint8_t(len[i]);
}

// Canonical codes for the lengths, bit-reversed for writing least significant bit first.
void canonicalCodes(const uint8_t* lengths, uint32_t n, uint16_t* codes) {
    uint32_t count[16] = {}, next[16] = {};
    for (uint32_t s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    for (uint32_t bits = 1, code = 0; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t length = lengths[s];
        if (length == 0) {
            codes[s] = 0;
            continue;
        }
        uint32_t code = next[length]++, reversed = 0;
        for (uint32_t b = 0; b < length; ++b, code >>= 1) reversed = reversed << 1 | (code & 1);
        codes[s] = uint16_t(reversed);
    }
}

constexpr uint8_t kRunExtraBits[kCodeLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0, 0, 2, 3, 7};

// A dynamic block's codes and its header: the code lengths of its literals and lengths, then
// of its distances, run-length coded under a code of their own.
struct BlockPlan {
    uint8_t lengths[kLiteralLengthSymbols + kDistanceSymbols];
    uint16_t codes[kLiteralLengthSymbols + kDistanceSymbols];
    uint32_t literalCount = 257;  // HLIT + 257: the literal and length codes sent
    uint32_t distanceCount = 1;   // HDIST + 1
    // The code lengths run-length coded: symbol, extra bits' value.
    uint8_t runSymbols[kLiteralLengthSymbols + kDistanceSymbols];
    uint8_t runExtra[kLiteralLengthSymbols + kDistanceSymbols];
    uint32_t runs = 0;
    uint8_t lengthLengths[kCodeLengthSymbols];
    uint16_t lengthCodes[kCodeLengthSymbols];
    uint32_t codeLengthCount = 4;  // HCLEN + 4
    uint64_t bits = 0;             // the whole block: its 3 bits of BFINAL and BTYPE, header, body
};

// Codes for the counts (the end of block counted once here), and the header that sends them.
void planBlock(const DeflateCounts& counts, BlockPlan& plan) {
    uint32_t literals[kLiteralLengthSymbols];
    std::copy(counts.literals, counts.literals + kLiteralLengthSymbols, literals);
    literals[kEndOfBlock] = 1;
    codeLengths(literals, kLiteralLengthSymbols, 15, plan.lengths);
    uint8_t* distanceLengths = plan.lengths + kLiteralLengthSymbols;
    codeLengths(counts.distances, kDistanceSymbols, 15, distanceLengths);
    // No match: two distance codes of one bit, never used, a complete code every inflater takes.
    if (std::all_of(counts.distances, counts.distances + kDistanceSymbols,
                    [](uint32_t c) { return c == 0; }))
        distanceLengths[0] = distanceLengths[1] = 1;
    canonicalCodes(plan.lengths, kLiteralLengthSymbols, plan.codes);
    canonicalCodes(distanceLengths, kDistanceSymbols, plan.codes + kLiteralLengthSymbols);
    plan.literalCount = kLiteralLengthSymbols;
    while (plan.literalCount > 257 && plan.lengths[plan.literalCount - 1] == 0) --plan.literalCount;
    plan.distanceCount = kDistanceSymbols;
    while (plan.distanceCount > 1 && distanceLengths[plan.distanceCount - 1] == 0)
        --plan.distanceCount;

    // The lengths sent, literals and lengths then distances, as one sequence.
    uint8_t sent[kLiteralLengthSymbols + kDistanceSymbols];
    std::copy(plan.lengths, plan.lengths + plan.literalCount, sent);
    std::copy(distanceLengths, distanceLengths + plan.distanceCount, sent + plan.literalCount);
    const uint32_t total = plan.literalCount + plan.distanceCount;
    for (uint32_t i = 0; i < total;) {
        const uint8_t value = sent[i];
        uint32_t run = 1;
        while (i + run < total && sent[i + run] == value) ++run;
        i += run;
        if (value == 0) {
            while (run >= 11) {
                const uint32_t take = std::min(run, 138u);
                plan.runSymbols[plan.runs] = 18;
                plan.runExtra[plan.runs++] = uint8_t(take - 11);
                run -= take;
            }
            if (run >= 3) {
                plan.runSymbols[plan.runs] = 17;
                plan.runExtra[plan.runs++] = uint8_t(run - 3);
                run = 0;
            }
        } else {
            plan.runSymbols[plan.runs] = value;
            plan.runExtra[plan.runs++] = 0;
            --run;
            while (run >= 3) {
                const uint32_t take = std::min(run, 6u);
                plan.runSymbols[plan.runs] = 16;
                plan.runExtra[plan.runs++] = uint8_t(take - 3);
                run -= take;
            }
        }
        for (; run > 0; --run) {
            plan.runSymbols[plan.runs] = value;
            plan.runExtra[plan.runs++] = 0;
        }
    }
    uint32_t runCounts[kCodeLengthSymbols] = {};
    for (uint32_t r = 0; r < plan.runs; ++r) ++runCounts[plan.runSymbols[r]];
    codeLengths(runCounts, kCodeLengthSymbols, 7, plan.lengthLengths);
    canonicalCodes(plan.lengthLengths, kCodeLengthSymbols, plan.lengthCodes);
    plan.codeLengthCount = kCodeLengthSymbols;
    while (plan.codeLengthCount > 4 &&
           plan.lengthLengths[kCodeLengthOrder[plan.codeLengthCount - 1]] == 0)
        --plan.codeLengthCount;

    plan.bits = 3 + 5 + 5 + 4 + 3 * uint64_t(plan.codeLengthCount);
    for (uint32_t r = 0; r < plan.runs; ++r)
        plan.bits += plan.lengthLengths[plan.runSymbols[r]] + kRunExtraBits[plan.runSymbols[r]];
    plan.bits += plan.lengths[kEndOfBlock];
    for (uint32_t s = 0; s < kLiteralLengthSymbols; ++s) {
        const uint32_t extra = s > 256 ? kDeflateTables.lengthExtraBits[s - 257] : 0;
        plan.bits += uint64_t(counts.literals[s]) * (plan.lengths[s] + extra);
    }
    for (uint32_t s = 0; s < kDistanceSymbols; ++s)
        plan.bits += uint64_t(counts.distances[s]) *
                     (distanceLengths[s] + kDeflateTables.distanceExtraBits[s]);
}

// The block's header: BFINAL, BTYPE 2, the counts and the run-length coded code lengths.
void writeBlockHeader(BitWriter& bits, const BlockPlan& plan, bool final) {
    bits.put(final ? 1 : 0, 1);
    bits.put(2, 2);  // dynamic Huffman codes
    bits.put(plan.literalCount - 257, 5);
    bits.put(plan.distanceCount - 1, 5);
    bits.put(plan.codeLengthCount - 4, 4);
    for (uint32_t i = 0; i < plan.codeLengthCount; ++i)
        bits.put(plan.lengthLengths[kCodeLengthOrder[i]], 3);
    for (uint32_t r = 0; r < plan.runs; ++r) {
        const uint32_t symbol = plan.runSymbols[r];
        bits.put(plan.lengthCodes[symbol], plan.lengthLengths[symbol]);
        if (kRunExtraBits[symbol] != 0) bits.put(plan.runExtra[r], kRunExtraBits[symbol]);
    }
}

// The bytes a band of blocks takes that ends `bits` into its last byte.
uint64_t endedSize(uint64_t bits, bool last) {
    return last ? (bits + 7) / 8 : (bits + 3 + 7) / 8 + 4;
}

// Ends a band: padding when it ends the stream, otherwise an empty stored block.
void endBand(BitWriter& bits, bool last) {
    if (!last) bits.put(0, 3);
    bits.align();
    if (!last) {
        storeLe32(bits.out, 0xFFFF0000u);
        bits.out += 4;
    }
}

// A BitWriter's bits continued by whole 8-byte stores (kWriteSlack), without a branch: up to
// 56 bits added between flushes, each flush keeping at most 7.
class WordWriter {
public:
    explicit WordWriter(BitWriter& bits) : out_(bits.out), buffer_(bits.buffer), count_(bits.count) {
        while (count_ >= 8) {
            *out_++ = uint8_t(buffer_);
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    void add(uint64_t bits, uint32_t n) {
        buffer_ |= bits << count_;
        count_ += n;
    }
    // An entry of bits | count << 32.
    void add(uint64_t entry) { add(entry & 0xFFFFFFFF, uint32_t(entry >> 32)); }
    void flush() {
        std::memcpy(out_, &buffer_, 8);
        out_ += count_ >> 3;
        buffer_ >>= count_ & ~7u;
        count_ &= 7;
    }
    void finish(BitWriter& bits) const {
        bits.out = out_;
        bits.buffer = buffer_;
        bits.count = count_;
    }

private:
    uint8_t* out_;
    uint64_t buffer_;
    uint32_t count_;
};

// ---- Reading ----

// Bit positions in a stream that has 8 readable bytes past its end.
struct BitReader {
    const uint8_t* data;
    uint64_t position = 0;

    uint64_t peek() const { return loadWord64(data + (position >> 3)) >> (position & 7); }
    uint32_t take(uint32_t n) {
        const uint32_t value = uint32_t(peek() & ((uint64_t(1) << n) - 1));
        position += n;
        return value;
    }
};

// A table of 2^bits entries for a code's lengths, `bits` its longest code: entry = symbol |
// (the code's length plus the extra bits that follow it) << 9, 0 for bit patterns no code
// starts with. False for an over-subscribed code.
constexpr uint32_t kTableBits = 15;
struct DecodeTable {
    uint16_t entries[1u << kTableBits];
    uint32_t bits = 0;
};

bool buildTable(const uint8_t* lengths, uint32_t n, const uint8_t* extraBits, DecodeTable& table) {
    uint32_t longest = 0;
    for (uint32_t s = 0; s < n; ++s) longest = std::max<uint32_t>(longest, lengths[s]);
    table.bits = longest;
    if (longest == 0) return true;
    uint64_t kraft = 0;
    for (uint32_t s = 0; s < n; ++s)
        if (lengths[s] != 0) kraft += uint64_t(1) << (kTableBits - lengths[s]);
    if (kraft > (uint64_t(1) << kTableBits)) return false;
    const uint32_t size = 1u << longest;
    // A complete code fills every entry.
    if (kraft < (uint64_t(1) << kTableBits)) std::memset(table.entries, 0, size * sizeof(uint16_t));
    uint16_t codes[288];
    canonicalCodes(lengths, n, codes);
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t length = lengths[s];
        if (length == 0) continue;
        const uint16_t entry = uint16_t(s | (length + (extraBits ? extraBits[s] : 0)) << 9);
        for (uint32_t i = codes[s]; i < size; i += 1u << length) table.entries[i] = entry;
    }
    return true;
}

// The extra bits after each length and distance symbol.
struct ExtraBits {
    uint8_t literals[288] = {};
    uint8_t distances[30] = {};
    constexpr ExtraBits() {
        for (uint32_t s = 0; s < 29; ++s) literals[257 + s] = kDeflateTables.lengthExtraBits[s];
        for (uint32_t d = 0; d < 30; ++d) distances[d] = kDeflateTables.distanceExtraBits[d];
    }
};
constexpr ExtraBits kExtraBits;

struct Tables {
    DecodeTable literals;
    DecodeTable distances;
};

// Reads a dynamic block's header into the tables.
bool readDynamicHeader(BitReader& in, Tables& tables) {
    const uint32_t literalCount = in.take(5) + 257;
    const uint32_t distanceCount = in.take(5) + 1;
    const uint32_t lengthCount = in.take(4) + 4;
    if (literalCount > 286 || distanceCount > 30) return false;
    uint8_t lengthLengths[kCodeLengthSymbols] = {};
    for (uint32_t i = 0; i < lengthCount; ++i) lengthLengths[kCodeLengthOrder[i]] = uint8_t(in.take(3));
    if (!buildTable(lengthLengths, kCodeLengthSymbols, nullptr, tables.literals)) return false;
    const uint32_t lengthBits = tables.literals.bits;
    if (lengthBits == 0) return false;
    uint8_t lengths[286 + 30];
    const uint32_t total = literalCount + distanceCount;
    for (uint32_t i = 0; i < total;) {
        const uint16_t entry =
            tables.literals.entries[in.peek() & ((uint64_t(1) << lengthBits) - 1)];
        if ((entry >> 9) == 0) return false;
        in.position += entry >> 9;
        const uint32_t symbol = entry & 511;
        uint32_t repeat = 1;
        uint8_t value = uint8_t(symbol);
        if (symbol == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + in.take(2);
        } else if (symbol == 17) {
            value = 0;
            repeat = 3 + in.take(3);
        } else if (symbol == 18) {
            value = 0;
            repeat = 11 + in.take(7);
        }
        if (i + repeat > total) return false;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (lengths[kEndOfBlock] == 0) return false;
    return buildTable(lengths, literalCount, kExtraBits.literals, tables.literals) &&
           buildTable(lengths + literalCount, distanceCount, kExtraBits.distances,
                      tables.distances);
}

void fixedTables(Tables& tables) {
    uint8_t lengths[288 + 30];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    std::memset(lengths + 288, 5, 30);
    buildTable(lengths, 288, kExtraBits.literals, tables.literals);
    buildTable(lengths + 288, 30, kExtraBits.distances, tables.distances);
}

// Skips a compressed block's symbols up to its end of block; false past `limit` bits or on a
// code no table holds.
bool skipSymbols(BitReader& in, const Tables& tables, uint64_t limit) {
    const uint64_t literalMask = (uint64_t(1) << tables.literals.bits) - 1;
    const uint64_t distanceMask = (uint64_t(1) << tables.distances.bits) - 1;
    const uint16_t* literals = tables.literals.entries;
    const uint16_t* distances = tables.distances.entries;
    uint64_t position = in.position;
    for (;;) {
        if (position > limit) return false;
        // Two literals of a 64-bit window when the first is one (15 + 15 + 7 bits at most).
        const uint64_t window = loadWord64(in.data + (position >> 3)) >> (position & 7);
        uint16_t entry = literals[window & literalMask];
        uint32_t symbol = entry & 511;
        if (symbol < 256) {
            const uint32_t length = entry >> 9;
            if (length == 0) return false;
            position += length;
            entry = literals[(window >> length) & literalMask];
            symbol = entry & 511;
            if (symbol < 256) {
                if ((entry >> 9) == 0) return false;
                position += entry >> 9;
                continue;
            }
            if (symbol == kEndOfBlock) {
                in.position = position + (entry >> 9);
                return true;
            }
            continue;  // a length: read again from its start
        }
        if (symbol == kEndOfBlock) {
            in.position = position + (entry >> 9);
            return true;
        }
        if (symbol > 285 || tables.distances.bits == 0) return false;
        position += entry >> 9;  // the code and its extra bits
        const uint16_t distance = distances[(loadWord64(in.data + (position >> 3)) >>
                                             (position & 7)) & distanceMask];
        if ((distance >> 9) == 0 || (distance & 511) > 29) return false;
        position += distance >> 9;
    }
}

}  // namespace

uint64_t huffmanOnlySize(const uint32_t (&counts)[256], bool last) {
    DeflateCounts all;
    std::copy(counts, counts + 256, all.literals);
    BlockPlan plan;
    planBlock(all, plan);
    return endedSize(plan.bits, last);
}

uint64_t writeHuffmanOnly(std::span<const uint8_t> in, const uint32_t (&counts)[256], bool last,
                          std::span<uint8_t> out) {
    DeflateCounts all;
    std::copy(counts, counts + 256, all.literals);
    BlockPlan plan;
    planBlock(all, plan);
    const uint64_t size = endedSize(plan.bits, last);
    if (out.size() < size + kWriteSlack) return 0;
    BitWriter bits{out.data()};
    writeBlockHeader(bits, plan, last);
    // Two literals a step: each code is at most 15 bits, so both fit one put.
    uint32_t packed[256];
    for (uint32_t b = 0; b < 256; ++b) packed[b] = uint32_t(plan.codes[b]) | uint32_t(plan.lengths[b]) << 16;
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    for (; end - p >= 2; p += 2) {
        const uint32_t first = packed[p[0]], second = packed[p[1]];
        const uint32_t firstLength = first >> 16;
        bits.put((first & 0xFFFF) | (second & 0xFFFF) << firstLength, firstLength + (second >> 16));
    }
    if (p < end) bits.put(packed[*p] & 0xFFFF, packed[*p] >> 16);
    bits.put(plan.codes[kEndOfBlock], plan.lengths[kEndOfBlock]);
    endBand(bits, last);
    return uint64_t(bits.out - out.data());
}

bool writeTokenBlock(const DeflateTokens& tokens, bool final, BandWriter& band) {
    BlockPlan plan;
    planBlock(tokens.counts, plan);
    // Room for the block and the band's end after it (an empty stored block at most), less
    // what the bit writer holds.
    const uint64_t room = uint64_t(band.end - band.bits.out);
    if ((band.bits.count + plan.bits + 3 + 7) / 8 + 4 + kWriteSlack > room) return false;
    writeBlockHeader(band.bits, plan, final);

    // Each symbol's code and its extra bits as one put: bits | count << 32.
    uint64_t literals[256], lengths[kMatchLongest - 2], distances[kDistanceSymbols];
    auto entry = [&](uint32_t symbol, uint32_t extra, uint32_t extraBits) {
        return uint64_t(plan.codes[symbol] | extra << plan.lengths[symbol]) |
               uint64_t(plan.lengths[symbol] + extraBits) << 32;
    };
    for (uint32_t b = 0; b < 256; ++b) literals[b] = entry(b, 0, 0);
    for (uint32_t length = 3; length <= kMatchLongest; ++length) {
        const uint32_t l = kDeflateTables.lengthSymbol[length - 3];
        lengths[length - 3] = entry(257 + l, length - kDeflateTables.lengthBase[l],
                                    kDeflateTables.lengthExtraBits[l]);
    }
    for (uint32_t d = 0; d < kDistanceSymbols; ++d)
        distances[d] = entry(kLiteralLengthSymbols + d, 0, kDeflateTables.distanceExtraBits[d]);

    // A whole word stored after each match and after every three literals: at most 7 bits are
    // held before them, and a match adds at most 48.
    WordWriter words(band.bits);
    const uint8_t* p = tokens.input;
    for (uint32_t i = 0; i < tokens.count; ++i) {
        const uint32_t token = tokens.tokens[i];
        if (token <= DeflateTokens::kLongestRun) {
            const uint8_t* end = p + token;
            for (; end - p >= 3; p += 3) {
                words.add(literals[p[0]]);
                words.add(literals[p[1]]);
                words.add(literals[p[2]]);
                words.flush();
            }
            for (; p < end; ++p) {
                words.add(literals[*p]);
                words.flush();
            }
            continue;
        }
        const uint32_t length = token >> 16, distance = token & 0xFFFF;
        words.add(lengths[length - 3]);
        const uint32_t d = distanceSymbol(distance);
        words.add(distances[d] + (uint64_t(distance - kDeflateTables.distanceBase[d])
                                  << plan.lengths[kLiteralLengthSymbols + d]));
        words.flush();
        p += length;
    }
    words.finish(band.bits);
    band.bits.put(plan.codes[kEndOfBlock], plan.lengths[kEndOfBlock]);
    return true;
}

uint64_t endTokenBand(BandWriter& band, bool last) {
    endBand(band.bits, last);
    return uint64_t(band.bits.out - band.start);
}

uint64_t storedSize(uint64_t length, bool last) {
    const uint64_t blocks = std::max<uint64_t>(1, (length + 65534) / 65535);
    return length + 5 * blocks + (last ? 0 : 5);
}

uint64_t writeStored(std::span<const uint8_t> in, bool last, std::span<uint8_t> out) {
    const uint64_t size = storedSize(in.size(), last);
    if (out.size() < size) return 0;
    uint8_t* o = out.data();
    uint64_t at = 0;
    do {
        const uint32_t take = uint32_t(std::min<uint64_t>(65535, in.size() - at));
        const bool final = last && at + take == in.size();
        o[0] = final ? 1 : 0;
        storeLe16(o + 1, take);
        storeLe16(o + 3, ~take & 0xFFFF);
        std::memcpy(o + 5, in.data() + at, take);
        o += 5 + take;
        at += take;
    } while (at < in.size());
    if (!last) {
        o[0] = 0;
        storeLe32(o + 1, 0xFFFF0000u);
        o += 5;
    }
    return uint64_t(o - out.data());
}

uint64_t continueStream(uint8_t* stream, uint64_t length) {
    Tables tables;
    BitReader in{stream};
    const uint64_t limit = 8 * length;
    uint64_t finalHeader = 0;
    for (bool final = false; !final;) {
        if (in.position + 3 > limit) return 0;
        finalHeader = in.position;
        final = in.take(1) != 0;
        const uint32_t type = in.take(2);
        if (type == 0) {
            in.position = (in.position + 7) & ~uint64_t(7);
            if (in.position + 32 > limit) return 0;
            const uint32_t stored = in.take(16);
            if (in.take(16) != (~stored & 0xFFFF)) return 0;
            in.position += 8 * uint64_t(stored);
        } else if (type == 1 || type == 2) {
            if (type == 1)
                fixedTables(tables);
            else if (!readDynamicHeader(in, tables))
                return 0;
            if (!skipSymbols(in, tables, limit)) return 0;
        } else {
            return 0;
        }
        if (in.position > limit) return 0;
    }
    const uint64_t end = in.position;
    if (end + 8 <= limit) return 0;  // bytes past the final block: not a stream of its own
    stream[finalHeader >> 3] &= uint8_t(~(1u << (finalHeader & 7)));
    // Three zero bits (not final, stored), zeros to the byte's end, then LEN 0 and NLEN.
    uint64_t byte = end >> 3;
    if ((end & 7) != 0) stream[byte++] &= uint8_t((1u << (end & 7)) - 1);
    const uint64_t aligned = (end + 3 + 7) >> 3;
    for (; byte < aligned; ++byte) stream[byte] = 0;
    storeLe32(stream + aligned, 0xFFFF0000u);
    return aligned + 4;
}
