// The command line of tavimore-cli.
#pragma once

#include <string>
#include <vector>

struct CliOptions {
    bool bmpOnly = false;     // --bmp: region-based pictures become BMP too
    bool png = false;         // --png: every picture becomes PNG
    std::string outputFolder = ".";
    bool keepGoing = false;   // -k: convert the remaining files after a failure
    unsigned jobs = 0;        // -j N; 0 means one per processor
    bool quiet = false;       // -q: only errors
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

// Fills options from argv; false with a message in error on a usage error.
bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error);

extern const char kUsage[];
