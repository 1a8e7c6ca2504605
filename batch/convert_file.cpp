#include "batch/convert_file.h"

#include <algorithm>
#include <cstring>

#include "codec/bmp.h"
#include "codec/g00.h"
#include "codec/lz.h"
#include "codec/psd.h"
#include "common/bytes.h"
#include "common/canvas.h"
#include "common/work_memory.h"

namespace {

ConvertResult failed(Status status, uint8_t typeByte = 0) { return ConvertResult{status, typeByte}; }

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

ConvertResult encodeFile(const char* sourcePath, bool psdWanted, EncodedImage& image,
                         ImageWriter writer) {
    image.bytes.release();
    image.length = 0;
    Status status = openSource(sourcePath, image.source);
    if (status != Status::ok) return failed(status);

    const uint32_t size = sourceSize(image.source);
    if (size == 0) return failed(Status::empty);
    // Never less than a header: bytes a short file lacks read as the marker or as zero.
    const uint32_t bufferSize = std::max(size, kG00HeaderSize);
    ByteBuffer file;
    status = obtainBlock(bufferSize, file, Fill::whole);
    if (status != Status::ok) return failed(status);
    storeLe32(file.data(), 0xFFFFFFFFu);
    status = readWhole(image.source, file.data(), size);
    if (status != Status::ok) return failed(status);

    const G00Header header = readG00Header(file.span());
    if (header.type != kG00FullFrame && header.type != kG00Regions)
        return failed(Status::notG00, header.type);

    Canvas canvas;
    // Filled whole by a full frame, and a region picture's parts usually cover most of it;
    // resident at once only when the file's stream could fill it (the header alone cannot
    // make a small file take gigabytes).
    const bool fileCouldFill =
        canvasByteSize(header.width, header.height) <= lzPixelsMostOutput(size);
    status = makeCanvas(header.width, header.height, canvas,
                        fileCouldFill ? Fill::whole : Fill::inPart);
    if (status != Status::ok) return failed(status);
    status = decodeG00(file.span(), canvas);
    file.release();
    if (status != Status::ok) return failed(status);

    const bool regionBased = header.type == kG00Regions;
    status = writer != nullptr ? writer(canvas, regionBased, image)
                               : writeImage(canvas, regionBased && psdWanted, image);
    if (status != Status::ok) {
        image.bytes.release();
        return failed(status);
    }
    return {};
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

ConvertResult writeOutput(char* outputPath, size_t namePos, const char* fileName,
                          EncodedImage& image) {
    if (!buildOutputName(outputPath, namePos, fileName, image.extension))
        return failed(Status::nameTooLong);
    FileHandle output;
    Status status = createOutput(outputPath, image.source, output);
    if (status != Status::ok) return failed(status);
    status = writeWhole(output, image.bytes.data(), image.length);
    output.close();
    if (status != Status::ok) {
        removeOutput(outputPath);  // never leave half a file
        return failed(status);
    }
    image.bytes.release();
    image.source.close();
    return {};
}

ConvertResult convertFile(const char* sourcePath, char* outputPath, size_t outputNamePos,
                          const char* fileName, bool psdWanted, ImageWriter writer) {
    EncodedImage image;
    ConvertResult result = encodeFile(sourcePath, psdWanted, image, writer);
    if (!result.ok()) return result;
    return writeOutput(outputPath, outputNamePos, fileName, image);
}
