#include "codec/encode.h"
#include "codec/g00_encode.h"

#include <algorithm>
#include <vector>

#include "codec/g00.h"
#include "codec/g00_regions.h"
#include "codec/internal/bmp_write.h"
#include "codec/internal/g00_layout.h"
#include "codec/internal/g00_write.h"
#include "codec/internal/psd_write.h"

namespace {

Status written(Encoded& out, uint64_t length) {
    out.length = uint32_t(length);
    return length == 0 ? Status::outOfMemory : Status::ok;
}

// The work area of a plan for as many tasks as may run at once or, where that much cannot be
// had, for one: the encoder's search and path split between threads take a byte a unit more
// than one pass.
template <typename Plan, typename WorkSize>
Status obtainWork(Plan& plan, const Parallel& parallel, WorkSize workSize, ByteBuffer& work) {
    plan.tasks = parallel.most;
    Status status = obtainBlock(workSize(plan), work, PagingHint::whole);
    if (status == Status::outOfMemory && plan.tasks > 1) {
        plan.tasks = 1;
        status = obtainBlock(workSize(plan), work, PagingHint::whole);
    }
    return status;
}

// The blocks of a file like an original. The decompressed data is resident at once only when
// the original's stream writes all of it: an original may announce far more than it holds.
template <typename WorkSize>
Status obtainLikeBlocks(G00LikePlan& plan, const Parallel& parallel, WorkSize workSize,
                        ByteBuffer& work, ByteBuffer& data, Encoded& out) {
    Status status = obtainWork(plan, parallel, workSize, work);
    if (status == Status::ok && g00LikeDataSize(plan) != 0)
        status = obtainBlock(g00LikeDataSize(plan), data,
                             plan.written == plan.units ? PagingHint::whole : PagingHint::inPart);
    if (status == Status::ok) status = obtainBlock(g00LikeBound(plan), out.bytes);
    return status;
}

}  // namespace

Status encodeBmp(const Canvas& canvas, Encoded& out) {
    const Status status =
        reuseBlock(bmpFileSize(canvas.width, canvas.height), out.bytes, PagingHint::whole);
    if (status != Status::ok) return status;
    return written(out, writeBmp(canvas, out.bytes.span()));
}

Status encodePsd(const Canvas& canvas, const Parallel& parallel, Encoded& out) {
    // Sized for every block stored raw; the packed file usually fills a fraction of it. Both
    // blocks take large pages as they are written, so neither becomes resident beyond what it
    // holds.
    const uint32_t width = canvas.width, height = canvas.height;
    const Status status = reuseBlock(psdBound(width, height), out.bytes, PagingHint::fromStart);
    if (status != Status::ok) return status;
    ByteBuffer second;
    // Without room for the second task's block, the file is packed in place in one piece.
    if (parallel.most >= 2 &&
        obtainBlock(psdSecondBound(width, height), second, PagingHint::fromStart) != Status::ok)
        second.release();
    return written(out, writePsd(canvas, out.bytes.span(), second.span(), parallel));
}

Status encodeRegionLayersPsd(std::span<const uint8_t> file, std::span<const uint8_t> data,
                             const Canvas& canvas, Encoded& out) {
    std::vector<RegionLayer> regions;
    Status status = regionLayers(file, data, canvas.width, canvas.height, regions);
    if (status != Status::ok) return status;
    std::vector<PsdRegionLayer> layers;
    for (const RegionLayer& region : regions) {
        // Readers blend a layer over those below, where the game replaces them: a layer some
        // later region covers gets a mask that hides what it replaces.
        const ByteBuffer& mask = region.mask;
        const bool hides =
            std::find(mask.data(), mask.data() + mask.size(), 0) != mask.data() + mask.size();
        layers.push_back({&region.pixels, region.box.left, region.box.top, region.region,
                          hides ? mask.data() : nullptr});
    }
    if (layers.empty()) return encodePsd(canvas, {}, out);
    status = obtainBlock(layeredPsdBound(canvas.width, canvas.height, layers), out.bytes,
                         PagingHint::fromStart);
    if (status != Status::ok) return status;
    return written(out, writeLayeredPsd(canvas, layers, out.bytes.span()));
}

Status encodeFreshG00(const Canvas& picture, Encoded& out, const Parallel& parallel) {
    if (picture.width > kMaxG00Side || picture.height > kMaxG00Side) return Status::pictureTooLarge;
    G00FreshPlan plan = planFreshG00(picture);
    ByteBuffer work;
    Status status = obtainWork(plan, parallel, freshG00WorkSize, work);
    if (status == Status::ok) status = obtainBlock(freshG00Bound(plan), out.bytes);
    if (status != Status::ok) return status;
    return written(out, writeFreshG00(picture, plan, work.span(), out.bytes.span(), parallel));
}

G00LikeResult encodeG00Like(std::span<const uint8_t> original, const G00LikePlan& given,
                            const Canvas& picture, Encoded& out, const Parallel& parallel) {
    G00LikePlan plan = given;
    G00LikeResult result;
    const LikeAlpha alpha = likeAlphaOf(picture);
    if (picture.width != plan.width || picture.height != plan.height)
        result.status = Status::sizeDiffers;
    else if (alpha == LikeAlpha::picture && plan.fullFrame)
        result.status = Status::transparencyLost;
    if (result.status != Status::ok) return result;
    ByteBuffer work, data;
    result.status = obtainLikeBlocks(plan, parallel, g00LikeWorkSize, work, data, out);
    if (result.status != Status::ok) return result;
    result = writeG00Like(original, plan, picture, alpha, work.span(), data.span(),
                          out.bytes.span(), parallel);
    if (result.status == Status::ok && result.size == 0) result.status = Status::outOfMemory;
    out.length = uint32_t(result.size);
    return result;
}

G00LikeRegionsResult encodeG00LikeRegions(std::span<const uint8_t> original,
                                          std::span<const RegionPicture> regions, Encoded& out,
                                          const Parallel& parallel) {
    G00LikeRegionsResult result;
    G00LikePlan plan = planG00Like(original);
    result.status = plan.status == Status::ok && plan.fullFrame ? Status::notG00 : plan.status;
    if (result.status != Status::ok) return result;
    {
        Canvas decoded;
        result.status = decodeG00Picture(original, decoded).status;
        if (result.status != Status::ok) return result;
    }
    ByteBuffer work, data;
    result.status = obtainLikeBlocks(plan, parallel, g00LikeRegionsWorkSize, work, data, out);
    if (result.status != Status::ok) return result;
    result = writeG00LikeRegions(original, plan, regions, work.span(), data.span(),
                                 out.bytes.span(), parallel);
    if (result.status == Status::ok && result.size == 0) result.status = Status::outOfMemory;
    out.length = uint32_t(result.size);
    return result;
}

Status encodeFreshRegionsG00(std::span<const RegionPicture> regions, uint32_t width,
                             uint32_t height, Encoded& out, const Parallel& parallel) {
    G00RegionsPlan plan = planFreshRegionsG00(regions, width, height);
    if (plan.status != Status::ok) return plan.status;
    ByteBuffer work;
    Status status = obtainWork(plan, parallel, freshRegionsG00WorkSize, work);
    if (status == Status::ok) status = obtainBlock(freshRegionsG00Bound(plan), out.bytes);
    if (status != Status::ok) return status;
    return written(out,
                   writeFreshRegionsG00(regions, plan, work.span(), out.bytes.span(), parallel));
}
