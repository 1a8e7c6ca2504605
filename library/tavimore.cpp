// The C face: pictures moved between the caller's RGBA and the codec's Canvas, the codec's
// blocks copied into allocations the caller frees with tavimore_free.
#include "tavimore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <span>
#include <thread>
#include <vector>

#include "codec/encode.h"
#include "codec/g00_encode.h"
#include "codec/g00.h"
#include "codec/g00_inspect.h"
#include "codec/g00_regions.h"
#include "codec/picture_reader.h"

namespace {

// The codec's statuses in the C enum's order: the C value is the index, past the file-level
// statuses the codec never gives and TAVIMORE_INVALID_ARGUMENT, which is the face's own.
constexpr Status kStatusOfC[] = {
    Status::ok,
    Status::notG00,
    Status::unsupportedType,
    Status::emptyPicture,
    Status::tooLarge,
    Status::outOfMemory,
    Status::truncated,
    Status::damagedStream,
    Status::damagedParts,
    Status::notPicture,
    Status::pictureTooLarge,
    Status::unsupportedPicture,
    Status::damagedPicture,
    Status::badChecksum,
    Status::severalLayers,
    Status::sizeDiffers,
    Status::pixelsOutside,
    Status::ok,  // TAVIMORE_INVALID_ARGUMENT
    Status::transparencyLost,
    Status::tooManyPixels,
    Status::tooManyRegions,
    Status::noSuchRegion,
    Status::regionTwice,
};
static_assert(std::size(kStatusOfC) == TAVIMORE_REGION_TWICE + 1);

tavimore_status cStatus(Status status) {
    if (status == Status::ok) return TAVIMORE_OK;
    for (size_t i = 1; i < std::size(kStatusOfC); ++i)
        if (kStatusOfC[i] == status && i != TAVIMORE_INVALID_ARGUMENT) return tavimore_status(i);
    return TAVIMORE_INVALID_ARGUMENT;  // the codec gives no other
}

uint64_t maxPixelsOf(const tavimore_limits* limits) {
    return limits != nullptr ? limits->max_pixels : kDefaultMaxPixels;
}

// Runs one entry's body: what it throws (only a refused allocation can) becomes a status, since
// no C++ exception may reach a C caller.
template <class Body>
tavimore_status guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return TAVIMORE_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return TAVIMORE_TOO_LARGE;
    } catch (...) {
        return TAVIMORE_OUT_OF_MEMORY;
    }
}

// The Canvas's BGRA as RGBA at to.
void copyRgba(const Canvas& canvas, uint8_t* to) {
    const uint64_t bytes = canvasByteSize(canvas.width, canvas.height);
    const uint8_t* from = canvas.pixels.data();
    for (uint64_t i = 0; i < bytes; i += 4) {
        to[i] = from[i + 2];
        to[i + 1] = from[i + 1];
        to[i + 2] = from[i];
        to[i + 3] = from[i + 3];
    }
}

// The Canvas's BGRA as RGBA, in one allocation with the image.
tavimore_status handOver(const Canvas& canvas, uint32_t regionCount, tavimore_image** image) {
    const uint64_t bytes = canvasByteSize(canvas.width, canvas.height);
    if (bytes > SIZE_MAX - sizeof(tavimore_image)) return TAVIMORE_TOO_LARGE;
    auto* out = static_cast<tavimore_image*>(std::malloc(sizeof(tavimore_image) + size_t(bytes)));
    if (out == nullptr) return TAVIMORE_OUT_OF_MEMORY;
    *out = {canvas.width, canvas.height, regionCount, reinterpret_cast<uint8_t*>(out + 1)};
    copyRgba(canvas, out->rgba);
    *image = out;
    return TAVIMORE_OK;
}

tavimore_status handOver(const Encoded& encoded, uint8_t** out, size_t* outSize) {
    auto* bytes = static_cast<uint8_t*>(std::malloc(std::max<size_t>(encoded.length, 1)));
    if (bytes == nullptr) return TAVIMORE_OUT_OF_MEMORY;
    std::memcpy(bytes, encoded.bytes.data(), encoded.length);
    *out = bytes;
    *outSize = encoded.length;
    return TAVIMORE_OK;
}

Status canvasOf(const tavimore_image& image, Canvas& canvas) {
    const Status status = makeCanvas(image.width, image.height, canvas, PagingHint::whole);
    if (status != Status::ok) return status;
    uint8_t* to = canvas.pixels.data();
    const uint64_t bytes = canvasByteSize(image.width, image.height);
    for (uint64_t i = 0; i < bytes; i += 4) {
        to[i] = image.rgba[i + 2];
        to[i + 1] = image.rgba[i + 1];
        to[i + 2] = image.rgba[i];
        to[i + 3] = image.rgba[i + 3];
    }
    return Status::ok;
}

std::span<const uint8_t> bytesOf(const uint8_t* file, size_t size) { return {file, size}; }

template <class Result>
bool cleared(Result** result) {
    if (result == nullptr) return false;
    *result = nullptr;
    return true;
}

bool outputCleared(uint8_t** out, size_t* outSize) {
    if (outSize == nullptr || !cleared(out)) return false;
    *outSize = 0;
    return true;
}

// A picture given by the caller, its width, height and pixels present.
bool validImage(const tavimore_image* image) { return image != nullptr && image->rgba != nullptr; }

template <class Encode>
tavimore_status writePicture(const tavimore_image* image, uint8_t** out, size_t* outSize,
                             Encode encode) {
    if (!outputCleared(out, outSize) || !validImage(image)) return TAVIMORE_INVALID_ARGUMENT;
    Canvas canvas;
    Encoded encoded;
    Status status = canvasOf(*image, canvas);
    if (status == Status::ok) status = encode(canvas, encoded);
    if (status != Status::ok) return cStatus(status);
    return handOver(encoded, out, outSize);
}

// The caller's region pictures as Canvases, in the given order.
Status regionPictures(const tavimore_region_picture* given, size_t count,
                      std::vector<Canvas>& canvases, std::vector<RegionPicture>& pictures) {
    canvases.resize(count);
    pictures.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const Status status = canvasOf(*given[i].image, canvases[i]);
        if (status != Status::ok) return status;
        pictures[i] = {given[i].region, given[i].left, given[i].top, &canvases[i]};
    }
    return Status::ok;
}

bool validRegions(const tavimore_region_picture* given, size_t count) {
    if (given == nullptr && count != 0) return false;
    return std::all_of(given, given + count,
                       [](const tavimore_region_picture& p) { return validImage(p.image); });
}

// A region-based file's decompressed data, and its size in canvas (without pixels): a
// full-frame file is no argument for the functions of regions.
tavimore_status regionData(const uint8_t* file, size_t size, Canvas& canvas, ByteBuffer& data) {
    const G00Decoded decoded =
        decodeG00Picture(bytesOf(file, size), canvas, kDefaultMaxPixels, &data);
    if (decoded.status != Status::ok) return cStatus(decoded.status);
    if (decoded.regionCount == 0) return TAVIMORE_INVALID_ARGUMENT;
    canvas.pixels.release();
    return TAVIMORE_OK;
}

// One step over a region of a region-based file (its file, data and picture size), with the
// region's box handed back in box; box is cleared when the step fails.
template <typename Step>
tavimore_status regionStep(const uint8_t* file, size_t size, tavimore_box* box, Step step) {
    *box = {};
    Canvas canvas;
    ByteBuffer data;
    const tavimore_status read = regionData(file, size, canvas, data);
    if (read != TAVIMORE_OK) return read;
    RegionBox where;
    const Status status =
        step(bytesOf(file, size), data.span(), canvas.width, canvas.height, where);
    if (status != Status::ok) return cStatus(status);
    *box = {where.left, where.top, where.width, where.height};
    return TAVIMORE_OK;
}

uint32_t processors() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace

// The description's parts in the caller's structs, in one allocation: the description, its
// entries, its records, then every entry's parts.
tavimore_status handOver(const G00Description& d, tavimore_description** description) {
    size_t parts = 0;
    for (const G00EntryInfo& entry : d.entries) parts += entry.parts.size();
    const size_t bytes = sizeof(tavimore_description) + d.entries.size() * sizeof(tavimore_entry) +
                         d.regions.size() * sizeof(tavimore_region_record) +
                         parts * sizeof(tavimore_part);
    auto* block = static_cast<uint8_t*>(std::calloc(1, bytes));
    if (block == nullptr) return TAVIMORE_OUT_OF_MEMORY;
    auto* out = new (block) tavimore_description{};
    auto* entries = reinterpret_cast<tavimore_entry*>(out + 1);
    auto* records = reinterpret_cast<tavimore_region_record*>(entries + d.entries.size());
    auto* part = reinterpret_cast<tavimore_part*>(records + d.regions.size());

    out->file_size = d.fileSize;
    out->type = d.type;
    out->width = d.width;
    out->height = d.height;
    out->fields = d.headerRead ? TAVIMORE_HAS_HEADER : 0;
    auto take = [&](const std::optional<uint32_t>& field, uint32_t flag, uint32_t& to) {
        if (!field) return;
        out->fields |= flag;
        to = *field;
    };
    take(d.compressedLength, TAVIMORE_HAS_COMPRESSED_LENGTH, out->compressed_length);
    take(d.decompressedLength, TAVIMORE_HAS_DECOMPRESSED_LENGTH, out->decompressed_length);
    take(d.regionCount, TAVIMORE_HAS_REGION_COUNT, out->region_count);
    take(d.entryCount, TAVIMORE_HAS_ENTRY_COUNT, out->entry_count);
    out->records_listed = uint32_t(d.regions.size());
    out->records = records;
    for (const G00RegionInfo& r : d.regions)
        *records++ = {r.x1, r.y1, r.x2, r.y2, {r.unread[0], r.unread[1]}};
    out->entries_listed = uint32_t(d.entries.size());
    out->entries = entries;
    for (const G00EntryInfo& e : d.entries) {
        tavimore_entry& to = *entries++;
        to.index = e.index;
        to.block_offset = e.blockOffset;
        to.block_length = e.blockLength;
        to.flags = (e.absent ? TAVIMORE_ENTRY_ABSENT : 0) |
                   (e.emptyRegion ? TAVIMORE_ENTRY_EMPTY_REGION : 0) |
                   (e.partCount ? TAVIMORE_ENTRY_PART_COUNT_READ : 0);
        to.part_count = e.partCount.value_or(0);
        to.parts_listed = uint32_t(e.parts.size());
        to.parts = part;
        for (const G00PartInfo& p : e.parts) *part++ = {p.x, p.y, p.width, p.height};
        to.box = {e.box.left, e.box.top, e.box.width, e.box.height};
    }
    out->result = cStatus(d.result);
    *description = out;
    return TAVIMORE_OK;
}

// The picture and its layers in one allocation: the struct, the layer records, the picture's
// pixels, then each layer's pixels and mask.
tavimore_status handOver(const Canvas& picture, uint32_t regionCount,
                         const std::vector<RegionLayer>& regions, tavimore_layers** layers) {
    uint64_t bytes = sizeof(tavimore_layers) + regions.size() * sizeof(tavimore_layer) +
                     canvasByteSize(picture.width, picture.height);
    for (const RegionLayer& region : regions)
        bytes += uint64_t(region.box.width) * region.box.height * 5;
    if (bytes > SIZE_MAX) return TAVIMORE_TOO_LARGE;
    auto* block = static_cast<uint8_t*>(std::malloc(size_t(bytes)));
    if (block == nullptr) return TAVIMORE_OUT_OF_MEMORY;
    auto* out = new (block) tavimore_layers{};
    auto* records = reinterpret_cast<tavimore_layer*>(out + 1);
    uint8_t* pixels = reinterpret_cast<uint8_t*>(records + regions.size());
    out->picture = {picture.width, picture.height, regionCount, pixels};
    copyRgba(picture, pixels);
    pixels += canvasByteSize(picture.width, picture.height);
    out->layer_count = uint32_t(regions.size());
    out->layers = records;
    for (const RegionLayer& region : regions) {
        const RegionBox& box = region.box;
        tavimore_layer& to = *records++;
        to = {region.region, {box.left, box.top, box.width, box.height}, pixels, nullptr};
        copyRgba(region.pixels, pixels);
        pixels += canvasByteSize(box.width, box.height);
        to.mask = pixels;
        std::memcpy(pixels, region.mask.data(), region.mask.size());
        pixels += region.mask.size();
    }
    *layers = out;
    return TAVIMORE_OK;
}

extern "C" {

const char* tavimore_status_text(tavimore_status status) {
    if (status == TAVIMORE_INVALID_ARGUMENT) return "invalid argument";
    if (status < 0 || size_t(status) >= std::size(kStatusOfC)) return "unknown status";
    return statusWords(kStatusOfC[status]);
}

const char* tavimore_version(void) { return TAVIMORE_VERSION_STRING; }

void tavimore_free(void* result) { std::free(result); }

tavimore_status tavimore_read_header(const uint8_t* file, size_t size,
                                     const tavimore_limits* limits, tavimore_header* header) {
    if (header == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    *header = {};
    if (file == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    const G00Info info = readG00Info(bytesOf(file, size), maxPixelsOf(limits));
    if (size >= kG00HeaderSize) {
        header->fields = TAVIMORE_HAS_HEADER;
        header->type = info.header.type;
        header->width = info.header.width;
        header->height = info.header.height;
    }
    if (info.regionCount != 0) {
        header->fields |= TAVIMORE_HAS_REGION_COUNT;
        header->region_count = info.regionCount;
    }
    if (info.sizesRead) {
        header->fields |= TAVIMORE_HAS_COMPRESSED_LENGTH | TAVIMORE_HAS_DECOMPRESSED_LENGTH;
        header->compressed_length = info.compressedLength;
        header->decompressed_length = info.decompressedLength;
    }
    return cStatus(info.status);
}

tavimore_status tavimore_decode_limited(const uint8_t* file, size_t size,
                                        const tavimore_limits* limits, tavimore_image** image) {
    if (!cleared(image) || file == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        Canvas canvas;
        const G00Decoded decoded = decodeG00Picture(bytesOf(file, size), canvas, maxPixelsOf(limits));
        if (decoded.status != Status::ok) return cStatus(decoded.status);
        return handOver(canvas, decoded.regionCount, image);
    });
}

tavimore_status tavimore_decode(const uint8_t* file, size_t size, tavimore_image** image) {
    return tavimore_decode_limited(file, size, nullptr, image);
}

tavimore_status tavimore_decode_layers(const uint8_t* file, size_t size,
                                       const tavimore_limits* limits, tavimore_layers** layers) {
    if (!cleared(layers) || file == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        Canvas canvas;
        ByteBuffer data;
        const G00Decoded decoded =
            decodeG00Picture(bytesOf(file, size), canvas, maxPixelsOf(limits), &data);
        if (decoded.status != Status::ok) return cStatus(decoded.status);
        std::vector<RegionLayer> regions;
        if (decoded.regionCount != 0) {
            const Status status =
                regionLayers(bytesOf(file, size), data.span(), canvas.width, canvas.height, regions);
            if (status != Status::ok) return cStatus(status);
        }
        data.release();
        return handOver(canvas, decoded.regionCount, regions, layers);
    });
}

tavimore_status tavimore_draw_region(const uint8_t* file, size_t size, uint32_t region,
                                     tavimore_image** image, tavimore_box* box) {
    if (!cleared(image) || file == nullptr || box == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        Canvas cropped;
        const tavimore_status status = regionStep(
            file, size, box,
            [&](auto g00, auto data, uint32_t width, uint32_t height, RegionBox& where) {
                return cropRegion(g00, data, region, width, height, cropped, &where);
            });
        if (status != TAVIMORE_OK) return status;
        const tavimore_status handed = handOver(cropped, 0, image);
        if (handed != TAVIMORE_OK) *box = {};
        return handed;
    });
}

tavimore_status tavimore_write_bmp(const tavimore_image* image, uint8_t** out, size_t* out_size) {
    return guarded([&] { return writePicture(image, out, out_size, encodeBmp); });
}

tavimore_status tavimore_write_psd(const tavimore_image* image, uint8_t** out, size_t* out_size) {
    return guarded([&] {
        return writePicture(image, out, out_size, [](const Canvas& canvas, Encoded& encoded) {
            return encodePsd(canvas, onThreads(processors()), encoded);
        });
    });
}

tavimore_status tavimore_write_png(const tavimore_image* image, tavimore_png_colour colour,
                                   uint8_t** out, size_t* out_size) {
    // An unknown colour is refused as a missing picture is: nothing handed back.
    const bool known = colour == TAVIMORE_PNG_RGB || colour == TAVIMORE_PNG_RGBA;
    return guarded([&] {
        return writePicture(known ? image : nullptr, out, out_size,
                            [colour](const Canvas& canvas, Encoded& encoded) {
                                return encodePng(canvas, PngColour(colour),
                                                 onThreads(processors()), encoded);
                            });
    });
}

tavimore_status tavimore_write_layered_psd(const uint8_t* file, size_t size, uint8_t** out,
                                           size_t* out_size) {
    if (!outputCleared(out, out_size) || file == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        Canvas canvas;
        ByteBuffer data;
        const G00Decoded decoded =
            decodeG00Picture(bytesOf(file, size), canvas, kDefaultMaxPixels, &data);
        if (decoded.status != Status::ok) return cStatus(decoded.status);
        Encoded encoded;
        const Status status =
            decoded.regionCount == 0
                ? encodePsd(canvas, onThreads(processors()), encoded)
                : encodeRegionLayersPsd(bytesOf(file, size), data.span(), canvas, encoded);
        if (status != Status::ok) return cStatus(status);
        return handOver(encoded, out, out_size);
    });
}

tavimore_status tavimore_describe(const uint8_t* file, size_t size,
                                  tavimore_description** description) {
    if (!cleared(description) || file == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        return handOver(describeG00(bytesOf(file, size), kDefaultMaxPixels), description);
    });
}

tavimore_status tavimore_read_picture(const uint8_t* file, size_t size, tavimore_image** image) {
    if (!cleared(image) || file == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        ByteBuffer work;
        Status status = obtainBlock(kPictureWorkSize, work);
        if (status != Status::ok) return cStatus(status);
        Canvas canvas;
        status = readPicture(bytesOf(file, size), work.span(), canvas).status;
        if (status != Status::ok) return cStatus(status);
        return handOver(canvas, 0, image);
    });
}

tavimore_status tavimore_pack(const tavimore_image* image, uint8_t** out, size_t* out_size) {
    return guarded([&] {
        return writePicture(image, out, out_size, [](const Canvas& canvas, Encoded& encoded) {
            return encodeFreshG00(canvas, encoded);
        });
    });
}

tavimore_status tavimore_pack_like(const uint8_t* original, size_t original_size,
                                   const tavimore_image* image, tavimore_outside outside,
                                   uint8_t** out, size_t* out_size) {
    if (!outputCleared(out, out_size) || original == nullptr || !validImage(image))
        return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        const std::span<const uint8_t> file = bytesOf(original, original_size);
        const G00LikePlan plan = planG00Like(file);
        if (plan.status != Status::ok) return cStatus(plan.status);
        // A damaged stream or part table fails as the decoder finds it.
        Canvas decoded;
        Status status = decodeG00Picture(file, decoded).status;
        if (status != Status::ok) return cStatus(status);
        decoded.pixels.release();
        Canvas picture;
        status = canvasOf(*image, picture);
        if (status != Status::ok) return cStatus(status);
        Encoded encoded;
        const G00LikeResult written = encodeG00Like(file, plan, picture, encoded);
        if (written.status != Status::ok) return cStatus(written.status);
        if (written.outside.count != 0 && outside != TAVIMORE_OUTSIDE_DROPPED)
            return TAVIMORE_PIXELS_OUTSIDE;
        return handOver(encoded, out, out_size);
    });
}

tavimore_status tavimore_pack_like_regions(const uint8_t* original, size_t original_size,
                                           const tavimore_region_picture* regions, size_t count,
                                           tavimore_outside outside, uint8_t** out,
                                           size_t* out_size, tavimore_pack_report* report) {
    tavimore_pack_report unused;
    tavimore_pack_report& said = report != nullptr ? *report : unused;
    said = {UINT32_MAX, 0, {}};
    if (!outputCleared(out, out_size) || original == nullptr || !validRegions(regions, count))
        return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        std::vector<Canvas> canvases;
        std::vector<RegionPicture> pictures;
        const Status status = regionPictures(regions, count, canvases, pictures);
        if (status != Status::ok) return cStatus(status);
        Encoded encoded;
        const G00LikeRegionsResult written =
            encodeG00LikeRegions(bytesOf(original, original_size), pictures, encoded);
        if (written.status == Status::noSuchRegion || written.status == Status::regionTwice)
            said.region = written.region;
        if (written.status != Status::ok) return cStatus(written.status);
        if (written.outside.regions != 0) {
            const OutsidePixels& pixels = written.outside.pixels;
            said = {written.outside.region,
                    pixels.count,
                    {pixels.left, pixels.top, pixels.right - pixels.left + 1,
                     pixels.bottom - pixels.top + 1}};
            if (outside != TAVIMORE_OUTSIDE_DROPPED) return TAVIMORE_PIXELS_OUTSIDE;
        }
        return handOver(encoded, out, out_size);
    });
}

tavimore_status tavimore_pack_regions(const tavimore_region_picture* layers, size_t count,
                                      uint32_t width, uint32_t height, uint8_t** out,
                                      size_t* out_size) {
    if (!outputCleared(out, out_size) || !validRegions(layers, count))
        return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        std::vector<Canvas> canvases;
        std::vector<RegionPicture> pictures;
        Status status = regionPictures(layers, count, canvases, pictures);
        Encoded encoded;
        if (status == Status::ok) status = encodeFreshRegionsG00(pictures, width, height, encoded);
        if (status != Status::ok) return cStatus(status);
        return handOver(encoded, out, out_size);
    });
}

tavimore_status tavimore_region_mask(const uint8_t* file, size_t size, uint32_t region,
                                     uint8_t** mask, tavimore_box* box) {
    if (!cleared(mask) || file == nullptr || box == nullptr) return TAVIMORE_INVALID_ARGUMENT;
    return guarded([&] {
        ByteBuffer bytes;
        const tavimore_status status = regionStep(
            file, size, box,
            [&](auto g00, auto data, uint32_t width, uint32_t height, RegionBox& where) {
                return regionMask(g00, data, region, width, height, bytes, where);
            });
        if (status != TAVIMORE_OK) return status;
        auto* copy = static_cast<uint8_t*>(std::malloc(bytes.size()));
        if (copy == nullptr) {
            *box = {};
            return TAVIMORE_OUT_OF_MEMORY;
        }
        std::memcpy(copy, bytes.data(), bytes.size());
        *mask = copy;
        return TAVIMORE_OK;
    });
}

}  // extern "C"
