// What a command-line program tells the user: failures and notices on stderr, each after the
// program's name, the progress bar on a terminal, the files written (-v) and the summary on
// stdout ("converted 3 of 4 files into out", with the program's own verb; the outputs written
// and left alone when they are not one for each file converted, and the files left out
// unchanged).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class Verbosity : uint8_t {
    quiet,    // failures only
    normal,   // notices, the progress bar and the summary too
    verbose,  // and every file written
};

class Reporter {
public:
    Reporter(const char* program, const char* verb, Verbosity verbosity, size_t total);

    // Each of these is counted for the file being finished, until done().
    void failed(const std::string& file, const std::string& reason);  // counts a failure
    void notice(const std::string& text);  // not a failure; nothing under -q
    void written(const std::string& source, const std::string& output);
    void leftAlone(const std::string& output);
    void unchanged();  // the file changes nothing in its original and is not written
    // One file finished, whatever its outcome: converted unless it failed or every output it
    // had was left alone.
    void done();
    void summary(const std::string& folder);

    size_t failures() const { return failures_; }

private:
    void drawBar();
    void clearBar();

    const char* program_;
    const char* verb_;
    size_t total_;
    size_t finished_ = 0;
    size_t failures_ = 0;
    size_t converted_ = 0;  // files
    size_t outputsWritten_ = 0;
    size_t outputsLeftAlone_ = 0;
    size_t unchanged_ = 0;
    bool fileFailed_ = false;  // the file being finished
    bool fileWrote_ = false;
    bool fileLeftAlone_ = false;
    size_t drawn_ = 0;  // characters of the bar now on the terminal
    Verbosity verbosity_;
    bool bar_;
};

// The width of the terminal that stderr writes to, 0 when it is none.
size_t terminalWidth();

// The progress line for width columns: "[####....] 3/10", or just "3/10" when a bar of a few
// characters would not fit; never wider than width - 1, so that it never wraps.
std::string progressLine(size_t finished, size_t total, size_t width);
