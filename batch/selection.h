// The user's chosen files between the open dialog and the batch: directory, names, empty string.
#pragma once

#include <cstddef>
#include <cstdint>

// Brings the dialog's result into list shape and counts the names. The dialog writes either
// "directory\0name\0name\0\0" (several files) or "full path\0\0" (one file, split here at its
// last "\"). Strings of 260 bytes or more, a list that does not end inside the buffer, and a
// single path without "\" are refused: the count is 0, as for a cancelled dialog.
enum class DialogOutcome : uint8_t { cancelled, chosen };
uint16_t parseSelection(char* selection, size_t selectionSize, DialogOutcome outcome);

// Copies the list's directory and a "\" into sourcePath (kPathSize bytes) and sets the name
// position and the cursor to the first name. False when the directory does not fit.
bool prepareSourcePath(const char* selection, char* sourcePath, size_t& namePos,
                       const char*& cursor);

// The name after the current one (the empty string ends the list).
const char* nextName(const char* cursor);
