#include "batch/folder_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "batch/file_access.h"

namespace fs = std::filesystem;

namespace {

fs::path pathOf(const std::string& utf8) {
#if defined(_WIN32) && defined(TAVIMORE_UTF8_PATHS)
    return fs::path(systemPath(utf8.c_str()));
#else
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#endif
}

std::string utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool hasG00Extension(const std::string& name) {
    if (name.size() < 4) return false;
    const char* end = name.c_str() + name.size() - 4;
    return end[0] == '.' && (end[1] | 0x20) == 'g' && end[2] == '0' && end[3] == '0';
}

struct Walk {
    const std::string& folder;
    bool stopAtFailure;
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
            } else if (hasG00Extension(name) && fs::is_regular_file(entry.status(statusError))) {
                found.push_back({joinPath(folder, path), path});
            }
        }
        if (!error) return true;
        unreadable.push_back({relative.empty() ? folder : joinPath(folder, relative),
                              error.message()});
        return !stopAtFailure;
    }
};

}  // namespace

bool walkFolder(const std::string& folder, bool stopAtFailure, std::vector<FoundFile>& found,
                std::vector<UnreadableFolder>& unreadable) {
    const size_t first = found.size();
    const bool complete = Walk{folder, stopAtFailure, found, unreadable}.below(pathOf(folder), "");
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
