#include "batch/file_access.h"

#include <utility>

#include "common/fault_injection.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

FileHandle::FileHandle(FileHandle&& other) noexcept : native(other.native) {
    other.native = FileHandle().native;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        native = std::exchange(other.native, FileHandle().native);
    }
    return *this;
}

#ifdef _WIN32

bool FileHandle::isOpen() const { return native != INVALID_HANDLE_VALUE; }

void FileHandle::close() {
    if (!isOpen()) return;
    CloseHandle(native);
    faults::handleClosed();
    native = INVALID_HANDLE_VALUE;
}

Status openSource(const char* path, FileHandle& source) {
    source.close();
    if (faults::refuse(faults::Point::open)) return Status::cannotOpen;
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Status::cannotOpen;
    source.native = handle;
    faults::handleOpened();
    return Status::ok;
}

uint32_t sourceSize(const FileHandle& source) { return GetFileSize(source.native, nullptr); }

Status readWhole(FileHandle& source, uint8_t* into, uint32_t size) {
    // A test build may cut the read short, as a file that shrank while open would.
    const uint32_t asked = faults::refuse(faults::Point::read) ? size / 2 : size;
    DWORD got = 0;
    if (!ReadFile(source.native, into, asked, &got, nullptr) || got != size)
        return Status::readFailed;
    return Status::ok;
}

Status createOutput(const char* path, const FileHandle&, FileHandle& output) {
    output.close();
    if (faults::refuse(faults::Point::create)) return Status::cannotCreate;
    // No sharing: while the source is open for reading, an output naming it cannot be made.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Status::cannotCreate;
    output.native = handle;
    faults::handleOpened();
    return Status::ok;
}

Status writeWhole(FileHandle& output, const uint8_t* bytes, uint32_t size) {
    // A test build may cut the write short, as a full disk would.
    const uint32_t offered = faults::refuse(faults::Point::write) ? size / 2 : size;
    DWORD put = 0;
    if (!WriteFile(output.native, bytes, offered, &put, nullptr) || put != size)
        return Status::writeFailed;
    return Status::ok;
}

void removeOutput(const char* path) { DeleteFileA(path); }

#else

bool FileHandle::isOpen() const { return native >= 0; }

void FileHandle::close() {
    if (!isOpen()) return;
    ::close(native);
    faults::handleClosed();
    native = -1;
}

Status openSource(const char* path, FileHandle& source) {
    source.close();
    if (faults::refuse(faults::Point::open)) return Status::cannotOpen;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::cannotOpen;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {  // a folder is not a file to read
        ::close(fd);
        return Status::cannotOpen;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    source.native = fd;
    faults::handleOpened();
    return Status::ok;
}

uint32_t sourceSize(const FileHandle& source) {
    struct stat info;
    if (fstat(source.native, &info) != 0) return 0;
    return uint32_t(uint64_t(info.st_size));
}

Status readWhole(FileHandle& source, uint8_t* into, uint32_t size) {
    // A test build may cut the read short, as a file that shrank while open would.
    const uint32_t asked = faults::refuse(faults::Point::read) ? size / 2 : size;
    uint32_t done = 0;
    while (done < asked) {
        ssize_t got = pread(source.native, into + done, asked - done, off_t(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += uint32_t(got);
    }
    return done == size ? Status::ok : Status::readFailed;
}

Status createOutput(const char* path, const FileHandle& source, FileHandle& output) {
    output.close();
    if (faults::refuse(faults::Point::create)) return Status::cannotCreate;
    // Without sharing modes, refuse an output that is the open source itself (the same file
    // under its own name, a link or another path), before anything truncates it.
    struct stat existing, reading;
    if (source.isOpen() && stat(path, &existing) == 0 && fstat(source.native, &reading) == 0 &&
        existing.st_dev == reading.st_dev && existing.st_ino == reading.st_ino)
        return Status::sameAsSource;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Status::cannotCreate;
    output.native = fd;
    faults::handleOpened();
    return Status::ok;
}

Status writeWhole(FileHandle& output, const uint8_t* bytes, uint32_t size) {
    // A test build may cut the write short, as a full disk would.
    const uint32_t offered = faults::refuse(faults::Point::write) ? size / 2 : size;
    uint32_t done = 0;
    while (done < offered) {
        ssize_t put = ::write(output.native, bytes + done, offered - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += uint32_t(put);
    }
    if (done != size) return Status::writeFailed;
    // A full disk may only show when the data is flushed at close.
    if (::close(output.native) != 0) {
        output.native = -1;
        faults::handleClosed();
        return Status::writeFailed;
    }
    output.native = -1;
    faults::handleClosed();
    return Status::ok;
}

void removeOutput(const char* path) { unlink(path); }

#endif
