// Whole-file reads and writes for the conversion: Windows file handles, or POSIX descriptors
// with the same behaviour.
#pragma once

#include <cstdint>

#include "common/status.h"

class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle() { close(); }
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const;
    void close();  // closing nothing does nothing

#ifdef _WIN32
    void* native = reinterpret_cast<void*>(intptr_t(-1));  // a HANDLE; INVALID_HANDLE_VALUE when closed
#else
    int native = -1;
#endif
};

// Opens an existing file for reading, others may read it too: cannotOpen on failure.
Status openSource(const char* path, FileHandle& source);

// The low 32 bits of the file's size.
uint32_t sourceSize(const FileHandle& source);

// Reads size bytes from the start: readFailed unless all of them arrive.
Status readWhole(FileHandle& source, uint8_t* into, uint32_t size);

// Creates or replaces the output, unshared: cannotCreate when that fails, and sameAsSource when
// the path names the open source itself (the Windows sharing mode refuses that by itself).
Status createOutput(const char* path, const FileHandle& source, FileHandle& output);

// Writes all bytes: writeFailed unless every byte was accepted.
Status writeWhole(FileHandle& output, const uint8_t* bytes, uint32_t size);

// Removes a file this conversion created and could not complete.
void removeOutput(const char* path);
