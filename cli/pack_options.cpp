#include "cli/pack_options.h"

#include "cli/option_table.h"

namespace {

enum : int { kLike = kFirstProgramOption, kDropOutside };

constexpr OptionRow kOptions[] = {
    {"output", 'o', "DIR", "write the G00 files into DIR, made when missing (default: .)"},
    {"recursive", 'r', nullptr, "pack the PNG, BMP and PSD files of each folder, and below"},
    {"like", kLike, "ORIGINAL", "keep all of the G00 file ORIGINAL but its parts' pixels"},
    {"drop-outside", kDropOutside, nullptr, "with --like: leave out pixels that no part holds"},
    {"keep-going", 'k', nullptr, "go on after a picture fails (default: stop at the first)"},
    {"no-clobber", 'n', nullptr, "leave existing G00 files alone"},
    {"quiet", 'q', nullptr, "print nothing but errors"},
    {"verbose", 'v', nullptr, "list every file written"},
    {"help", 'h', nullptr, "show this text"},
    {"version", kVersionOption, nullptr, "show the version"},
};

bool applyOption(int code, const char* value, PackOptions& options, std::string& error) {
    switch (code) {
    case kLike:
        if (*value == '\0') {
            error = "option --like needs a file";
            return false;
        }
        options.like = value;
        return true;
    case kDropOutside: options.dropOutside = true; return true;
    }
    return applyRunOption(code, value, options, error);
}

}  // namespace

bool parsePackOptions(int argc, char** argv, PackOptions& options, std::string& error) {
    const auto apply = [&options](int code, const char* value, std::string& message) {
        return applyOption(code, value, options, message);
    };
    if (!readOptions(argc, argv, kOptions, apply, options.files, error)) return false;
    if (options.dropOutside && options.like.empty()) {
        error = "option --drop-outside needs --like";
        return false;
    }
    if (!options.help && !options.version && options.files.empty()) {
        error = "no pictures given";
        return false;
    }
    return true;
}

std::string packUsageText() {
    std::string text =
        "usage: tavimore-pack [OPTION]... PICTURE...\n"
        "Packs PNG, BMP and PSD pictures into G00 images.\n"
        "\n";
    text += optionLines(kOptions);
    text +=
        "\n"
        "Each PICTURE becomes DIR/NAME.g00, NAME being its name up to the first \".\"; an\n"
        "existing file of that name is replaced once the new one is complete (unless -n), but\n"
        "never a PICTURE or ORIGINAL. Without --like, an opaque picture becomes a full-frame\n"
        "file and any other a region-based file of one part. With it, the picture must have\n"
        "ORIGINAL's size, and only the pixels of ORIGINAL's parts are taken; a pixel outside\n"
        "them must be fully transparent, of any colour (--drop-outside leaves out the others).\n"
        "An opaque picture, such as a 24-bit BMP, gives only colours: the parts keep ORIGINAL's\n"
        "alpha, and its pixels outside them must be black. Any other picture gives its alpha,\n"
        "which a full-frame ORIGINAL cannot hold.\n"
        "Exit status: 0 when every picture was packed (or left alone with -n), 1 when any\n"
        "failed, 2 for a usage error, 130 when interrupted (Ctrl-C).\n";
    return text;
}
