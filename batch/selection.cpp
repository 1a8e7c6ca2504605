#include "batch/selection.h"

#include <cstring>

#include "common/text.h"
#include "batch/file_access.h"

namespace {

// Every string of the list is searched within this many bytes.
constexpr size_t kStringLimit = kPathSize;

uint16_t refuse(char* selection) {
    selection[0] = '\0';
    return 0;
}

}  // namespace

uint16_t parseSelection(char* selection, size_t selectionSize, DialogOutcome outcome) {
    if (selectionSize < 2) return 0;
    if (outcome == DialogOutcome::cancelled) return refuse(selection);
    size_t first = strnlen(selection, selectionSize < kStringLimit ? selectionSize : kStringLimit);
    if (first == 0 || first >= kStringLimit || first + 1 >= selectionSize) return refuse(selection);

    if (selection[first + 1] != '\0') {  // directory, then the names up to an empty string
        size_t at = first + 1;
        uint32_t count = 0;
        while (at < selectionSize && selection[at] != '\0') {
            size_t room = selectionSize - at;
            size_t length = strnlen(selection + at, room < kStringLimit ? room : kStringLimit);
            if (length >= kStringLimit || length >= room) return refuse(selection);
            at += length + 1;
            ++count;
        }
        if (at >= selectionSize || count > 0xFFFF) return refuse(selection);
        return uint16_t(count);
    }

    // One full path: split it at its last "\" into directory and name.
    ptrdiff_t separator = lastSeparator(selection, first);
    if (separator < 0 || size_t(separator) + 1 == first) return refuse(selection);
    selection[separator] = '\0';
    return 1;
}

bool prepareSourcePath(const char* selection, char* sourcePath, size_t& namePos,
                       const char*& cursor) {
    size_t directory = strnlen(selection, kPathSize);
    cursor = selection + directory + 1;
    // The directory, its "\" and at least a one-byte name with its NUL must fit; otherwise no
    // name fits and the batch's first file fails.
    if (directory + 3 > kPathSize) {
        sourcePath[0] = '\0';
        namePos = kPathSize;
        return false;
    }
    std::memcpy(sourcePath, selection, directory);
    sourcePath[directory] = '\\';
    sourcePath[directory + 1] = '\0';
    namePos = directory + 1;
    return true;
}

const char* nextName(const char* cursor) { return cursor + std::strlen(cursor) + 1; }
