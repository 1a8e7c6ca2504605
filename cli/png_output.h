// PNG outputs of the command line: the bands of one picture compressed on several threads.
#pragma once

#include "batch/convert_file.h"
#include "common/canvas.h"

// An ImageWriter: region-based pictures become RGBA PNG, full-frame ones RGB PNG. The file is
// byte for byte the same however many threads there are.
Status writePngImage(const Canvas& canvas, G00Layout layout, EncodedImage& image);
