// The worker's common case, a colour JPEG converted without colour reduction, decoded by
// libjpeg straight into the BMP file.
//
// The decoder hands out rows top row first, in BMP byte order (blue, green, red), with the float
// inverse DCT and the settings ImageMagick's JPEG reader uses, so the pixels are the ones that
// reader yields. Each row goes at once to its place in the file; the image is never held, and
// nothing of the image library's pixel cache is involved.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

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

// A reduced picture of a colour JPEG, shown while its conversion runs: decoded through libjpeg's
// DCT scaling at the smallest of 1/8, 1/4 and 1/2 that is at least as wide and as high as wanted
// says (given the full image's width and height), its colours turned exactly as StreamJpegToBmp
// turns them. The bytes of a 24-bit BMP file; none when the file is not a JPEG that
// StreamJpegToBmp streams, is cut short or damaged, when no reduction is large enough, or when
// cancel was raised meanwhile. fullWidth and fullHeight receive the full image's size.
struct ReducedJpeg {
  std::vector<std::uint8_t> bmp;
  std::size_t fullWidth = 0;
  std::size_t fullHeight = 0;
};
using ReducedSize = std::function<std::pair<std::size_t, std::size_t>(std::size_t width, std::size_t height)>;
ReducedJpeg DecodeReducedJpeg(const char* path, const ReducedSize& wanted, const IccBytes* colourTarget,
                              const std::atomic<bool>* cancel);

// The ICC profile a JPEG file embeds in its APP2 markers (read from its start); empty when it has
// none or the file cannot be read.
IccBytes ReadJpegProfile(std::FILE* source);
IccBytes ReadJpegBytesProfile(const std::uint8_t* bytes, std::size_t size);

}  // namespace vimo::convert
