#include "common/status.h"

const char* statusName(Status status) {
    switch (status) {
    case Status::ok: return "ok";
    case Status::notG00: return "notG00";
    case Status::unsupportedType: return "unsupportedType";
    case Status::emptyPicture: return "emptyPicture";
    case Status::tooLarge: return "tooLarge";
    case Status::tooManyPixels: return "tooManyPixels";
    case Status::outOfMemory: return "outOfMemory";
    case Status::truncated: return "truncated";
    case Status::damagedStream: return "damagedStream";
    case Status::damagedParts: return "damagedParts";
    case Status::notPicture: return "notPicture";
    case Status::pictureTooLarge: return "pictureTooLarge";
    case Status::unsupportedPicture: return "unsupportedPicture";
    case Status::damagedPicture: return "damagedPicture";
    case Status::badChecksum: return "badChecksum";
    case Status::severalLayers: return "severalLayers";
    case Status::sizeDiffers: return "sizeDiffers";
    case Status::pixelsOutside: return "pixelsOutside";
    case Status::transparencyLost: return "transparencyLost";
    case Status::noSuchRegion: return "noSuchRegion";
    case Status::regionTwice: return "regionTwice";
    case Status::tooManyRegions: return "tooManyRegions";
    }
    return "unknown";
}

const char* statusWords(Status status) {
    switch (status) {
    case Status::ok: return "success";
    case Status::notG00: return "not a G00 image";
    case Status::unsupportedType: return "not a picture this program converts";
    case Status::emptyPicture: return "width or height is 0";
    case Status::tooLarge: return "the picture is too large";
    case Status::tooManyPixels: return "larger than the pixel limit";
    case Status::outOfMemory: return "out of memory";
    case Status::truncated: return "the file is cut short";
    case Status::damagedStream: return "the compressed data is damaged";
    case Status::damagedParts: return "the part table is damaged";
    case Status::notPicture: return "not a PNG, BMP or PSD picture";
    case Status::pictureTooLarge: return "too large for a G00 picture";
    case Status::unsupportedPicture: return "a kind of picture that cannot be read";
    case Status::damagedPicture: return "the picture is damaged";
    case Status::badChecksum: return "a checksum does not match";
    case Status::severalLayers: return "has several layers";
    case Status::sizeDiffers: return "the picture's size is not the original's";
    case Status::pixelsOutside: return "pixels lie outside the original's parts";
    case Status::transparencyLost:
        return "has transparency, the original is a full-frame picture without it";
    case Status::noSuchRegion: return "names a region the original does not have";
    case Status::regionTwice: return "names a region that another picture names too";
    case Status::tooManyRegions: return "more than 256 regions";
    }
    return "unknown failure";
}
