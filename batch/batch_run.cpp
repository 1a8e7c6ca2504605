#include "batch/batch_run.h"

#include <cstring>

#include "batch/selection.h"
#include "common/text.h"
#include "batch/file_access.h"

namespace {

// Puts the cursor's name into sourcePath; false when it would not fit.
bool joinSourcePath(BatchJob& job, const char* name) {
    const size_t nameLength = std::strlen(name);
    if (job.sourceNamePos >= kPathSize || nameLength + 1 > kPathSize - job.sourceNamePos)
        return false;
    std::memcpy(job.sourcePath + job.sourceNamePos, name, nameLength + 1);
    return true;
}

}  // namespace

ConvertResult runBatch(BatchJob& job, BatchView& view) {
    // Every source is known before the first output, so none of them is replaced by one.
    RunSources sources;
    const char* name = job.cursor;
    for (uint32_t i = 0; i < job.count && *name != '\0'; ++i, name = nextName(name))
        if (joinSourcePath(job, name)) sources.add(job.sourcePath);
    sources.settle();
    const OutputGuards guards{&sources, nullptr};

    for (uint32_t i = 0; i < job.count && *job.cursor != '\0'; ++i) {
        view.stepProgress();
        view.betweenFiles();
        if (!joinSourcePath(job, job.cursor)) return ConvertResult{.file = FileStatus::nameTooLong};
        view.showPath(job.sourcePath);
        ConvertResult result = convertFile(job.sourcePath, job.outputPath, job.outputNamePos,
                                           job.cursor, job.regionFormat, guards);
        if (!result.ok()) return result;
        job.cursor = nextName(job.cursor);
    }
    return {};
}

size_t prepareOutputFolder(char* outputPath) {
    size_t length = strnlen(outputPath, kPathSize);
    if (length >= kPathSize) return kPathSize;
    if (!endsWithSeparator(outputPath, length)) {
        outputPath[length++] = '\\';
        if (length < kPathSize) outputPath[length] = '\0';
    }
    return length;
}
