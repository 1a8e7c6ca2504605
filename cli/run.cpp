#include "cli/run.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_run.h"
#include "batch/convert_file.h"
#include "cli/png_output.h"
#include "common/text.h"
#include "common/work_memory.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

// The name part of a path: after its last separator.
const char* baseName(const std::string& path) {
    const char* text = path.c_str();
    size_t start = 0;
#ifdef _WIN32
    ptrdiff_t backslash = lastSeparator(text, path.size());
    if (backslash >= 0) start = size_t(backslash) + 1;
#endif
    const char* slash = std::strrchr(text + start, '/');
    return slash != nullptr ? slash + 1 : text + start;
}

// The output folder with its separator, in a path buffer like the window's; names that do
// not fit after it fail their file.
struct OutputFolder {
    char path[kPathSize] = {};
    size_t namePos = kPathSize;

    explicit OutputFolder(const std::string& folder) {
        if (folder.size() >= kPathSize) return;
        std::memcpy(path, folder.c_str(), folder.size() + 1);
#ifdef _WIN32
        namePos = prepareOutputFolder(path);
#else
        namePos = folder.size();
        if (namePos > 0 && path[namePos - 1] != '/' && namePos + 1 < kPathSize) {
            path[namePos++] = '/';
            path[namePos] = '\0';
        }
#endif
    }
};

// The writer the options ask for beside the built-in BMP and PSD ones.
ImageWriter imageWriter(const CliOptions& options) {
    return options.png ? writePngImage : nullptr;
}

class Reporter {
public:
    Reporter(const CliOptions& options, size_t total)
        : total_(total), quiet_(options.quiet),
          bar_(!options.quiet && total > 1 && isatty(fileno(stderr))) {}

    void failed(const std::string& file, const ConvertResult& result) {
        clearBar();
        if (result.status == Status::notG00)
            std::fprintf(stderr, "tavimore-cli: %s: %s (type %u)\n", file.c_str(),
                         statusText(result.status), unsigned(result.typeByte));
        else
            std::fprintf(stderr, "tavimore-cli: %s: %s\n", file.c_str(), statusText(result.status));
        ++failures_;
        drawBar();
    }

    void done() {
        ++finished_;
        drawBar();
    }

    void summary(const std::string& folder) {
        clearBar();
        if (quiet_) return;
        std::printf("converted %zu of %zu file%s into %s\n", finished_ - failures_, total_,
                    total_ == 1 ? "" : "s", folder.c_str());
    }

    size_t failures() const { return failures_; }

private:
    void drawBar() {
        if (!bar_) return;
        constexpr size_t kWidth = 40;
        size_t filled = total_ == 0 ? kWidth : finished_ * kWidth / total_;
        std::string line(kWidth, '.');
        line.replace(0, filled, filled, '#');
        std::fprintf(stderr, "\r[%s] %zu/%zu", line.c_str(), finished_, total_);
        std::fflush(stderr);
    }
    void clearBar() {
        if (bar_) std::fprintf(stderr, "\r%*s\r", 60, "");
    }

    size_t total_;
    size_t finished_ = 0;
    size_t failures_ = 0;
    bool quiet_;
    bool bar_;
};

// Several files at once. Workers read, decode and encode into memory; the outputs are
// written here one after another in the order of the command line, so the results are those
// of a one-by-one run: the later of two files with the same output name wins, and after a
// failure (without -k) no later file is written.
class ParallelRun {
public:
    ParallelRun(const CliOptions& options, OutputFolder& folder, Reporter& reporter)
        : options_(options), folder_(folder), reporter_(reporter), slots_(options.files.size()),
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
            const std::string& file = options_.files[i];
            ConvertResult result = slot.result;
            if (result.ok())
                result = writeOutput(folder_.path, folder_.namePos, baseName(file), slot.image);
            slot.image = EncodedImage();
            bool stop = !result.ok() && !options_.keepGoing;
            {
                std::lock_guard lock(mutex_);
                committed_ = i + 1;
                stop_ = stop;
            }
            changed_.notify_all();
            if (!result.ok()) reporter_.failed(file, result);
            reporter_.done();
            if (stop) break;
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
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stop_ || taken_ >= slots_.size() || taken_ < committed_ + window_;
                });
                if (stop_ || taken_ >= slots_.size()) return;
                i = taken_++;
            }
            Slot slot;
            slot.result = encodeFile(options_.files[i].c_str(), !options_.bmpOnly, slot.image,
                                     imageWriter(options_));
            slot.ready = true;
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;  // the run is over: the slot's buffers go with it
                slots_[i] = std::move(slot);
            }
            changed_.notify_all();
        }
    }

    const CliOptions& options_;
    OutputFolder& folder_;
    Reporter& reporter_;
    std::vector<Slot> slots_;
    const size_t window_;  // encoded files waiting to be written, at most
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t taken_ = 0;
    size_t committed_ = 0;
    bool stop_ = false;
};

}  // namespace

int runConversions(const CliOptions& options) {
    OutputFolder folder(options.outputFolder);
    Reporter reporter(options, options.files.size());
    if (options.jobs <= 1 || options.files.size() <= 1) {
        for (const std::string& file : options.files) {
            ConvertResult result = convertFile(file.c_str(), folder.path, folder.namePos,
                                               baseName(file), !options.bmpOnly,
                                               imageWriter(options));
            if (!result.ok()) reporter.failed(file, result);
            reporter.done();
            if (!result.ok() && !options.keepGoing) break;
        }
    } else {
        ParallelRun(options, folder, reporter).run();
    }
    reporter.summary(options.outputFolder);
    return reporter.failures() == 0 ? 0 : 1;
}
