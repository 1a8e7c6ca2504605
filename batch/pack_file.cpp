#include "batch/pack_file.h"

#include <cstdio>
#include <iterator>

#include "codec/g00.h"
#include "codec/picture_reader.h"

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

bool isOpaque(const Canvas& picture) {
    const uint8_t* pixels = picture.pixels.data();
    for (uint64_t i = 3; i < picture.pixels.size(); i += 4)
        if (pixels[i] != 255) return false;
    return true;
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
        result.originalWidth = plan.width;
        result.originalHeight = plan.height;
        return result;
    }
    const bool opaque = isOpaque(picture);
    if (!opaque && plan.fullFrame) return failed(Status::transparencyLost);
    Status status = obtainBlock(g00LikeWorkSize(plan), work, Fill::whole);
    if (status == Status::ok) status = obtainBlock(g00LikeBound(plan), image.bytes);
    if (status != Status::ok) return failed(status);
    const G00LikeResult written =
        writeG00Like(like->bytes.span().first(like->size), plan, picture,
                     opaque ? LikeAlpha::original : LikeAlpha::picture, work.span(), image.bytes.span());
    if (written.status != Status::ok) return failed(written.status);
    if (written.size == 0) return failed(Status::outOfMemory);
    if (written.outside.count != 0 && !dropOutside) {
        PackResult result = failed(Status::pixelsOutside);
        result.outside = written.outside;
        result.coloursOnly = opaque;
        return result;
    }
    image.length = uint32_t(written.size);
    return {};
}

std::string printed(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

const char* plural(uint64_t count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

// A PSD colour mode's name, as Photoshop calls it.
std::string colourModeName(uint32_t mode) {
    static constexpr const char* kNames[] = {"bitmap", "grey",        "indexed", "RGB",  "CMYK",
                                             nullptr,  nullptr,       "multichannel", "duotone",
                                             "Lab"};
    if (mode < std::size(kNames) && kNames[mode] != nullptr) return kNames[mode];
    return printed("colour mode %u", mode);
}

// The chunk type as its four letters, or in hexadecimal when they are not letters.
std::string chunkName(uint32_t type) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char letter = char(type >> shift);
        if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
            return printed("0x%08X", type);
        name += letter;
    }
    return "'" + name + "'";
}

// A picture the readers do not take: what it is, and what to save it as.
std::string refusalText(const PictureFacts& facts) {
    switch (facts.limit) {
    case PictureLimit::os2Header: return "OS/2 BMP: save it as a Windows BMP of 24 or 32 bits";
    case PictureLimit::depth:
        if (facts.format == PictureFormat::bmp) {
            if (facts.compression == 4) return "BMP holding a JPEG: save it as a BMP of 24 or 32 bits";
            if (facts.compression == 5) return "BMP holding a PNG: save it as a PNG, or a BMP of 24 or 32 bits";
            return printed("%u-bit BMP%s: save it as 24 or 32 bits", facts.depth,
                          facts.depth <= 8 ? " (palette)" : "");
        }
        return printed("%u-bit PSD: save it with 8 bits per channel", facts.depth);
    case PictureLimit::colourMode:
        return (facts.depth != 8 ? printed("%u-bit ", facts.depth) : std::string()) +
               colourModeName(facts.colourMode) + " PSD: save it as RGB" +
               (facts.depth != 8 ? " with 8 bits per channel" : "");
    case PictureLimit::compression:
        if (facts.format == PictureFormat::psd)
            return printed("PSD channel of compression %u, which no known program writes: save it "
                          "again with RLE or ZIP compression", facts.compression);
        if (facts.compression == 1 || facts.compression == 2)
            return "BMP compressed with RLE: save it uncompressed, with 24 or 32 bits";
        return printed("BMP of compression %u: save it uncompressed, with 24 or 32 bits",
                      facts.compression);
    case PictureLimit::masks:
        return "BMP with colour masks other than 8 bits a channel: save it as 24 or 32 bits "
               "without masks";
    case PictureLimit::largeDocument:
        return "large document (PSB): save it as a PSD (Photoshop format)";
    case PictureLimit::criticalChunk:
        return "PNG with the chunk " + chunkName(facts.chunk) +
               ", which this program does not know: save it again as a plain PNG";
    case PictureLimit::none: break;
    }
    return statusText(Status::unsupportedPicture);
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
    Status status = obtainBlock(kPictureWorkSize, work);
    if (status != Status::ok) return failed(status);
    Canvas picture;
    const PictureRead pictureRead = readPicture(file.span().first(size), work.span(), picture);
    file.release();
    work.release();
    if (!pictureRead.ok()) {
        PackResult result = failed(pictureRead.status);
        result.picture = pictureRead;
        return result;
    }
    PackResult result = writeG00(picture, like, dropOutside, image);
    if (!result.ok()) {
        image.bytes.release();
        image.length = 0;
    }
    return result;
}

std::string packFailureText(const PackResult& result, const std::string& originalName) {
    switch (result.status) {
    case Status::notG00:
        return std::string(statusText(result.status)) + printed(" (type %u)", unsigned(result.typeByte));
    case Status::unsupportedType:
        return std::string(statusText(result.status)) + printed(" (G00 type %u)", unsigned(result.typeByte));
    case Status::unsupportedPicture: return refusalText(result.picture);
    case Status::severalLayers:
        return printed("has %u layers: merge them into one first", unsigned(result.picture.layerCount));
    case Status::pictureTooLarge:
        return "too large for a G00 picture: make it at most 65,535 pixels wide and high";
    case Status::sizeDiffers:
        return printed("the picture is %ux%u, ", result.width, result.height) + originalName +
               printed(" is %ux%u", result.originalWidth, result.originalHeight);
    case Status::transparencyLost:
        return "has transparency, " + originalName +
               " is a full-frame picture without it (make the picture opaque)";
    case Status::pixelsOutside: {
        const OutsidePixels& o = result.outside;
        const unsigned long long count = o.count;
        const std::string where = printed("within (%u, %u) to (%u, %u)", o.left, o.top, o.right, o.bottom);
        // The option is offered only where leaving them out loses nothing the picture shows:
        // an opaque picture takes the original's alpha, 0 where no part lies.
        if (result.coloursOnly)
            return printed("%llu %s outside the original's parts %s not black, ", count,
                          plural(count, "pixel", "pixels"), plural(count, "is", "are")) +
                   where + ": the picture is opaque and takes " + originalName +
                   "'s transparency, so they would not show (--drop-outside leaves them out)";
        return printed("%llu %s outside the original's parts, ", count,
                      plural(count, "pixel lies", "pixels lie")) +
               where + ", where " + originalName +
               " shows nothing: make them transparent, or keep the picture inside the parts";
    }
    default: break;
    }
    std::string text = statusText(result.status);
    if (result.systemError != 0) text += ": " + systemErrorText(result.systemError);
    return text;
}
