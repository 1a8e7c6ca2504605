// Converting every file of the selection list in order, stopping at the first failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "batch/convert_file.h"

// What the batch shows between files, and its caller's turn to do its own work there. The
// window steps its progress bar, drains its message queue and sets its file label.
class BatchView {
public:
    virtual void stepProgress() = 0;
    virtual void betweenFiles() = 0;
    virtual void showPath(const char* sourcePath) = 0;

protected:
    ~BatchView() = default;
};

struct BatchJob {
    uint16_t count = 0;
    char* sourcePath = nullptr;  // kPathSize bytes; its directory part already in place
    size_t sourceNamePos = 0;
    const char* cursor = nullptr;  // the first name of the list
    char* outputPath = nullptr;    // kPathSize bytes; the folder ending in its separator
    size_t outputNamePos = 0;
    BuiltInFormat regionFormat = BuiltInFormat::psd;
};

// For each file: step the progress, give the view its turn, put the name into sourcePath (a path that
// would not fit fails the file: nameTooLong), show it, convert it. The first failure ends the
// batch and is returned; the remaining files are not opened. An output that would replace
// any file of the list fails as sameAsSource.
ConvertResult runBatch(BatchJob& job, BatchView& view);

// Makes the typed folder (a NUL-terminated text in kPathSize bytes) end in "\", judged by
// characters of code page 932, and returns the name position after it. A 259-byte folder
// fills the buffer with its "\": no name fits after it, so the batch's first file fails.
size_t prepareOutputFolder(char* outputPath);
