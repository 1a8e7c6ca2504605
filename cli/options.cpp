#include "cli/options.h"

#include "cli/option_table.h"

namespace {

enum : int { kBmp = kFirstProgramOption, kPng, kRegions, kLayers, kInfo, kJson, kMaxPixels };

// One row per option: a new option is one row here and one case in applyOption.
constexpr OptionRow kOptions[] = {
    {"output", 'o', "DIR", "write the outputs into DIR, made when missing (default: .)"},
    {"recursive", 'r', nullptr, "convert the .g00 files of each FILE that is a folder, and below"},
    {"bmp", kBmp, nullptr, "write region-based pictures as BMP instead of PSD"},
    {"png", kPng, nullptr, "write every picture as PNG (region-based ones with transparency)"},
    {"regions", kRegions, nullptr, "write each region that draws a pixel alone, as NAME_RRR.EXT"},
    {"layers", kLayers, nullptr, "write region-based pictures as PSD with a layer per region"},
    {"info", kInfo, nullptr, "describe each FILE as the decoder reads it; write nothing"},
    {"json", kJson, nullptr, "with --info: print one JSON array, an object per file"},
    {"keep-going", 'k', nullptr, "go on after a file fails (default: stop at the first)"},
    {"jobs", 'j', "N", "convert up to N files at once (default: one per processor)"},
    {"no-clobber", 'n', nullptr, "leave existing outputs alone"},
    {"max-pixels", kMaxPixels, "N", "refuse pictures of more than N pixels; 0: no limit"},
    {"quiet", 'q', nullptr, "print nothing but errors"},
    {"verbose", 'v', nullptr, "list every file written"},
    {"help", 'h', nullptr, "show this text"},
    {"version", kVersionOption, nullptr, "show the version"},
};

bool applyOption(int code, const char* value, CliOptions& options, std::string& error) {
    uint64_t count = 0;
    switch (code) {
    case kMaxPixels:
        if (!parseCount(value, 0, UINT64_MAX, count)) {
            error = std::string("option --max-pixels needs a number, not '") + value + "'";
            return false;
        }
        options.maxPixels = count;
        return true;
    case kBmp: options.bmpOnly = true; return true;
    case kPng: options.png = true; return true;
    case kRegions: options.regions = true; return true;
    case kLayers: options.layers = true; return true;
    case kInfo: options.info = true; return true;
    case kJson: options.json = true; return true;
    }
    return applyRunOption(code, value, options, error);
}

}  // namespace

bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error) {
    const auto apply = [&options](int code, const char* value, std::string& message) {
        return applyOption(code, value, options, message);
    };
    if (!readOptions(argc, argv, kOptions, apply, options.files, error)) return false;
    // Pairs of options that ask for different outputs.
    const struct {
        bool first, second;
        const char* names;
    } exclusive[] = {
        {options.png, options.bmpOnly, "--png and --bmp"},
        {options.layers, options.bmpOnly, "--layers and --bmp"},
        {options.layers, options.png, "--layers and --png"},
        {options.layers, options.regions, "--layers and --regions"},
    };
    for (const auto& pair : exclusive) {
        if (pair.first && pair.second) {
            error = std::string("options ") + pair.names + " exclude each other";
            return false;
        }
    }
    if (options.info && (options.bmpOnly || options.png || options.regions || options.layers ||
                         options.outputGiven || options.noClobber)) {
        error = "option --info writes nothing: not with --bmp, --png, --regions, --layers, -o, -n";
        return false;
    }
    if (options.json && !options.info) {
        error = "option --json goes with --info";
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
        "psd or png (with --regions, \"_\" and the region's three digits before it); an\n"
        "existing file of that name is replaced once the new one is complete, unless -n.\n"
        "Exit status: 0 when every file was converted (or left alone with -n), 1 when any\n"
        "failed, 2 for a usage error, 130 when interrupted (Ctrl-C).\n";
    return text;
}
