#include "cli/info_format.h"

#include <cctype>
#include <cstdio>

#include "batch/result_text.h"
#include "codec/g00.h"

namespace {

std::string number(uint64_t value) { return std::to_string(value); }
std::string number(int64_t value) { return std::to_string(value); }

std::string threeDigits(uint32_t index) {
    char text[16];
    std::snprintf(text, sizeof text, "%03u", unsigned(index));
    return text;
}

// A JSON string: valid UTF-8 passes, other bytes become U+FFFD, controls are escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            out += escape;
            ++i;
        } else if (c < 0x80) {
            out += char(c);
            ++i;
        } else {
            // Lead byte, the number of continuation bytes, and the smallest value it may encode.
            const size_t more = c >= 0xF0 ? (c <= 0xF4 ? 3 : 0) : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 0;
            uint32_t value = more == 3 ? c & 0x07u : more == 2 ? c & 0x0Fu : c & 0x1Fu;
            bool valid = more > 0 && i + more < n;
            for (size_t k = 1; valid && k <= more; ++k) {
                if ((s[i + k] & 0xC0) != 0x80)
                    valid = false;
                else
                    value = value << 6 | (s[i + k] & 0x3Fu);
            }
            valid = valid && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF) &&
                    value >= (more == 3   ? 0x10000u
                              : more == 2 ? 0x800u
                                          : 0x80u);
            if (valid) {
                out.append(text, i, more + 1);
                i += more + 1;
            } else {
                out += "\\ufffd";
                ++i;
            }
        }
    }
    return out + "\"";
}

template <class T>
std::string orNull(const std::optional<T>& value) {
    return value ? number(uint64_t(*value)) : "null";
}

std::string boxText(const RegionBox& box) {
    return box.empty()
               ? "draws no pixel"
               : "draws " + number(uint64_t(box.width)) + " x " + number(uint64_t(box.height)) +
                     " at (" + number(uint64_t(box.left)) + ", " + number(uint64_t(box.top)) + ")";
}

}  // namespace

std::string resultKey(const ConvertResult& result) {
    std::string key;
    for (const char* c = resultName(result); *c != '\0'; ++c) {
        if (std::isupper(static_cast<unsigned char>(*c))) {
            key += '_';
            key += char(std::tolower(static_cast<unsigned char>(*c)));
        } else {
            key += *c;
        }
    }
    return key;
}

namespace {

// What a type byte stands for, in a few words.
const char* typeName(uint8_t type) {
    switch (type) {
    case kG00FullFrame: return "full-frame picture";
    case kG00Regions: return "region-based picture";
    case kG00Paletted: return "paletted picture, not converted";
    default: return "no G00 type";
    }
}

}  // namespace

std::string infoText(const FileInfo& info) {
    const G00Description& d = info.description;
    std::string text = info.file + ":";
    if (info.sizeKnown) text += " " + number(d.fileSize) + (d.fileSize == 1 ? " byte" : " bytes");
    if (info.read && d.headerRead)
        text += ", " + std::string(typeName(d.type)) + " (type " + number(uint64_t(d.type)) +
                "), " + number(uint64_t(d.width)) + " x " + number(uint64_t(d.height));
    text += "\n";
    if (d.compressedLength || d.decompressedLength)
        text += "  compressed length " + orNull(d.compressedLength) + ", decompressed length " +
                orNull(d.decompressedLength) + "\n";
    if (d.regionCount) {
        text += "  " + number(uint64_t(*d.regionCount)) +
                (*d.regionCount == 1 ? " region record" : " region records");
        if (d.regions.size() < *d.regionCount)
            text += ", " + number(uint64_t(d.regions.size())) + " inside the file";
        text += "\n";
        for (size_t i = 0; i < d.regions.size(); ++i) {
            const G00RegionInfo& r = d.regions[i];
            text += "    region " + threeDigits(uint32_t(i)) + ": x1 " + number(uint64_t(r.x1)) +
                    ", y1 " + number(uint64_t(r.y1)) + ", x2 " + number(uint64_t(r.x2)) + ", y2 " +
                    number(uint64_t(r.y2)) + "; unread " + number(uint64_t(r.unread[0])) + ", " +
                    number(uint64_t(r.unread[1])) + "\n";
        }
    }
    if (d.entryCount) {
        text +=
            "  " + number(uint64_t(*d.entryCount)) + (*d.entryCount == 1 ? " entry" : " entries");
        if (d.entries.size() < *d.entryCount)
            text += ", " + number(uint64_t(d.entries.size())) + " read";
        text += "\n";
        for (const G00EntryInfo& e : d.entries) {
            text += "    entry " + threeDigits(e.index) + ": block at " +
                    number(uint64_t(e.blockOffset)) + ", length " + number(int64_t(e.blockLength));
            if (e.absent)
                text += ", absent";
            else if (e.emptyRegion)
                text += ", empty region";
            if (e.partCount)
                text += ", " + number(uint64_t(*e.partCount)) +
                        (*e.partCount == 1 ? " part, " : " parts, ") + boxText(e.box);
            text += "\n";
            for (const G00PartInfo& p : e.parts)
                text += "      part at (" + number(uint64_t(p.x)) + ", " + number(uint64_t(p.y)) +
                        "), " + number(uint64_t(p.width)) + " x " + number(uint64_t(p.height)) +
                        "\n";
        }
    }
    text += "  result: " + (info.result.ok() ? std::string("converts") : "fails: " + info.reason) +
            "\n";
    return text;
}

std::string infoJson(const FileInfo& info) {
    const G00Description& d = info.description;
    const bool header = info.read && d.headerRead;
    std::string json = "{\"file\": " + quoted(info.file);
    json += ", \"file_size\": " + (info.sizeKnown ? number(d.fileSize) : std::string("null"));
    json += ", \"type\": " + (header ? number(uint64_t(d.type)) : std::string("null"));
    json += ", \"width\": " + (header ? number(uint64_t(d.width)) : std::string("null"));
    json += ", \"height\": " + (header ? number(uint64_t(d.height)) : std::string("null"));
    json += ", \"compressed_length\": " + orNull(d.compressedLength);
    json += ", \"decompressed_length\": " + orNull(d.decompressedLength);
    json += ", \"region_count\": " + orNull(d.regionCount);
    json += ", \"regions\": [";
    for (size_t i = 0; i < d.regions.size(); ++i) {
        const G00RegionInfo& r = d.regions[i];
        json += std::string(i ? ", " : "") + "{\"index\": " + number(uint64_t(i)) +
                ", \"x1\": " + number(uint64_t(r.x1)) + ", \"y1\": " + number(uint64_t(r.y1)) +
                ", \"x2\": " + number(uint64_t(r.x2)) + ", \"y2\": " + number(uint64_t(r.y2)) +
                ", \"unread\": [" + number(uint64_t(r.unread[0])) + ", " +
                number(uint64_t(r.unread[1])) + "]}";
    }
    json += "], \"entry_count\": " + orNull(d.entryCount);
    json += ", \"entries\": [";
    for (size_t i = 0; i < d.entries.size(); ++i) {
        const G00EntryInfo& e = d.entries[i];
        json += std::string(i ? ", " : "") + "{\"index\": " + number(uint64_t(e.index)) +
                ", \"block_offset\": " + number(uint64_t(e.blockOffset)) +
                ", \"block_length\": " + number(int64_t(e.blockLength)) +
                ", \"absent\": " + (e.absent ? "true" : "false") +
                ", \"empty_region\": " + (e.emptyRegion ? "true" : "false") +
                ", \"part_count\": " + orNull(e.partCount) + ", \"parts\": [";
        for (size_t k = 0; k < e.parts.size(); ++k) {
            const G00PartInfo& p = e.parts[k];
            json += std::string(k ? ", " : "") + "{\"x\": " + number(uint64_t(p.x)) +
                    ", \"y\": " + number(uint64_t(p.y)) +
                    ", \"width\": " + number(uint64_t(p.width)) +
                    ", \"height\": " + number(uint64_t(p.height)) + "}";
        }
        json += "], \"box\": ";
        json += e.box.empty() ? std::string("null")
                              : "{\"left\": " + number(uint64_t(e.box.left)) +
                                    ", \"top\": " + number(uint64_t(e.box.top)) +
                                    ", \"width\": " + number(uint64_t(e.box.width)) +
                                    ", \"height\": " + number(uint64_t(e.box.height)) + "}";
        json += "}";
    }
    json += "], \"result\": " + quoted(resultKey(info.result));
    json += ", \"reason\": " + (info.result.ok() ? std::string("null") : quoted(info.reason));
    return json + "}";
}
