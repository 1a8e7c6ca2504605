// What tavimore-cli --info prints of a file's description: text for people, or one JSON object
// for scripts (snake_case names, numbers as numbers, null for what could not be read).
#pragma once

#include <string>

#include "batch/convert_file.h"
#include "codec/g00_inspect.h"

struct FileInfo {
    std::string file;        // as given on the command line
    bool sizeKnown = false;  // the file was opened: description.fileSize holds its size
    bool read = false;       // false: the file could not be read, the rest is empty
    G00Description description;
    ConvertResult result;  // of reading, or of the conversion
    std::string reason;    // the failure as a conversion reports it; empty when ok
};

std::string infoText(const FileInfo& info);
std::string infoJson(const FileInfo& info);  // one object, no trailing newline

// The result's name in snake_case ("damaged_parts").
std::string resultKey(const ConvertResult& result);
