#include "batch/pack_file.h"

#include "codec/g00.h"
#include "codec/picture_reader.h"
#include "codec/png_reader.h"

namespace {

PackResult failed(Status status) {
    PackResult result;
    result.status = status;
    return result;
}

PackResult failedRead(const ConvertResult& read) {
    PackResult result = failed(read.status);
    result.systemError = read.systemError;
    return result;
}

// The G00 file for the picture, written into image's bytes.
PackResult writeG00(const Canvas& picture, const PackOriginal* like, bool dropOutside,
                    EncodedImage& image) {
    ByteBuffer work;
    if (like == nullptr) {
        const G00FreshPlan plan = planFreshG00(picture);
        Status status = obtainBlock(freshG00WorkSize(plan), work, Fill::whole);
        if (status == Status::ok) status = obtainBlock(freshG00Bound(plan), image.bytes);
        if (status != Status::ok) return failed(status);
        image.length = uint32_t(writeFreshG00(picture, plan, work.span(), image.bytes.span()));
        return failed(image.length == 0 ? Status::outOfMemory : Status::ok);
    }

    const G00LikePlan& plan = like->plan;
    if (picture.width != plan.width || picture.height != plan.height) {
        PackResult result = failed(Status::sizeDiffers);
        result.width = picture.width;
        result.height = picture.height;
        return result;
    }
    Status status = obtainBlock(g00LikeWorkSize(plan), work, Fill::whole);
    if (status == Status::ok) status = obtainBlock(g00LikeBound(plan), image.bytes);
    if (status != Status::ok) return failed(status);
    const G00LikeResult written =
        writeG00Like(like->bytes.span().first(like->size), plan, picture, work.span(), image.bytes.span());
    if (written.status != Status::ok) return failed(written.status);
    if (written.size == 0) return failed(Status::outOfMemory);
    if (written.outside.count != 0 && !dropOutside) {
        PackResult result = failed(Status::pixelsOutside);
        result.outside = written.outside;
        return result;
    }
    image.length = uint32_t(written.size);
    return {};
}

}  // namespace

PackResult readOriginal(const char* path, PackOriginal& original) {
    const ConvertResult read = readSource(path, 1, original.source, original.bytes, original.size);
    if (!read.ok()) return failedRead(read);
    const std::span<const uint8_t> file = original.bytes.span().first(original.size);
    original.plan = planG00Like(file);
    PackResult result = failed(original.plan.status);
    result.typeByte = original.plan.type;
    if (!result.ok()) return result;
    // A damaged stream or part table fails here once, not for every picture.
    Canvas canvas;
    result.status = decodeG00Picture(file, canvas).status;
    return result;
}

PackResult packFile(const char* picturePath, const PackOriginal* like, bool dropOutside,
                    EncodedImage& image) {
    image.bytes.release();
    image.length = 0;
    image.extension = "g00";
    ByteBuffer file;
    uint32_t size = 0;
    const ConvertResult read = readSource(picturePath, 1, image.source, file, size);
    if (!read.ok()) return failedRead(read);

    ByteBuffer work;
    Status status = obtainBlock(kPngWorkSize, work);
    if (status != Status::ok) return failed(status);
    Canvas picture;
    const PictureRead pictureRead = readPicture(file.span().first(size), work.span(), picture);
    file.release();
    work.release();
    if (!pictureRead.ok()) {
        PackResult result = failed(pictureRead.status);
        result.layerCount = pictureRead.layerCount;
        return result;
    }
    PackResult result = writeG00(picture, like, dropOutside, image);
    if (!result.ok()) {
        image.bytes.release();
        image.length = 0;
    }
    return result;
}
