// Finding the files of a kind below a folder (G00 files, or pictures), for a run over whole
// folders.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct FoundFile {
    std::string path;      // the folder as given, joined with relative
    std::string relative;  // below the folder, its parts joined by the system's separator
};

struct UnreadableFolder {
    std::string path;
    std::string reason;  // the system's words
};

// Lists every regular file below folder (UTF-8) whose name ends in one of extensions (".g00",
// compared in any ASCII letter case), in byte order of the relative paths, so that runs are
// reproducible. Links to folders are not followed; a link to a regular file counts as that
// file. A subfolder that cannot be read is listed in unreadable and left out, and the walk
// goes on or ends there (false).
enum class AtUnreadable : uint8_t { goOn, stop };
bool walkFolder(const std::string& folder, std::span<const char* const> extensions,
                AtUnreadable atUnreadable, std::vector<FoundFile>& found,
                std::vector<UnreadableFolder>& unreadable);

// Whether the UTF-8 path names a folder (links followed), or anything at all (links not).
bool isFolder(const std::string& path);
bool pathExists(const std::string& path);

// Makes the folder and its parents when missing; false with the system's words in reason.
bool makeFolders(const std::string& path, std::string& reason);

// folder and part joined by the system's separator (none added after one already there).
std::string joinPath(const std::string& folder, const std::string& part);

// The name part of a path: after its last separator (also "\\" and ":" on Windows).
std::string baseName(const std::string& path);
