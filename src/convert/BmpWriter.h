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
#include <memory>
#include <string>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Writes every image of the list starting at images, in list order. The images must be in an RGB
// or grey colour space. Returns false when writing failed (the file is then incomplete).
bool WriteBmpImages(std::FILE* file, const Image* images, ExceptionInfo* exception);

// Bytes per row of a 24-bit image: three per pixel, padded to a multiple of 4.
std::size_t TrueColourStride(std::size_t width);

class CColourCounter;

// Writes one true-colour image without transparency as its rows arrive, top row first, each
// straight to its place in the file (BMP rows go bottom-up), so the image is never held in
// memory. The distinct colours are counted on the way; when the last row shows at most 256 of
// them, the image is re-encoded from the rows already written into the 8-bit form (and RLE8 by
// the run rule), exactly as WriteBmpImages would write it.
class CBmpRowWriter {
 public:
  // Creates (or truncates) path for the image. A file that cannot be created makes every later
  // call do nothing, so a caller can still read its whole source.
  CBmpRowWriter(const char* path, std::size_t width, std::size_t height);
  ~CBmpRowWriter();
  CBmpRowWriter(const CBmpRowWriter&) = delete;
  CBmpRowWriter& operator=(const CBmpRowWriter&) = delete;

  // Row y (0 is the top row) as TrueColourStride(width) bytes: blue, green, red, padding zero.
  void PutRow(std::size_t y, const std::uint8_t* row);
  // Completes the file after the last row. False when writing failed (the file is then incomplete).
  bool Finish();
  // Removes the file: the source turned out to hold no image after all.
  void Discard();

 private:
  bool ReencodeAsIndexed();

  std::string m_path;
  std::FILE* m_file = nullptr;  // owned; closed by Finish, Discard or the destructor
  std::size_t m_width;
  std::size_t m_height;
  std::size_t m_stride;
  bool m_failed = false;
  std::unique_ptr<CColourCounter> m_colours;  // null once a 257th colour is seen
};

}  // namespace vimo::convert
