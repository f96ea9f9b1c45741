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

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "convert/ConvertImage.h"
#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Writes every image of the list starting at images, in list order, into file, on whose file
// system freeBytes are free. The images must be in an RGB or grey colour space. An image is
// refused before any byte of it is written when its BMP would be too large for the format or for
// the free bytes left; on any failure the file is incomplete and the caller removes it.
ConvertOutcome WriteBmpImages(std::FILE* file, const Image* images, ExceptionInfo* exception,
                              std::uint64_t freeBytes = UINT64_MAX);

// Bytes per row of a 24-bit image: three per pixel, padded to a multiple of 4.
std::size_t TrueColourStride(std::size_t width);

// The encoder's pieces, for writers that produce an image's rows themselves.
struct Rgb {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};
inline constexpr std::size_t kBmpHeadersSize = 14 + 40;
inline constexpr std::uint32_t kBmpRle8 = 1;
// Where the pixel data starts: after the headers and, at 8 bits per pixel, the colour table.
std::uint32_t BmpPixelDataOffset(std::uint32_t bitsPerPixel);
// The file and information headers of one image (compression 0 or kBmpRle8).
std::array<std::uint8_t, kBmpHeadersSize> BmpHeaders(std::size_t width, std::size_t height, std::uint32_t bitsPerPixel,
                                                     std::uint32_t compression, std::uint64_t pixelDataSize);
// The 256-entry colour table: blue, green, red, 0; entries past the colours all zero.
void AppendBmpColourTable(const std::vector<Rgb>& colours, std::vector<std::uint8_t>& out);
// One row of indexes in RLE8 (encoded runs of at most 255, then 0 0), or uncompressed and padded.
void AppendRle8Row(const std::uint8_t* row, std::size_t width, std::vector<std::uint8_t>& out);
void AppendPlainRow(const std::uint8_t* row, std::size_t width, std::vector<std::uint8_t>& out);
// Claims the room for an image of this stored size: kTooLarge when its size fields cannot say it,
// kNoSpace when freeBytes cannot hold it (else freeBytes shrinks by it).
ConvertOutcome ReserveBmp(std::uint64_t bytes, std::uint64_t& freeBytes);

class CColourCounter;

// The runs of identical indexes in reading order (rows joined), each at most 256 long: an 8-bit
// image is written with RLE8 when these are fewer than half its pixels.
std::size_t CountRleRuns(const std::vector<std::uint8_t>& indexes);

// Writes one true-colour image without transparency as its rows arrive, in order, top row first,
// each straight to its place in the file (BMP rows go bottom-up), so the image is never held in
// memory. The distinct colours and the runs of the run rule are counted on the way; when the
// last row shows at most 256 colours, the file is rewritten in place from the rows already
// written into the 8-bit form (and RLE8 by the run rule), exactly as WriteBmpImages would write
// it, holding no more than a few rows.
class CBmpRowWriter {
 public:
  CBmpRowWriter();
  // Removes the file unless Finish completed it.
  ~CBmpRowWriter();
  CBmpRowWriter(const CBmpRowWriter&) = delete;
  CBmpRowWriter& operator=(const CBmpRowWriter&) = delete;

  // Creates (or truncates) path for the image and writes its headers. Refuses, removing the file,
  // when its BMP is too large for the format, when the file system holding path has less room
  // than the BMP needs, or when the headers cannot be written.
  ConvertOutcome Create(const char* path, std::size_t width, std::size_t height);
  // Row y (0 is the top row) as TrueColourStride(width) bytes: blue, green, red, padding zero.
  void PutRow(std::size_t y, const std::uint8_t* row);
  // Whether a write has failed already: the rows still to come are wasted work.
  bool Failed() const { return m_error != 0; }
  // Whether the image is sure to stay at 24 bits per pixel (a 257th colour was seen): the rows
  // written stay where they are, Finish rewrites nothing.
  bool StaysTrueColour() const { return m_colours == nullptr; }
  // Completes the file after the last row; on failure the file is removed.
  ConvertOutcome Finish();
  // Removes the file: the source turned out to hold no image after all.
  void Discard();

 private:
  void Fail();
  bool WriteAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size);
  void CountRuns(const std::uint8_t* row);
  bool ReencodeAsIndexed();

  std::string m_path;
  std::FILE* m_file = nullptr;  // owned; closed by Finish, Discard or the destructor
  std::size_t m_width = 0;
  std::size_t m_height = 0;
  std::size_t m_stride = 0;
  int m_error = 0;  // errno of the first failed write
  std::unique_ptr<CColourCounter> m_colours;  // null once a 257th colour is seen
  std::uint64_t m_runs = 0;       // runs of the run rule in reading order, while m_colours lives
  std::uint32_t m_runColour = 0;  // the colour of the run in progress
  std::size_t m_runLength = 0;
};

}  // namespace vimo::convert
