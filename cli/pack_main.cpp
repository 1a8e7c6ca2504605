// tavimore-pack: PNG, BMP and PSD pictures back into G00 images, on Linux and Windows.
#include <cstdio>
#include <string>

#include "batch/folder_walk.h"
#include "batch/pack_file.h"
#include "cli/interrupt.h"
#include "cli/pack_options.h"
#include "cli/report.h"
#include "codec/picture_reader.h"

namespace {

constexpr const char* kProgram = "tavimore-pack";

std::string sizeText(uint32_t width, uint32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string systemSuffix(int error) { return error != 0 ? ": " + systemErrorText(error) : ""; }

// What the user reads for a picture (or the original) that could not be packed.
std::string describe(const PackResult& result, const PackOptions& options,
                     const G00LikePlan* plan) {
    char text[160];
    switch (result.status) {
    case Status::notG00:
    case Status::unsupportedType:
        return std::string(statusText(result.status)) +
               (result.status == Status::unsupportedType ? " (G00 type " : " (type ") +
               std::to_string(result.typeByte) + ")";
    case Status::severalLayers:
        std::snprintf(text, sizeof text, kSeveralLayersFormat, unsigned(result.layerCount));
        return text;
    case Status::sizeDiffers:
        return "the picture is " + sizeText(result.width, result.height) + ", " + options.like +
               " is " + sizeText(plan->width, plan->height);
    case Status::pixelsOutside:
        std::snprintf(text, sizeof text,
                      "%llu pixels lie outside the original's parts, within (%u, %u) to (%u, %u)"
                      " (--drop-outside leaves them out)",
                      static_cast<unsigned long long>(result.outside.count), result.outside.left,
                      result.outside.top, result.outside.right, result.outside.bottom);
        return text;
    default:
        return statusText(result.status) + systemSuffix(result.systemError);
    }
}

// Packs one picture and puts its G00 file in place: the failure's text, or nothing.
std::string packOne(const std::string& picture, const PackOptions& options,
                    const PackOriginal* like, const OutputGuards& guards) {
    EncodedImage image;
    const PackResult packed = packFile(picture.c_str(), like, options.dropOutside, image);
    if (!packed.ok()) return describe(packed, options, like != nullptr ? &like->plan : nullptr);
    const std::string output = joinPath(options.outputFolder, outputFileName(baseName(picture), "g00"));
    const ConvertResult placed =
        placeImage(output.c_str(), output.size() - baseName(output).size(), image, guards);
    if (placed.ok()) return "";
    return statusText(placed.status) + (": " + output) + systemSuffix(placed.systemError);
}

int packAll(const PackOptions& options, TemporaryFiles& temporaries) {
    if (pathExists(options.outputFolder) && !isFolder(options.outputFolder)) {
        std::fprintf(stderr, "%s: %s is not a folder (try --help)\n", kProgram,
                     options.outputFolder.c_str());
        return 2;
    }
    std::string reason;
    if (options.outputGiven && !makeFolders(options.outputFolder, reason)) {
        std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", kProgram,
                     options.outputFolder.c_str(), reason.c_str());
        return 1;
    }
    // No output may replace a picture or the original, under any name.
    RunSources sources;
    for (const std::string& picture : options.pictures) sources.add(picture.c_str());
    if (!options.like.empty()) sources.add(options.like.c_str());
    const OutputGuards guards{&sources, &temporaries};

    Reporter reporter(kProgram, "packed", options.quiet, false, options.pictures.size());
    PackOriginal original;
    if (!options.like.empty()) {
        const PackResult read = readOriginal(options.like.c_str(), original);
        if (!read.ok()) {
            reporter.failed(options.like, describe(read, options, nullptr));
            return 1;
        }
    }
    const PackOriginal* like = options.like.empty() ? nullptr : &original;
    for (const std::string& picture : options.pictures) {
        const std::string failure = packOne(picture, options, like, guards);
        if (!failure.empty()) reporter.failed(picture, failure);
        reporter.done();
        if (!failure.empty() && !options.keepGoing) break;
    }
    reporter.summary(options.outputFolder);
    return reporter.failures() == 0 ? 0 : 1;
}

// A standard output that could not take everything (a full disk, a closed pipe) fails the run.
int finishOutput() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

}  // namespace

int main(int argc, char** argv) {
    PackOptions options;
    std::string error;
    if (!parsePackOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, error.c_str());
        return 2;
    }
    if (options.help || options.version) {
        if (options.help)
            std::fputs(packUsageText().c_str(), stdout);
        else
            std::printf("%s %s\n", kProgram, TAVIMORE_VERSION);
        return finishOutput();
    }
    // Never destroyed: the interrupt's thread may use it until the process is gone.
    TemporaryFiles& temporaries = *new TemporaryFiles;
    removeTemporariesOnInterrupt(temporaries);
    const int status = packAll(options, temporaries);
    return finishOutput() == 0 ? status : 1;
}
