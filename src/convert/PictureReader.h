// The readers of the formats that have a library of their own and are decoded whole: HEIF and
// AVIF (libheif), JPEG XL (libjxl), WebP (libwebp's demux and animation decoder), animated PNG
// (the program's reading of its frames, each decoded by libpng). A RAW file's preview is a JPEG
// and is read apart (RawReader.h).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "convert/ImageFacts.h"
#include "convert/ImageFormat.h"
#include "convert/PictureSink.h"

namespace vimo::convert {

class CPictureReader {
 public:
  // The reader of such a format (kHeif, kJxl, kWebp, kPng); null for any other.
  static std::unique_ptr<CPictureReader> Create(ImageReader reader);
  virtual ~CPictureReader() = default;

  // Reads what file (from its start; the caller keeps it open) says of its picture, without its
  // pixels: kWritten, or why it cannot be read (kUndecodable with the reason), or why it may not
  // be (kTooManyPixels, kPictureMemory, by PictureLimits).
  virtual ConvertOutcome Open(std::FILE* file) = 0;
  // After Open: the format's name and description, the picture's size (upright), and its EXIF
  // block ("Exif\0\0" and the TIFF structure; empty when it has none).
  virtual void Describe(ImageFacts& facts) = 0;
  // After Open: the ICC profile of the pixels Decode gives (empty for sRGB).
  virtual IccBytes Profile() = 0;
  // After Open: decodes the picture, upright as the file says, or each canvas of an animation,
  // into sink. kWritten, or the first failure (the sink's own included).
  virtual ConvertOutcome Decode(CPictureSink& sink) = 0;
  // After Open: as Decode, but for a thumbnail of at least cx pixels: a reader may hand over a
  // smaller picture the file carries for it.
  virtual ConvertOutcome DecodeForThumbnail(CPictureSink& sink, unsigned cx) {
    (void)cx;
    return Decode(sink);
  }
};

// What the readers share.
namespace picture {

// The bytes from file's position to its end, at most limit of them; false when it cannot be
// read or holds more.
bool ReadRest(std::FILE* file, std::uint64_t limit, std::string& bytes);
// The outcome of a file its library cannot decode, with the library's reason.
ConvertOutcome Undecodable(const std::string& reason);
// An EXIF payload as an "Exif\0\0" block: payload is the TIFF structure, or already such a block.
std::string ExifBlockOf(const std::uint8_t* payload, std::size_t size);

}  // namespace picture

}  // namespace vimo::convert
