// PSD outputs of the command line: the channel parts of one picture packed on several threads.
#pragma once

#include "batch/convert_file.h"
#include "common/canvas.h"

// Writes the PSD of the Canvas with its eight parts packed on up to threads threads, the
// calling one among them; one thread packs it in place. The file is byte for byte what
// writePsd gives, however many threads there are.
Status writePsdOnThreads(const Canvas& canvas, unsigned threads, EncodedImage& image);

// An ImageWriter for the built-in formats that packs PSD parts on threads threads: PSD for
// region pictures when psdWanted, BMP for everything else.
ImageWriter builtInWriter(bool psdWanted, unsigned threads);
