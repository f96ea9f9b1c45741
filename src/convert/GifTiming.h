// How a GIF's frames play, read without decoding a pixel: what a viewer needs beside the frames
// the converter wrote (each at its own size, without its place on the screen, transparency
// dropped).
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
  bool transparent = false;
  // The colour the converter gave the see-through pixels: the transparent index's colour in the
  // frame's colour map (entry 0's for an index beyond the map).
  std::uint8_t transparentRed = 0;
  std::uint8_t transparentGreen = 0;
  std::uint8_t transparentBlue = 0;
};

struct GifTiming {
  int screenWidth = 0;
  int screenHeight = 0;
  // The NETSCAPE2.0 loop count: rounds after the first, 0 for ever; -1 without the extension.
  int loopCount = -1;
  std::vector<GifFrameTiming> frames;  // in file order
};

// Reads the first maxFrames frames' timing of the GIF87/GIF89 file at path (a regular file
// only). A frame whose data ends early is the last one listed. False when the file cannot be
// opened, is no GIF or holds no frame.
bool ReadGifTiming(const char* path, std::size_t maxFrames, GifTiming& timing);

}  // namespace vimo::convert
