#include "cli/run.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/convert_file.h"
#include "cli/file_run.h"
#include "cli/info_format.h"
#include "cli/png_output.h"
#include "cli/psd_output.h"
#include "cli/report.h"
#include "codec/g00_inspect.h"

namespace {

// What the options ask of each picture: the PNG writer beside the built-in BMP and PSD ones,
// and what becomes of region pictures. threads is how many a whole PSD's parts may be packed on.
EncodeRequest encodeRequest(const CliOptions& options, unsigned threads) {
    EncodeRequest request;
    request.regionFormat = options.bmpOnly ? BuiltInFormat::bmp : BuiltInFormat::psd;
    request.maxPixels = options.maxPixels;
    if (options.png)
        request.writer = writePngImage;
    else if (!options.regions && !options.layers && threads > 1)
        request.writer = builtInWriter(request.regionFormat, threads);
    request.regions = options.layers    ? RegionOutput::layers
                      : options.regions ? RegionOutput::each
                                        : RegionOutput::whole;
    return request;
}

const char* const kG00Extensions[] = {".g00"};

// What the user reads for a file that could not be converted, before its output.
std::string describe(const ConvertResult& result, const CliOptions& options) {
    if (result.status == Status::tooManyPixels)
        return "larger than " + std::to_string(options.maxPixels) + " pixels (use --max-pixels)";
    return resultText(result, "");
}

// The converter's side of the writer: a failed conversion's words, or the image.
bool finishJob(OutputWriter& writer, const Job& job, const ConvertResult& encoded,
               EncodedImage& image, const CliOptions& options) {
    return writer.finish(job, encoded.ok() ? std::string() : describe(encoded, options), image);
}

// Several files at once: workers read, decode and encode into memory, a few files ahead of
// the writer, which takes them in order.
class ParallelRun {
public:
    ParallelRun(const CliOptions& options, const std::vector<Job>& jobs, OutputWriter& writer)
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
            const bool goOn = finishJob(writer_, jobs_[i], slot.result, slot.image, options_);
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
    OutputWriter& writer_;
    std::vector<Slot> slots_;
    const size_t window_;  // encoded files waiting to be written, at most
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t taken_ = 0;
    size_t committed_ = 0;
    unsigned busy_ = 0;  // workers encoding a file
    bool stop_ = false;
};

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
    if (!result.ok()) info.reason = describe(result, options);
    return info;
}

}  // namespace

int runInspection(const CliOptions& options) {
    std::vector<Job> jobs;
    Reporter walking("tavimore-cli", "converted", options.quiet, false, 0);
    const bool complete = listJobs(options, kG00Extensions, jobs, walking);
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
    FileRun run("tavimore-cli", "converted", options, kG00Extensions, temporaries);
    int status = 0;
    if (!run.start(status)) return status;
    const std::vector<Job>& jobs = run.jobs();
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
            if (!finishJob(run.writer(), job, result, image, options)) break;
        }
    } else {
        ParallelRun(options, jobs, run.writer()).run();
    }
    return run.finish();
}
