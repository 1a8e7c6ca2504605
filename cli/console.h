// Where both command-line programs start: on Windows, wmain's wide arguments become UTF-8 (with
// the wildcards in them expanded, as Windows programs do, since cmd and PowerShell pass "*.png"
// as it is) and a console is switched to UTF-8 while the program runs; on Linux, main's
// arguments as they are. Every path inside is UTF-8, opened through the wide functions on
// Windows (batch/system_paths.h), so names work whatever the code page and beyond 260
// characters.
#pragma once

// The program itself, over UTF-8 arguments: its exit status. Each program defines it; main (wmain
// on Windows), in console.cpp, flushes standard output after it, and a run whose output could
// not all be written (a full disk, a closed pipe) exits 1.
int programMain(int argc, char** argv);
