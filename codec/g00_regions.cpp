#include "codec/g00_regions.h"

#include <algorithm>
#include <cstring>

#include "codec/internal/g00_part_walk.h"
#include "codec/internal/g00_stream.h"

namespace {

// A rectangle of the picture, right and bottom exclusive.
struct Area {
    uint64_t left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return left >= right || top >= bottom; }
};

// What of the part lies inside the area.
Area clipPart(const PartPlace& part, const Area& area) {
    return Area{std::max(part.left, area.left), std::max(part.top, area.top),
                std::min(part.left + part.width, area.right),
                std::min(part.top + part.height, area.bottom)};
}

// Copies the rows of the part that fall inside the area onto the target, whose pixel (0, 0)
// is the area's top-left corner and which is at least as large as the area.
void drawPart(const PartPlace& part, const Area& area, Canvas& target) {
    const Area inside = clipPart(part, area);
    if (inside.empty()) return;
    const uint64_t columns = inside.right - inside.left;
    const uint8_t* source =
        part.pixels + ((inside.top - part.top) * part.width + (inside.left - part.left)) * 4;
    uint8_t* destination = target.pixels.data() +
                           ((inside.top - area.top) * target.width + (inside.left - area.left)) * 4;
    for (uint64_t row = inside.top; row < inside.bottom; ++row) {
        std::memcpy(destination, source, size_t(columns * 4));
        source += uint64_t(part.width) * 4;
        destination += uint64_t(target.width) * 4;
    }
}

Area wholePicture(uint32_t width, uint32_t height) { return Area{0, 0, width, height}; }

// The entry of a table index, treated as absent beyond the table.
PartEntry entryAt(const PartTable& table, uint32_t index) {
    return index < table.entriesInData ? readPartEntry(table, index) : PartEntry{};
}

Status boxOfEntry(const PartTable& table, uint32_t index, const Area& picture, RegionBox& box) {
    Area covered{picture.right, picture.bottom, 0, 0};
    const Status status = walkEntryParts(table, entryAt(table, index), [&](const PartPlace& part) {
        const Area inside = clipPart(part, picture);
        if (inside.empty()) return;
        covered.left = std::min(covered.left, inside.left);
        covered.top = std::min(covered.top, inside.top);
        covered.right = std::max(covered.right, inside.right);
        covered.bottom = std::max(covered.bottom, inside.bottom);
    });
    box = covered.empty() ? RegionBox{}
                          : RegionBox{uint32_t(covered.left), uint32_t(covered.top),
                                      uint32_t(covered.right - covered.left),
                                      uint32_t(covered.bottom - covered.top)};
    return status;
}

}  // namespace

Status composeRegions(std::span<const uint8_t> file, std::span<const uint8_t> data,
                      Canvas& canvas) {
    PartTable table;
    Status status = openPartTable(file, data, table);
    if (status != Status::ok) return status;
    const Area picture = wholePicture(canvas.width, canvas.height);
    for (uint32_t i = 0; i < table.entries; ++i) {
        status = walkEntryParts(table, readPartEntry(table, i),
                                [&](const PartPlace& part) { drawPart(part, picture, canvas); });
        if (status != Status::ok) return status;
    }
    return Status::ok;
}

Status regionBoxes(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t width,
                   uint32_t height, RegionBoxes& boxes) {
    boxes = RegionBoxes{};
    PartTable table;
    Status status = openPartTable(file, data, table);
    if (status != Status::ok) return status;
    const Area picture = wholePicture(width, height);
    boxes.count = std::min(table.entries, table.regions);
    for (uint32_t i = 0; i < table.entries; ++i) {
        RegionBox box;
        status = boxOfEntry(table, i, picture, box);
        if (i < boxes.count) boxes.box[i] = box;
        if (status != Status::ok) return status;
    }
    return Status::ok;
}

Status cropRegion(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t index,
                  uint32_t width, uint32_t height, Canvas& cropped, RegionBox* box) {
    cropped.pixels.release();
    cropped.width = cropped.height = 0;
    RegionBox found;
    if (box != nullptr) *box = found;
    PartTable table;
    Status status = openPartTable(file, data, table);
    if (status == Status::ok) status = boxOfEntry(table, index, wholePicture(width, height), found);
    if (status != Status::ok) return status;
    if (box != nullptr) *box = found;
    status = makeCanvas(found.width, found.height, cropped);
    if (status != Status::ok) return status;
    const Area area{found.left, found.top, uint64_t(found.left) + found.width,
                    uint64_t(found.top) + found.height};
    return walkEntryParts(table, entryAt(table, index),
                          [&](const PartPlace& part) { drawPart(part, area, cropped); });
}

Status regionMask(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t index,
                  uint32_t width, uint32_t height, ByteBuffer& mask, RegionBox& box) {
    mask.release();
    box = RegionBox{};
    PartTable table;
    Status status = openPartTable(file, data, table);
    const Area picture = wholePicture(width, height);
    if (status == Status::ok) status = boxOfEntry(table, index, picture, box);
    if (status != Status::ok) return status;
    if (box.empty()) return Status::emptyPicture;
    status = obtainBlock(uint64_t(box.width) * box.height, mask, PagingHint::whole);
    if (status != Status::ok) return status;
    std::memset(mask.data(), 255, mask.size());
    const Area area{box.left, box.top, uint64_t(box.left) + box.width,
                    uint64_t(box.top) + box.height};
    for (uint32_t i = index + 1; i < table.entries; ++i) {
        status = walkEntryParts(table, readPartEntry(table, i), [&](const PartPlace& part) {
            const Area inside = clipPart(part, area);
            if (inside.empty()) return;
            for (uint64_t y = inside.top; y < inside.bottom; ++y)
                std::memset(mask.data() + (y - area.top) * box.width + (inside.left - area.left), 0,
                            size_t(inside.right - inside.left));
        });
        if (status != Status::ok) return status;
    }
    return Status::ok;
}

Status regionLayers(std::span<const uint8_t> file, std::span<const uint8_t> data, uint32_t width,
                    uint32_t height, std::vector<RegionLayer>& layers) {
    layers.clear();
    RegionBoxes boxes;
    Status status = regionBoxes(file, data, width, height, boxes);
    if (status != Status::ok) return status;
    for (uint32_t i = 0; i < boxes.count; ++i)
        if (!boxes.box[i].empty()) layers.emplace_back().region = i;
    for (RegionLayer& layer : layers) {
        status = cropRegion(file, data, layer.region, width, height, layer.pixels, &layer.box);
        RegionBox box;
        if (status == Status::ok)
            status = regionMask(file, data, layer.region, width, height, layer.mask, box);
        if (status != Status::ok) {
            layers.clear();
            return status;
        }
    }
    return Status::ok;
}
