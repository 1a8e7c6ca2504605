// Where both command-line programs start: on Windows, wmain's wide arguments become UTF-8 (with
// the wildcards in them expanded, as Windows programs do, since cmd and PowerShell pass "*.png"
// as it is) and a console is switched to UTF-8 while the program runs; on Linux, main's
// arguments as they are. Every path inside is UTF-8, opened through the wide functions on
// Windows (batch's tavimore_batch_utf8), so names work whatever the code page and beyond 260
// characters.
#pragma once

// The program itself, over UTF-8 arguments: its exit status.
using ProgramMain = int (*)(int argc, char** argv);

#ifdef _WIN32
int runConsoleProgram(int argc, wchar_t** argv, ProgramMain program);
#else
int runConsoleProgram(int argc, char** argv, ProgramMain program);
#endif

// After the program has written to standard output: 1 when it could not take everything (a
// full disk, a closed pipe), which fails the run, 0 otherwise.
int finishOutput();
