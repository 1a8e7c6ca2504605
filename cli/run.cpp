#include "cli/run.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "batch/convert_file.h"
#include "batch/result_text.h"
#include "cli/file_run.h"
#include "cli/info_format.h"
#include "cli/ordered_run.h"
#include "cli/png_output.h"
#include "cli/psd_output.h"
#include "cli/report.h"
#include "codec/g00_inspect.h"

namespace {

// What the options ask of each picture: the PNG writer beside the built-in BMP and PSD ones,
// and what becomes of region pictures. threads is how many a whole PSD's parts may be packed
// on, and a PNG's bands compressed on.
EncodeRequest encodeRequest(const CliOptions& options, unsigned threads) {
    EncodeRequest request;
    request.regionFormat = options.bmpOnly ? BuiltInFormat::bmp : BuiltInFormat::psd;
    request.maxPixels = options.maxPixels;
    if (options.png)
        request.writer = pngWriter(threads);
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

// A converted file waiting to be written.
struct Converted {
    EncodedImage image;
    ConvertResult result;
};

// Output blocks already written out, for the next files of the run to write their PSD or BMP
// into: a batch then takes no fresh pages for each output (their clearing and faults, and with
// several workers the other processors interrupted when each block is returned to the system).
// One for each worker and one more are kept, none larger than kMostKeptOutput, and more while
// they are small, as many as the workers may have made ahead of the writing (ordered_run.h).
class OutputBlocks {
public:
    OutputBlocks(size_t always, size_t most) : always_(always), most_(most) {}

    ByteBuffer take() {
        std::lock_guard lock(mutex_);
        if (blocks_.empty()) return {};
        ByteBuffer block = std::move(blocks_.back());
        blocks_.pop_back();
        keptBytes_ -= block.size();
        return block;
    }

    void give(ByteBuffer& block) {
        if (block.empty() || block.size() > kMostKeptOutput) return;
        std::lock_guard lock(mutex_);
        if (blocks_.size() < always_ ||
            (blocks_.size() < most_ && keptBytes_ + block.size() <= kSmallBytesAhead)) {
            keptBytes_ += block.size();
            blocks_.push_back(std::move(block));
        }
    }

private:
    static constexpr uint64_t kMostKeptOutput = uint64_t(64) << 20;
    std::mutex mutex_;
    std::vector<ByteBuffer> blocks_;
    uint64_t keptBytes_ = 0;
    size_t always_, most_;
};

// The description of one file: what it holds as far as it can be read, and what its conversion
// gives, told in the words a conversion's failure uses.
FileInfo inspectFile(const Job& job, const CliOptions& options) {
    FileInfo info;
    info.file = job.source;
    ConvertResult result;
    if (job.refusal != nullptr) {
        info.result.file = FileStatus::notRegularFile;
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
    info.result = result;
    if (!result.ok()) info.reason = describe(result, options);
    return info;
}

}  // namespace

int runInspection(const CliOptions& options) {
    std::vector<Job> jobs;
    Reporter walking("tavimore-cli", "converted", options.verbosity(), 0);
    const bool complete = listJobs(options, kG00Extensions, jobs, walking);
    bool allConvert = complete && walking.failures() == 0;
    if (options.json) std::fputs("[", stdout);
    for (size_t i = 0; i < jobs.size(); ++i) {
        const FileInfo info = inspectFile(jobs[i], options);
        allConvert = allConvert && info.result.ok();
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
    // Whole pictures in the built-in formats go into the blocks of earlier outputs.
    const bool reuseOutputs = !options.png && !options.regions && !options.layers;
    const size_t workers = std::max(1u, options.jobs);
    OutputBlocks outputs(reuseOutputs ? workers + 1 : 0,
                         reuseOutputs ? kSmallFilesAhead * workers + 1 : 0);
    if (options.jobs <= 1 || jobs.size() <= 1) {
        // One file: its PSD parts are packed on the processors the other workers would use.
        const EncodeRequest request = encodeRequest(options, std::max(1u, options.jobs));
        KeptBlocks kept;
        for (const Job& job : jobs) {
            EncodedImage image;
            ConvertResult result;
            if (job.refusal == nullptr) {
                image.bytes = outputs.take();
                result = encodeFile(job.source.c_str(), request, image,
                                    jobs.size() > 1 ? &kept : nullptr);
            }
            const bool goOn = finishJob(run.writer(), job, result, image, options);
            outputs.give(image.bytes);
            if (!goOn) break;
        }
    } else {
        runInOrder<Converted, KeptBlocks>(
            jobs.size(), options.jobs,
            [&](size_t i, unsigned threads, KeptBlocks& kept, Converted& slot) {
                if (jobs[i].refusal == nullptr) {
                    slot.image.bytes = outputs.take();
                    slot.result = encodeFile(jobs[i].source.c_str(),
                                             encodeRequest(options, threads), slot.image, &kept);
                }
            },
            [&](size_t i, Converted& slot) {
                const bool goOn =
                    finishJob(run.writer(), jobs[i], slot.result, slot.image, options);
                outputs.give(slot.image.bytes);
                return goOn;
            });
    }
    return run.finish();
}
