// The worker's common case for a GIF, converted without colour reduction: every frame decoded by
// the program's GIF parser straight into the BMP file, in the form the BMP writer gives it.
//
// Each frame is decoded twice: once to learn the colours it uses and its runs (the run rule and
// each RLE8 row's length), once to write its rows at their places. Nothing holds a frame: the
// memory is a few rows and a few bytes per row, so any GIF whose BMP fits (up to 65535 pixels a
// side) is converted, whatever the image library's size policy says.
#pragma once

#include <cstdio>

#include "convert/ConvertImage.h"

namespace vimo::convert {

// Converts the GIF in source (from its start) into destination. A frame with a see-through
// colour is a true-colour image whose pixels keep their colour-map colours, or for viewing an
// 8-bit one whose record entry names that colour's index; an animated GIF, and a still one with
// a see-through colour, converted for viewing ends with its timing record (GifTiming.h). Colours are managed as options say (a GIF carries
// no profile: its colours are sRGB's). On any failure no destination is left.
ConvertOutcome StreamGifToBmp(std::FILE* source, const char* destination, const ConvertOptions& options);

}  // namespace vimo::convert
