// The one GIF parser: giflib reads the stream's structure (header, screen, colour maps,
// extensions, image descriptors); the program reads each frame's image data itself and decodes
// it with its own LZW decoder, row by row, as often as a writer needs, never holding a frame.
//
// It decodes what browsers decode: minimum code sizes 2 to 11 (giflib refuses those above 8;
// a code below the clear code names its index modulo 256, as in browsers), an index beyond the
// frame's colour map as entry 0. It stops at the first code the table cannot hold yet (giflib's
// own decoder would turn it into some pixel and carry on), so a damaged part stays entry 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "convert/BmpWriter.h"

struct GifFileType;

namespace vimo::convert {

struct GifFrame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool interlaced = false;
  std::vector<Rgb> colours;  // the local colour map, else the global one, else a grey ramp
  // What the graphic-control extension before it says (none: 0, 0, -1).
  int delayMs = 0;
  int disposal = 0;
  int transparentIndex = -1;
  int codeSize = -1;    // the LZW minimum code size; -1 when the stream ends before it
  long dataOffset = 0;  // where its image data's first sub-block starts
  bool dataComplete = false;  // the image data ends with its block terminator
};

class CGifParser {
 public:
  CGifParser();
  ~CGifParser();
  CGifParser(const CGifParser&) = delete;
  CGifParser& operator=(const CGifParser&) = delete;

  // Reads the header, logical screen and global colour map of the GIF87a/GIF89a stream in file
  // (from its start; the caller keeps the file). False when it is no such stream.
  bool Open(std::FILE* file);
  int ScreenWidth() const;
  int ScreenHeight() const;
  // The NETSCAPE2.0 (or ANIMEXTS1.0) loop count seen so far: rounds after the first, 0 for ever,
  // -1 without one.
  int LoopCount() const { return m_loopCount; }

  // Reads on to the next frame: its descriptor and colour map, past its image data. False at the
  // trailer, at a record that is neither an extension nor a frame, or where the stream breaks off
  // before a whole descriptor (a frame whose data breaks off is the last one returned).
  bool NextFrame(GifFrame& frame);

  enum class Decoded {
    kWhole,        // every pixel decoded from intact data
    kBroken,       // the data ended early or held an invalid code: the rest is entry 0
    kUndecodable,  // a minimum code size below 2 or above 11: no row given
  };
  // Decodes the frame's pixels, calling row(y, indexes, blank) with each row in the order the
  // frame stores them (an interlaced frame pass by pass), every index within its colour map.
  // blank: the row is entry 0 throughout because the data ran out before it (so are the rows
  // after it), which a frame of 65535 x 65535 declared by a few bytes makes cheap to write.
  using RowHandler = std::function<void(std::size_t y, const std::uint8_t* indexes, bool blank)>;
  Decoded Decode(const GifFrame& frame, const RowHandler& row);

  static constexpr int kLargestCodeSize = 11;
  // Whether Decode gives the frame's rows (its data may still be damaged or missing).
  static bool IsDecodable(const GifFrame& frame) {
    return frame.codeSize < 0 || (frame.codeSize >= 2 && frame.codeSize <= kLargestCodeSize);
  }

 private:
  struct GifCloser {
    void operator()(GifFileType* gif) const;
  };
  bool ReadExtension(GifFrame& next);
  bool ReadDescriptor(GifFrame& frame);

  std::FILE* m_file = nullptr;
  std::unique_ptr<GifFileType, GifCloser> m_gif;
  int m_loopCount = -1;
  bool m_ended = false;
};

}  // namespace vimo::convert
