// Converting the command line's files, one after another or several at once.
#pragma once

#include "batch/file_access.h"
#include "cli/options.h"

// Returns the exit status: 0 when every file was converted, 1 when any failed. No output
// replaces one of the files given; temporary outputs are listed in temporaries while they exist.
int runConversions(const CliOptions& options, TemporaryFiles& temporaries);

// --info: prints each file's description (text, or one JSON array with --json) and writes
// nothing. Returns 0 when every file would convert, 1 otherwise.
int runInspection(const CliOptions& options);
