// What both command-line programs do with the files they are given: the options they share,
// the list of files (folders walked with -r, each file taken once), the output folder, and the
// writing side (each output named after its source, -n, -v, the warning when two sources give
// one output, the counts of the summary). Each program adds what it makes of one file.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "batch/convert_file.h"
#include "cli/option_table.h"
#include "cli/report.h"

struct RunOptions {
    std::string outputFolder = ".";
    bool outputGiven = false;  // -o: the folder is made when it does not exist
    bool recursive = false;    // -r: folders are walked
    bool keepGoing = false;    // -k: the remaining files after a failure
    bool noClobber = false;    // -n: existing outputs are left alone
    bool quiet = false;        // -q: only errors
    bool verbose = false;      // -v: every file written
    Verbosity verbosity() const {
        return quiet ? Verbosity::quiet : verbose ? Verbosity::verbose : Verbosity::normal;
    }
    bool help = false;
    bool version = false;
    unsigned jobs = 0;  // -j N: files made at once; 0 means one per processor
    std::vector<std::string> files;
};

// -j's 0 made one per processor.
void settleJobs(RunOptions& options);

// --version's code; each program's own long options take codes from kFirstProgramOption.
inline constexpr int kVersionOption = kFirstLongOnly;
inline constexpr int kFirstProgramOption = kFirstLongOnly + 1;

// Takes one of the options both programs have: -o, -r, -k, -n, -j, -q, -v, -h and --version.
bool applyRunOption(int code, const char* value, RunOptions& options, std::string& error);

// One file of the run: where it is read from, and the folder its output goes to (the output
// folder, or the same relative folder below it).
struct Job {
    std::string source;
    std::string outputFolder;
    const char* refusal = nullptr;  // a reason to fail it without reading it
    std::string outputName;         // the name its output is named after, when not the source's
    bool identified = false;        // identity holds the file's, found when the run was listed
    FileIdentity identity;
};

// The files of the run: each FILE, or with -r each regular file below a FILE that is a folder
// whose name ends in one of extensions (".g00"; any letter case), in byte order of the paths.
// A file given twice (also under another name, or found by two wildcards) for the same output
// is taken once. jobs is filled anew. Unreadable folders are reported; false when one ends the
// run (without -k).
bool listJobs(const RunOptions& options, std::span<const char* const> extensions,
              std::vector<Job>& jobs, Reporter& reporter);

// The writing side of a run, one file after another in the order of the command line, so the
// results are those of a one-by-one run whatever the order of the work: the later of two files
// with the same output name wins (with a warning) unless -n, and after a failure (without -k)
// nothing later is written.
class OutputWriter {
public:
    OutputWriter(const RunOptions& options, const OutputGuards& guards, Reporter& reporter)
        : options_(options), guards_(guards), reporter_(reporter) {}

    // The file's end: failure is why it could not be made (empty when image holds it), which a
    // refusal of the job replaces. False when the run stops here. The image keeps its blocks,
    // for the caller to release or use again.
    bool finish(const Job& job, const std::string& failure, EncodedImage& image);

private:
    std::string place(const Job& job, EncodedImage& image);
    std::string placeRegions(const Job& job, EncodedImage& image);
    std::string makeFolder(const Job& job);
    void warnOfEarlier(const Job& job, const std::string& output);

    const RunOptions& options_;
    const OutputGuards& guards_;
    Reporter& reporter_;
    std::map<std::string, std::string> written_;  // output -> the source it came from
};

// One run over the command line's files, from the output folder to the summary.
class FileRun {
public:
    // program and verb as the Reporter takes them; extensions as listJobs takes them.
    FileRun(const char* program, const char* verb, const RunOptions& options,
            std::span<const char* const> extensions, TemporaryFiles& temporaries);

    // Checks the output folder and makes it, before anything is read, then lists the files;
    // alsoRead are files the run reads besides them, which no output may replace. False with
    // the exit status when the run ends here.
    bool start(int& status, const std::vector<std::string>& alsoRead = {});

    const std::vector<Job>& jobs() const { return jobs_; }
    // Replaces the files of the run by what they make together (several files that give one
    // output), before any is finished; the sources stay guarded.
    void regroup(std::vector<Job> jobs);
    Reporter& reporter() { return *reporter_; }
    OutputWriter& writer() { return *writer_; }

    // Prints the summary: the exit status, 0 when no file and no folder failed.
    int finish();

private:
    const char* program_;
    const char* verb_;
    const RunOptions& options_;
    std::span<const char* const> extensions_;
    std::vector<Job> jobs_;
    RunSources sources_;
    OutputGuards guards_;
    bool walkFailed_ = false;
    std::optional<Reporter> reporter_;
    std::optional<OutputWriter> writer_;
};
