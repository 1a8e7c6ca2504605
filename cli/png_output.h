// PNG outputs of the command line: the bands of one picture compressed on several threads.
#pragma once

#include "batch/convert_file.h"
#include "common/canvas.h"

// Region-based pictures become RGBA PNG, full-frame ones RGB PNG, the bands compressed on up
// to `threads` threads (the processors a file of the run may use). The file is byte for byte
// the same however many threads there are.
Status writePngOnThreads(const Canvas& canvas, G00Layout layout, unsigned threads,
                         EncodedImage& image);
ImageWriter pngWriter(unsigned threads);
