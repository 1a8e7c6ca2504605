#include "cli/report.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

size_t terminalWidth() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return size_t(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (!isatty(STDERR_FILENO) || ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col != 0 ? size.ws_col : 80;  // a terminal that does not say
#endif
}

std::string progressLine(size_t finished, size_t total, size_t width) {
    const std::string count = std::to_string(finished) + "/" + std::to_string(total);
    constexpr size_t kShortestBar = 10;
    if (width < count.size() + 4 + kShortestBar) return width > count.size() ? count : "";
    const size_t bar = std::min<size_t>(width - 1 - count.size() - 3, 60);
    const size_t filled = total == 0 ? bar : finished * bar / total;
    std::string line(bar + 3 + count.size(), '.');
    line[0] = '[';
    line.replace(1, filled, filled, '#');
    line.replace(bar + 1, 2, "] ");
    line.replace(bar + 3, count.size(), count);
    return line;
}

Reporter::Reporter(const char* program, const char* verb, Verbosity verbosity, size_t total)
    : program_(program),
      verb_(verb),
      total_(total),
      verbosity_(verbosity),
      bar_(verbosity != Verbosity::quiet && total > 1 && terminalWidth() > 0) {}

void Reporter::failed(const std::string& file, const std::string& reason) {
    clearBar();
    std::fprintf(stderr, "%s: %s: %s\n", program_, file.c_str(), reason.c_str());
    ++failures_;
    fileFailed_ = true;
    drawBar();
}

void Reporter::notice(const std::string& text) {
    if (verbosity_ == Verbosity::quiet) return;
    clearBar();
    std::fprintf(stderr, "%s: %s\n", program_, text.c_str());
    drawBar();
}

void Reporter::written(const std::string& source, const std::string& output) {
    ++outputsWritten_;
    fileWrote_ = true;
    if (verbosity_ != Verbosity::verbose) return;
    clearBar();
    std::printf("%s -> %s\n", source.c_str(), output.c_str());
    std::fflush(stdout);
    drawBar();
}

void Reporter::leftAlone(const std::string& output) {
    ++outputsLeftAlone_;
    fileLeftAlone_ = true;
    notice(output + ": exists, left alone (-n)");
}

void Reporter::unchanged() {
    ++unchanged_;
    fileLeftAlone_ = true;
}

void Reporter::done() {
    ++finished_;
    if (!fileFailed_ && (fileWrote_ || !fileLeftAlone_)) ++converted_;
    fileFailed_ = fileWrote_ = fileLeftAlone_ = false;
    drawBar();
}

void Reporter::summary(const std::string& folder) {
    clearBar();
    if (verbosity_ == Verbosity::quiet) return;
    // Files and outputs are each counted as they happen, never one from the other.
    std::printf("%s %zu of %zu file%s into %s", verb_, converted_, total_, total_ == 1 ? "" : "s",
                folder.c_str());
    if (outputsWritten_ != converted_)
        std::printf(", %zu output%s written", outputsWritten_, outputsWritten_ == 1 ? "" : "s");
    if (outputsLeftAlone_ > 0)
        std::printf(", %zu output%s left alone", outputsLeftAlone_,
                    outputsLeftAlone_ == 1 ? "" : "s");
    if (unchanged_ > 0) std::printf(", %zu unchanged left out", unchanged_);
    std::printf("\n");
}

void Reporter::drawBar() {
    if (!bar_) return;
    // Asked each time, so that a resized terminal gets a line of its new width.
    const std::string line = progressLine(finished_, total_, terminalWidth());
    std::fprintf(stderr, "\r%s%*s\r%s", line.c_str(),
                 int(drawn_ > line.size() ? drawn_ - line.size() : 0), "", line.c_str());
    std::fflush(stderr);
    drawn_ = line.size();
}

void Reporter::clearBar() {
    if (!bar_ || drawn_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", int(drawn_), "");
    drawn_ = 0;
}
