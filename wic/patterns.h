// The fixed bytes by which WIC picks this decoder for a stream. Registration writes them; the
// decoder's QueryCapability asks them too, so that it claims no stream WIC would not send it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

struct Pattern {
    uint32_t length = 0;
    std::array<uint8_t, 16> bytes{}, mask{};
    void set(uint32_t at, uint8_t value, uint8_t bits);
    bool matches(std::span<const uint8_t> head) const;
};

std::vector<Pattern> g00Patterns();
bool matchesAG00Pattern(std::span<const uint8_t> head);
