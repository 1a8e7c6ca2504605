// PSD outputs of the command line: one picture packed on two threads.
#pragma once

#include "batch/convert_file.h"
#include "common/canvas.h"

// Writes the PSD of the Canvas, its two halves (the layer's blocks, the merged image's colour
// rows) packed at once when threads is 2 or more; one thread packs it in place. The file is
// byte for byte the same however many threads there are.
Status writePsdOnThreads(const Canvas& canvas, unsigned threads, EncodedImage& image);

// An ImageWriter for the built-in formats that may pack a PSD on threads threads: PSD for
// region pictures in regionFormat, BMP for everything else.
ImageWriter builtInWriter(BuiltInFormat regionFormat, unsigned threads);
