// How a program's paths reach Windows. The window's are in the code page and go to the
// system's "A" functions with their 260-byte limit; the console programs' are UTF-8 and go to
// the wide functions in the "\\?\" form of the full path, so that neither the code page nor
// 260 characters limit them. The batch library is built once over these calls, and each
// program links one of the two ways: tavimore_paths_code_page or tavimore_paths_utf8.
// Elsewhere paths are bytes, handed to the system as they are.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <string>

HANDLE openFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
DWORD fileAttributes(const char* path);
void removeFile(const char* path);
bool moveOver(const char* from, const char* to);            // replacing a file of that name
std::filesystem::path folderPath(const std::string& utf8);  // for the folder walk
#endif
