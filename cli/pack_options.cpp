#include "cli/pack_options.h"

#include "cli/option_table.h"

namespace {

enum : int { kLike = kFirstLongOnly, kDropOutside, kVersion };

constexpr OptionRow kOptions[] = {
    {"output", 'o', "DIR", "write the G00 files into DIR, made when missing (default: .)"},
    {"like", kLike, "ORIGINAL", "keep all of the G00 file ORIGINAL but its parts' pixels"},
    {"drop-outside", kDropOutside, nullptr, "with --like: leave out pixels that no part holds"},
    {"keep-going", 'k', nullptr, "go on after a picture fails (default: stop at the first)"},
    {"quiet", 'q', nullptr, "print nothing but errors"},
    {"help", 'h', nullptr, "show this text"},
    {"version", kVersion, nullptr, "show the version"},
};

bool applyOption(int code, const char* value, PackOptions& options, std::string& error) {
    switch (code) {
    case 'o':
    case kLike:
        if (*value == '\0') {
            error = code == 'o' ? "option --output needs a folder" : "option --like needs a file";
            return false;
        }
        (code == 'o' ? options.outputFolder : options.like) = value;
        options.outputGiven = options.outputGiven || code == 'o';
        return true;
    case kDropOutside: options.dropOutside = true; return true;
    case 'k': options.keepGoing = true; return true;
    case 'q': options.quiet = true; return true;
    case 'h': options.help = true; return true;
    case kVersion: options.version = true; return true;
    }
    return false;
}

}  // namespace

bool parsePackOptions(int argc, char** argv, PackOptions& options, std::string& error) {
    const auto apply = [&options](int code, const char* value, std::string& message) {
        return applyOption(code, value, options, message);
    };
    if (!readOptions(argc, argv, kOptions, apply, options.pictures, error)) return false;
    if (options.dropOutside && options.like.empty()) {
        error = "option --drop-outside needs --like";
        return false;
    }
    if (!options.help && !options.version && options.pictures.empty()) {
        error = "no pictures given";
        return false;
    }
    return true;
}

std::string packUsageText() {
    std::string text =
        "usage: tavimore-pack [-o DIR] [--like ORIGINAL.g00] [--drop-outside] [-k] [-q] PICTURE...\n"
        "Packs PNG, BMP and PSD pictures into G00 images.\n"
        "\n";
    text += optionLines(kOptions);
    text +=
        "\n"
        "Each PICTURE becomes DIR/NAME.g00, NAME being its name up to the first \".\"; an\n"
        "existing file of that name is replaced once the new one is complete, but never a\n"
        "PICTURE or ORIGINAL. Without --like, an opaque picture becomes a full-frame file and\n"
        "any other a region-based file of one part. With it, the picture must have ORIGINAL's\n"
        "size, and every pixel that differs from ORIGINAL must lie in one of its parts.\n"
        "Exit status: 0 when every picture was packed, 1 when any failed, 2 for a usage error.\n";
    return text;
}
