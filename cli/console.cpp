#include "cli/console.h"

#include <cstdio>

namespace {

int withOutputFinished(int status) {
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? status : 1;
}

}  // namespace

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

// Arguments with "*" or "?" are expanded by the C runtime before wmain, through the wide
// functions; a pattern that matches nothing stays as given.
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

int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(utf8Of(wideArgv[i]));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const UINT consolePage = GetConsoleOutputCP();
    if (consolePage != 0) SetConsoleOutputCP(CP_UTF8);
    const int status = withOutputFinished(programMain(argc, argv.data()));
    if (consolePage != 0) SetConsoleOutputCP(consolePage);
    return status;
}

#else

int main(int argc, char** argv) { return withOutputFinished(programMain(argc, argv)); }

#endif
