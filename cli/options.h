// The command line of tavimore-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/file_run.h"
#include "codec/g00.h"

// The options both programs share (cli/file_run.h), and the converter's own. files are the FILEs.
struct CliOptions : RunOptions {
    bool bmpOnly = false;  // --bmp: region-based pictures become BMP instead of PSD
    bool png = false;      // --png: every picture becomes PNG
    bool regions = false;  // --regions: each region of a region-based picture its own file
    bool layers = false;   // --layers: region-based pictures as PSD with a layer per region
    bool info = false;     // --info: describe the files, write nothing
    bool json = false;     // --json: --info as one JSON array
    uint64_t maxPixels = kDefaultMaxPixels;  // --max-pixels N; 0 for no limit
};

// Fills options from argv with getopt_long (short options bundle and take attached values,
// "--" ends options); false with a one-line message in error on a usage error.
bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error);

// The --help text, made from the option table.
std::string usageText();
