#include "cli/png_output.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/png.h"

namespace {

// Enough for the machines it runs on; more threads than bands would only wait.
constexpr unsigned kMostThreads = 8;

}  // namespace

Status writePngImage(const Canvas& canvas, bool regionBased, EncodedImage& image) {
    const PngColour colour = regionBased ? PngColour::rgba : PngColour::rgb;
    const PngDeflate deflate;
    const uint32_t width = canvas.width, height = canvas.height;
    if (width == 0 || height == 0) return Status::emptyPicture;
    const uint32_t bands = pngBandCount(width, height, colour);
    const size_t bandBound = size_t(pngBandBound(width, colour));
    // Each band is compressed into its own slot at its bound, then moved down behind the one
    // before: the slots are never touched past what a band writes.
    Status status = obtainBlock(pngFileBound(width, height, colour), image.bytes, Fill::fromStart);
    if (status != Status::ok) return status;

    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = std::min({processors, kMostThreads, bands});
    std::vector<ByteBuffer> work(threads);
    for (ByteBuffer& area : work) {
        status = obtainBlock(pngWorkSize(width, colour), area, Fill::whole);
        if (status != Status::ok) return status;
    }

    uint8_t* const out = image.bytes.data();
    std::vector<PngBand> written(bands);
    std::atomic<uint32_t> nextBand{0};
    auto compress = [&](ByteBuffer& area) {
        for (uint32_t band; (band = nextBand.fetch_add(1)) < bands;)
            written[band] = writePngBand(canvas, colour, deflate, band, area.span(),
                                         {out + kPngHeadSize + band * bandBound, bandBound});
    };
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(compress, std::ref(work[t]));
    } catch (const std::system_error&) {
        // A thread the system would not start: the others take its bands.
    }
    compress(work[0]);
    for (std::thread& helper : helpers) helper.join();

    writePngHead(width, height, colour, out);
    uint64_t at = kPngHeadSize;
    uint32_t adler = 1;
    for (uint32_t band = 0; band < bands; ++band) {
        if (written[band].length == 0) return Status::outOfMemory;
        std::memmove(out + at, out + kPngHeadSize + band * bandBound, written[band].length);
        adler = combinePngAdler(adler, written[band].adler, written[band].filtered);
        at += written[band].length;
    }
    writePngTail(adler, out + at);
    image.length = uint32_t(at + kPngTailSize);
    image.extension = "png";
    return Status::ok;
}
