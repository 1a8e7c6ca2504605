// tavimore-cli: the converter's pipeline for scripts, on Linux and Windows.
#include <cstdio>
#include <string>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/run.h"

namespace {

int runMain(int argc, char** argv) {
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
        return finishOutput();
    }
    settleJobs(options);
    if (options.info) {
        const int status = runInspection(options);
        return finishOutput() == 0 ? status : 1;
    }
    // Never destroyed: the interrupt's thread may use it until the process is gone.
    TemporaryFiles& temporaries = *new TemporaryFiles;
    removeTemporariesOnInterrupt(temporaries);
    const int status = runConversions(options, temporaries);
    return finishOutput() == 0 ? status : 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return runConsoleProgram(argc, argv, runMain); }
#else
int main(int argc, char** argv) { return runConsoleProgram(argc, argv, runMain); }
#endif
