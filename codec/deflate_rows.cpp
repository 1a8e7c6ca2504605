#include "codec/internal/deflate_rows.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>

#include "codec/internal/deflate_blocks.h"
#include "common/bytes.h"

namespace {

// Chosen on the test pictures (sprite, line art, flat, photo): hashing 16 bytes (four RGBA
// pixels) rather than 8 finds longer matches and far fewer false candidates; six candidates
// and waiting on matches shorter than 20 bytes gave the sizes of more of either in less time.
constexpr uint32_t kHashBits = 14;
constexpr uint32_t kHashedBytes = 16;
constexpr uint32_t kChainDepth = 6;     // candidates looked at a position
constexpr uint32_t kLazyBelow = 20;     // a match this long is taken without looking further
constexpr uint32_t kLazyMargin = 8;     // how much farther the next pixel's match must reach
constexpr uint32_t kShortest = 4;       // bytes of the shortest match taken
constexpr uint32_t kLongRun = kMatchLongest;  // matches this long keep only their ends' links
constexpr uint32_t kLinkedEnds = 16;    // bytes at each end of such a match whose pixels link
constexpr uint32_t kMissesPerStep = 6;  // a pixel more skipped every 64 pixels without a match
constexpr uint32_t kBlockTokens = 8192;

uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t most) {
    uint32_t n = 0;
    for (; n + 16 <= most; n += 16) {
        const __m128i same = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n)));
        const uint32_t differ = ~uint32_t(_mm_movemask_epi8(same)) & 0xFFFF;
        if (differ != 0) return n + uint32_t(std::countr_zero(differ));
    }
    for (; n + 8 <= most; n += 8) {
        const uint64_t diff = loadWord64(a + n) ^ loadWord64(b + n);
        if (diff != 0) return n + uint32_t(std::countr_zero(diff) >> 3);
    }
    while (n < most && a[n] == b[n]) ++n;
    return n;
}

struct Match {
    uint32_t length = 0;
    uint32_t distance = 0;
};

template <uint32_t kPixel>
class RowMatcher {
public:
    RowMatcher(std::span<const uint8_t> rows, uint32_t* head, uint16_t* previous)
        : data_(rows.data()), size_(uint32_t(rows.size())), head_(head), previous_(previous) {
        std::fill(head_, head_ + (1u << kHashBits), 0u);
    }

    // The longest match at i among the candidates looked at, then i linked; i must be a
    // pixel's start.
    Match findAndInsert(uint32_t i) {
        const uint32_t most = std::min(kMatchLongest, size_ - i);
        Match best;
        if (i >= kPixel) {
            best.length = matchLength(data_ + i, data_ + i - kPixel, most);
            best.distance = kPixel;
        }
        if (most < kHashedBytes) return best.length >= kShortest ? best : Match{};
        uint32_t c = link(i) - kOffset;
        const uint8_t* here = data_ + i;
        for (uint32_t depth = 0; depth < kChainDepth && best.length < most; ++depth) {
            const uint32_t d = i - c;  // past the window for an empty link, however it wraps
            if (d > kMatchFarthest) break;
            // Only a candidate that agrees at the best length's end can beat it.
            if (best.length < 4 ||
                loadWord32(data_ + c + best.length - 3) == loadWord32(here + best.length - 3)) {
                const uint32_t length = matchLength(here, data_ + c, most);
                if (length > best.length) best = {length, d};
            }
            c -= previous_[c / kPixel];
        }
        return best.length >= kShortest ? best : Match{};
    }

    void insert(uint32_t i) {
        if (size_ - i >= kHashedBytes) link(i);
    }

private:
    // Positions are kept kOffset on, so that an empty head (0) is farther than any distance.
    static constexpr uint32_t kOffset = 1u << 16;

    // Links i behind the last position of its hash and returns that one (kept kOffset on).
    uint32_t link(uint32_t i) {
        uint32_t& slot = head_[hash(i)];
        const uint32_t last = slot;
        previous_[i / kPixel] = uint16_t(std::min(i + kOffset - last, kOffset - 1));
        slot = i + kOffset;
        return last;
    }

    uint32_t hash(uint32_t i) const {
        const uint64_t v = loadWord64(data_ + i) ^ loadWord64(data_ + i + 8) * 0xFF51AFD7ED558CCDull;
        return uint32_t((v * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
    }

    const uint8_t* data_;
    uint32_t size_;
    uint32_t* head_;
    // By position / kPixel: the distance back to the last position of the same hash, 65,535
    // for none within reach.
    uint16_t* previous_;
};

// The band's tokens, written block by block as the buffer fills.
class TokenSink {
public:
    TokenSink(const uint8_t* input, uint32_t* buffer, std::span<uint8_t> out) : band_(out) {
        tokens_.input = tokens_.next = input;
        tokens_.tokens = buffer;
    }

    // The bytes up to `to`, from the end of the last token, as literals.
    void literalsTo(const uint8_t* to) {
        while (tokens_.next < to) {
            tokens_.literals(uint32_t(std::min<uint64_t>(to - tokens_.next, DeflateTokens::kLongestRun)));
            if (tokens_.count == kBlockTokens) flush(false);
        }
    }
    void match(uint32_t length, uint32_t distance) {
        tokens_.match(length, distance);
        if (tokens_.count == kBlockTokens) flush(false);
    }
    // Writes the last block and ends the band: its length, or 0 when out was short.
    uint64_t finish(bool last) {
        flush(last);
        return failed_ ? 0 : endTokenBand(band_, last);
    }

private:
    void flush(bool final) {
        if (!failed_ && !writeTokenBlock(tokens_, final, band_)) failed_ = true;
        tokens_.clear();
    }

    DeflateTokens tokens_;
    BandWriter band_;
    bool failed_ = false;
};

template <uint32_t kPixel>
uint64_t deflatePixels(std::span<const uint8_t> rows, uint32_t rowSize, bool last,
                       std::span<uint8_t> work, std::span<uint8_t> out) {
    uint8_t* area = work.data();
    area += (4 - reinterpret_cast<uintptr_t>(area) % 4) % 4;
    uint32_t* head = reinterpret_cast<uint32_t*>(area);
    uint32_t* tokens = head + (1u << kHashBits);
    uint16_t* previous = reinterpret_cast<uint16_t*>(tokens + kBlockTokens);
    RowMatcher<kPixel> matcher(rows, head, previous);
    TokenSink sink(rows.data(), tokens, out);

    const uint8_t* data = rows.data();
    const uint32_t size = uint32_t(rows.size());
    uint32_t literalStart = 0;  // the first byte not yet written
    uint32_t covered = 0;       // the end of the last match written
    // The pixels of the last match that are linked: before linkedHead or from linkedTail on.
    uint32_t linkedHead = 0, linkedTail = 0;
    Match pending;              // a match kept while the next pixel's is looked at
    uint32_t pendingAt = 0;
    uint32_t misses = 0;        // pixels looked at since the last match found
    auto emit = [&](uint32_t at, Match m) {
        // Bytes before it that the same distance repeats join it.
        while (at > literalStart && at > m.distance && m.length < kMatchLongest &&
               data[at - 1] == data[at - 1 - m.distance]) {
            --at;
            ++m.length;
        }
        sink.literalsTo(data + at);
        sink.match(m.length, m.distance);
        uint32_t end = at + m.length;
        // A match cut at deflate's longest goes on without a search, at the pixel to the left
        // where that reaches as far (its distance takes the fewest bits), else where it was.
        while (m.length == kMatchLongest) {
            const uint32_t most = std::min(kMatchLongest, size - end);
            const uint32_t left = matchLength(data + end, data + end - kPixel, most);
            const uint32_t same = m.distance == kPixel
                                      ? left
                                      : matchLength(data + end, data + end - m.distance, most);
            m = left >= same ? Match{left, kPixel} : Match{same, m.distance};
            if (m.length < kShortest) break;
            sink.match(m.length, m.distance);
            end += m.length;
        }
        literalStart = covered = end;
        // Linking every pixel of a long run costs time and finds nothing its ends do not.
        const bool longRun = end - at >= kLongRun;
        linkedHead = longRun ? at + kLinkedEnds : end;
        linkedTail = longRun ? end - kLinkedEnds : 0;
    };
    for (uint32_t rowStart = 0; rowStart < size; rowStart += rowSize) {
        const uint32_t rowEnd = rowStart + rowSize;
        for (uint32_t i = rowStart + 1; i < rowEnd; i += kPixel) {
            if (i < covered) {
                if (i >= linkedHead && i < linkedTail) {
                    // On to the first pixel past the unlinked part, or the row's end.
                    i += (std::min(linkedTail, rowEnd) - i - 1) / kPixel * kPixel;
                    continue;
                }
                matcher.insert(i);
                continue;
            }
            const Match m = matcher.findAndInsert(i);
            if (pending.length != 0) {
                if (m.length != 0 && i + m.length > pendingAt + pending.length + kLazyMargin) {
                    // The later match reaches farther: the kept one's bytes go as literals.
                    pending = m;
                    pendingAt = i;
                    if (m.length >= kLazyBelow) {
                        emit(i, m);
                        pending = {};
                    }
                    continue;
                }
                emit(pendingAt, pending);
                pending = {};
                if (i < covered) continue;
            }
            if (m.length == 0) {
                // Far from any match (grain, noise): look at fewer pixels the longer it lasts.
                const uint32_t skip = misses++ >> kMissesPerStep;
                i = std::min(i + skip * kPixel, rowEnd - kPixel);
                continue;
            }
            misses = 0;
            if (m.length >= kLazyBelow) {
                emit(i, m);
            } else {
                pending = m;
                pendingAt = i;
            }
        }
    }
    if (pending.length != 0) emit(pendingAt, pending);
    sink.literalsTo(data + size);
    return sink.finish(last);
}

}  // namespace

uint64_t deflateRowsWorkSize(uint64_t length, uint32_t pixelSize) {
    // Alignment, the hash heads, the tokens, and a link for each pixel.
    return 4 + 4 * (uint64_t(1) << kHashBits) + 4 * uint64_t(kBlockTokens) +
           2 * (length / pixelSize + 1);
}

uint64_t deflateRows(std::span<const uint8_t> rows, uint32_t rowSize, uint32_t pixelSize,
                     bool last, std::span<uint8_t> work, std::span<uint8_t> out) {
    if (rows.size() > UINT32_MAX / 2 || rowSize == 0 || rows.size() % rowSize != 0 ||
        (pixelSize != 3 && pixelSize != 4) ||
        work.size() < deflateRowsWorkSize(rows.size(), pixelSize))
        return 0;
    return pixelSize == 4 ? deflatePixels<4>(rows, rowSize, last, work, out)
                          : deflatePixels<3>(rows, rowSize, last, work, out);
}
