// The worker's common case, a colour JPEG converted without colour reduction, decoded by
// libjpeg straight into the BMP file.
//
// The decoder hands out rows top row first, in BMP byte order (blue, green, red), with the float
// inverse DCT and the settings ImageMagick's JPEG reader uses, so the pixels are the ones that
// reader yields. Each row goes at once to its place in the file; the image is never held, and
// nothing of the image library's pixel cache is involved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "convert/ColourTransform.h"
#include "convert/ConvertImage.h"

namespace vimo::convert {

// Decodes the JPEG in source (from its start) into destination by the writer's form rules.
// With a colour target (an ICC profile's bytes, empty for sRGB) the colours are turned from the
// file's embedded profile (sRGB without one) into the target's, and a CMYK file is streamed too,
// through its profile or the default CMYK profile. Returns nullopt for a JPEG that is not plain
// colour (greyscale, and CMYK when colours are not managed): the general path decides. Any size the BMP format holds is converted, a row block at a time; the
// decoder may use at most the library's memory limit, which bounds only a progressive (or other
// multi-scan) file, whose coefficients are held whole. On any failure no destination is left.
// The image library must be started.
std::optional<ConvertOutcome> StreamJpegToBmp(std::FILE* source, const char* destination,
                                              const IccBytes* colourTarget = nullptr);

// The same for the size bytes of a JPEG held in memory (a RAW file's preview).
std::optional<ConvertOutcome> StreamJpegBytesToBmp(const std::uint8_t* bytes, std::size_t size, const char* destination,
                                                   const IccBytes* colourTarget = nullptr);

// The ICC profile a JPEG file embeds in its APP2 markers (read from its start); empty when it has
// none or the file cannot be read.
IccBytes ReadJpegProfile(std::FILE* source);
IccBytes ReadJpegBytesProfile(const std::uint8_t* bytes, std::size_t size);

}  // namespace vimo::convert
