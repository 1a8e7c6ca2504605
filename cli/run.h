// Converting the command line's files, one after another or several at once.
#pragma once

#include "cli/options.h"

// Returns the exit status: 0 when every file was converted, 1 when any failed.
int runConversions(const CliOptions& options);
