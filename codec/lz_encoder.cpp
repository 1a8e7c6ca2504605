#include "codec/internal/lz_encoder.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/bytes.h"

namespace {

constexpr uint32_t kMaxDistance = 4095;  // 12 bits of the copy word
constexpr uint32_t kWindow = 4096;       // ring slots: a link is read only while within reach
constexpr uint32_t kHashBits = 14;
constexpr uint32_t kHashSlots = uint32_t(1) << kHashBits;
constexpr uint32_t kPairSlots = 65536;  // every pair of bytes, a 16-bit position each
constexpr uint32_t kPrefetch = 8;       // positions ahead
constexpr int64_t kChainReserve = 65536;  // chain reads allowed beyond the share
constexpr int64_t kChainShare = 2;        // chain reads allowed per position
constexpr uint64_t kTaskUnits = uint64_t(1) << 17;  // the fewest positions a search task takes

// Item costs in bits: the control bit and the item's bytes.
constexpr uint64_t kCopyBits = 1 + 16;

// The work area: the roots of the match trees (positions + 1, 0 for none), the trees' links,
// for bytes the chains of three-byte hashes and the pair table, then the longest match at every
// position (distance and length; the length later becomes the chosen item). The links need no
// clearing: a link is only read at a position already inserted.
struct Work {
    uint32_t* roots;     // one tree for each hash of the leading units
    uint32_t* children;  // two links (lesser, greater) for each position, by position mod kWindow
    uint32_t* tripleHeads;  // bytes: the newest position + 1 of each hash of three bytes
    uint32_t* tripleLinks;  // bytes: the next older one of the same hash, by position mod kWindow
    uint16_t* newest;       // bytes: the newest position of each pair of bytes, its low 16 bits
    uint16_t* distances;
    uint8_t* lengths;
};

constexpr uint64_t kTableBytes = (2 * uint64_t(kHashSlots) + 3 * kWindow) * 4 + kPairSlots * 2;

// Each task's tables, then the matches of every position.
Work layOut(uint8_t* work, uint64_t units, uint32_t task, uint32_t tasks) {
    Work w;
    w.roots = reinterpret_cast<uint32_t*>(work + task * kTableBytes);
    w.children = w.roots + kHashSlots;
    w.tripleHeads = w.children + 2 * kWindow;
    w.tripleLinks = w.tripleHeads + kHashSlots;
    w.newest = reinterpret_cast<uint16_t*>(w.tripleLinks + kWindow);
    w.distances = reinterpret_cast<uint16_t*>(work + tasks * kTableBytes);
    w.lengths = work + tasks * kTableBytes + 2 * units;
    return w;
}

// Pixels compared by their 24-bit colour, read in place from 3- or 4-byte units.
template <uint32_t Stride>
struct PixelUnits {
    static constexpr uint32_t minMatch = 1;
    static constexpr uint32_t treeMatch = 1;  // the shortest match the trees are sure to find
    static constexpr uint32_t maxMatch = 16;
    static constexpr uint64_t literalBits = 1 + 24;
    const uint8_t* base;

    uint32_t at(uint32_t i) const {
        const uint8_t* p = base + uint64_t(i) * Stride;
        if constexpr (Stride == 4) return loadWord32(p) & 0x00FFFFFFu;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    }
    // One colour: a copy of one pixel beats a literal, so every match starts in the same tree.
    uint32_t rootHash(uint32_t i) const { return (at(i) * 2654435761u) >> (32 - kHashBits); }
    void prefetch(uint32_t i, const Work& w) const { __builtin_prefetch(w.roots + rootHash(i)); }
    uint32_t extend(uint32_t from, uint32_t pos, uint32_t n, uint32_t limit) const {
        while (n < limit && at(from + n) == at(pos + n)) ++n;
        return n;
    }
};

struct ByteUnits {
    static constexpr uint32_t minMatch = 2;
    static constexpr uint32_t treeMatch = 4;
    static constexpr uint32_t maxMatch = 17;
    static constexpr uint64_t literalBits = 1 + 8;
    const uint8_t* base;

    uint32_t at(uint32_t i) const { return base[i]; }
    // Four bytes: trees of a photograph's bytes, where pairs and triples recur all the time
    // but longer repeats are rare, stay small (about one node a position). A match of three
    // bytes is found along the chain of their hash, one of two by its pair alone.
    uint32_t rootHash(uint32_t i) const {
        return (loadLe32(base + i) * 2654435761u) >> (32 - kHashBits);
    }
    uint32_t triple(uint32_t i) const { return loadLe16(base + i) | uint32_t(base[i + 2]) << 16; }
    uint32_t tripleHash(uint32_t i) const { return (triple(i) * 2246822519u) >> (32 - kHashBits); }
    uint32_t pair(uint32_t i) const { return loadLe16(base + i); }
    void prefetch(uint32_t i, const Work& w) const {
        __builtin_prefetch(w.roots + rootHash(i));
        __builtin_prefetch(w.tripleHeads + tripleHash(i));
        __builtin_prefetch(w.newest + pair(i));
    }
    // Eight bytes at a time while the limit (within the input) allows.
    uint32_t extend(uint32_t from, uint32_t pos, uint32_t n, uint32_t limit) const {
        while (n + 8 <= limit) {
            const uint64_t diff = loadWord64(base + from + n) ^ loadWord64(base + pos + n);
            if (diff != 0) return n + uint32_t(__builtin_ctzll(diff) / 8);
            n += 8;
        }
        while (n < limit && base[from + n] == base[pos + n]) ++n;
        return n;
    }
};

// The longest match at pos among the positions within reach whose leading units share its
// root's hash, the nearest of the longest, whichever way they are found. Positions sit in binary
// trees ordered by the units that follow them (up to the longest copy), newest at the root: each
// position is inserted by a walk from the root that splits the tree around it, and the nodes
// that walk meets include the nearest neighbours in that order, which share the longest prefix
// with it. A position whose units equal a node's as far as a copy reaches takes that node's
// place. Nodes grow older along any path, so the walk ends at the first that is out of reach.
template <typename Units>
[[gnu::always_inline]] inline void treeMatch(const Units& units, uint32_t pos, uint32_t limit,
                                             const Work& w, uint32_t& best, uint32_t& distance) {
    uint32_t* root = w.roots + units.rootHash(pos);
    uint32_t node = *root;
    *root = pos + 1;
    uint32_t* lesser = w.children + 2 * (pos % kWindow);  // where the next lesser node goes
    uint32_t* greater = lesser + 1;
    uint32_t lesserLength = 0, greaterLength = 0;  // prefixes shared with either side
    for (;;) {
        const uint32_t from = node - 1;
        if (node == 0 || pos - from > kMaxDistance) {
            *lesser = *greater = 0;
            break;
        }
        uint32_t* pair = w.children + 2 * (from % kWindow);
        const uint32_t lesserChild = pair[0], greaterChild = pair[1];  // read beside the compare
        const uint32_t n =
            units.extend(from, pos, std::min(lesserLength, greaterLength), limit);
        if (n == limit) {  // the node's place is taken: its subtrees become this one's
            best = n;
            distance = pos - from;
            *lesser = lesserChild;
            *greater = greaterChild;
            break;
        }
        // Nearer nodes come first, so a longer match replaces the best one only.
        distance = n > best ? pos - from : distance;
        best = n > best ? n : best;
        // The node goes to the lesser or the greater side, and the walk on to its child
        // toward this position; chosen without a branch, as the order of neighbours
        // is unpredictable.
        const bool less = units.at(from + n) < units.at(pos + n);
        *(less ? lesser : greater) = node;
        lesser = less ? pair + 1 : lesser;
        greater = less ? greater : pair;
        lesserLength = less ? n : lesserLength;
        greaterLength = less ? greaterLength : n;
        node = less ? greaterChild : lesserChild;
    }
}

// The same from a chain of the positions of each root's hash, nearest first: a position further
// back is read only when it could match longer than the best so far, and the walk stops at a
// match as long as a copy reaches. Placing a position costs nothing, and where repeats are few
// and short, as in a photograph's pixels, the chain is short too; where many positions share a
// long prefix it is long, and the trees take over. Returns the positions read.
template <typename Units>
[[gnu::always_inline]] inline uint32_t chainMatch(const Units& units, uint32_t pos, uint32_t limit,
                                                  const Work& w, uint32_t& best,
                                                  uint32_t& distance) {
    uint32_t* root = w.roots + units.rootHash(pos);
    uint32_t node = *root;
    *root = pos + 1;
    w.children[pos % kWindow] = node;
    uint32_t read = 0;
    for (; node != 0 && pos - (node - 1) <= kMaxDistance; node = w.children[(node - 1) % kWindow]) {
        const uint32_t from = node - 1;
        ++read;
        if (best != 0 && units.at(from + best) != units.at(pos + best)) continue;
        const uint32_t n = units.extend(from, pos, 0, limit);
        if (n > best) {
            best = n;
            distance = pos - from;
            if (n == limit) break;
        }
    }
    return read;
}

// Where part index of parts begins, for the search and the path alike.
uint32_t partStart(uint64_t count, uint32_t index, uint32_t parts) {
    return uint32_t(count * index / parts);
}

// What the search carries from one range of positions to the next.
struct Search {
    bool chained;
    int64_t allowance;  // positions the chains may still read
};

// The longest match at every position: for pixels from the chains while they stay short, else
// from the trees, which are first given the positions within reach. (For bytes the chains were
// no faster than the trees even on a photograph, so the trees do it all.) Then, for bytes, the
// shorter matches the root's hash does not gather.
// The positions from `from` to `to`, their matches kept or (Keep false) only placed.
template <typename Units, bool Keep>
void matchRange(const Units& units, uint32_t count, uint32_t from, uint32_t to, const Work& w,
                Search& search) {
    bool& chained = search.chained;
    int64_t& allowance = search.allowance;
    for (uint32_t pos = from; pos < to; ++pos) {
        const uint32_t limit = std::min(Units::maxMatch, count - pos);
        uint32_t best = 0, distance = 0;
        // The tables are larger than the nearest cache and read in no order: ask ahead.
        if (count - pos > kPrefetch + Units::treeMatch) units.prefetch(pos + kPrefetch, w);
        if (limit >= Units::treeMatch) {
            if (chained) {
                allowance += kChainShare - int64_t(chainMatch(units, pos, limit, w, best, distance));
                if (allowance < 0) {
                    chained = false;
                    std::memset(w.roots, 0, kHashSlots * 4);
                    for (uint32_t q = pos + 1 - std::min(pos + 1, kMaxDistance); q <= pos; ++q) {
                        uint32_t ignored = 0, unused = 0;
                        treeMatch(units, q, std::min(Units::maxMatch, count - q), w, ignored,
                                  unused);
                    }
                }
            } else {
                treeMatch(units, pos, limit, w, best, distance);
            }
        }
        if constexpr (Units::treeMatch > 3) {
            // Three bytes, when the tree found no more: the nearest earlier position with the
            // same three, along the chain of their hash. Links are followed only while within
            // reach, so, as in the trees, none is read before its position was placed.
            if (limit >= 3) {
                uint32_t* head = w.tripleHeads + units.tripleHash(pos);
                if (best < 3) {
                    const uint32_t wanted = units.triple(pos);
                    for (uint32_t node = *head; node != 0 && pos - (node - 1) <= kMaxDistance;
                         node = w.tripleLinks[(node - 1) % kWindow]) {
                        if (units.triple(node - 1) == wanted) {
                            best = 3;
                            distance = pos - (node - 1);
                            break;
                        }
                    }
                }
                w.tripleLinks[pos % kWindow] = *head;
                *head = pos + 1;
            }
        }
        if constexpr (Units::treeMatch > Units::minMatch) {
            // The newest position of the pair, by its low bits: the nearest earlier position
            // with them. Within reach that is the newest itself; when the newest lies further
            // back, the position found either holds the same pair (a match all the same) or
            // not, and then nothing within reach does.
            if (limit >= Units::minMatch) {
                const uint32_t pair = units.pair(pos);
                const uint32_t back = (pos - w.newest[pair]) & 0xFFFFu;
                if (best < Units::minMatch && back != 0 && back <= kMaxDistance &&
                    units.pair(pos - back) == pair) {
                    best = Units::minMatch;
                    distance = back;
                }
                w.newest[pair] = uint16_t(pos);
            }
        }
        if (best < Units::minMatch) best = 0;
        if constexpr (Keep) {
            w.lengths[pos] = uint8_t(best);
            w.distances[pos] = uint16_t(distance);
        }
    }
}

// Positions from begin to end are matched; the tables are given the positions within reach of
// begin first (a task after the first starts that far before its positions), so that every
// match is what one pass from the start would find.
template <typename Units>
void findMatches(const Units& units, uint32_t count, uint32_t begin, uint32_t end, const Work& w) {
    std::memset(w.roots, 0, kHashSlots * 4);
    if constexpr (Units::treeMatch > 3) std::memset(w.tripleHeads, 0, kHashSlots * 4);
    if constexpr (Units::treeMatch > Units::minMatch) std::memset(w.newest, 0, kPairSlots * 2);
    Search search{Units::treeMatch == 1, kChainReserve};
    matchRange<Units, false>(units, count, begin - std::min(begin, kMaxDistance), begin, w, search);
    matchRange<Units, true>(units, count, begin, end, w, search);
}

// The cheapest way to every position, from the first: a literal from the position before, or a
// copy from an earlier position whose match reaches this far (any length from the shortest
// copy to its longest match). The cheapest cost never falls from one position to the next (a
// copy one unit shorter, or a literal in place of the shortest copy, reaches the position
// before for no more), so the best copy comes from the earliest position that reaches. Which
// start that is depends on the match lengths alone, so it is found for sixteen ends at once:
// for each copy length, one comparison of the sixteen starts that far back tells which reach,
// and the longest such length is kept lane by lane. What is left in order, end after end, is
// the cost. items[end - 1] becomes the item that ends at end: 0 for a literal, else the copy's
// length.
//
// The choice at each end depends only on the costs of the ends a copy reaches back to, taken
// relative to the cost of the end before; a large input's ends are therefore split into parts
// like the search, and each part after the first starts from made-up costs (all equal). Its
// choices are the right ones from the first block end where its relative costs agree with
// those of the part before carried on; the parts are checked in order afterwards, and
// redone from their start up to that block end (or to their end, if they never agree).
constexpr uint32_t kPathBlock = 2048;  // ends at a time, a multiple of 16
constexpr uint32_t kPathBack = 32;     // >= the longest copy, a multiple of 16
constexpr uint32_t kRing = 32;         // > the longest item, and a power of two
constexpr uint32_t kPathChecks = 64;   // block ends of a part whose costs are kept for the check

struct Costs {
    uint64_t atEnd[kRing];  // cheapest cost in bits of the latest ends, by end mod kRing
};
static_assert((kPathChecks + 1) * sizeof(Costs) + 8 <= kTableBytes,
              "a part's checks fit its tables");

// Whether two sets of costs lead to the same choices after end: the costs a copy may reach back
// to, relative to end's.
template <typename Units>
bool sameChoicesAfter(const Costs& a, const Costs& b, uint32_t end) {
    const uint64_t baseA = a.atEnd[end % kRing], baseB = b.atEnd[end % kRing];
    for (uint32_t back = 1; back < Units::maxMatch; ++back)
        if (a.atEnd[(end - back) % kRing] - baseA != b.atEnd[(end - back) % kRing] - baseB)
            return false;
    return true;
}

// The items of the ends from + 1 to to, from the costs up to from; atBlockEnd(block, end, costs)
// is told each block's last end and returns true to stop there. lengths and items may be the
// same array: each block's lengths are read before its items are written.
template <typename Units, typename AtBlockEnd>
void chooseItems(const uint8_t* lengths, uint32_t from, uint32_t to, Costs& costs, uint8_t* items,
                 AtBlockEnd atBlockEnd) {
    // The match lengths of a block's positions and of the kPathBack before them (0 before the
    // first position).
    alignas(16) uint8_t matches[kPathBack + kPathBlock] = {};
    alignas(16) uint8_t reach[kPathBlock];  // for the end after each position: the copy to it, or 0
    const uint32_t before = std::min(from, kPathBack);
    std::memcpy(matches + kPathBack - before, lengths + from - before, before);
    uint64_t* const cost = costs.atEnd;
    uint64_t previous = cost[from % kRing];  // cost[end - 1], kept out of memory
    for (uint32_t block = from, index = 0; block < to; block += kPathBlock, ++index) {
        const uint32_t size = std::min(kPathBlock, to - block);
        std::memcpy(matches + kPathBack, lengths + block, size);
        for (uint32_t i = 0; i < size; i += 16) {
            // Lanes: the positions block + i + lane; the copy of length k ending just after
            // one starts k - 1 before it. Lengths are below 128: the signed comparison holds.
            __m128i longest = _mm_setzero_si128();
            for (uint32_t k = Units::minMatch; k <= Units::maxMatch; ++k) {
                const __m128i starts = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(matches + kPathBack + i + 1 - k));
                const __m128i reaches = _mm_cmpgt_epi8(starts, _mm_set1_epi8(char(k - 1)));
                longest = _mm_max_epu8(longest, _mm_and_si128(reaches, _mm_set1_epi8(char(k))));
            }
            _mm_store_si128(reinterpret_cast<__m128i*>(reach + i), longest);
        }
        for (uint32_t i = 0; i < size; ++i) {
            const uint32_t end = block + i + 1;
            const uint32_t length = reach[i];
            const uint64_t literal = previous + Units::literalBits;
            // Where no start reaches, the copy is made dearer than any literal; as which it
            // is, and which of the two is shorter, is as unpredictable as the picture, both
            // are chosen by arithmetic.
            const uint64_t unreached = 0 - uint64_t(length == 0);
            const uint64_t copy = (cost[(end - length) % kRing] + kCopyBits) | unreached;
            const uint32_t shorter = 0u - uint32_t(copy < literal);
            previous = std::min(copy, literal);
            cost[end % kRing] = previous;
            items[end - 1] = uint8_t(length & shorter);
        }
        if (atBlockEnd(index, block + size, costs)) return;
        if (size == kPathBlock) std::memcpy(matches, matches + kPathBlock, kPathBack);
    }
}

// Every item, in parts as the search was split: items[end - 1] as chooseItems leaves it, then
// traced back from the end, so that lengths[start] of each item on the path becomes the item.
// One part writes its items over the lengths; more keep them apart (items), since a part that
// is redone reads its lengths again. checks holds kPathChecks + 1 Costs for each part.
template <typename Units>
void choosePath(uint32_t count, uint32_t parts, uint8_t* lengths, uint8_t* items, Costs* checks,
                const Parallel& parallel) {
    const auto part = [count, parts](uint32_t index) { return partStart(count, index, parts); };
    if (parts == 1) items = lengths;
    parallel(parts, [&](uint32_t index) {
        Costs costs{};
        Costs* kept = checks + index * (kPathChecks + 1);
        chooseItems<Units>(lengths, part(index), part(index + 1), costs, items,
                           [&](uint32_t block, uint32_t, const Costs& now) {
                               if (block < kPathChecks) kept[block] = now;
                               return false;
                           });
        kept[kPathChecks] = costs;
    });
    // The first part started from the true costs; each next one is redone from the costs the
    // part before truly ended with, until its own agree. Its costs at the end are then its own
    // shifted by what the two differ by.
    Costs truth = checks[kPathChecks];
    for (uint32_t index = 1; index < parts; ++index) {
        const Costs* kept = checks + index * (kPathChecks + 1);
        const uint32_t to = part(index + 1);
        bool agreed = false;
        uint64_t shift = 0;
        chooseItems<Units>(
            lengths, part(index), to, truth, items,
            [&](uint32_t block, uint32_t end, const Costs& now) {
                if (block >= kPathChecks || !sameChoicesAfter<Units>(now, kept[block], end))
                    return false;
                agreed = true;
                shift = now.atEnd[end % kRing] - kept[block].atEnd[end % kRing];
                return true;
            });
        if (agreed) {
            for (uint32_t slot = 0; slot < kRing; ++slot)
                truth.atEnd[slot] = kept[kPathChecks].atEnd[slot] + shift;
        }
    }
    for (uint64_t end = count; end > 0;) {
        const uint32_t item = items[end - 1];
        end -= item == 0 ? 1 : item;
        lengths[end] = uint8_t(item);
    }
}

// Each item is written as one store of a word holding either form, the literal or the copy
// word, and the stream moves on by the item's length: no branch on the kind of item. The word's
// bytes past the item are written over by the next one; where the end of out is too near for
// the whole word, only the item's bytes are written.
template <typename Units>
uint64_t writeStream(const Units& units, uint32_t count, const Work& w, std::span<uint8_t> out) {
    constexpr uint32_t literalBytes = uint32_t(Units::literalBits / 8);
    uint8_t* const stream = out.data();
    uint64_t o = 0, control = 0;
    uint32_t bits = 0, items = 0;
    for (uint32_t pos = 0; pos < count; ++items) {
        if (items % 8 == 0) {
            stream[control] = uint8_t(bits);
            control = o++;
            bits = 0;
        }
        const uint32_t n = w.lengths[pos];
        const uint32_t literal = n == 0;
        const uint32_t choice = 0u - literal;  // all ones for a literal
        const uint32_t word =
            (units.at(pos) & choice) |
            ((uint32_t(w.distances[pos]) << 4 | (n - Units::minMatch)) & ~choice);
        const uint32_t length = 2 + ((literalBytes - 2) & choice);
        if (o + 4 <= out.size()) {
            storeWord32(stream + o, word);
        } else {
            for (uint32_t k = 0; k < length; ++k) stream[o + k] = uint8_t(word >> 8 * k);
        }
        bits |= literal << (items % 8);
        o += length;
        pos += n + literal;
    }
    if (items > 0) stream[control] = uint8_t(bits);
    return o;
}

template <typename Units>
uint64_t encode(const Units& units, uint64_t count, std::span<uint8_t> work, std::span<uint8_t> out,
                uint64_t bound, const Parallel& parallel) {
    if (count >= (uint64_t(1) << 32) || work.size() < lzEncodeWorkSize(count) ||
        out.size() < bound || reinterpret_cast<uintptr_t>(work.data()) % 4 != 0)
        return 0;
    // The match search and the path in parts, as many as may run at once, the work area holds
    // tables for, and leave each kTaskUnits or more.
    uint32_t tasks =
        uint32_t(std::max<uint64_t>(std::min<uint64_t>(parallel.most, count / kTaskUnits), 1));
    while (tasks > 1 && work.size() < lzEncodeWorkSize(count, tasks)) --tasks;
    const auto part = [count, tasks](uint32_t task) { return partStart(count, task, tasks); };
    parallel(tasks, [&](uint32_t task) {
        findMatches(units, uint32_t(count), part(task), part(task + 1),
                    layOut(work.data(), count, task, tasks));
    });
    // Each part's tables, no longer needed, keep its costs for the path's check.
    const uintptr_t tables = (reinterpret_cast<uintptr_t>(work.data()) + 7) & ~uintptr_t(7);
    const Work w = layOut(work.data(), count, 0, tasks);
    choosePath<Units>(uint32_t(count), tasks, w.lengths, w.lengths + count,
                      reinterpret_cast<Costs*>(tables), parallel);
    return writeStream(units, uint32_t(count), w, out);
}

}  // namespace

uint64_t lzEncodeWorkSize(uint64_t units, uint32_t tasks) {
    // Split, the path keeps its items apart from the lengths: one byte more a unit.
    return std::max(tasks, 1u) * kTableBytes + (tasks > 1 ? 4 : 3) * units;
}

uint64_t encodeLzPixels(std::span<const uint8_t> pixels, PixelUnit unit, std::span<uint8_t> work,
                        std::span<uint8_t> out, const Parallel& parallel) {
    const uint64_t count = pixels.size() / uint32_t(unit);
    const uint64_t bound = lzPixelsEncodedBound(count);
    if (unit == PixelUnit::bgra)
        return encode(PixelUnits<4>{pixels.data()}, count, work, out, bound, parallel);
    return encode(PixelUnits<3>{pixels.data()}, count, work, out, bound, parallel);
}

uint64_t encodeLzBytes(std::span<const uint8_t> bytes, std::span<uint8_t> work,
                       std::span<uint8_t> out, const Parallel& parallel) {
    return encode(ByteUnits{bytes.data()}, bytes.size(), work, out,
                  lzBytesEncodedBound(bytes.size()), parallel);
}
