#include "tools/test_pictures.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. bound - 1 (bound of at least 1).
    uint32_t below(uint32_t bound) { return uint32_t(next() % bound); }
    int32_t between(int32_t low, int32_t high) {
        return low + int32_t(below(uint32_t(high - low + 1)));
    }
    uint8_t byte() { return uint8_t(next()); }

private:
    uint64_t state_;
};

uint32_t hashPoint(uint32_t seed, uint32_t x, uint32_t y) {
    uint64_t v = (uint64_t(seed) << 40) ^ (uint64_t(x) << 20) ^ y;
    v ^= v >> 33;
    v *= 0xFF51AFD7ED558CCDull;
    v ^= v >> 33;
    v *= 0xC4CEB9FE1A85EC53ull;
    v ^= v >> 33;
    return uint32_t(v);
}

// Value noise: random values 0..255 on a grid of the given cell size, bilinear in between.
uint32_t valueNoise(uint32_t seed, uint32_t x, uint32_t y, uint32_t cell) {
    uint32_t gx = x / cell, gy = y / cell;
    uint32_t fx = x % cell, fy = y % cell;
    uint32_t v00 = hashPoint(seed, gx, gy) & 0xFF, v10 = hashPoint(seed, gx + 1, gy) & 0xFF;
    uint32_t v01 = hashPoint(seed, gx, gy + 1) & 0xFF, v11 = hashPoint(seed, gx + 1, gy + 1) & 0xFF;
    uint64_t top = uint64_t(v00) * (cell - fx) + uint64_t(v10) * fx;
    uint64_t bottom = uint64_t(v01) * (cell - fx) + uint64_t(v11) * fx;
    return uint32_t((top * (cell - fy) + bottom * fy) / (uint64_t(cell) * cell));
}

uint8_t clampByte(int32_t v) { return uint8_t(std::clamp(v, 0, 255)); }

TestPicture blankPicture(uint32_t width, uint32_t height) {
    TestPicture picture;
    picture.width = width;
    picture.height = height;
    picture.bgra.assign(size_t(width) * height * 4, 0);
    return picture;
}

void setPixel(TestPicture& p, int64_t x, int64_t y, uint32_t bgra) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    uint8_t* o = p.at(uint32_t(x), uint32_t(y));
    o[0] = uint8_t(bgra);
    o[1] = uint8_t(bgra >> 8);
    o[2] = uint8_t(bgra >> 16);
    o[3] = uint8_t(bgra >> 24);
}

void fillRect(TestPicture& p, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t bgra) {
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, p.width);
    y1 = std::min<int64_t>(y1, p.height);
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x) setPixel(p, x, y, bgra);
}

void drawLine(TestPicture& p, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t bgra,
              int thickness) {
    int64_t dx = x1 > x0 ? x1 - x0 : x0 - x1, sx = x0 < x1 ? 1 : -1;
    int64_t dy = y1 > y0 ? y0 - y1 : y1 - y0, sy = y0 < y1 ? 1 : -1;
    int64_t error = dx + dy;
    for (;;) {
        for (int t = 0; t < thickness; ++t) setPixel(p, x0 + t, y0, bgra);
        if (x0 == x1 && y0 == y1) break;
        int64_t e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

uint32_t opaque(uint32_t blue, uint32_t green, uint32_t red) {
    return blue | green << 8 | red << 16 | 0xFF000000u;
}

uint32_t randomOpaque(Random& random) {
    return opaque(random.byte(), random.byte(), random.byte());
}

}  // namespace

const char* pictureKindName(PictureKind kind) {
    switch (kind) {
    case PictureKind::photo: return "photo";
    case PictureKind::flat: return "flat";
    case PictureKind::lineArt: return "lineArt";
    case PictureKind::sprite: return "sprite";
    case PictureKind::noise: return "noise";
    }
    return "unknown";
}

TestPicture makeTestPicture(PictureKind kind, uint32_t width, uint32_t height, uint32_t seed) {
    switch (kind) {
    case PictureKind::photo: return makePhotoPicture(width, height, seed);
    case PictureKind::flat: return makeFlatPicture(width, height, seed);
    case PictureKind::lineArt: return makeLineArtPicture(width, height, seed);
    case PictureKind::sprite: return makeSpritePicture(width, height, seed);
    case PictureKind::noise: return makeNoisePicture(width, height, seed);
    }
    return {};
}

TestPicture makePhotoPicture(uint32_t width, uint32_t height, uint32_t seed) {
    TestPicture p = blankPicture(width, height);
    Random random(seed);
    const uint32_t coarse = std::max<uint32_t>(8, std::max(width, height) / 3);
    const uint32_t fine = std::max<uint32_t>(4, coarse / 6);
    const uint32_t horizon = height / 2 + random.below(height / 4 + 1);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* o = p.at(x, y);
            // A sky above the horizon, land below, both shaded by two scales of value noise.
            int32_t sky = y < horizon ? int32_t(200 - 120 * y / std::max<uint32_t>(horizon, 1)) : 0;
            for (int c = 0; c < 3; ++c) {
                int32_t big = int32_t(valueNoise(seed * 7 + c, x, y, coarse));
                int32_t small = int32_t(valueNoise(seed * 7 + 3 + c, x, y, fine));
                int32_t grain = int32_t(hashPoint(seed + 11 * c, x, y) % 13) - 6;
                int32_t v;
                if (y < horizon) {
                    static constexpr int32_t tint[3] = {60, 20, -30};  // blue, green, red
                    v = sky + tint[c] + (big - 128) / 4 + (small - 128) / 10 + grain / 2;
                } else {
                    static constexpr int32_t tint[3] = {-40, 40, 0};
                    v = 90 + tint[c] + (big - 128) / 2 + (small - 128) / 4 + grain;
                }
                o[c] = clampByte(v);
            }
            o[3] = 255;
        }
    }
    return p;
}

TestPicture makeFlatPicture(uint32_t width, uint32_t height, uint32_t seed) {
    TestPicture p = blankPicture(width, height);
    Random random(seed);
    fillRect(p, 0, 0, width, height, randomOpaque(random));
    const uint32_t shapes = 4 + random.below(8);
    for (uint32_t s = 0; s < shapes; ++s) {
        uint32_t colour = randomOpaque(random);
        int64_t cx = random.below(width), cy = random.below(height);
        int64_t rx = 1 + random.below(std::max<uint32_t>(width / 3, 1));
        int64_t ry = 1 + random.below(std::max<uint32_t>(height / 3, 1));
        if (random.below(2) == 0) {
            fillRect(p, cx - rx, cy - ry, cx + rx, cy + ry, colour);
        } else {
            for (int64_t y = std::max<int64_t>(cy - ry, 0); y < std::min<int64_t>(cy + ry, height);
                 ++y)
                for (int64_t x = std::max<int64_t>(cx - rx, 0);
                     x < std::min<int64_t>(cx + rx, width); ++x) {
                    int64_t dx = x - cx, dy = y - cy;
                    if (dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry)
                        setPixel(p, x, y, colour);
                }
        }
    }
    return p;
}

TestPicture makeLineArtPicture(uint32_t width, uint32_t height, uint32_t seed) {
    TestPicture p = blankPicture(width, height);
    Random random(seed);
    fillRect(p, 0, 0, width, height, opaque(255, 255, 255));
    const uint32_t lines = 6 + random.below(10) + (width + height) / 32;
    for (uint32_t l = 0; l < lines; ++l) {
        uint32_t ink = random.below(4) == 0 ? randomOpaque(random) : opaque(20, 20, 24);
        int64_t x0 = random.below(width), y0 = random.below(height);
        int thickness = 1 + int(random.below(2));
        if (random.below(3) == 0) {  // a box outline
            int64_t x1 = std::min<int64_t>(x0 + random.below(width / 2 + 1), width - 1);
            int64_t y1 = std::min<int64_t>(y0 + random.below(height / 2 + 1), height - 1);
            drawLine(p, x0, y0, x1, y0, ink, thickness);
            drawLine(p, x1, y0, x1, y1, ink, thickness);
            drawLine(p, x1, y1, x0, y1, ink, thickness);
            drawLine(p, x0, y1, x0, y0, ink, thickness);
        } else {
            drawLine(p, x0, y0, random.below(width), random.below(height), ink, thickness);
        }
    }
    return p;
}

TestPicture makeSpritePicture(uint32_t width, uint32_t height, uint32_t seed) {
    TestPicture p = blankPicture(width, height);
    Random random(seed);
    // The blob: an ellipse, opaque inside 60% of its radius, alpha falling to 0 at its rim.
    const int64_t cx = width / 2, cy = height / 2;
    const int64_t rx = std::max<int64_t>(1, width * 2 / 5),
                  ry = std::max<int64_t>(1, height * 2 / 5);
    // A hole: a smaller ellipse off centre where the alpha drops back to 0.
    const int64_t hx = cx + rx / 3, hy = cy - ry / 4;
    const int64_t hrx = std::max<int64_t>(1, rx / 5), hry = std::max<int64_t>(1, ry / 5);
    constexpr int64_t kOne = 1 << 16, kInner = kOne * 36 / 100;  // (0.6)^2
    const uint32_t cell = std::max<uint32_t>(4, std::max(width, height) / 5);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            int64_t dx = int64_t(x) - cx, dy = int64_t(y) - cy;
            int64_t q = dx * dx * kOne / (rx * rx) + dy * dy * kOne / (ry * ry);
            int64_t alpha = q <= kInner ? 255 : q >= kOne ? 0 : 255 * (kOne - q) / (kOne - kInner);
            int64_t ex = int64_t(x) - hx, ey = int64_t(y) - hy;
            int64_t h = ex * ex * kOne / (hrx * hrx) + ey * ey * kOne / (hry * hry);
            if (h < kOne) alpha = alpha * std::max<int64_t>(0, h - kOne / 2) / (kOne / 2);
            if (alpha <= 0) continue;  // stays all-zero
            uint8_t* o = p.at(x, y);
            int32_t shade = int32_t(valueNoise(seed, x, y, cell)) - 128;
            int32_t light = int32_t(96 - (dx + dy) * 64 / std::max<int64_t>(rx + ry, 1));
            o[0] = clampByte(70 + light / 2 + shade / 3);
            o[1] = clampByte(110 + light + shade / 4);
            o[2] = clampByte(180 + light / 2 + shade / 2);
            o[3] = uint8_t(alpha);
        }
    }
    // Specks: small opaque squares and single soft pixels scattered over the transparency.
    const uint32_t specks = 3 + random.below(6);
    for (uint32_t s = 0; s < specks; ++s) {
        int64_t x = random.below(width), y = random.below(height);
        int64_t size = 1 + random.below(std::max<uint32_t>(1, std::min(width, height) / 16));
        fillRect(p, x, y, x + size, y + size, randomOpaque(random));
        setPixel(p, x + size + 1, y,
                 uint32_t(random.below(0xFFFFFF)) | uint32_t(1 + random.below(254)) << 24);
    }
    return p;
}

TestPicture makeNoisePicture(uint32_t width, uint32_t height, uint32_t seed) {
    TestPicture p = blankPicture(width, height);
    Random random(seed);
    for (size_t i = 0; i < p.bgra.size(); i += 8) {
        uint64_t v = random.next();
        std::memcpy(p.bgra.data() + i, &v, std::min<size_t>(8, p.bgra.size() - i));
    }
    return p;
}

Status canvasFromPicture(const TestPicture& picture, Canvas& canvas) {
    Status status = makeCanvas(picture.width, picture.height, canvas);
    if (status != Status::ok) return status;
    std::memcpy(canvas.pixels.data(), picture.bgra.data(), picture.bgra.size());
    return Status::ok;
}

G00RegionImage cutIntoParts(const TestPicture& picture, const PartCutting& cutting) {
    G00RegionImage image;
    image.width = uint16_t(picture.width);
    image.height = uint16_t(picture.height);
    uint32_t size = std::max<uint32_t>(cutting.regionSize, 1);
    auto regionsFor = [&](uint32_t s) {
        return uint64_t((picture.width + s - 1) / s) * ((picture.height + s - 1) / s);
    };
    while (regionsFor(size) > 256) size *= 2;
    const uint32_t band = std::max<uint32_t>(cutting.bandHeight, 1);

    auto drawn = [&](uint32_t x, uint32_t y) { return loadWord32(picture.at(x, y)) != 0; };
    for (uint32_t top = 0; top < picture.height; top += size) {
        for (uint32_t left = 0; left < picture.width; left += size) {
            const uint32_t right = std::min(left + size, picture.width);
            const uint32_t bottom = std::min(top + size, picture.height);
            G00RegionRecord region{left, top, right - 1, bottom - 1, {0, 0}};
            if (region.x2 == 0 && region.y2 == 0) region.y2 = 1;
            image.regions.push_back(region);

            G00Entry entry;
            for (uint32_t y0 = top; y0 < bottom; y0 += band) {
                const uint32_t y1 = std::min(y0 + band, bottom);
                uint32_t minX = right, maxX = left, minY = y1, maxY = y0;
                for (uint32_t y = y0; y < y1; ++y)
                    for (uint32_t x = left; x < right; ++x)
                        if (drawn(x, y)) {
                            minX = std::min(minX, x);
                            maxX = std::max(maxX, x);
                            minY = std::min(minY, y);
                            maxY = std::max(maxY, y);
                        }
                if (minX > maxX || minY > maxY) continue;
                G00Part part;
                part.x = uint16_t(minX - left);
                part.y = uint16_t(minY - top);
                part.width = uint16_t(maxX - minX + 1);
                part.height = uint16_t(maxY - minY + 1);
                part.pixels.reserve(size_t(part.width) * part.height * 4);
                for (uint32_t y = minY; y <= maxY; ++y)
                    part.pixels.insert(part.pixels.end(), picture.at(minX, y),
                                       picture.at(minX, y) + size_t(part.width) * 4);
                entry.parts.push_back(std::move(part));
            }
            if (entry.parts.empty() && cutting.absentEmptyRegions) entry = G00Entry::absent();
            image.entries.push_back(std::move(entry));
        }
    }
    return image;
}

G00RegionImage makeExpressionSprite(uint32_t width, uint32_t height, uint32_t seed,
                                    uint32_t faces) {
    G00RegionImage image;
    image.width = uint16_t(width);
    image.height = uint16_t(height);
    const TestPicture body = makeSpritePicture(width, height, seed);
    image.regions.push_back({0, 0, width - 1, height - 1, {0, 0}});
    image.entries.push_back({});
    image.entries.back().parts.push_back({0, 0, uint16_t(width), uint16_t(height), body.bgra});
    const uint32_t side = std::max<uint32_t>(6, std::min(width, height) / 3);
    for (uint32_t f = 0; f < faces; ++f) {
        const bool last = f + 1 == faces;
        const uint32_t x = last ? width - side / 2 : width / 3 + 3 * f;
        const uint32_t y = height / 4 + 2 * f;
        const TestPicture face = makeSpritePicture(side, side, seed + 1 + f);
        image.regions.push_back({x, y, x + side - 1, y + side - 1, {0, 0}});
        image.entries.push_back({});
        image.entries.back().parts.push_back({0, 0, uint16_t(side), uint16_t(side), face.bgra});
    }
    return image;
}
