// Turning an image's colours into the colours of a target profile, with Little CMS: the program
// feeds it rows and does no colour arithmetic of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vimo::convert {

using IccBytes = std::vector<std::uint8_t>;

// One transform from a source profile into a target profile, for rows of 8-bit pixels (or the
// image library's 16-bit pixel packets), written out as blue, green, red.
class CColourTransform {
 public:
  enum class Pixels {
    kBgr,          // 3 bytes a pixel: blue, green, red (a BMP row)
    kCmyk,         // 4 bytes a pixel: cyan, magenta, yellow, black, 0 for no ink
    kInvertedCmyk, // the same with 0 for full ink, as Adobe's JPEG files store CMYK
    kPackets,      // the image library's pixel packets: 16-bit blue, green, red, opacity
  };

  // The transform of `pixels` from source (an ICC profile's bytes; empty: sRGB for RGB pixels,
  // the default CMYK profile for CMYK) into target (empty: sRGB), with the perceptual intent.
  // Null when there is nothing to do (the two profiles give the same 8-bit colours within one
  // level, as an image tagged sRGB shown on sRGB) or nothing that can be done: a source that is
  // no usable profile of the pixels' colour space counts as sRGB (or the default CMYK), a target
  // that is none as sRGB; CMYK without any usable CMYK profile gives null too.
  // kPackets pixels keep their opacity; every other layout writes blue, green, red.
  static std::unique_ptr<CColourTransform> Create(const IccBytes& source, Pixels pixels, const IccBytes& target);


  // Transforms `lines` rows of `width` pixels: in and out strides in bytes. In and out may be the
  // same rows when the layouts have the same size (BGR to BGR, packets in place).
  void Rows(const void* in, std::size_t inStride, void* out, std::size_t outStride, std::size_t width,
            std::size_t lines) const;

 private:
  struct TransformDeleter {
    void operator()(void* transform) const;
  };
  explicit CColourTransform(void* transform) : m_transform(transform) {}
  std::unique_ptr<void, TransformDeleter> m_transform;  // the cmsHTRANSFORM
};

// The CMYK profile for CMYK images that bring none: Ghostscript's default CMYK profile (Debian's
// libgs-common, a SWOP-like press), read once.
const IccBytes& DefaultCmykProfile();

}  // namespace vimo::convert
