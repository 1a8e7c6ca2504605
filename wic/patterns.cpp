#include "wic/patterns.h"

#include <algorithm>

#include "codec/internal/g00_layout.h"

void Pattern::set(uint32_t at, uint8_t value, uint8_t bits) {
    bytes[at] = value & bits;
    mask[at] = bits;
    length = std::max(length, at + 1);
}

bool Pattern::matches(std::span<const uint8_t> head) const {
    if (head.size() < length) return false;
    for (uint32_t i = 0; i < length; ++i)
        if ((head[i] & mask[i]) != bytes[i]) return false;
    return true;
}

// Wine's WIC stops at the first decoder whose pattern matches, whatever its QueryCapability
// would say, so they must hold for every G00 file a game or an encoder writes and for as few
// others as fixed bits can say: icons, cursors and TGA files start with 00 or 02 too.
//  - The height is not 0 (the header's width and height are checked alike, but one of them is
//    enough to keep out TGA files, whose bytes 3 and 4 are 0): one pattern for each of its bits.
//  - A full frame's stream starts with a literal (its control byte's bit 0) or with a copy of
//    distance 0, which leaves the pixels as they are; copies from further back are refused.
//    An icon's or cursor's byte 13 is 0, and its bytes 14 and 15 are a length of at least 16.
//  - Or its compressed length is 8 or 9: no stream, or its control byte alone. A full frame
//    whose length is shorter than its size pair is read as a black picture by the converter,
//    but no encoder writes one, and every icon of 256-pixel pictures starts that way.
std::vector<Pattern> g00Patterns() {
    std::vector<Pattern> patterns;
    for (const uint8_t type : {kG00FullFrame, kG00Regions})
        for (uint32_t bit = 0; bit < 16; ++bit) {
            Pattern p;
            p.set(kG00TypeOffset, type, 0xFF);
            p.set(kG00HeightOffset + bit / 8, uint8_t(1u << bit % 8), uint8_t(1u << bit % 8));
            if (type == kG00Regions) {
                patterns.push_back(p);
                continue;
            }
            Pattern literal = p;
            literal.set(kFullFrameStreamStart, 0x01, 0x01);
            patterns.push_back(literal);
            Pattern stay = p;
            stay.set(kFullFrameStreamStart, 0x00, 0x01);
            stay.set(kFullFrameStreamStart + 1, 0x00, 0xF0);
            stay.set(kFullFrameStreamStart + 2, 0x00, 0xFF);
            patterns.push_back(stay);
        }
    Pattern empty;
    empty.set(kG00TypeOffset, kG00FullFrame, 0xFF);
    empty.set(kFullFrameSizePairOffset, kSizePairSize, 0xFE);
    for (uint32_t i = 1; i < 4; ++i) empty.set(kFullFrameSizePairOffset + i, 0, 0xFF);
    patterns.push_back(empty);
    return patterns;
}

bool matchesAG00Pattern(std::span<const uint8_t> head) {
    const std::vector<Pattern> patterns = g00Patterns();
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const Pattern& p) { return p.matches(head); });
}
