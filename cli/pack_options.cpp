#include "cli/pack_options.h"

#include "cli/option_table.h"

namespace {

enum : int { kLike = kFirstProgramOption, kLikeDir, kDropOutside, kChangedOnly };

constexpr OptionRow kOptions[] = {
    {"output", 'o', "DIR", "write the G00 files into DIR, made when missing (default: .)"},
    {"recursive", 'r', nullptr, "pack the PNG, BMP and PSD files of each folder, and below"},
    {"like", kLike, "ORIGINAL", "keep all of the G00 file ORIGINAL but its parts' pixels"},
    {"like-dir", kLikeDir, "DIR",
     "as --like, each picture's original DIR/NAME.g00 (-r: same folder)"},
    {"drop-outside", kDropOutside, nullptr, "with --like: leave out pixels that no part holds"},
    {"changed-only", kChangedOnly, nullptr,
     "with --like: write only pictures that change the original"},
    {"jobs", 'j', "N", "pack up to N pictures at once (default: one per processor)"},
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
    case kLikeDir:
        if (*value == '\0') {
            error = "option --like-dir needs a folder";
            return false;
        }
        options.likeDir = value;
        return true;
    case kDropOutside: options.dropOutside = true; return true;
    case kChangedOnly: options.changedOnly = true; return true;
    }
    return applyRunOption(code, value, options, error);
}

}  // namespace

bool parsePackOptions(int argc, char** argv, PackOptions& options, std::string& error) {
    const auto apply = [&options](int code, const char* value, std::string& message) {
        return applyOption(code, value, options, message);
    };
    if (!readOptions(argc, argv, kOptions, apply, options.files, error)) return false;
    const bool like = !options.like.empty() || !options.likeDir.empty();
    if (!options.like.empty() && !options.likeDir.empty()) {
        error = "options --like and --like-dir exclude each other";
        return false;
    }
    if (options.dropOutside && !like) {
        error = "option --drop-outside needs --like";
        return false;
    }
    if (options.changedOnly && !like) {
        error = "option --changed-only needs --like or --like-dir";
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
        "A PSD with a layer per region (tavimore-cli --layers) refills each region from the\n"
        "layer named \"region RRR\", and region files NAME_RRR.png, .bmp or .psd (tavimore-cli\n"
        "--regions) each refill region RRR at its place: all of one ORIGINAL make one file,\n"
        "named after it. Regions without a layer or file keep their pixels. Without --like,\n"
        "a PSD of several layers becomes a file of one region per layer, bottom to top.\n"
        "--like-dir DIR finds each picture's ORIGINAL as DIR/NAME.g00 (NAME up to the first\n"
        "\".\", or before \"_RRR\" for region files), in the same folder below DIR with -r.\n"
        "Exit status: 0 when every picture was packed (or left alone with -n), 1 when any\n"
        "failed, 2 for a usage error, 130 when interrupted (Ctrl-C).\n";
    return text;
}
