// How a GIF's frames play, as the GIF reader found it, kept beside the frames the viewer's
// conversion wrote (each at its own size, without its place on the screen): the record that
// follows an animated GIF's last BMP image in the viewer's own converted file.
//
// The same record follows the frames the viewer's conversion writes of the other animated formats
// (WebP, PNG, JPEG XL: each canvas's changed rectangle) and of a still picture with see-through
// parts: a 32-bit frame carries its alpha in each pixel's fourth byte and replaces what its
// rectangle held.
//
// Record layout (little-endian), placed right after the last image: per frame 16 bytes (left,
// top, width, height: 2 bytes each; delay in milliseconds: 4; disposal: 1; 1 when a colour is
// see-through: 1; that colour's index in the frame's written colour table: 1; flags: 1, bit 0 set
// when the delay is kept as the file states it rather than by the GIF rule), then screen
// width and height (2 bytes each), loop count (4, signed), frame count (4), the record's own size
// (4) and the 8 bytes "VimoAnim". It is found from the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vimo::convert {

struct GifFrameTiming {
  int left = 0;  // the frame's place and size on the logical screen
  int top = 0;
  int width = 0;
  int height = 0;
  int delayMs = 0;   // as the graphic-control extension says (hundredths of a second) x 10
  int disposal = 0;  // what becomes of the frame before the next: 0/1 stays, 2 background, 3 previous
  // The written colour-table index of the see-through pixels, -1 when none is see-through.
  int transparentIndex = -1;
  // The delay is as the file states it (the other formats: browsers raise only delays of 10 ms
  // or less to 100 ms), not by the GIF rule.
  bool exactDelay = false;
};

// The most pixels a canvas the viewer plays may have (64 MiB of them).
inline constexpr std::uint64_t kMaxAnimationPixels = 16ull * 1024 * 1024;

struct GifTiming {
  int screenWidth = 0;
  int screenHeight = 0;
  // The NETSCAPE2.0 loop count: rounds after the first, 0 for ever; -1 without the extension.
  int loopCount = -1;
  std::vector<GifFrameTiming> frames;  // in file order
};

// The record's last bytes (its tail: screen, loop count, frame count, size, "VimoAnim").
inline constexpr std::size_t kGifTimingTailSize = 24;
// The size of the record whose last kGifTimingTailSize bytes are at tail; 0 when they are none.
std::size_t GifTimingSize(const std::uint8_t* tail);

// The record of timing, to be written after the last image.
std::vector<std::uint8_t> EncodeGifTiming(const GifTiming& timing);

// Reads the record that ends the size bytes at file (a converted file's whole content, or its
// last bytes at least as long as the record). Returns the record's size (0 when the bytes do
// not end in a well-formed record) and fills timing.
std::size_t DecodeGifTiming(const std::uint8_t* file, std::size_t size, GifTiming& timing);

}  // namespace vimo::convert
