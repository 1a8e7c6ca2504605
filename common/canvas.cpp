#include "common/canvas.h"

Status makeCanvas(uint32_t width, uint32_t height, Canvas& canvas, Fill fill) {
    canvas.pixels.release();
    canvas.width = canvas.height = 0;
    if (width == 0 || height == 0) return Status::emptyPicture;
    Status status = obtainBlock(canvasByteSize(width, height), canvas.pixels, fill);
    if (status != Status::ok) return status;
    canvas.width = width;
    canvas.height = height;
    return Status::ok;
}
