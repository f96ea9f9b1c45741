// The program's own BMP encoder: the layout the viewer's loader and its users rely on.
//
// Each image becomes one complete BMP image (14-byte file header, 40-byte information header,
// 2925 pixels per metre), written one after the other into the same file:
//   - a colour-mapped image (at most 256 colours) is written at 8 bits per pixel;
//   - a true-colour image with transparency at 24 bits per pixel, the transparency dropped;
//   - a true-colour image with at most 256 distinct colours becomes 8 bits per pixel with exactly
//     those colours (no dithering); with more, 24 bits per pixel.
// 8-bit images carry a 256-entry colour table (unused entries zero) and are run-length encoded
// (RLE8, encoded runs only) when their pixels in reading order form fewer runs (of at most 256
// pixels) than half the pixel count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Writes every image of the list starting at images, in list order. The images must be in an RGB
// or grey colour space. Returns false when writing failed (the file is then incomplete).
bool WriteBmpImages(std::FILE* file, const Image* images, ExceptionInfo* exception);

// Bytes per row of a 24-bit image: three per pixel, padded to a multiple of 4.
std::size_t TrueColourStride(std::size_t width);

// Writes one true-colour image without transparency given as its 24-bit BMP rows (bottom row
// first; blue, green, red; TrueColourStride bytes each, padding zero), by the same form and run
// rules. The 24-bit form goes out in one write.
bool WriteBmpFromRows(std::FILE* file, std::size_t width, std::size_t height, const std::uint8_t* rows);

}  // namespace vimo::convert
