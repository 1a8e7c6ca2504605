#include "cli/png_output.h"

#include <algorithm>
#include <thread>

#include "codec/encode.h"

namespace {

// Enough for the machines it runs on; more threads than bands would only wait.
constexpr unsigned kMostThreads = 8;

}  // namespace

Status writePngImage(const Canvas& canvas, G00Layout layout, EncodedImage& image) {
    const unsigned threads =
        std::min(std::max(1u, std::thread::hardware_concurrency()), kMostThreads);
    Encoded out;
    Status status =
        encodePng(canvas, layout == G00Layout::regions ? PngColour::rgba : PngColour::rgb,
                  onThreads(threads), out);
    if (status == Status::ok && image.place != nullptr) {
        Encoded placed;
        status = encodePngAt(out.bytes.span().first(out.length), int32_t(image.place->left),
                             int32_t(image.place->top), placed);
        out = std::move(placed);
    }
    image.bytes = std::move(out.bytes);
    if (status != Status::ok) return status;
    image.length = out.length;
    image.extension = "png";
    return Status::ok;
}
