#include "batch/system_paths.h"

HANDLE openFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

DWORD fileAttributes(const char* path) { return GetFileAttributesA(path); }

void removeFile(const char* path) { DeleteFileA(path); }

bool moveOver(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

std::filesystem::path folderPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
