// The command line of tavimore-pack.
#pragma once

#include <string>
#include <vector>

#include "batch/pack_file.h"
#include "cli/file_run.h"

// The options both programs share (cli/file_run.h), and the packer's own. files are the
// PICTUREs.
struct PackOptions : RunOptions {
    std::string like;          // --like: the original G00 file, or empty for fresh files
    std::string likeDir;       // --like-dir: the folder of the originals, by the pictures' names
    bool dropOutside = false;  // --drop-outside: pixels no part holds are left out
    OutsidePixelsAre outside() const {
        return dropOutside ? OutsidePixelsAre::dropped : OutsidePixelsAre::refused;
    }
    bool changedOnly = false;  // --changed-only: pictures that change nothing are not written
};

// Fills options from argv; false with a one-line message in error on a usage error.
bool parsePackOptions(int argc, char** argv, PackOptions& options, std::string& error);

// The --help text, made from the option table.
std::string packUsageText();
