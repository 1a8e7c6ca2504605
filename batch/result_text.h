// The words and names the command-line programs give a file's outcome. The window shows one
// message for any failure, and the codec gives results only.
#pragma once

#include <string>

#include "batch/convert_file.h"
#include "common/status.h"

// The codec's words for the status (statusWords), with what to do where the programs say it;
// "converted" for ok.
const char* statusText(Status status);

// The result's name as written in the code: the file's failure, else the codec's result
// ("damagedParts"; "empty" for an empty file), for the --info --json result and tests.
const char* resultName(const ConvertResult& result);

// What the user reads for a failed file: the reason, the type byte a file that is no G00
// picture holds, the output concerned (when given) for a failure to write it, and the system's
// own words behind a failed open, read, create or write.
std::string resultText(const ConvertResult& result, const std::string& output);
