// The command line of tavimore-pack.
#pragma once

#include <string>
#include <vector>

struct PackOptions {
    std::string outputFolder = ".";
    bool outputGiven = false;  // -o: the folder is made when it does not exist
    std::string like;          // --like: the original G00 file, or empty for fresh files
    bool dropOutside = false;  // --drop-outside: pixels no part holds are left out
    bool keepGoing = false;    // -k
    bool quiet = false;        // -q
    bool help = false;
    bool version = false;
    std::vector<std::string> pictures;
};

// Fills options from argv; false with a one-line message in error on a usage error.
bool parsePackOptions(int argc, char** argv, PackOptions& options, std::string& error);

// The --help text, made from the option table.
std::string packUsageText();
