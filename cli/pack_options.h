// The command line of tavimore-pack.
#pragma once

#include <string>
#include <vector>

#include "cli/file_run.h"

// The options both programs share (cli/file_run.h), and the packer's own. files are the
// PICTUREs.
struct PackOptions : RunOptions {
    std::string like;          // --like: the original G00 file, or empty for fresh files
    bool dropOutside = false;  // --drop-outside: pixels no part holds are left out
};

// Fills options from argv; false with a one-line message in error on a usage error.
bool parsePackOptions(int argc, char** argv, PackOptions& options, std::string& error);

// The --help text, made from the option table.
std::string packUsageText();
