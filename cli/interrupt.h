// An interrupted command line removes its temporary outputs before it ends.
#pragma once

#include "batch/file_access.h"

// The program's list of temporary outputs: from now on SIGINT, SIGTERM and SIGHUP (Ctrl-C,
// Ctrl-Break and closing the console on Windows) remove every temporary file in it, then end
// the program as the interrupt would have: a shell sees 128 plus the signal's number (130 for
// Ctrl-C); on Windows the exit status is 130 for every console event. Call it once; on Linux
// before any other thread starts: the signals are blocked in every thread and taken by one
// thread of their own, so nothing runs inside a signal handler.
TemporaryFiles& temporariesRemovedOnInterrupt();
