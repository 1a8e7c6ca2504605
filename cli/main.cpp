// tavimore-cli: the converter's pipeline for scripts, on Linux and Windows.
#include <cstdio>
#include <string>
#include <thread>

#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/run.h"

int main(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tavimore-cli: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tavimore-cli %s\n", TAVIMORE_VERSION);
        return 0;
    }
    if (options.jobs == 0) {
        unsigned processors = std::thread::hardware_concurrency();
        options.jobs = processors == 0 ? 1 : processors;
    }
    // Never destroyed: the interrupt's thread may use it until the process is gone.
    TemporaryFiles& temporaries = *new TemporaryFiles;
    removeTemporariesOnInterrupt(temporaries);
    return runConversions(options, temporaries);
}
