// What the readers of the formats that have a library of their own (HEIF and AVIF, JPEG XL,
// WebP, animated PNG, a RAW file's preview) hand their pictures to: whole pictures of 8-bit
// samples, a still one or each canvas of an animation as a browser shows it, and before them
// what the pictures are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/ColourTransform.h"
#include "convert/ConvertImage.h"

namespace vimo::convert {

// The order of a pixel's samples; alpha is straight (not multiplied into the colours).
enum class PixelOrder { kRgb, kRgba, kBgra };

// One whole picture, top row first.
struct PictureRows {
  int width = 0;
  int height = 0;
  const std::uint8_t* pixels = nullptr;
  std::size_t stride = 0;  // bytes from one row to the next
  PixelOrder order = PixelOrder::kRgb;

  const std::uint8_t* Row(int y) const { return pixels + static_cast<std::size_t>(y) * stride; }
  bool HasAlpha() const { return order != PixelOrder::kRgb; }
};

// What the pictures to come are.
struct PictureInfo {
  int width = 0;   // of the picture, or of an animation's canvas
  int height = 0;
  bool animated = false;  // canvases follow one another, each with its time
  int loopCount = -1;     // rounds after the first: 0 for ever, -1 none (GifTiming's count)
  bool alpha = false;     // the pixels carry alpha (some may still all be opaque)
  IccBytes profile;       // the pixels' ICC profile; empty for sRGB
};

class CPictureSink {
 public:
  virtual ~CPictureSink() = default;
  // Before the first picture. Any status but kWritten ends the reading with that outcome.
  virtual ConvertOutcome Begin(const PictureInfo& info) = 0;
  // The still picture, or the next canvas of an animation, shown for delayMs milliseconds.
  // Any status but kWritten ends the reading with that outcome.
  virtual ConvertOutcome Add(const PictureRows& rows, int delayMs) = 0;
  // Whether the reader is to go on to the next canvas (a thumbnail needs only the first).
  virtual bool WantsMore() const { return true; }
};

}  // namespace vimo::convert
