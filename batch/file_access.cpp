#include "batch/file_access.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/fault_injection.h"

#ifdef _WIN32
#include "batch/system_paths.h"
#else
#include <cerrno>
#include <cstdio>
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

void RunSources::add(const char* path) {
    FileIdentity identity;
    if (identifyFile(path, identity)) add(identity);
}

void RunSources::settle() {
    std::sort(identities_.begin(), identities_.end());
    identities_.erase(std::unique(identities_.begin(), identities_.end()), identities_.end());
}

bool RunSources::contains(const FileIdentity& identity) const {
    return std::binary_search(identities_.begin(), identities_.end(), identity);
}

void TemporaryFiles::lock() {
    while (busy_.test_and_set(std::memory_order_acquire)) {}
}

void TemporaryFiles::unlock() { busy_.clear(std::memory_order_release); }

void TemporaryFiles::add(const std::string& path) { paths_.push_back(path); }

void TemporaryFiles::drop(const std::string& path) {
    auto at = std::find(paths_.begin(), paths_.end(), path);
    if (at != paths_.end()) paths_.erase(at);
}

namespace {

#ifndef _WIN32
void removeFile(const char* path);
#endif

// The temporary name takes the place of the output's own name in the same folder and is never
// longer than it (but at least 2 characters), so that any output path that fits the window's
// 260 bytes gives a temporary path that fits too: "~" and up to 8 characters of a number made
// from the process id and the attempt, lower case for file systems that ignore case. Outputs
// of one run are put in place one after another, so attempts beyond the first only meet other
// programs' files or leftovers of a killed run.
std::string temporaryPath(const char* path, size_t namePos, uint32_t processId, uint32_t attempt) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
    const size_t nameLength = std::strlen(path + namePos);
    const size_t digits = std::clamp<size_t>(nameLength, 2, 9) - 1;
    uint64_t number = (uint64_t(processId) << 20) ^ (uint64_t(attempt) * 0x9E3779B97F4A7C15u);
    number ^= number >> 29;
    std::string temporary(path, namePos);
    temporary += '~';
    for (size_t i = 0; i < digits; ++i, number >>= 5) temporary += kDigits[number & 31];
    return temporary;
}

constexpr uint32_t kTemporaryAttempts = 256;

// Creates the output's temporary file under the first free temporary name. tryCreate(name,
// file) opens it, setting file.native when it does and file.error either way, and returns
// whether it did; nameTaken(error) tells a name that another file holds, which the next
// attempt avoids. The name joins the run's temporaries as it is created.
template <class TryCreate, class NameTaken>
FileStatus createTemporary(const char* path, size_t namePos, uint32_t processId,
                           const OutputGuards& guards, PendingOutput& output, TryCreate tryCreate,
                           NameTaken nameTaken) {
    for (uint32_t attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        std::string temporary = temporaryPath(path, namePos, processId, attempt);
        if (guards.temporaries != nullptr) guards.temporaries->lock();
        const bool created = tryCreate(temporary, output.file);
        if (created && guards.temporaries != nullptr) guards.temporaries->add(temporary);
        if (guards.temporaries != nullptr) guards.temporaries->unlock();
        if (created) {
            faults::handleOpened();
            output.temporaryPath = std::move(temporary);
            output.temporaries = guards.temporaries;
            return FileStatus::ok;
        }
        if (!nameTaken(output.file.error)) break;
    }
    return FileStatus::cannotCreate;
}

// Fails the output when it would replace the open source or a source of the run.
bool replacesASource(const char* path, const FileHandle& source, const OutputGuards& guards);

// The system's part of createOutput: its own refusals, then the temporary file.
FileStatus createOnSystem(const char* path, size_t namePos, const OutputGuards& guards,
                          PendingOutput& output);

}  // namespace

void TemporaryFiles::removeAllAndHold() {
    lock();
    for (const std::string& path : paths_) removeFile(path.c_str());
    paths_.clear();
}

void PendingOutput::discard() {
    file.close();
    if (temporaryPath.empty()) return;
    if (temporaries != nullptr) temporaries->lock();
    removeFile(temporaryPath.c_str());
    if (temporaries != nullptr) {
        temporaries->drop(temporaryPath);
        temporaries->unlock();
    }
    temporaryPath.clear();
}

#ifdef _WIN32

bool FileHandle::isOpen() const { return native != INVALID_HANDLE_VALUE; }

void FileHandle::close() {
    if (!isOpen()) return;
    CloseHandle(native);
    faults::handleClosed();
    native = INVALID_HANDLE_VALUE;
}

namespace {

bool identifyHandle(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool replacesASource(const char* path, const FileHandle& source, const OutputGuards& guards) {
    FileIdentity existing, reading;
    if (!identifyFile(path, existing)) return false;
    if (source.isOpen() && identifyHandle(source.native, reading) && reading == existing)
        return true;
    return guards.sources != nullptr && guards.sources->contains(existing);
}

}  // namespace

bool identifyFile(const char* path, FileIdentity& identity) {
    // No access asked for: only the file's information, whoever holds it open.
    HANDLE handle = openFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = identifyHandle(handle, identity);
    CloseHandle(handle);
    return known;
}

FileStatus openSource(const char* path, FileHandle& source) {
    source.close();
    source.error = 0;
    if (faults::refuse(faults::Point::open)) return FileStatus::cannotOpen;
    HANDLE handle =
        openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) {
        source.error = int(GetLastError());
        DWORD attributes = fileAttributes(path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? FileStatus::notRegularFile
                   : FileStatus::cannotOpen;
    }
    source.native = handle;
    faults::handleOpened();
    if (GetFileType(handle) != FILE_TYPE_DISK) {  // a console, a pipe or a device such as NUL
        source.close();
        return FileStatus::notRegularFile;
    }
    return FileStatus::ok;
}

uint64_t sourceSize(const FileHandle& source) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(source.native, &size) || size.QuadPart < 0) return 0;
    return uint64_t(size.QuadPart);
}

FileStatus readWhole(FileHandle& source, uint8_t* into, uint32_t size) {
    // A test build may cut the read short, as a file that shrank while open would.
    const uint32_t asked = faults::refuse(faults::Point::read) ? size / 2 : size;
    DWORD got = 0;
    if (!ReadFile(source.native, into, asked, &got, nullptr)) source.error = int(GetLastError());
    return got == size ? FileStatus::ok : FileStatus::readFailed;
}

namespace {

FileStatus createOnSystem(const char* path, size_t namePos, const OutputGuards& guards,
                          PendingOutput& output) {
    return createTemporary(
        path, namePos, uint32_t(GetCurrentProcessId()), guards, output,
        [](const std::string& temporary, FileHandle& file) {
            // Shared for deletion only, so that an interrupt can remove it while it is written.
            HANDLE handle = openFile(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
            file.error = int(GetLastError());
            if (handle == INVALID_HANDLE_VALUE) return false;
            file.native = handle;
            return true;
        },
        [](int error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; });
}

}  // namespace

FileStatus writeWhole(FileHandle& output, const uint8_t* bytes, uint32_t size) {
    // A test build may cut the write short, as a full disk would.
    const uint32_t offered = faults::refuse(faults::Point::write) ? size / 2 : size;
    DWORD put = 0;
    if (!WriteFile(output.native, bytes, offered, &put, nullptr))
        output.error = int(GetLastError());
    else if (put != size)
        output.error = ERROR_DISK_FULL;
    return put == size ? FileStatus::ok : FileStatus::writeFailed;
}

FileStatus closeWritten(FileHandle& output) {
    const bool closed = CloseHandle(output.native) != 0;
    if (!closed) output.error = int(GetLastError());
    faults::handleClosed();
    output.native = INVALID_HANDLE_VALUE;
    return closed ? FileStatus::ok : FileStatus::writeFailed;
}

namespace {
bool renameOver(const char* from, const char* to, int& error, bool& swapped) {
    swapped = false;
    if (moveOver(from, to)) return true;
    error = int(GetLastError());
    return false;
}
}  // namespace

std::string systemErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8;
    if (length > 0) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
        utf8.resize(size_t(bytes));
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), utf8.data(), bytes, nullptr, nullptr);
    }
    LocalFree(text);
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == '.'))
        utf8.pop_back();  // the system's text ends in ".\r\n"
    return utf8.empty() ? "error " + std::to_string(error) : utf8;
}

#else

bool FileHandle::isOpen() const { return native >= 0; }

void FileHandle::close() {
    if (!isOpen()) return;
    ::close(native);
    faults::handleClosed();
    native = -1;
}

namespace {

void removeFile(const char* path) { unlink(path); }

FileIdentity identityOf(const struct stat& info) {
    return FileIdentity{uint64_t(info.st_dev), uint64_t(info.st_ino)};
}

bool replacesASource(const char* path, const FileHandle& source, const OutputGuards& guards) {
    struct stat existing, reading;
    if (stat(path, &existing) != 0) return false;
    if (source.isOpen() && fstat(source.native, &reading) == 0 &&
        identityOf(existing) == identityOf(reading))
        return true;
    return guards.sources != nullptr && guards.sources->contains(identityOf(existing));
}

// Puts from in place of to. A file or link of that name is swapped with from in one step, so
// that from then names the replaced file (swapped), for the caller to remove: ext4 makes a
// rename over an existing file write the new file's data out before it returns (its guard for
// programs that replace files without syncing them), which took longer than a whole
// conversion; the programs sync no output, whether its name is new or not.
bool renameOver(const char* from, const char* to, int& error, bool& swapped) {
    swapped = false;
#ifdef RENAME_EXCHANGE
    struct stat existing;
    if (lstat(to, &existing) == 0 && (S_ISREG(existing.st_mode) || S_ISLNK(existing.st_mode)) &&
        renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
        swapped = true;
        return true;
    }
#endif
    if (rename(from, to) == 0) return true;
    error = errno;
    return false;
}

}  // namespace

std::string systemErrorText(int error) { return std::strerror(error); }

bool identifyFile(const char* path, FileIdentity& identity) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    identity = identityOf(info);
    return true;
}

FileStatus openSource(const char* path, FileHandle& source) {
    source.close();
    source.error = 0;
    if (faults::refuse(faults::Point::open)) return FileStatus::cannotOpen;
    // Without waiting: a FIFO would otherwise block the open until a writer came.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        source.error = errno;
        return source.error == ENXIO ? FileStatus::notRegularFile : FileStatus::cannotOpen;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return FileStatus::notRegularFile;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    source.native = fd;
    faults::handleOpened();
    return FileStatus::ok;
}

uint64_t sourceSize(const FileHandle& source) {
    struct stat info;
    if (fstat(source.native, &info) != 0 || info.st_size < 0) return 0;
    return uint64_t(info.st_size);
}

FileStatus readWhole(FileHandle& source, uint8_t* into, uint32_t size) {
    // A test build may cut the read short, as a file that shrank while open would.
    const uint32_t asked = faults::refuse(faults::Point::read) ? size / 2 : size;
    uint32_t done = 0;
    while (done < asked) {
        ssize_t got = pread(source.native, into + done, asked - done, off_t(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) source.error = errno;
        if (got <= 0) break;
        done += uint32_t(got);
    }
    return done == size ? FileStatus::ok : FileStatus::readFailed;
}

namespace {

FileStatus createOnSystem(const char* path, size_t namePos, const OutputGuards& guards,
                          PendingOutput& output) {
    // A file of that name that this user may not write stays, as a read-only file does on
    // Windows; renaming over it would otherwise replace it. A symbolic link is itself
    // replaced by the new file, and what it points to stays as it was.
    struct stat existing;
    if (lstat(path, &existing) == 0 && !S_ISLNK(existing.st_mode) &&
        faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
        output.file.error = errno;
        return FileStatus::cannotCreate;
    }
    return createTemporary(
        path, namePos, uint32_t(getpid()), guards, output,
        [](const std::string& temporary, FileHandle& file) {
            const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            file.error = errno;
            if (fd < 0) return false;
            file.native = fd;
            return true;
        },
        [](int error) { return error == EEXIST; });
}

}  // namespace

FileStatus writeWhole(FileHandle& output, const uint8_t* bytes, uint32_t size) {
    // A test build may cut the write short, as a full disk would.
    const uint32_t offered = faults::refuse(faults::Point::write) ? size / 2 : size;
    uint32_t done = 0;
    while (done < offered) {
        ssize_t put = ::write(output.native, bytes + done, offered - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) output.error = errno;
        if (put <= 0) break;
        done += uint32_t(put);
    }
    if (done != size && output.error == 0) output.error = ENOSPC;
    return done == size ? FileStatus::ok : FileStatus::writeFailed;
}

FileStatus closeWritten(FileHandle& output) {
    const bool closed = ::close(output.native) == 0;
    if (!closed) output.error = errno;
    faults::handleClosed();
    output.native = -1;
    return closed ? FileStatus::ok : FileStatus::writeFailed;
}

#endif

FileStatus createOutput(const char* path, size_t namePos, const FileHandle& source,
                        const OutputGuards& guards, PendingOutput& output) {
    output.discard();
    output.file.error = 0;
    if (faults::refuse(faults::Point::create)) return FileStatus::cannotCreate;
    if (replacesASource(path, source, guards)) return FileStatus::sameAsSource;
    return createOnSystem(path, namePos, guards, output);
}

FileStatus placeOutput(PendingOutput& output, const char* path) {
    FileStatus status = closeWritten(output.file);
    if (status != FileStatus::ok) {
        output.discard();
        return status;
    }
    if (output.temporaries != nullptr) output.temporaries->lock();
    // A test build may refuse the rename, as Windows does while the old file is held open.
    bool swapped = false;
    const bool placed = !faults::refuse(faults::Point::place) &&
                        renameOver(output.temporaryPath.c_str(), path, output.file.error, swapped);
    if (placed && !swapped && output.temporaries != nullptr)
        output.temporaries->drop(output.temporaryPath);
    if (output.temporaries != nullptr) output.temporaries->unlock();
    if (!placed) {
        output.discard();
        return FileStatus::cannotCreate;
    }
    // The replaced file, now under the temporary name, is removed outside the lock (freeing its
    // pages takes a while) and stays listed until then, for an interrupt to remove.
    if (swapped) {
        removeFile(output.temporaryPath.c_str());
        if (output.temporaries != nullptr) {
            output.temporaries->lock();
            output.temporaries->drop(output.temporaryPath);
            output.temporaries->unlock();
        }
    }
    output.temporaryPath.clear();
    return FileStatus::ok;
}
