#include "cli/file_run.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "batch/folder_walk.h"
#include "batch/result_text.h"

bool applyRunOption(int code, const char* value, RunOptions& options, std::string& error) {
    switch (code) {
    case 'o':
        if (*value == '\0') {
            error = "option --output needs a folder";
            return false;
        }
        options.outputFolder = value;
        options.outputGiven = true;
        return true;
    case 'r': options.recursive = true; return true;
    case 'k': options.keepGoing = true; return true;
    case 'n': options.noClobber = true; return true;
    case 'q': options.quiet = true; return true;
    case 'v': options.verbose = true; return true;
    case 'h': options.help = true; return true;
    case 'j': {
        uint64_t count = 0;
        if (!parseCount(value, 1, 256, count)) {
            error = std::string("option --jobs needs a number from 1 to 256, not '") + value + "'";
            return false;
        }
        options.jobs = unsigned(count);
        return true;
    }
    case kVersionOption: options.version = true; return true;
    }
    error = "unknown option";
    return false;
}

void settleJobs(RunOptions& options) {
    if (options.jobs != 0) return;
    const unsigned processors = std::thread::hardware_concurrency();
    options.jobs = processors == 0 ? 1 : processors;
}

namespace {

// Leaves out the jobs that repeat an earlier one: the same file (the same identity, or the same
// path for one that names nothing or is refused) for the same output folder and name. Sorted
// small entries rather than a set of keys: a run of thousands of files stays as small as it was.
void dropRepeats(std::vector<Job>& jobs) {
    struct Entry {
        bool known;
        FileIdentity identity;
        size_t index;
    };
    std::vector<Entry> entries(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        entries[i].index = i;
        entries[i].known =
            jobs[i].refusal == nullptr && identifyFile(jobs[i].source.c_str(), entries[i].identity);
        jobs[i].identified = entries[i].known;
        jobs[i].identity = entries[i].identity;
    }
    auto sameFile = [&](const Entry& a, const Entry& b) {
        return a.known == b.known &&
               (a.known ? a.identity == b.identity : jobs[a.index].source == jobs[b.index].source);
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.known != b.known) return a.known;
        if (a.known && a.identity != b.identity) return a.identity < b.identity;
        if (!a.known) {
            const int order = jobs[a.index].source.compare(jobs[b.index].source);
            if (order != 0) return order < 0;
        }
        return a.index < b.index;
    });
    std::vector<bool> repeat(jobs.size(), false);
    for (size_t start = 0, end; start < entries.size(); start = end) {
        // A group of the same file, in the order given: each later one against those before it.
        for (end = start + 1; end < entries.size() && sameFile(entries[start], entries[end]);
             ++end) {
            const Job& later = jobs[entries[end].index];
            for (size_t earlier = start; earlier < end; ++earlier) {
                const Job& job = jobs[entries[earlier].index];
                if (!repeat[entries[earlier].index] && job.outputFolder == later.outputFolder &&
                    baseName(job.source) == baseName(later.source)) {
                    repeat[entries[end].index] = true;
                    break;
                }
            }
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (repeat[i]) continue;
        if (kept != i) jobs[kept] = std::move(jobs[i]);
        ++kept;
    }
    jobs.resize(kept);
}

}  // namespace

bool listJobs(const RunOptions& options, std::span<const char* const> extensions,
              std::vector<Job>& jobs, Reporter& reporter) {
    jobs.clear();
    for (const std::string& file : options.files) {
        if (!isFolder(file)) {
            jobs.push_back({file, options.outputFolder, nullptr, {}, false, {}});
            continue;
        }
        if (!options.recursive) {
            jobs.push_back({file, options.outputFolder, "is a folder (use -r)", {}, false, {}});
            continue;
        }
        std::vector<FoundFile> found;
        std::vector<UnreadableFolder> unreadable;
        const bool complete = walkFolder(
            file, extensions, options.keepGoing ? AtUnreadable::goOn : AtUnreadable::stop, found,
            unreadable);
        for (const UnreadableFolder& folder : unreadable)
            reporter.failed(folder.path, "cannot read the folder: " + folder.reason);
        if (!complete) return false;
        for (FoundFile& entry : found) {
            const std::string relativeFolder =
                entry.relative.substr(0, entry.relative.size() - baseName(entry.relative).size());
            jobs.push_back({std::move(entry.path),
                            joinPath(options.outputFolder, relativeFolder),
                            nullptr,
                            {},
                            false,
                            {}});
        }
    }
    dropRepeats(jobs);
    return true;
}

bool OutputWriter::finish(const Job& job, const std::string& failure, EncodedImage& image) {
    std::string text = job.refusal != nullptr ? std::string(job.refusal) : failure;
    if (text.empty()) text = place(job, image);
    if (!text.empty()) reporter_.failed(job.source, text);
    reporter_.done();
    return text.empty() || options_.keepGoing;
}

// The job's own folder below the output folder, made when its first output is written:
// the failure's text, or nothing.
std::string OutputWriter::makeFolder(const Job& job) {
    std::string reason;
    if (job.outputFolder != options_.outputFolder && !makeFolders(job.outputFolder, reason))
        return "cannot make the folder " + job.outputFolder + ": " + reason;
    return "";
}

void OutputWriter::warnOfEarlier(const Job& job, const std::string& output) {
    auto earlier = written_.find(output);
    if (earlier != written_.end())
        reporter_.notice("warning: " + job.source + " replaces " + output + ", the output of " +
                         earlier->second);
}

// Names the outputs of a picture written region by region and puts them in place together:
// the failure's text, or nothing.
std::string OutputWriter::placeRegions(const Job& job, EncodedImage& image) {
    if (image.regions.empty()) {
        reporter_.notice(job.source + ": no region draws a pixel; nothing written");
        return "";
    }
    std::vector<OutputFile> outputs;
    for (const EncodedImage::Region& region : image.regions) {
        std::string output = joinPath(
            job.outputFolder, regionFileName(baseName(job.source), region.index, image.extension));
        if (options_.noClobber && pathExists(output)) {
            reporter_.leftAlone(output);
            continue;
        }
        outputs.push_back({std::move(output), region.bytes.data(), region.length});
    }
    if (outputs.empty()) return "";
    std::string failure = makeFolder(job);
    if (!failure.empty()) return failure;
    for (const OutputFile& output : outputs) warnOfEarlier(job, output.path);
    size_t failedAt = 0;
    const ConvertResult result = placeImages(outputs, image.source, guards_, failedAt);
    if (!result.ok()) return resultText(result, outputs[failedAt].path);
    for (const OutputFile& output : outputs) {
        written_[output.path] = job.source;
        reporter_.written(job.source, output.path);
    }
    return "";
}

// Names the output and puts it in place: the failure's text, or nothing.
std::string OutputWriter::place(const Job& job, EncodedImage& image) {
    if (image.byRegion) return placeRegions(job, image);
    const std::string output =
        joinPath(job.outputFolder,
                 outputFileName(job.outputName.empty() ? baseName(job.source) : job.outputName,
                                image.extension));
    if (options_.noClobber && pathExists(output)) {
        reporter_.leftAlone(output);
        return "";
    }
    std::string failure = makeFolder(job);
    if (!failure.empty()) return failure;
    warnOfEarlier(job, output);
    const ConvertResult result =
        placeImage(output.c_str(), output.size() - baseName(output).size(), image, guards_);
    if (!result.ok()) return resultText(result, output);
    written_[output] = job.source;
    reporter_.written(job.source, output);
    return "";
}

FileRun::FileRun(const char* program, const char* verb, const RunOptions& options,
                 std::span<const char* const> extensions, TemporaryFiles& temporaries)
    : program_(program),
      verb_(verb),
      options_(options),
      extensions_(extensions),
      guards_{&sources_, &temporaries} {}

bool FileRun::start(int& status, const std::vector<std::string>& alsoRead) {
    if (pathExists(options_.outputFolder) && !isFolder(options_.outputFolder)) {
        std::fprintf(stderr, "%s: %s is not a folder (try --help)\n", program_,
                     options_.outputFolder.c_str());
        status = 2;
        return false;
    }
    std::string reason;
    if (options_.outputGiven && !makeFolders(options_.outputFolder, reason)) {
        std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", program_,
                     options_.outputFolder.c_str(), reason.c_str());
        status = 1;
        return false;
    }
    Reporter walking(program_, verb_, options_.verbosity(), 0);
    if (!listJobs(options_, extensions_, jobs_, walking)) {
        status = 1;
        return false;
    }
    walkFailed_ = walking.failures() > 0;
    // No output may replace a file the run reads, under any name.
    for (const Job& job : jobs_) {
        if (job.identified)
            sources_.add(job.identity);
        else
            sources_.add(job.source.c_str());
    }
    for (const std::string& path : alsoRead) sources_.add(path.c_str());
    sources_.settle();
    reporter_.emplace(program_, verb_, options_.verbosity(), jobs_.size());
    writer_.emplace(options_, guards_, *reporter_);
    return true;
}

void FileRun::regroup(std::vector<Job> jobs) {
    jobs_ = std::move(jobs);
    reporter_.emplace(program_, verb_, options_.verbosity(), jobs_.size());
    writer_.emplace(options_, guards_, *reporter_);
}

int FileRun::finish() {
    reporter_->summary(options_.outputFolder);
    return reporter_->failures() == 0 && !walkFailed_ ? 0 : 1;
}
