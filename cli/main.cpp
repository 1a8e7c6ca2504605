// tavimore-cli: the converter's pipeline for scripts, on Linux and Windows.
#include <cstdio>
#include <string>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/run.h"

int programMain(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tavimore-cli: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (options.help || options.version) {
        if (options.help)
            std::fputs(usageText().c_str(), stdout);
        else
            std::printf("tavimore-cli %s\n", TAVIMORE_VERSION);
        return 0;
    }
    settleJobs(options);
    if (options.info) return runInspection(options);
    return runConversions(options, temporariesRemovedOnInterrupt());
}
