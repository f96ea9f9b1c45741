// The worker's common case, a colour JPEG converted without colour reduction, decoded by
// libjpeg straight into the BMP file.
//
// The decoder hands out rows top row first, in BMP byte order (blue, green, red), with the float
// inverse DCT and the settings ImageMagick's JPEG reader uses, so the pixels are the ones that
// reader yields. Each row goes at once to its place in the file; the image is never held, and
// nothing of the image library's pixel cache is involved.
#pragma once

#include <cstdio>
#include <optional>

#include "convert/ConvertImage.h"

namespace vimo::convert {

// Decodes the JPEG in source (from its start) into destination by the writer's form rules.
// Returns nullopt for a JPEG that is not plain colour (greyscale, CMYK and the like): the
// general path decides. Any size the BMP format holds is converted, a row block at a time; the
// decoder may use at most the library's memory limit, which bounds only a progressive (or other
// multi-scan) file, whose coefficients are held whole. On any failure no destination is left.
// The image library must be started.
std::optional<ConvertOutcome> StreamJpegToBmp(std::FILE* source, const char* destination);

}  // namespace vimo::convert
