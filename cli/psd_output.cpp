#include "cli/psd_output.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/psd.h"

Status writePsdOnThreads(const Canvas& canvas, unsigned threads, EncodedImage& image) {
    threads = std::min(threads, kPsdPackedParts);
    // Each part is packed into its own slot, then moved down behind the one before: the
    // slots are touched only as far as a part writes. A picture whose slots the system will
    // not give is packed in place on this thread.
    if (threads <= 1 ||
        obtainBlock(psdPartsBufferSize(canvas.width, canvas.height), image.bytes, Fill::inPart) !=
            Status::ok)
        return writeImage(canvas, true, image);
    uint32_t lengths[kPsdPackedParts] = {};
    std::atomic<uint32_t> nextPart{0};
    auto pack = [&] {
        for (uint32_t part; (part = nextPart.fetch_add(1)) < kPsdPackedParts;)
            lengths[part] = packPsdPart(canvas, part, image.bytes.span());
    };
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(pack);
    } catch (const std::system_error&) {
        // A thread the system would not start: the others take its parts.
    }
    pack();
    for (std::thread& helper : helpers) helper.join();
    image.length = joinPsdParts(canvas, lengths, image.bytes.span());
    image.extension = "psd";
    return image.length == 0 ? Status::outOfMemory : Status::ok;
}

ImageWriter builtInWriter(bool psdWanted, unsigned threads) {
    return [psdWanted, threads](const Canvas& canvas, bool regionBased, EncodedImage& image) {
        if (regionBased && psdWanted) return writePsdOnThreads(canvas, threads, image);
        return writeImage(canvas, false, image);
    };
}
