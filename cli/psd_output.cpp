#include "cli/psd_output.h"

#include "codec/encode.h"

Status writePsdOnThreads(const Canvas& canvas, unsigned threads, EncodedImage& image) {
    Encoded out;
    const Status status = encodePsd(canvas, onThreads(threads), out);
    image.bytes = std::move(out.bytes);
    image.length = out.length;
    image.extension = "psd";
    return status;
}

ImageWriter builtInWriter(bool psdWanted, unsigned threads) {
    return [psdWanted, threads](const Canvas& canvas, bool regionBased, EncodedImage& image) {
        if (regionBased && psdWanted) return writePsdOnThreads(canvas, threads, image);
        return writeImage(canvas, BuiltInFormat::bmp, image);
    };
}
