#include "common/canvas.h"

Status makeCanvas(uint32_t width, uint32_t height, Canvas& canvas, PagingHint paging,
                  KeptBlock* kept) {
    canvas.pixels.release();
    canvas.width = canvas.height = 0;
    if (width == 0 || height == 0) return Status::emptyPicture;
    const uint64_t size = canvasByteSize(width, height);
    Status status = kept != nullptr ? takeKeptBlock(size, *kept, canvas.pixels, paging)
                                    : obtainBlock(size, canvas.pixels, paging);
    if (status != Status::ok) return status;
    canvas.width = width;
    canvas.height = height;
    return Status::ok;
}
