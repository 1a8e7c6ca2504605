#include "batch/result_text.h"

const char* statusText(Status status) {
    switch (status) {
    case Status::ok: return "converted";
    case Status::severalLayers: return "has several layers: merge them into one first";
    default: return statusWords(status);
    }
}

namespace {

const char* fileStatusText(FileStatus status) {
    switch (status) {
    case FileStatus::ok: return "converted";
    case FileStatus::cannotOpen: return "cannot open the file";
    case FileStatus::notRegularFile: return "not a regular file";
    case FileStatus::emptyFile: return "the file is empty";
    case FileStatus::readFailed: return "cannot read the whole file";
    case FileStatus::nameTooLong: return "the path is too long";
    case FileStatus::cannotCreate: return "cannot create the output";
    case FileStatus::sameAsSource: return "the output would replace a source";
    case FileStatus::writeFailed: return "write failed";
    }
    return "unknown failure";
}

const char* fileStatusName(FileStatus status) {
    switch (status) {
    case FileStatus::ok: return "ok";
    case FileStatus::cannotOpen: return "cannotOpen";
    case FileStatus::notRegularFile: return "notRegularFile";
    case FileStatus::emptyFile: return "empty";  // the --info --json result scripts already read
    case FileStatus::readFailed: return "readFailed";
    case FileStatus::nameTooLong: return "nameTooLong";
    case FileStatus::cannotCreate: return "cannotCreate";
    case FileStatus::sameAsSource: return "sameAsSource";
    case FileStatus::writeFailed: return "writeFailed";
    }
    return "unknown";
}

}  // namespace

const char* resultName(const ConvertResult& result) {
    return result.file != FileStatus::ok ? fileStatusName(result.file) : statusName(result.status);
}

std::string resultText(const ConvertResult& result, const std::string& output) {
    std::string text =
        result.file != FileStatus::ok ? fileStatusText(result.file) : statusText(result.status);
    if (result.file == FileStatus::ok &&
        (result.status == Status::notG00 || result.status == Status::unsupportedType))
        text += std::string(result.status == Status::unsupportedType ? " (G00 type " : " (type ") +
                std::to_string(result.typeByte) + ")";
    const bool outputSide = result.file == FileStatus::cannotCreate ||
                            result.file == FileStatus::writeFailed ||
                            result.file == FileStatus::sameAsSource;
    if (outputSide && !output.empty()) text += ": " + output;
    if (result.systemError != 0) text += ": " + systemErrorText(result.systemError);
    return text;
}
