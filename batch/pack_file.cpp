#include "batch/pack_file.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "batch/result_text.h"
#include "codec/g00.h"
#include "codec/g00_encode.h"
#include "codec/picture_reader.h"

namespace {

PackResult failed(Status status) {
    PackResult result;
    result.status = status;
    return result;
}

PackResult failedRead(const ConvertResult& read) {
    PackResult result;
    static_cast<ConvertResult&>(result) = read;
    return result;
}

PackResult sizeDiffers(uint32_t width, uint32_t height, const G00LikePlan& plan) {
    PackResult result = failed(Status::sizeDiffers);
    result.width = width;
    result.height = height;
    result.originalWidth = plan.width;
    result.originalHeight = plan.height;
    return result;
}

// What a full-frame G00 file decodes to, for telling whether a pack changed anything (the
// writer tells it for a region picture); and a region picture's boxes.
Status g00Content(std::span<const uint8_t> file, ByteBuffer& pixels, RegionBoxes* boxes = nullptr) {
    Canvas canvas;
    ByteBuffer data;
    const G00Decoded decoded = decodeG00Picture(file, canvas, 0, &data);
    if (decoded.status != Status::ok) return decoded.status;
    if (decoded.regionCount == 0) {
        pixels = std::move(canvas.pixels);
        return Status::ok;
    }
    return boxes != nullptr ? regionBoxes(file, data.span(), canvas.width, canvas.height, *boxes)
                            : Status::ok;
}

bool samePixels(const PackOriginal& like, const EncodedImage& image) {
    ByteBuffer pixels;
    return g00Content(image.bytes.span().first(image.length), pixels) == Status::ok &&
           pixels.size() == like.pixels.size() &&
           std::equal(pixels.data(), pixels.data() + pixels.size(), like.pixels.data());
}

// The G00 file for the picture, written into image's bytes.
PackResult writeG00(const Canvas& picture, const PackOriginal* like, OutsidePixelsAre outsideRule,
                    EncodedImage& image, const Parallel& parallel) {
    Encoded encoded;
    if (like == nullptr) {
        const Status status = encodeFreshG00(picture, encoded, parallel);
        image.bytes = std::move(encoded.bytes);
        image.length = encoded.length;
        return failed(status);
    }

    const G00LikePlan& plan = like->plan;
    if (picture.width != plan.width || picture.height != plan.height)
        return sizeDiffers(picture.width, picture.height, plan);
    const G00LikeResult written =
        encodeG00Like(like->bytes.span().first(size_t(like->size)), plan, picture, encoded, parallel);
    if (written.status != Status::ok) return failed(written.status);
    if (written.outside.count != 0 && outsideRule == OutsidePixelsAre::refused) {
        PackResult result = failed(Status::pixelsOutside);
        result.outside = written.outside;
        result.coloursOnly = likeAlphaOf(picture) == LikeAlpha::original;
        return result;
    }
    image.bytes = std::move(encoded.bytes);
    image.length = encoded.length;
    PackResult result;
    result.unchanged = plan.fullFrame ? samePixels(*like, image) : written.unchanged;
    return result;
}

PackResult failedLayer(Status status, const PsdStoredLayer& layer,
                       LayerRefusal refusal = LayerRefusal::none, uint32_t value = 0) {
    PackResult result = failed(status);
    result.layer.assign(layer.name, layer.nameLength);
    result.layerRefusal = refusal;
    result.layerValue = value;
    return result;
}

constexpr uint32_t kNormalBlend =
    uint32_t('n') << 24 | uint32_t('o') << 16 | uint32_t('r') << 8 | 'm';

// "region RRR", as --layers names the layers: RRR, or kNoRegion.
uint32_t regionOfLayerName(const PsdStoredLayer& layer) {
    const std::string name(layer.name, layer.nameLength);
    if (name.size() != 10 || name.compare(0, 7, "region ") != 0) return kNoRegion;
    uint32_t region = 0;
    for (size_t i = 7; i < 10; ++i) {
        if (name[i] < '0' || name[i] > '9') return kNoRegion;
        region = region * 10 + uint32_t(name[i] - '0');
    }
    return region;
}

// Region pictures written like the original into image: a refusal with the region it names.
PackResult writeRegionsLike(std::span<const RegionPicture> pictures, const PackOriginal& like,
                            OutsidePixelsAre outsideRule, EncodedImage& image,
                            const Parallel& parallel) {
    Encoded encoded;
    const G00LikeRegionsResult written =
        encodeG00LikeRegions(like.bytes.span().first(size_t(like.size)), pictures, encoded, parallel);
    PackResult result = failed(written.status);
    result.region = written.region;
    result.regionCount = like.boxes.count;
    if (!result.ok()) return result;
    if (written.outside.regions != 0 && outsideRule == OutsidePixelsAre::refused) {
        result.status = Status::pixelsOutside;
        result.region = written.outside.region;
        result.outside = written.outside.pixels;
        result.outsideRegions = written.outside.regions;
        return result;
    }
    image.bytes = std::move(encoded.bytes);
    image.length = encoded.length;
    result.unchanged = written.unchanged;
    return result;
}

// A layered PSD: like the original region by region, or a fresh file of a region per layer.
PackResult packLayers(const PsdLayers& read, const PackOriginal* like, OutsidePixelsAre outsideRule,
                      EncodedImage& image, const Parallel& parallel) {
    std::vector<RegionPicture> pictures;
    for (uint32_t i = 0; i < read.layers.size(); ++i) {
        const PsdStoredLayer& layer = read.layers[i];
        if (layer.opacity != 255)
            return failedLayer(Status::unsupportedPicture, layer, LayerRefusal::opacity,
                               layer.opacity);
        if (layer.blendMode != kNormalBlend)
            return failedLayer(Status::unsupportedPicture, layer, LayerRefusal::blendMode,
                               layer.blendMode);
        uint32_t region = i;
        if (like != nullptr && (region = regionOfLayerName(layer)) == kNoRegion)
            return failedLayer(Status::unsupportedPicture, layer, LayerRefusal::notRegion);
        pictures.push_back({region, layer.left, layer.top, &layer.pixels, LikeAlpha::picture});
    }
    if (like == nullptr) {
        Encoded encoded;
        const Status status =
            encodeFreshRegionsG00(pictures, read.width, read.height, encoded, parallel);
        if (status != Status::ok) return failed(status);
        image.bytes = std::move(encoded.bytes);
        image.length = encoded.length;
        return {};
    }
    const G00LikePlan& plan = like->plan;
    if (read.width != plan.width || read.height != plan.height)
        return sizeDiffers(read.width, read.height, plan);
    if (plan.fullFrame) {
        PackResult result = failed(Status::severalLayers);
        result.picture.layerCount = uint32_t(read.layers.size());
        return result;
    }
    PackResult result = writeRegionsLike(pictures, *like, outsideRule, image, parallel);
    if (result.status == Status::noSuchRegion || result.status == Status::regionTwice) {
        // The layer that names it: the first for a region it lacks, the second for one named twice.
        bool seen = false;
        for (const PsdStoredLayer& layer : read.layers) {
            if (regionOfLayerName(layer) != result.region) continue;
            result.layer.assign(layer.name, layer.nameLength);
            if (result.status == Status::noSuchRegion || seen) break;
            seen = true;
        }
    }
    return result;
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
    static constexpr const char* kNames[] = {"bitmap", "grey",  "indexed",      "RGB",     "CMYK",
                                             nullptr,  nullptr, "multichannel", "duotone", "Lab"};
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
            if (facts.compression == 4)
                return "BMP holding a JPEG: save it as a BMP of 24 or 32 bits";
            if (facts.compression == 5)
                return "BMP holding a PNG: save it as a PNG, or a BMP of 24 or 32 bits";
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
            return printed(
                "PSD channel of compression %u, which no known program writes: save it "
                "again with RLE or ZIP compression",
                facts.compression);
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
    const ConvertResult read = readSourceFile(path, original.source, original.bytes, original.size);
    if (!read.ok()) return failedRead(read);
    const std::span<const uint8_t> file = original.bytes.span().first(size_t(original.size));
    original.plan = planG00Like(file);
    PackResult result = failed(original.plan.status);
    result.typeByte = original.plan.type;
    if (!result.ok()) return result;
    // A damaged stream or part table fails here once, not for every picture.
    result.status = g00Content(file, original.pixels, &original.boxes);
    return result;
}

PackResult packFile(const char* picturePath, const PackOriginal* like, OutsidePixelsAre outsideRule,
                    EncodedImage& image, const Parallel& parallel) {
    image.bytes.release();
    image.length = 0;
    image.extension = "g00";
    ByteBuffer file;
    uint64_t size = 0;
    const ConvertResult read = readSourceFile(picturePath, image.source, file, size);
    if (!read.ok()) return failedRead(read);

    ByteBuffer work;
    Status status = obtainBlock(kPictureWorkSize, work);
    if (status != Status::ok) return failed(status);
    Canvas picture;
    const PictureRead pictureRead =
        readPicture(file.span().first(size_t(size)), work.span(), picture);
    if (pictureRead.status == Status::severalLayers) {
        PsdLayers layers;
        PictureFacts facts;
        const Status status =
            readPsdLayers(file.span().first(size_t(size)), work.span(), layers, facts);
        file.release();
        work.release();
        PackResult result =
            status == Status::ok ? packLayers(layers, like, outsideRule, image, parallel)
                                 : failed(status);
        if (status != Status::ok) result.picture = facts;
        if (!result.ok()) {
            image.bytes.release();
            image.length = 0;
        }
        return result;
    }
    file.release();
    work.release();
    if (!pictureRead.ok()) {
        PackResult result = failed(pictureRead.status);
        result.picture = pictureRead;
        return result;
    }
    PackResult result = writeG00(picture, like, outsideRule, image, parallel);
    if (!result.ok()) {
        image.bytes.release();
        image.length = 0;
    }
    return result;
}

PackResult packRegionFiles(std::span<const RegionFile> files, const PackOriginal& like,
                           OutsidePixelsAre outsideRule, EncodedImage& image,
                           const Parallel& parallel) {
    image.bytes.release();
    image.length = 0;
    image.extension = "g00";
    std::vector<Canvas> canvases(files.size());
    std::vector<RegionPicture> pictures;
    for (size_t i = 0; i < files.size(); ++i) {
        const RegionFile& file = files[i];
        auto refuse = [&](PackResult result) {
            result.fileName = file.path;
            result.region = file.region;
            result.regionCount = like.boxes.count;
            image.bytes.release();
            image.length = 0;
            return result;
        };
        if (like.plan.fullFrame) return refuse(failed(Status::noSuchRegion));
        FileHandle source;
        ByteBuffer bytes;
        uint64_t size = 0;
        const ConvertResult read =
            readSourceFile(file.path.c_str(), i == 0 ? image.source : source, bytes, size);
        if (!read.ok()) return refuse(failedRead(read));
        ByteBuffer work;
        Status status = obtainBlock(kPictureWorkSize, work);
        if (status != Status::ok) return refuse(failed(status));
        const PictureRead pictureRead =
            readPicture(bytes.span().first(size_t(size)), work.span(), canvases[i]);
        if (!pictureRead.ok()) {
            PackResult result = failed(pictureRead.status);
            result.picture = pictureRead;
            return refuse(result);
        }
        if (file.region >= like.boxes.count) return refuse(failed(Status::noSuchRegion));
        const RegionBox& box = like.boxes.box[file.region];
        if (box.empty()) {
            PackResult result = failed(Status::noSuchRegion);
            result.layerRefusal = LayerRefusal::regionEmpty;
            return refuse(result);
        }
        const Canvas& picture = canvases[i];
        if (picture.width != box.width || picture.height != box.height) {
            PackResult result = failed(Status::sizeDiffers);
            result.width = picture.width;
            result.height = picture.height;
            result.originalWidth = box.width;
            result.originalHeight = box.height;
            return refuse(result);
        }
        pictures.push_back({file.region, int32_t(box.left), int32_t(box.top), &picture});
    }
    PackResult result = writeRegionsLike(pictures, like, outsideRule, image, parallel);
    if (!result.ok()) {
        for (const RegionFile& file : files)
            if (file.region == result.region) result.fileName = file.path;
        image.bytes.release();
        image.length = 0;
    }
    return result;
}

uint32_t regionOfFileName(const std::string& fileName, std::string& base) {
    const std::string name = fileName.substr(0, fileName.find('.'));
    if (name.size() < 5 || name[name.size() - 4] != '_') return kNoRegion;
    uint32_t region = 0;
    for (size_t i = name.size() - 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return kNoRegion;
        region = region * 10 + uint32_t(name[i] - '0');
    }
    base = name.substr(0, name.size() - 4);
    return region;
}

std::string packFailureText(const PackResult& result, const std::string& originalName) {
    if (result.file != FileStatus::ok) return resultText(result, "");
    switch (result.status) {
    case Status::unsupportedPicture:
        switch (result.layerRefusal) {
        case LayerRefusal::notRegion:
            return "layer '" + result.layer +
                   "' is not a region: merge it into the region layer it belongs to, or remove it";
        case LayerRefusal::opacity:
            return "layer '" + result.layer +
                   printed("' has an opacity of %u%%", result.layerValue * 100 / 255) +
                   ": set it to 100%, since the game shows the layer's pixels as they are";
        case LayerRefusal::blendMode: {
            std::string key;
            for (int shift = 24; shift >= 0; shift -= 8) key += char(result.layerValue >> shift);
            return "layer '" + result.layer + "' has the blend mode '" + key +
                   "': set it to normal, since the game shows the layer's pixels as they are";
        }
        default: return refusalText(result.picture);
        }
    case Status::severalLayers:
        return printed("has %u layers, and ", unsigned(result.picture.layerCount)) + originalName +
               " is a full-frame picture: merge them into one first";
    case Status::pictureTooLarge:
        return "too large for a G00 picture: make it at most 65,535 pixels wide and high";
    case Status::sizeDiffers:
        if (result.region != kNoRegion)
            return result.fileName +
                   printed(" is %ux%u, region %03u of ", result.width, result.height,
                           result.region) +
                   originalName + printed(" is %ux%u", result.originalWidth, result.originalHeight);
        return printed("the picture is %ux%u, ", result.width, result.height) + originalName +
               printed(" is %ux%u", result.originalWidth, result.originalHeight);
    case Status::noSuchRegion: {
        const std::string what =
            !result.layer.empty() ? "layer '" + result.layer + "'" : result.fileName;
        if (result.layerRefusal == LayerRefusal::regionEmpty)
            return what + printed(" gives region %03u, which draws no pixel in ", result.region) +
                   originalName;
        if (result.regionCount == 0)
            return what + " gives a region, but " + originalName + " is a full-frame picture";
        return what + printed(" names region %03u, but ", result.region) + originalName +
               printed(" has %u (%03u to %03u)", result.regionCount, 0u, result.regionCount - 1);
    }
    case Status::regionTwice:
        return (!result.layer.empty() ? "layer '" + result.layer + "'" : result.fileName) +
               printed(" names region %03u, which another %s names too: keep one", result.region,
                       result.layer.empty() ? "file" : "layer");
    case Status::transparencyLost:
        return "has transparency, " + originalName +
               " is a full-frame picture without it (make the picture opaque)";
    case Status::pixelsOutside: {
        const OutsidePixels& o = result.outside;
        if (result.region != kNoRegion) {
            const unsigned long long count = o.count;
            std::string text =
                (result.fileName.empty() ? std::string() : result.fileName + ": ") +
                printed("%llu %s outside the parts of region %03u, within (%u, %u) to (%u, %u), ",
                        count, plural(count, "pixel lies", "pixels lie"), result.region, o.left,
                        o.top, o.right, o.bottom) +
                "where " + originalName +
                " shows nothing of it: make them transparent, or keep the region inside its parts "
                "(--drop-outside leaves them out)";
            if (result.outsideRegions > 1)
                text += printed("; %u more regions have such pixels", result.outsideRegions - 1);
            return text;
        }
        const unsigned long long count = o.count;
        const std::string where =
            printed("within (%u, %u) to (%u, %u)", o.left, o.top, o.right, o.bottom);
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
    default: return resultText(result, "");
    }
}
