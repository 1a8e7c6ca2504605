#include "batch/system_paths.h"

namespace {

std::wstring systemPath(const char* path) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring given(size_t(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, given.data(), units);
    given.pop_back();  // the terminating NUL
    const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return given;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return given;
    full.resize(length);
    // Devices ("\\.\NUL") and paths already in the long form stay as they are.
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC" + full.substr(1);
    return L"\\\\?\\" + full;
}

}  // namespace

HANDLE openFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileW(systemPath(path).c_str(), access, share, nullptr, disposition, flags,
                       nullptr);
}

DWORD fileAttributes(const char* path) { return GetFileAttributesW(systemPath(path).c_str()); }

void removeFile(const char* path) { DeleteFileW(systemPath(path).c_str()); }

bool moveOver(const char* from, const char* to) {
    return MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

std::filesystem::path folderPath(const std::string& utf8) {
    return std::filesystem::path(systemPath(utf8.c_str()));
}
