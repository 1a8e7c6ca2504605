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
