#include "batch/convert_file.h"

#include <algorithm>
#include <cstring>

#include "codec/bmp.h"
#include "codec/g00.h"
#include "codec/psd.h"
#include "common/canvas.h"
#include "common/work_memory.h"

namespace {

ConvertResult failed(Status status, uint8_t typeByte = 0, int systemError = 0) {
    return ConvertResult{status, typeByte, systemError};
}

// Writes the Canvas as PSD or BMP into a new output buffer.
Status writeImage(const Canvas& canvas, bool psd, EncodedImage& image) {
    Status status;
    if (psd) {
        ByteBuffer planes;
        status = obtainBlock(psdPlanesSize(canvas.width, canvas.height), planes, Fill::whole);
        if (status != Status::ok) return status;
        // Sized for every block stored raw; the packed file usually fills a fraction of it.
        status = obtainBlock(psdBufferSize(canvas.width, canvas.height), image.bytes, Fill::inPart);
        if (status != Status::ok) return status;
        image.length = writePsd(canvas, planes.span(), image.bytes.span());
        image.extension = "psd";
    } else {
        status = obtainBlock(bmpFileSize(canvas.width, canvas.height), image.bytes, Fill::whole);
        if (status != Status::ok) return status;
        image.length = writeBmp(canvas, image.bytes.span());
        image.extension = "bmp";
    }
    return image.length == 0 ? Status::outOfMemory : Status::ok;
}

}  // namespace

ConvertResult readSource(const char* path, uint32_t minimumSize, FileHandle& source,
                         ByteBuffer& file, uint32_t& size) {
    Status status = openSource(path, source);
    if (status != Status::ok) return failed(status, 0, source.error);
    const uint64_t fileSize = sourceSize(source);
    if (fileSize == 0) return failed(Status::empty);
    if (fileSize > kMaxBlockSize) return failed(Status::tooLarge);
    size = uint32_t(fileSize);
    status = obtainBlock(std::max(size, minimumSize), file, Fill::whole);
    if (status != Status::ok) return failed(status);
    status = readWhole(source, file.data(), size);
    if (status != Status::ok) return failed(status, 0, source.error);
    return {};
}

ConvertResult encodeFile(const char* sourcePath, bool psdWanted, EncodedImage& image,
                         uint64_t maxPixels, ImageWriter writer) {
    image.bytes.release();
    image.length = 0;
    // Never less than a header: bytes a short file lacks read as the marker or as zero.
    ByteBuffer file;
    uint32_t size = 0;
    const ConvertResult read = readSource(sourcePath, kG00HeaderSize, image.source, file, size);
    if (!read.ok()) return read;
    for (uint32_t i = size; i < 4; ++i) file.data()[i] = 0xFF;

    Canvas canvas;
    const G00Decoded decoded = decodeG00Picture(file.span(), canvas, maxPixels);
    file.release();
    if (decoded.status != Status::ok) return failed(decoded.status, decoded.header.type);

    const bool regionBased = decoded.header.type == kG00Regions;
    const Status status = writer != nullptr ? writer(canvas, regionBased, image)
                               : writeImage(canvas, regionBased && psdWanted, image);
    if (status != Status::ok) {
        image.bytes.release();
        return failed(status);
    }
    return {};
}

std::string outputFileName(std::string_view fileName, const char* extension) {
    return std::string(fileName.substr(0, fileName.find('.'))) + '.' + extension;
}

bool buildOutputName(char* outputPath, size_t namePos, const char* fileName,
                     const char* extension) {
    const size_t nameLength = strnlen(fileName, kPathSize);
    const char* dot = static_cast<const char*>(std::memchr(fileName, '.', nameLength));
    const size_t stem = dot != nullptr ? size_t(dot - fileName) : nameLength;
    const size_t extensionLength = std::strlen(extension);
    // Stem, ".", extension and NUL must all fit; nothing is written otherwise.
    if (nameLength >= kPathSize || namePos >= kPathSize ||
        stem + 2 + extensionLength > kPathSize - namePos)
        return false;
    char* name = outputPath + namePos;
    std::memcpy(name, fileName, stem);
    name[stem] = '.';
    std::memcpy(name + stem + 1, extension, extensionLength + 1);
    return true;
}

ConvertResult placeImage(const char* outputPath, size_t namePos, EncodedImage& image,
                         const OutputGuards& guards) {
    PendingOutput output;
    Status status = createOutput(outputPath, namePos, image.source, guards, output);
    if (status == Status::ok) status = writeWhole(output.file, image.bytes.data(), image.length);
    if (status == Status::ok) status = placeOutput(output, outputPath);
    // The temporary file is gone with output; an older file of the name stays as it was.
    if (status != Status::ok) return failed(status, 0, output.file.error);
    image.bytes.release();
    image.source.close();
    return {};
}

ConvertResult writeOutput(char* outputPath, size_t namePos, const char* fileName,
                          EncodedImage& image, const OutputGuards& guards) {
    if (!buildOutputName(outputPath, namePos, fileName, image.extension))
        return failed(Status::nameTooLong);
    return placeImage(outputPath, namePos, image, guards);
}

ConvertResult convertFile(const char* sourcePath, char* outputPath, size_t outputNamePos,
                          const char* fileName, bool psdWanted, const OutputGuards& guards) {
    EncodedImage image;
    ConvertResult result = encodeFile(sourcePath, psdWanted, image);
    if (!result.ok()) return result;
    return writeOutput(outputPath, outputNamePos, fileName, image, guards);
}
