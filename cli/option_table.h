// Command lines read through getopt_long from one table of options, which also makes the
// help text's option lines, for every program of cli/.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// Options without a letter of their own take a code above every character.
inline constexpr int kFirstLongOnly = 256;

struct OptionRow {
    const char* name;   // the long form
    int code;           // its letter, or a code from kFirstLongOnly for a long form only
    const char* value;  // the value's name in the help text, or nullptr for a switch
    const char* help;
};

// Takes one option with its value ("" for a switch); false with a message in error.
using ApplyOption = std::function<bool(int code, const char* value, std::string& error)>;

// Reads argv (short options bundle and take attached values, "--" ends options) and appends
// the words that are no options to operands; false with a one-line message in error.
bool readOptions(int argc, char** argv, std::span<const OptionRow> rows, const ApplyOption& apply,
                 std::vector<std::string>& operands, std::string& error);

// The help text's lines for the options: "  -o, --output=DIR    ..." or "      --bmp  ...".
// The bash completion and the manual's test read the options from them.
std::string optionLines(std::span<const OptionRow> rows);

// Reads a decimal count from low to high; false for anything else.
bool parseCount(const char* value, uint64_t low, uint64_t high, uint64_t& count);
