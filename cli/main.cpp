// tavimore-cli: the converter's pipeline for scripts, on Linux and Windows.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/run.h"

namespace {

// A standard output that could not take everything (a full disk, a closed pipe) fails the run.
int finishOutput() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

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
    if (options.jobs == 0) {
        unsigned processors = std::thread::hardware_concurrency();
        options.jobs = processors == 0 ? 1 : processors;
    }
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
// Arguments with "*" or "?" are expanded by the C runtime before wmain, as Windows programs do
// (cmd and PowerShell pass "*.g00" as it is); a pattern that matches nothing stays as given.
extern "C" {
int _dowildcard = -1;
}

namespace {

std::string utf8Of(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string utf8(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

}  // namespace

// Everything inside is UTF-8: the arguments, the paths given to the file functions, and the
// messages, for which a console is switched to UTF-8 while the program runs.
int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(utf8Of(wideArgv[i]));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const UINT consolePage = GetConsoleOutputCP();
    if (consolePage != 0) SetConsoleOutputCP(CP_UTF8);
    const int status = runMain(argc, argv.data());
    if (consolePage != 0) SetConsoleOutputCP(consolePage);
    return status;
}
#else
int main(int argc, char** argv) { return runMain(argc, argv); }
#endif
