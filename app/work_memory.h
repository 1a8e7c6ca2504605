// The window's one working block: the output path, the source path and the selection buffer.
#pragma once

#include <cstdint>

#include "batch/file_access.h"  // kPathSize
#include "common/byte_buffer.h"

inline constexpr uint32_t kWorkMemorySize = 65536;
inline constexpr uint32_t kOutputPathOffset = 0;
inline constexpr uint32_t kSourcePathOffset = 260;
inline constexpr uint32_t kSelectionOffset = 520;
inline constexpr uint32_t kSelectionBufferSize = kWorkMemorySize - kSelectionOffset;  // 65,016
inline constexpr uint32_t kSelectionDialogSize = 65014;  // what the open dialog is told

struct WorkMemory {
    ByteBuffer block;

    bool obtain() { return obtainBlock(kWorkMemorySize, block) == Status::ok; }
    void release() { block.release(); }
    char* outputPath() { return reinterpret_cast<char*>(block.data() + kOutputPathOffset); }
    char* sourcePath() { return reinterpret_cast<char*>(block.data() + kSourcePathOffset); }
    char* selection() { return reinterpret_cast<char*>(block.data() + kSelectionOffset); }
};
