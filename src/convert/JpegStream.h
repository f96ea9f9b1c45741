// The worker's common case, a colour JPEG converted without colour reduction, decoded by
// libjpeg straight into the BMP file.
//
// The decoder hands out rows top row first, in BMP byte order (blue, green, red), with the float
// inverse DCT and the settings ImageMagick's JPEG reader uses, so the pixels are the ones that
// reader yields. Each row goes at once to its place in the file; the image is never held, and
// nothing of the image library's pixel cache is involved.
#pragma once

#include <cstdio>

namespace vimo::convert {

enum class StreamResult {
  kWritten,        // an image was read; destination written (unless writing failed)
  kNoImage,        // a fatal decoder error, or beyond the library's limits: nothing written
  kNotStreamable,  // greyscale, CMYK or anything unusual: use the general path
};

// Decodes the JPEG in source (from its start) into destination by the writer's form rules.
// The library's width and height limits refuse an image as on the general path, and the decoder
// may use at most the library's memory limit. The image library must be started.
StreamResult StreamJpegToBmp(std::FILE* source, const char* destination);

}  // namespace vimo::convert
