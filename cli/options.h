// The command line of tavimore-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CliOptions {
    bool bmpOnly = false;     // --bmp: region-based pictures become BMP too
    bool png = false;         // --png: every picture becomes PNG
    bool regions = false;     // --regions: each region of a region-based picture its own file
    bool layers = false;      // --layers: region-based pictures as PSD with a layer per region
    bool info = false;        // --info: describe the files, write nothing
    bool json = false;        // --json: --info as one JSON array
    std::string outputFolder = ".";
    bool outputGiven = false; // -o: the folder is made when it does not exist
    bool keepGoing = false;   // -k: convert the remaining files after a failure
    unsigned jobs = 0;        // -j N; 0 means one per processor
    bool quiet = false;       // -q: only errors
    bool verbose = false;     // -v: every file written
    bool noClobber = false;   // -n: existing outputs are left alone
    bool recursive = false;   // -r: folders are walked
    uint64_t maxPixels = 178956970;  // --max-pixels N; 0 for no limit
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

// Fills options from argv with getopt_long (short options bundle and take attached values,
// "--" ends options); false with a one-line message in error on a usage error.
bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error);

// The --help text, made from the option table.
std::string usageText();
