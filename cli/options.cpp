#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>

namespace {

// Options without a letter of their own take a code above every character.
enum : int { kBmp = 256, kPng, kRegions, kLayers, kInfo, kJson, kMaxPixels, kVersion };

// One row per option: getopt_long's tables and the help text are made from it, so a new option
// is one row here and one case in applyOption.
struct OptionRow {
    const char* name;   // the long form
    int code;           // its letter, or a code above 255 for a long form only
    const char* value;  // the value's name in the help text, or nullptr for a switch
    const char* help;
};

constexpr OptionRow kOptions[] = {
    {"output", 'o', "DIR", "write the outputs into DIR, made when missing (default: .)"},
    {"recursive", 'r', nullptr, "convert the .g00 files of each FILE that is a folder, and below"},
    {"bmp", kBmp, nullptr, "write region-based pictures as BMP too (without transparency)"},
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
    {"version", kVersion, nullptr, "show the version"},
};

bool parseCount(const char* value, uint64_t low, uint64_t high, uint64_t& count) {
    if (*value < '0' || *value > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(value, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    count = parsed;
    return true;
}

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
    case kRegions: options.regions = true; return true;
    case kLayers: options.layers = true; return true;
    case kInfo: options.info = true; return true;
    case kJson: options.json = true; return true;
    case 'k': options.keepGoing = true; return true;
    case 'n': options.noClobber = true; return true;
    case 'q': options.quiet = true; return true;
    case 'v': options.verbose = true; return true;
    case 'h': options.help = true; return true;
    case kVersion: options.version = true; return true;
    }
    return false;
}

const OptionRow* rowFor(int code) {
    for (const OptionRow& row : kOptions)
        if (row.code == code) return &row;
    return nullptr;
}

// What getopt_long refused, told as the user typed it. After a refused long form, the word
// before optind is that long form; a refused letter is in optopt.
std::string describeRefusal(bool valueMissing, const char* lastWord) {
    const OptionRow* row = optopt != 0 ? rowFor(optopt) : nullptr;
    std::string word = lastWord;
    const bool longForm = word.rfind("--", 0) == 0 &&
                          (row == nullptr || word.compare(2, word.find('=') - 2, row->name) == 0);
    const std::string typed =
        longForm ? word.substr(0, word.find('=')) : std::string("-") + char(optopt);
    if (valueMissing) return "option " + typed + " needs a value";
    if (row != nullptr && longForm) return "option " + typed + " takes no value";
    return "unknown option " + typed;
}

}  // namespace

bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error) {
    std::string letters = ":";  // a missing value is told apart from an unknown option
    std::vector<option> longOptions;
    for (const OptionRow& row : kOptions) {
        if (row.code < 256) {
            letters += char(row.code);
            if (row.value != nullptr) letters += ':';
        }
        longOptions.push_back({row.name, row.value != nullptr ? required_argument : no_argument,
                               nullptr, row.code});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    opterr = 0;
    optind = 0;  // a fresh scan, also when called again
    for (;;) {
        const int code = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr);
        if (code == -1) break;
        if (code == '?' || code == ':') {
            error = describeRefusal(code == ':', optind > 0 ? argv[optind - 1] : "");
            return false;
        }
        if (!applyOption(code, optarg != nullptr ? optarg : "", options, error)) return false;
    }
    for (int i = optind; i < argc; ++i) options.files.emplace_back(argv[i]);
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
    for (const OptionRow& row : kOptions) {
        std::string left = "  ";
        if (row.code < 256) left += std::string("-") + char(row.code) + ", ";
        else left += "    ";
        left += std::string("--") + row.name;
        if (row.value != nullptr) left += std::string("=") + row.value;
        left.resize(std::max<size_t>(left.size() + 2, 24), ' ');
        text += left + row.help + "\n";
    }
    text +=
        "\n"
        "Each output is named after its source up to the first \".\", with the extension bmp,\n"
        "psd or png (with --regions, \"_\" and the region's three digits before it); an\n"
        "existing file of that name is replaced once the new one is complete, unless -n.\n"
        "Exit status: 0 when every file was converted, 1 when any failed, 2 for a usage error.\n";
    return text;
}
