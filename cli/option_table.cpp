#include "cli/option_table.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

const OptionRow* rowFor(std::span<const OptionRow> rows, int code) {
    for (const OptionRow& row : rows)
        if (row.code == code) return &row;
    return nullptr;
}

// What getopt_long refused (code ':' for a missing value, '?' otherwise), told as the user
// typed it. After a refused long form, the word before optind is that long form; a refused
// letter is in optopt.
std::string describeRefusal(std::span<const OptionRow> rows, int code, const char* lastWord) {
    const OptionRow* row = optopt != 0 ? rowFor(rows, optopt) : nullptr;
    std::string word = lastWord;
    const bool longForm = word.rfind("--", 0) == 0 &&
                          (row == nullptr || word.compare(2, word.find('=') - 2, row->name) == 0);
    const std::string typed =
        longForm ? word.substr(0, word.find('=')) : std::string("-") + char(optopt);
    if (code == ':') return "option " + typed + " needs a value";
    if (row != nullptr && longForm) return "option " + typed + " takes no value";
    return "unknown option " + typed;
}

}  // namespace

bool parseCount(const char* value, uint64_t low, uint64_t high, uint64_t& count) {
    if (*value < '0' || *value > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(value, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    count = parsed;
    return true;
}

bool readOptions(int argc, char** argv, std::span<const OptionRow> rows, const ApplyOption& apply,
                 std::vector<std::string>& operands, std::string& error) {
    std::string letters = ":";  // a missing value is told apart from an unknown option
    std::vector<option> longOptions;
    for (const OptionRow& row : rows) {
        if (row.code < kFirstLongOnly) {
            letters += char(row.code);
            if (row.value != nullptr) letters += ':';
        }
        longOptions.push_back(
            {row.name, row.value != nullptr ? required_argument : no_argument, nullptr, row.code});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    opterr = 0;
    optind = 0;  // a fresh scan, also when called again
    for (;;) {
        const int code = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr);
        if (code == -1) break;
        if (code == '?' || code == ':') {
            error = describeRefusal(rows, code, optind > 0 ? argv[optind - 1] : "");
            return false;
        }
        if (!apply(code, optarg != nullptr ? optarg : "", error)) return false;
    }
    for (int i = optind; i < argc; ++i) operands.emplace_back(argv[i]);
    return true;
}

std::string optionLines(std::span<const OptionRow> rows) {
    std::string text;
    for (const OptionRow& row : rows) {
        std::string left = "  ";
        if (row.code < kFirstLongOnly)
            left += std::string("-") + char(row.code) + ", ";
        else
            left += "    ";
        left += std::string("--") + row.name;
        if (row.value != nullptr) left += std::string("=") + row.value;
        left.resize(std::max<size_t>(left.size() + 2, 24), ' ');
        text += left + row.help + "\n";
    }
    return text;
}
