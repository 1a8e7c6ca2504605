#include "cli/psd_output.h"

#include <system_error>
#include <thread>

#include "codec/psd.h"

Status writePsdOnThreads(const Canvas& canvas, unsigned threads, EncodedImage& image) {
    if (threads <= 1) return writeImage(canvas, true, image);
    // The layer's blocks are packed here, in place; the merged image's colour rows on a second
    // thread into a block of their own, then moved behind the layer (a copy of about a third
    // of the file). The two halves cost about the same. Both blocks take large pages as they
    // are written, so neither becomes resident beyond what it holds.
    const uint32_t width = canvas.width, height = canvas.height;
    const Status status = obtainBlock(psdBufferSize(width, height), image.bytes, Fill::fromStart);
    if (status != Status::ok) return status;
    ByteBuffer merged;
    if (obtainBlock(psdMergedSize(width, height), merged, Fill::fromStart) != Status::ok) {
        // No room for the second half's block: the file is packed in place on this thread.
        image.length = writePsd(canvas, image.bytes.span());
    } else {
        uint32_t mergedLength = 0;
        auto packMerged = [&] { mergedLength = packPsdMergedColours(canvas, merged.span()); };
        std::thread helper;
        try {
            helper = std::thread(packMerged);
        } catch (const std::system_error&) {
            // A thread the system would not start: this one packs both halves.
        }
        const uint32_t layerEnd = packPsdLayer(canvas, image.bytes.span());
        if (helper.joinable())
            helper.join();
        else
            packMerged();
        image.length =
            joinPsdHalves(canvas, layerEnd, merged.span(), mergedLength, image.bytes.span());
    }
    image.extension = "psd";
    return image.length == 0 ? Status::outOfMemory : Status::ok;
}

ImageWriter builtInWriter(bool psdWanted, unsigned threads) {
    return [psdWanted, threads](const Canvas& canvas, bool regionBased, EncodedImage& image) {
        if (regionBased && psdWanted) return writePsdOnThreads(canvas, threads, image);
        return writeImage(canvas, false, image);
    };
}
