// The window's count label: "    0 file(s) selected." with the count in its first five
// characters, leading zeros as spaces and the units always shown.
#pragma once

#include <cstdint>

inline constexpr char kCountLabelTemplate[] = "    0 file(s) selected.";

inline void formatCount(uint16_t count, char digits[5]) {
    static constexpr uint32_t kPlaces[5] = {10000, 1000, 100, 10, 1};
    bool seen = false;
    for (int i = 0; i < 5; ++i) {
        const uint32_t digit = count / kPlaces[i] % 10;
        seen = seen || digit != 0 || i == 4;
        digits[i] = seen ? char('0' + digit) : ' ';
    }
}
