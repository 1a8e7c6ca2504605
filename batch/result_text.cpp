#include "batch/result_text.h"

const char* statusText(Status status) {
    switch (status) {
    case Status::ok: return "converted";
    case Status::notG00: return "not a G00 image";
    case Status::unsupportedType: return "not a picture this program converts";
    case Status::emptyPicture: return "width or height is 0";
    case Status::tooLarge: return "the picture is too large";
    case Status::tooManyPixels: return "larger than the pixel limit";
    case Status::outOfMemory: return "out of memory";
    case Status::truncated: return "the file is cut short";
    case Status::damagedStream: return "the compressed data is damaged";
    case Status::damagedParts: return "the part table is damaged";
    case Status::notPicture: return "not a PNG, BMP or PSD picture";
    case Status::pictureTooLarge: return "too large for a G00 picture";
    case Status::unsupportedPicture: return "a kind of picture that cannot be read";
    case Status::damagedPicture: return "the picture is damaged";
    case Status::badChecksum: return "a checksum does not match";
    case Status::severalLayers: return "has several layers: merge them into one first";
    case Status::sizeDiffers: return "the picture's size is not the original's";
    case Status::pixelsOutside: return "pixels lie outside the original's parts";
    case Status::transparencyLost:
        return "has transparency, the original is a full-frame picture without it";
    case Status::noSuchRegion: return "names a region the original does not have";
    case Status::regionTwice: return "names a region that another picture names too";
    case Status::tooManyRegions: return "more than 256 regions";
    }
    return "unknown failure";
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
