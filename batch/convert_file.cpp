#include "batch/convert_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "codec/encode.h"
#include "codec/g00.h"
#include "codec/g00_regions.h"
#include "common/bytes.h"
#include "common/canvas.h"
#include "batch/file_access.h"
#include "batch/folder_walk.h"

namespace {

ConvertResult failed(Status status, uint8_t typeByte = 0) { return {status, typeByte}; }

ConvertResult failed(FileStatus file, int systemError = 0) {
    return {Status::ok, 0, systemError, file};
}

}  // namespace

Status writeImage(const Canvas& canvas, BuiltInFormat format, EncodedImage& image) {
    const bool psd = format == BuiltInFormat::psd;
    Encoded out;
    out.bytes = std::move(image.bytes);
    const Status status = psd ? encodePsd(canvas, {}, out) : encodeBmp(canvas, out);
    image.bytes = std::move(out.bytes);
    image.length = out.length;
    image.extension = psd ? "psd" : "bmp";
    return status;
}

namespace {

Status writeWith(const EncodeRequest& request, const Canvas& canvas, G00Layout layout,
                 EncodedImage& image) {
    if (request.writer != nullptr) return request.writer(canvas, layout, image);
    return writeImage(
        canvas, layout == G00Layout::regions ? request.regionFormat : BuiltInFormat::bmp, image);
}

// Each region that draws a pixel, cut to its box and written on its own.
Status writeRegions(const EncodeRequest& request, std::span<const uint8_t> file,
                    std::span<const uint8_t> data, uint32_t width, uint32_t height,
                    EncodedImage& image) {
    RegionBoxes boxes;
    Status status = regionBoxes(file, data, width, height, boxes);
    if (status != Status::ok) return status;
    image.byRegion = true;
    image.extension = request.writer != nullptr                    ? "png"
                      : request.regionFormat == BuiltInFormat::psd ? "psd"
                                                                   : "bmp";
    for (uint32_t i = 0; i < boxes.count; ++i) {
        if (boxes.box[i].empty()) continue;
        Canvas region;
        status = cropRegion(file, data, i, width, height, region);
        if (status != Status::ok) return status;
        EncodedImage one;
        one.place = &boxes.box[i];
        status = writeWith(request, region, G00Layout::regions, one);
        if (status != Status::ok) return status;
        image.extension = one.extension;
        image.regions.push_back({i, std::move(one.bytes), one.length});
    }
    return Status::ok;
}

// One PSD with a layer per region that draws a pixel, over the whole Canvas's merged image.
Status writeLayers(std::span<const uint8_t> file, std::span<const uint8_t> data,
                   const Canvas& canvas, EncodedImage& image) {
    Encoded out;
    const Status status = encodeRegionLayersPsd(file, data, canvas, out);
    image.bytes = std::move(out.bytes);
    image.length = out.length;
    image.extension = "psd";
    return status;
}

}  // namespace

ConvertResult readSourceFile(const char* sourcePath, FileHandle& source, ByteBuffer& file,
                             uint64_t& size, KeptBlock* kept) {
    file.release();
    size = 0;
    const FileStatus opened = openSource(sourcePath, source);
    if (opened != FileStatus::ok) return failed(opened, source.error);
    size = sourceSize(source);
    if (size == 0) return failed(FileStatus::emptyFile);
    if (size > kMaxBlockSize) return failed(Status::tooLarge);
    // Never less than a header: bytes a short file lacks read as the marker or as zero.
    const uint32_t bufferSize = std::max(uint32_t(size), kG00HeaderSize);
    const Status status =
        kept != nullptr ? takeKeptBlock(bufferSize, *kept, file, PagingHint::whole, size)
                        : obtainBlock(bufferSize, file, PagingHint::whole);
    if (status != Status::ok) return failed(status);
    const FileStatus read = readWhole(source, file.data(), uint32_t(size));
    if (read != FileStatus::ok) {
        if (kept != nullptr) keepBlock(file, *kept);
        file.release();
        return failed(read, source.error);
    }
    if (size < 4) std::memset(file.data() + size, 0xFF, size_t(4 - size));
    return {};
}

ConvertResult encodeFile(const char* sourcePath, const EncodeRequest& request, EncodedImage& image,
                         KeptBlocks* kept) {
    image.length = 0;
    image.byRegion = false;
    image.regions.clear();
    ByteBuffer file;
    uint64_t size = 0;
    ConvertResult read = readSourceFile(sourcePath, image.source, file, size,
                                        kept != nullptr ? &kept->file : nullptr);
    if (!read.ok()) return read;

    Canvas canvas;
    ByteBuffer data;
    const bool byRegion = request.regions != RegionOutput::whole;
    const G00Decoded decoded =
        decodeG00Picture(file.span(), canvas, request.maxPixels, byRegion ? &data : nullptr,
                         kept != nullptr ? &kept->decode : nullptr);
    if (decoded.status != Status::ok) {
        if (kept != nullptr) keepBlock(file, kept->file);
        return failed(decoded.status, decoded.header.type);
    }

    const bool regionBased = decoded.regionCount != 0;
    Status status;
    if (regionBased && request.regions == RegionOutput::each) {
        const uint32_t width = canvas.width, height = canvas.height;
        // Every region is drawn alone, from the data.
        if (kept != nullptr) keepBlock(canvas.pixels, kept->decode.canvas);
        canvas.pixels.release();
        status = writeRegions(request, file.span(), data.span(), width, height, image);
    } else if (regionBased && request.regions == RegionOutput::layers) {
        status = writeLayers(file.span(), data.span(), canvas, image);
    } else {
        status = writeWith(request, canvas, regionBased ? G00Layout::regions : G00Layout::fullFrame,
                           image);
    }
    if (kept != nullptr) {
        keepBlock(file, kept->file);
        keepBlock(canvas.pixels, kept->decode.canvas);
        keepBlock(data, kept->decode.data);
    }
    if (status != Status::ok) {
        image.bytes.release();
        image.regions.clear();
        return failed(status);
    }
    return {};
}

namespace {

// An output is named after its source up to the first ".".
std::string_view outputStem(std::string_view fileName) {
    return fileName.substr(0, fileName.find('.'));
}

}  // namespace

std::string outputFileName(std::string_view fileName, const char* extension) {
    return std::string(outputStem(fileName)) + '.' + extension;
}

std::string regionFileName(std::string_view fileName, uint32_t region, const char* extension) {
    char number[16];
    std::snprintf(number, sizeof number, "_%03u", unsigned(region));
    return std::string(outputStem(fileName)) + number + '.' + extension;
}

bool buildOutputName(char* outputPath, size_t namePos, const char* fileName,
                     const char* extension) {
    const size_t nameLength = strnlen(fileName, kPathSize);
    const std::string_view stem = outputStem({fileName, nameLength});
    const size_t extensionLength = std::strlen(extension);
    // Stem, ".", extension and NUL must all fit; nothing is written otherwise.
    if (nameLength >= kPathSize || namePos >= kPathSize ||
        stem.size() + 2 + extensionLength > kPathSize - namePos)
        return false;
    char* name = outputPath + namePos;
    std::memcpy(name, stem.data(), stem.size());
    name[stem.size()] = '.';
    std::memcpy(name + stem.size() + 1, extension, extensionLength + 1);
    return true;
}

ConvertResult placeImage(const char* outputPath, size_t namePos, EncodedImage& image,
                         const OutputGuards& guards) {
    PendingOutput output;
    FileStatus status = createOutput(outputPath, namePos, image.source, guards, output);
    if (status == FileStatus::ok)
        status = writeWhole(output.file, image.bytes.data(), image.length);
    if (status == FileStatus::ok) status = placeOutput(output, outputPath);
    // The temporary file is gone with output; an older file of the name stays as it was.
    if (status != FileStatus::ok) return failed(status, output.file.error);
    image.source.close();
    return {};
}

ConvertResult placeImages(const std::vector<OutputFile>& outputs, const FileHandle& source,
                          const OutputGuards& guards, size_t& failedAt) {
    failedAt = 0;
    std::deque<PendingOutput> pending;  // each discarded with the deque unless put in place
    for (size_t i = 0; i < outputs.size(); ++i) {
        failedAt = i;
        const OutputFile& output = outputs[i];
        const size_t namePos = output.path.size() - baseName(output.path).size();
        PendingOutput& written = pending.emplace_back();
        FileStatus status = createOutput(output.path.c_str(), namePos, source, guards, written);
        if (status == FileStatus::ok)
            status = writeWhole(written.file, output.bytes, output.length);
        if (status != FileStatus::ok) return failed(status, written.file.error);
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        failedAt = i;
        const FileStatus status = placeOutput(pending[i], outputs[i].path.c_str());
        if (status != FileStatus::ok) return failed(status, pending[i].file.error);
    }
    return {};
}

ConvertResult writeOutput(char* outputPath, size_t namePos, const char* fileName,
                          EncodedImage& image, const OutputGuards& guards) {
    if (!buildOutputName(outputPath, namePos, fileName, image.extension))
        return failed(FileStatus::nameTooLong);
    return placeImage(outputPath, namePos, image, guards);
}

ConvertResult convertFile(const char* sourcePath, char* outputPath, size_t outputNamePos,
                          const char* fileName, BuiltInFormat regionFormat,
                          const OutputGuards& guards) {
    EncodedImage image;
    EncodeRequest request;
    request.regionFormat = regionFormat;
    ConvertResult result = encodeFile(sourcePath, request, image);
    if (!result.ok()) return result;
    return writeOutput(outputPath, outputNamePos, fileName, image, guards);
}
