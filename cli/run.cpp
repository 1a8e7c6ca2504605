#include "cli/run.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/convert_file.h"
#include "batch/folder_walk.h"
#include "codec/g00_inspect.h"
#include "cli/info_format.h"
#include "cli/png_output.h"
#include "cli/psd_output.h"
#include "cli/report.h"

namespace {

// What the options ask of each picture: the PNG writer beside the built-in BMP and PSD ones,
// and what becomes of region pictures. threads is how many a whole PSD's parts may be packed on.
EncodeRequest encodeRequest(const CliOptions& options, unsigned threads) {
    EncodeRequest request;
    request.psdWanted = !options.bmpOnly;
    request.maxPixels = options.maxPixels;
    if (options.png)
        request.writer = writePngImage;
    else if (!options.regions && !options.layers && threads > 1)
        request.writer = builtInWriter(request.psdWanted, threads);
    request.regions = options.layers    ? RegionOutput::layers
                      : options.regions ? RegionOutput::each
                                        : RegionOutput::whole;
    return request;
}

// One file of the run: where it is read from, what its failures are called, and the folder
// its output goes to (the output folder, or the same relative folder below it).
struct Job {
    std::string source;
    std::string outputFolder;
    const char* refusal = nullptr;  // a reason to fail it without reading it
};

// What the user reads for a failed conversion: the program's text, the output for failures
// on that side, and the system's words where the system refused.
std::string describe(const ConvertResult& result, const std::string& output,
                     const CliOptions& options) {
    std::string text = statusText(result.status);
    if (result.status == Status::notG00 || result.status == Status::unsupportedType)
        text += std::string(result.status == Status::unsupportedType ? " (G00 type " : " (type ") +
                std::to_string(result.typeByte) + ")";
    if (result.status == Status::tooManyPixels)
        text = "larger than " + std::to_string(options.maxPixels) + " pixels (use --max-pixels)";
    const bool outputSide = result.status == Status::cannotCreate ||
                            result.status == Status::writeFailed ||
                            result.status == Status::sameAsSource;
    if (outputSide && !output.empty()) text += ": " + output;
    if (result.systemError != 0) text += ": " + systemErrorText(result.systemError);
    return text;
}

// The writing side of a run, one file after another in the order of the command line, so the
// results are those of a one-by-one run whatever -j is: the later of two files with the same
// output name wins (with a warning) unless -n, and after a failure (without -k) nothing
// later is written.
class Writer {
public:
    Writer(const CliOptions& options, const OutputGuards& guards, Reporter& reporter)
        : options_(options), guards_(guards), reporter_(reporter) {}

    // False when the run stops here.
    bool finish(const Job& job, const ConvertResult& encoded, EncodedImage& image) {
        std::string failure;
        if (job.refusal != nullptr)
            failure = job.refusal;
        else if (!encoded.ok())
            failure = describe(encoded, "", options_);
        else
            failure = place(job, image);
        image = EncodedImage();
        if (!failure.empty()) reporter_.failed(job.source, failure);
        reporter_.done();
        return failure.empty() || options_.keepGoing;
    }

private:
    // Names the outputs of a picture written region by region and puts them in place together:
    // the failure's text, or nothing.
    std::string placeRegions(const Job& job, EncodedImage& image) {
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
        std::string reason;
        if (job.outputFolder != options_.outputFolder && !makeFolders(job.outputFolder, reason))
            return "cannot make the folder " + job.outputFolder + ": " + reason;
        for (const OutputFile& output : outputs) warnOfEarlier(job, output.path);
        size_t failedAt = 0;
        const ConvertResult result = placeImages(outputs, image.source, guards_, failedAt);
        if (!result.ok()) return describe(result, outputs[failedAt].path, options_);
        for (const OutputFile& output : outputs) {
            written_[output.path] = job.source;
            reporter_.written(job.source, output.path);
        }
        return "";
    }

    void warnOfEarlier(const Job& job, const std::string& output) {
        auto earlier = written_.find(output);
        if (earlier != written_.end())
            reporter_.notice("warning: " + job.source + " replaces " + output +
                             ", the output of " + earlier->second);
    }

    // Names the output and puts it in place: the failure's text, or nothing.
    std::string place(const Job& job, EncodedImage& image) {
        if (image.byRegion) return placeRegions(job, image);
        const std::string output =
            joinPath(job.outputFolder, outputFileName(baseName(job.source), image.extension));
        if (options_.noClobber && pathExists(output)) {
            reporter_.leftAlone(output);
            return "";
        }
        std::string reason;
        if (job.outputFolder != options_.outputFolder && !makeFolders(job.outputFolder, reason))
            return "cannot make the folder " + job.outputFolder + ": " + reason;
        warnOfEarlier(job, output);
        const ConvertResult result =
            placeImage(output.c_str(), output.size() - baseName(output).size(), image, guards_);
        if (!result.ok()) return describe(result, output, options_);
        written_[output] = job.source;
        reporter_.written(job.source, output);
        return "";
    }

    const CliOptions& options_;
    const OutputGuards& guards_;
    Reporter& reporter_;
    std::map<std::string, std::string> written_;  // output -> the source it came from
};

// Several files at once: workers read, decode and encode into memory, a few files ahead of
// the writer, which takes them in order.
class ParallelRun {
public:
    ParallelRun(const CliOptions& options, const std::vector<Job>& jobs, Writer& writer)
        : options_(options), jobs_(jobs), writer_(writer), slots_(jobs.size()),
          window_(2 * size_t(options.jobs)) {}

    void run() {
        std::vector<std::thread> workers;
        for (unsigned w = 0; w < options_.jobs; ++w) workers.emplace_back([this] { work(); });
        for (size_t i = 0; i < slots_.size(); ++i) {
            Slot slot;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return slots_[i].ready; });
                slot = std::move(slots_[i]);
            }
            const bool goOn = writer_.finish(jobs_[i], slot.result, slot.image);
            {
                std::lock_guard lock(mutex_);
                committed_ = i + 1;
                stop_ = !goOn;
            }
            changed_.notify_all();
            if (!goOn) break;
        }
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers) worker.join();
    }

private:
    struct Slot {
        EncodedImage image;
        ConvertResult result;
        bool ready = false;
    };

    void work() {
        unsigned threads = 1;
        KeptBlocks kept;
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stop_ || taken_ >= slots_.size() || taken_ < committed_ + window_;
                });
                if (stop_ || taken_ >= slots_.size()) return;
                i = taken_++;
                ++busy_;
                // The last files of the run take the processors of the workers left idle.
                if (taken_ == slots_.size()) threads = options_.jobs - busy_ + 1;
            }
            Slot slot;
            if (jobs_[i].refusal == nullptr)
                slot.result = encodeFile(jobs_[i].source.c_str(), encodeRequest(options_, threads),
                                         slot.image, &kept);
            slot.ready = true;
            {
                std::lock_guard lock(mutex_);
                --busy_;
                if (stop_) return;  // the run is over: the slot's buffers go with it
                slots_[i] = std::move(slot);
            }
            changed_.notify_all();
        }
    }

    const CliOptions& options_;
    const std::vector<Job>& jobs_;
    Writer& writer_;
    std::vector<Slot> slots_;
    const size_t window_;  // encoded files waiting to be written, at most
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t taken_ = 0;
    size_t committed_ = 0;
    unsigned busy_ = 0;  // workers encoding a file
    bool stop_ = false;
};

// The files of the run: each FILE, or with -r the G00 files below each folder. False when an
// unreadable folder ends the run (without -k).
bool listJobs(const CliOptions& options, std::vector<Job>& jobs, Reporter& reporter) {
    for (const std::string& file : options.files) {
        if (!isFolder(file)) {
            jobs.push_back({file, options.outputFolder});
            continue;
        }
        if (!options.recursive) {
            jobs.push_back({file, options.outputFolder, "is a folder (use -r)"});
            continue;
        }
        std::vector<FoundFile> found;
        std::vector<UnreadableFolder> unreadable;
        const bool complete = walkFolder(file, !options.keepGoing, found, unreadable);
        for (const UnreadableFolder& folder : unreadable)
            reporter.failed(folder.path, "cannot read the folder: " + folder.reason);
        if (!complete) return false;
        for (FoundFile& entry : found) {
            const std::string relativeFolder =
                entry.relative.substr(0, entry.relative.size() - baseName(entry.relative).size());
            jobs.push_back({std::move(entry.path), joinPath(options.outputFolder, relativeFolder)});
        }
    }
    return true;
}

// The description of one file: what it holds as far as it can be read, and what its conversion
// gives, told in the words a conversion's failure uses.
FileInfo inspectFile(const Job& job, const CliOptions& options) {
    FileInfo info;
    info.file = job.source;
    ConvertResult result;
    if (job.refusal != nullptr) {
        info.result = Status::notRegularFile;
        info.reason = job.refusal;
        return info;
    }
    FileHandle source;
    ByteBuffer file;
    uint64_t size = 0;
    result = readSourceFile(job.source.c_str(), source, file, size);
    info.sizeKnown = source.isOpen() || size > 0;
    info.description.fileSize = size;
    if (result.ok()) {
        info.read = true;
        info.description = describeG00(file.span().first(size_t(size)), options.maxPixels);
        result = ConvertResult{info.description.result, info.description.type};
    }
    info.result = result.status;
    if (!result.ok()) info.reason = describe(result, "", options);
    return info;
}

}  // namespace

int runInspection(const CliOptions& options) {
    std::vector<Job> jobs;
    Reporter walking("tavimore-cli", "converted", options.quiet, false, 0);
    const bool complete = listJobs(options, jobs, walking);
    bool allConvert = complete && walking.failures() == 0;
    if (options.json) std::fputs("[", stdout);
    for (size_t i = 0; i < jobs.size(); ++i) {
        const FileInfo info = inspectFile(jobs[i], options);
        allConvert = allConvert && info.result == Status::ok;
        if (options.json)
            std::printf("%s\n  %s", i == 0 ? "" : ",", infoJson(info).c_str());
        else
            std::fputs(infoText(info).c_str(), stdout);
    }
    if (options.json) std::fputs(jobs.empty() ? "]\n" : "\n]\n", stdout);
    return allConvert ? 0 : 1;
}

int runConversions(const CliOptions& options, TemporaryFiles& temporaries) {
    // The output folder first, before any file is read.
    if (pathExists(options.outputFolder) && !isFolder(options.outputFolder)) {
        std::fprintf(stderr, "tavimore-cli: %s is not a folder (try --help)\n",
                     options.outputFolder.c_str());
        return 2;
    }
    std::string reason;
    if (options.outputGiven && !makeFolders(options.outputFolder, reason)) {
        std::fprintf(stderr, "tavimore-cli: cannot make the folder %s: %s\n",
                     options.outputFolder.c_str(), reason.c_str());
        return 1;
    }

    std::vector<Job> jobs;
    Reporter walking("tavimore-cli", "converted", options.quiet, false, 0);
    if (!listJobs(options, jobs, walking)) return 1;
    const bool walkFailed = walking.failures() > 0;

    RunSources sources;
    for (const Job& job : jobs) sources.add(job.source.c_str());
    const OutputGuards guards{&sources, &temporaries};
    Reporter reporter("tavimore-cli", "converted", options.quiet, options.verbose, jobs.size());
    Writer writer(options, guards, reporter);
    if (options.jobs <= 1 || jobs.size() <= 1) {
        // One file: its PSD parts are packed on the processors the other workers would use.
        const EncodeRequest request = encodeRequest(options, std::max(1u, options.jobs));
        KeptBlocks kept;
        for (const Job& job : jobs) {
            EncodedImage image;
            ConvertResult result;
            if (job.refusal == nullptr)
                result = encodeFile(job.source.c_str(), request, image,
                                    jobs.size() > 1 ? &kept : nullptr);
            if (!writer.finish(job, result, image)) break;
        }
    } else {
        ParallelRun(options, jobs, writer).run();
    }
    reporter.summary(options.outputFolder);
    return reporter.failures() == 0 && !walkFailed ? 0 : 1;
}
