// Helpers shared by the codec and writer tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "codec/g00.h"
#include "common/canvas.h"
#include "common/fault_injection.h"
#include "common/status.h"

namespace support {

// std::mt19937 is specified exactly, so the same seed gives the same numbers on every build.
class Rng {
public:
    explicit Rng(uint32_t seed) : engine_(seed) {}
    uint32_t next() { return uint32_t(engine_()); }
    uint32_t below(uint32_t bound) { return bound == 0 ? 0 : next() % bound; }
    uint32_t between(uint32_t low, uint32_t high) { return low + below(high - low + 1); }
    bool chance(uint32_t inCount) { return below(inCount) == 0; }
    uint8_t byte() { return uint8_t(next()); }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> v(n);
        for (uint8_t& b : v) b = byte();
        return v;
    }

private:
    std::mt19937 engine_;
};

inline std::vector<uint8_t> canvasBytes(const Canvas& canvas) {
    return {canvas.pixels.data(), canvas.pixels.data() + canvas.pixels.size()};
}

// A file decoded the way the conversion does it.
struct Decoded {
    Status status = Status::ok;
    Canvas canvas;
    std::vector<uint8_t> bytes() const { return canvasBytes(canvas); }
};

inline Decoded decodeFile(std::span<const uint8_t> file) {
    Decoded d;
    d.status = decodeG00Picture(file, d.canvas).status;
    return d;
}

inline std::vector<uint8_t> pixelAt(const Canvas& canvas, uint32_t x, uint32_t y) {
    const uint8_t* p = canvas.pixels.data() + (uint64_t(y) * canvas.width + x) * 4;
    return {p, p + 4};
}

}  // namespace support
