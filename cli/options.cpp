#include "cli/options.h"

#include <cstdlib>
#include <cstring>

const char kUsage[] =
    "usage: tavimore-cli [--bmp | --png] [-o DIR] [-k] [-j N] [-q] FILE...\n"
    "Converts G00 images: region-based pictures to layered PSD, full-frame pictures to BMP.\n"
    "\n"
    "  --bmp      write region-based pictures as BMP too (their transparency is dropped)\n"
    "  --png      write every picture as PNG (region-based with their transparency)\n"
    "  -o DIR     write the outputs into DIR (default: the current directory)\n"
    "  -k         keep going after a file fails (default: stop at the first failure)\n"
    "  -j N       convert up to N files at once (default: one per processor)\n"
    "  -q         print nothing but errors\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Each output is named after its source up to the first \".\", with the extension bmp,\n"
    "psd or png; an existing file of that name is replaced. Exit status: 0 when every file was\n"
    "converted, 1 when any failed, 2 for a usage error.\n";

bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error) {
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (onlyFiles || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            options.files.emplace_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            onlyFiles = true;
        } else if (std::strcmp(arg, "--bmp") == 0) {
            options.bmpOnly = true;
        } else if (std::strcmp(arg, "--png") == 0) {
            options.png = true;
        } else if (std::strcmp(arg, "-k") == 0) {
            options.keepGoing = true;
        } else if (std::strcmp(arg, "-q") == 0) {
            options.quiet = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            options.version = true;
        } else if (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "-j") == 0) {
            if (i + 1 >= argc) {
                error = std::string("option ") + arg + " needs a value";
                return false;
            }
            const char* value = argv[++i];
            if (arg[1] == 'o') {
                if (*value == '\0') {
                    error = "option -o needs a folder";
                    return false;
                }
                options.outputFolder = value;
            } else {
                char* end = nullptr;
                long jobs = std::strtol(value, &end, 10);
                if (*value == '\0' || *end != '\0' || jobs < 1 || jobs > 256) {
                    error = std::string("option -j needs a number from 1 to 256, not '") + value + "'";
                    return false;
                }
                options.jobs = unsigned(jobs);
            }
        } else {
            error = std::string("unknown option ") + arg;
            return false;
        }
    }
    if (options.png && options.bmpOnly) {
        error = "options --png and --bmp exclude each other";
        return false;
    }
    if (!options.help && !options.version && options.files.empty()) {
        error = "no files given";
        return false;
    }
    return true;
}
