// tavimore-pack: PNG, BMP and PSD pictures back into G00 images, on Linux and Windows.
#include <cstdio>
#include <string>

#include "batch/pack_file.h"
#include "cli/console.h"
#include "cli/file_run.h"
#include "cli/interrupt.h"
#include "cli/pack_options.h"

namespace {

constexpr const char* kProgram = "tavimore-pack";
const char* const kPictureExtensions[] = {".png", ".bmp", ".psd"};

int packAll(const PackOptions& options, TemporaryFiles& temporaries) {
    FileRun run(kProgram, "packed", options, kPictureExtensions, temporaries);
    int status = 0;
    // No output may replace a picture or the original, under any name.
    std::vector<std::string> alsoRead;
    if (!options.like.empty()) alsoRead.push_back(options.like);
    if (!run.start(status, alsoRead)) return status;

    PackOriginal original;
    if (!options.like.empty()) {
        const PackResult read = readOriginal(options.like.c_str(), original);
        if (!read.ok()) {
            run.reporter().failed(options.like, packFailureText(read, options.like));
            return 1;
        }
    }
    const PackOriginal* like = options.like.empty() ? nullptr : &original;
    for (const Job& job : run.jobs()) {
        EncodedImage image;
        std::string failure;
        if (job.refusal == nullptr) {
            const PackResult packed = packFile(job.source.c_str(), like, options.dropOutside, image);
            if (!packed.ok()) failure = packFailureText(packed, options.like);
        }
        if (!run.writer().finish(job, failure, image)) break;
    }
    return run.finish();
}

}  // namespace

int programMain(int argc, char** argv) {
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
        return 0;
    }
    return packAll(options, temporariesRemovedOnInterrupt());
}
