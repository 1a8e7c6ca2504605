#include "cli/options.h"

#include "cli/option_table.h"

namespace {

enum : int { kBmp = kFirstLongOnly, kPng, kMaxPixels, kVersion };

// One row per option: a new option is one row here and one case in applyOption.
constexpr OptionRow kOptions[] = {
    {"output", 'o', "DIR", "write the outputs into DIR, made when missing (default: .)"},
    {"recursive", 'r', nullptr, "convert the .g00 files of each FILE that is a folder, and below"},
    {"bmp", kBmp, nullptr, "write region-based pictures as BMP too (without transparency)"},
    {"png", kPng, nullptr, "write every picture as PNG (region-based ones with transparency)"},
    {"keep-going", 'k', nullptr, "go on after a file fails (default: stop at the first)"},
    {"jobs", 'j', "N", "convert up to N files at once (default: one per processor)"},
    {"no-clobber", 'n', nullptr, "leave existing outputs alone"},
    {"max-pixels", kMaxPixels, "N", "refuse pictures of more than N pixels; 0: no limit"},
    {"quiet", 'q', nullptr, "print nothing but errors"},
    {"verbose", 'v', nullptr, "list every file written"},
    {"help", 'h', nullptr, "show this text"},
    {"version", kVersion, nullptr, "show the version"},
};

bool applyOption(int code, const char* value, CliOptions& options, std::string& error) {
    uint64_t count = 0;
    switch (code) {
    case 'o':
        if (*value == '\0') {
            error = "option --output needs a folder";
            return false;
        }
        options.outputFolder = value;
        options.outputGiven = true;
        return true;
    case 'j':
        if (!parseCount(value, 1, 256, count)) {
            error = std::string("option --jobs needs a number from 1 to 256, not '") + value + "'";
            return false;
        }
        options.jobs = unsigned(count);
        return true;
    case kMaxPixels:
        if (!parseCount(value, 0, UINT64_MAX, count)) {
            error = std::string("option --max-pixels needs a number, not '") + value + "'";
            return false;
        }
        options.maxPixels = count;
        return true;
    case 'r': options.recursive = true; return true;
    case kBmp: options.bmpOnly = true; return true;
    case kPng: options.png = true; return true;
    case 'k': options.keepGoing = true; return true;
    case 'n': options.noClobber = true; return true;
    case 'q': options.quiet = true; return true;
    case 'v': options.verbose = true; return true;
    case 'h': options.help = true; return true;
    case kVersion: options.version = true; return true;
    }
    return false;
}

}  // namespace

bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error) {
    const auto apply = [&options](int code, const char* value, std::string& message) {
        return applyOption(code, value, options, message);
    };
    if (!readOptions(argc, argv, kOptions, apply, options.files, error)) return false;
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

std::string usageText() {
    std::string text =
        "usage: tavimore-cli [OPTION]... FILE...\n"
        "Converts G00 images: region-based pictures to layered PSD, full-frame pictures to BMP.\n"
        "\n";
    text += optionLines(kOptions);
    text +=
        "\n"
        "Each output is named after its source up to the first \".\", with the extension bmp,\n"
        "psd or png; an existing file of that name is replaced once the new one is complete, unless -n.\n"
        "Exit status: 0 when every file was converted, 1 when any failed, 2 for a usage error.\n";
    return text;
}
