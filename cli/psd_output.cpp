#include "cli/psd_output.h"

#include "codec/encode.h"

Status writePsdOnThreads(const Canvas& canvas, unsigned threads, EncodedImage& image) {
    Encoded out;
    out.bytes = std::move(image.bytes);
    const Status status = encodePsd(canvas, onThreads(threads), out);
    image.bytes = std::move(out.bytes);
    image.length = out.length;
    image.extension = "psd";
    return status;
}

ImageWriter builtInWriter(BuiltInFormat regionFormat, unsigned threads) {
    return [regionFormat, threads](const Canvas& canvas, G00Layout layout, EncodedImage& image) {
        if (layout == G00Layout::regions && regionFormat == BuiltInFormat::psd)
            return writePsdOnThreads(canvas, threads, image);
        return writeImage(canvas, BuiltInFormat::bmp, image);
    };
}
