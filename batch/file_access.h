// Whole-file reads and writes for the conversion: Windows file handles, or POSIX descriptors
// with the same behaviour. An output is written under a temporary name in its folder and put
// in place under its own name only once it is complete and closed, so a failure or an
// interrupt never costs the file it would have replaced.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What became of a file the programs open, read or write. The codec's results are Status.
enum class FileStatus : uint8_t {
    ok,
    cannotOpen,      // the source file could not be opened
    notRegularFile,  // the source is a folder, a FIFO, a device or a socket
    emptyFile,       // the source file holds no bytes
    readFailed,      // the source could not be read whole
    nameTooLong,     // the output or source path does not fit in kPathSize bytes
    cannotCreate,    // the output file could not be created
    sameAsSource,    // the output would replace a file the run reads
    writeFailed,     // the output could not be written whole (an older file of its name stays)
};

// The longest path the programs take, NUL included, as the window's open dialog and its
// working block hold it.
inline constexpr uint32_t kPathSize = 260;

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

    // The system's code (errno, or GetLastError on Windows) of the last failure on this file,
    // 0 when none: what systemErrorText tells the user.
    int error = 0;

#ifdef _WIN32
    void* native =
        reinterpret_cast<void*>(intptr_t(-1));  // a HANDLE; INVALID_HANDLE_VALUE when closed
#else
    int native = -1;
#endif
};

// Which file a path names, links followed: device and inode, or volume serial and file index.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// False when the path names nothing that can be asked.
bool identifyFile(const char* path, FileIdentity& identity);

// The files a run reads, known before its first output: no output of the run may replace one
// of them, whatever the order of the files and however many are converted at once.
// Sources are added, then settled once (sorted, a run of thousands of files in one step),
// then asked.
class RunSources {
public:
    void add(const char* path);  // a path that names nothing is left out: it will fail to open
    void add(const FileIdentity& identity) { identities_.push_back(identity); }
    void settle();
    bool contains(const FileIdentity& identity) const;

private:
    std::vector<FileIdentity> identities_;
};

// The temporary outputs that exist now, for an interrupted program to remove before it exits.
// Creating a temporary file and putting it in place each happen under the list's lock, so the
// interrupt sees every temporary file there is. The lock only ever spins across one system
// call, and keeps the window's program free of a thread library.
class TemporaryFiles {
public:
    // Removes every listed file and keeps the lock for good: nothing is created or put in place
    // after it. For a program that exits right after.
    void removeAllAndHold();

    void lock();
    void unlock();
    void add(const std::string& path);  // under the lock
    void drop(const std::string& path);

private:
    std::atomic_flag busy_;
    std::vector<std::string> paths_;
};

// What every output of a run is checked against and recorded in; either may be absent.
struct OutputGuards {
    const RunSources* sources = nullptr;
    TemporaryFiles* temporaries = nullptr;
};

// An output being written under its temporary name; discarded (closed and removed) unless it
// was put in place.
class PendingOutput {
public:
    PendingOutput() = default;
    ~PendingOutput() { discard(); }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    void discard();

    FileHandle file;
    std::string temporaryPath;
    TemporaryFiles* temporaries = nullptr;
};

// The system's own words for an error code ("No such file or directory"), UTF-8.
std::string systemErrorText(int error);

// Opens an existing file for reading, others may read it too: cannotOpen on failure, and
// notRegularFile for a folder, a FIFO, a device or a socket (opened without waiting for a
// writer, so a FIFO never hangs the program).
FileStatus openSource(const char* path, FileHandle& source);

// The file's size in 64 bits (0 when it cannot be asked).
uint64_t sourceSize(const FileHandle& source);

// Reads size bytes from the start: readFailed unless all of them arrive.
FileStatus readWhole(FileHandle& source, uint8_t* into, uint32_t size);

// Creates the temporary file for the output at path, whose name starts at namePos, beside it.
// sameAsSource when path names the open source or one of the run's sources (links followed);
// cannotCreate when an existing file of that name may not be written, or no temporary file
// can be made.
FileStatus createOutput(const char* path, size_t namePos, const FileHandle& source,
                        const OutputGuards& guards, PendingOutput& output);

// Writes all bytes: writeFailed unless every byte was accepted. The file stays open.
FileStatus writeWhole(FileHandle& output, const uint8_t* bytes, uint32_t size);

// Closes a written file: writeFailed when the close reports an error (a full disk may only
// show when the data is flushed).
FileStatus closeWritten(FileHandle& output);

// Closes the temporary file and renames it over path (an existing file of that name is
// replaced in one step). writeFailed when the close fails, cannotCreate when the rename is
// refused (for instance while another program holds the old file open); the temporary file
// is removed on every failure.
FileStatus placeOutput(PendingOutput& output, const char* path);
