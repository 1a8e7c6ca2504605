#include "batch/batch_run.h"

#include <cstring>

#include "batch/selection.h"
#include "common/text.h"
#include "common/work_memory.h"

ConvertResult runBatch(BatchJob& job, BatchView& view) {
    for (uint32_t i = 0; i < job.count && *job.cursor != '\0'; ++i) {
        view.stepProgress();
        view.drainMessages();
        const size_t nameLength = std::strlen(job.cursor);
        if (job.sourceNamePos >= kPathSize || nameLength + 1 > kPathSize - job.sourceNamePos)
            return ConvertResult{Status::nameTooLong, 0};
        std::memcpy(job.sourcePath + job.sourceNamePos, job.cursor, nameLength + 1);
        view.showPath(job.sourcePath);
        ConvertResult result = convertFile(job.sourcePath, job.outputPath, job.outputNamePos,
                                           job.cursor, job.psdWanted);
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
