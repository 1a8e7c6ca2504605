// Code page 932 (Shift-JIS) text: the program's paths and messages are 8-bit strings in it.
#pragma once

#include <cstddef>
#include <cstdint>

// A lead byte starts a double-byte character; the byte after it may be 0x5C and is then not
// a "\".
inline bool isCp932LeadByte(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Position of the last "\" of the NUL-terminated text, walking it by characters; -1 when none.
inline ptrdiff_t lastSeparator(const char* text, size_t limit) {
    ptrdiff_t last = -1;
    for (size_t i = 0; i < limit && text[i] != '\0'; ++i) {
        uint8_t byte = uint8_t(text[i]);
        if (isCp932LeadByte(byte)) {
            if (i + 1 >= limit || text[i + 1] == '\0') break;
            ++i;
        } else if (byte == '\\') {
            last = ptrdiff_t(i);
        }
    }
    return last;
}

// True when the text's last character (by characters, not bytes) is "\".
inline bool endsWithSeparator(const char* text, size_t length) {
    return length > 0 && lastSeparator(text, length) == ptrdiff_t(length) - 1;
}
