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
