// The worker's common case, a colour JPEG converted without colour reduction, streamed straight
// from the decoder into the BMP rows.
//
// Through the library's pixel cache a 24-megapixel photograph takes 8 bytes per pixel (192 MB)
// before the 3 bytes per pixel of the BMP rows; streamed, each decoded row goes at once to its
// place in the output rows (BMP stores them bottom-up, so they are held until the last one).
#pragma once

#include <cstdio>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

enum class StreamResult {
  kWritten,        // an image was read; destination written (unless writing failed)
  kNoImage,        // a fatal decoder error or a width or height limit: nothing written
  kNotStreamable,  // greyscale, CMYK, beyond the memory area: use the general path
};

// Reads the JPEG in source with the library's JPEG reader (settings from info, the float inverse
// DCT included) and writes it into destination by the writer's form rules. The library's
// width and height limits refuse an image as on the general path; an image beyond its area
// limit (which the general path keeps in a disk cache) is left to the general path. Not reentrant.
StreamResult StreamJpegToBmp(std::FILE* source, const char* destination, const ImageInfo* info);

}  // namespace vimo::convert
