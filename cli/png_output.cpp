#include "cli/png_output.h"

#include <algorithm>

#include "codec/encode.h"

namespace {

// Enough for the machines it runs on; more threads than bands would only wait.
constexpr unsigned kMostThreads = 8;

}  // namespace

Status writePngOnThreads(const Canvas& canvas, G00Layout layout, unsigned threads,
                         EncodedImage& image) {
    threads = std::clamp(threads, 1u, kMostThreads);
    std::optional<PngPlace> place;
    if (image.place != nullptr)
        place = PngPlace{int32_t(image.place->left), int32_t(image.place->top)};
    Encoded out;
    const Status status =
        encodePng(canvas, layout == G00Layout::regions ? PngColour::rgba : PngColour::rgb,
                  onThreads(threads), out, place);
    image.bytes = std::move(out.bytes);
    if (status != Status::ok) return status;
    image.length = out.length;
    image.extension = "png";
    return Status::ok;
}

ImageWriter pngWriter(unsigned threads) {
    return [threads](const Canvas& canvas, G00Layout layout, EncodedImage& image) {
        return writePngOnThreads(canvas, layout, threads, image);
    };
}
