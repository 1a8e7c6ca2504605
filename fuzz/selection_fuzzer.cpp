// Fuzzes the selection list over dialog-shaped buffers: whatever the open dialog leaves in the
// buffer, counting and walking the list stay inside it and every name fits its path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/count_label.h"
#include "batch/selection.h"
#include "app/work_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const DialogOutcome outcome = data[0] & 1 ? DialogOutcome::chosen : DialogOutcome::cancelled;
    ++data;
    --size;
    // Exactly the selection buffer, so that any read past it is caught; the dialog writes at
    // most its told size, and what lies beyond is left from earlier selections (here: 'x').
    auto buffer = std::make_unique<char[]>(kSelectionBufferSize);
    std::memset(buffer.get(), 'x', kSelectionBufferSize);
    size_t written = size < kSelectionDialogSize ? size : kSelectionDialogSize;
    std::memcpy(buffer.get(), data, written);
    if (written < kSelectionDialogSize) buffer[written] = '\0';

    uint16_t count = parseSelection(buffer.get(), kSelectionBufferSize, outcome);
    char digits[5];
    formatCount(count, digits);
    if (count == 0) return 0;

    char sourcePath[kPathSize];
    size_t namePos;
    const char* cursor;
    prepareSourcePath(buffer.get(), sourcePath, namePos, cursor);
    const char* end = buffer.get() + kSelectionBufferSize;
    for (uint16_t i = 0; i < count; ++i) {
        if (cursor >= end) std::abort();  // the count promised more names than the buffer holds
        size_t length = strnlen(cursor, size_t(end - cursor));
        if (length == size_t(end - cursor) || length == 0 || length >= kPathSize) std::abort();
        cursor = nextName(cursor);
    }
    if (cursor >= end || *cursor != '\0') std::abort();  // the list ends with an empty string
    return 0;
}
