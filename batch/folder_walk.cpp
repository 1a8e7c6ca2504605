#include "batch/folder_walk.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "batch/file_access.h"
#include "batch/system_paths.h"

namespace fs = std::filesystem;

namespace {

fs::path pathOf(const std::string& utf8) {
#ifdef _WIN32
    return folderPath(utf8);
#else
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#endif
}

std::string utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

char lowerCase(char c) { return c >= 'A' && c <= 'Z' ? char(c | 0x20) : c; }

bool hasExtension(const std::string& name, std::span<const char* const> extensions) {
    for (const char* extension : extensions) {
        const size_t length = std::strlen(extension);
        if (name.size() < length) continue;
        const char* end = name.c_str() + name.size() - length;
        size_t i = 0;
        while (i < length && lowerCase(end[i]) == lowerCase(extension[i])) ++i;
        if (i == length) return true;
    }
    return false;
}

struct Walk {
    const std::string& folder;
    std::span<const char* const> extensions;
    AtUnreadable atUnreadable;
    std::vector<FoundFile>& found;
    std::vector<UnreadableFolder>& unreadable;

    bool below(const fs::path& at, const std::string& relative) {
        std::error_code error;
        fs::directory_iterator entries(at, error);
        for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
            const fs::directory_entry& entry = *entries;
            const std::string name = utf8Of(entry.path().filename());
            const std::string path = relative.empty() ? name : joinPath(relative, name);
            std::error_code statusError;
            const fs::file_status own = entry.symlink_status(statusError);
            if (fs::is_directory(own)) {
                if (!below(entry.path(), path)) return false;
            } else if (hasExtension(name, extensions) &&
                       fs::is_regular_file(entry.status(statusError))) {
                found.push_back({joinPath(folder, path), path});
            }
        }
        if (!error) return true;
        unreadable.push_back(
            {relative.empty() ? folder : joinPath(folder, relative), error.message()});
        return atUnreadable == AtUnreadable::goOn;
    }
};

}  // namespace

bool walkFolder(const std::string& folder, std::span<const char* const> extensions,
                AtUnreadable atUnreadable, std::vector<FoundFile>& found,
                std::vector<UnreadableFolder>& unreadable) {
    const size_t first = found.size();
    const bool complete =
        Walk{folder, extensions, atUnreadable, found, unreadable}.below(pathOf(folder), "");
    std::sort(found.begin() + ptrdiff_t(first), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.relative < b.relative; });
    return complete;
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(pathOf(path), error);
}

bool pathExists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(pathOf(path), error));
}

bool makeFolders(const std::string& path, std::string& reason) {
    std::error_code error;
    fs::create_directories(pathOf(path), error);
    if (!error && !isFolder(path)) error = std::make_error_code(std::errc::not_a_directory);
    if (error) reason = error.message();
    return !error;
}

std::string joinPath(const std::string& folder, const std::string& part) {
    if (folder.empty()) return part;
    const char last = folder.back();
    if (last == '/' || last == char(fs::path::preferred_separator)) return folder + part;
    return folder + char(fs::path::preferred_separator) + part;
}

std::string baseName(const std::string& path) {
#ifdef _WIN32
    const size_t separator = path.find_last_of("\\/:");
#else
    const size_t separator = path.rfind('/');
#endif
    return separator == std::string::npos ? path : path.substr(separator + 1);
}
