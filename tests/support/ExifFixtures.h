// EXIF blocks for photo fixtures, built by libexif from the entries a test names.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/ImageFixtures.h"

namespace vimo::test {

// One entry: its directory (libexif's numbering: 0 IFD 0, 2 EXIF, 3 GPS), tag, format (2 ASCII,
// 3 SHORT, 5 RATIONAL), component count and value bytes in Intel order.
struct ExifField {
  int ifd = 0;
  unsigned tag = 0;
  int format = 0;
  unsigned components = 0;
  Bytes value;
};
ExifField ExifAscii(int ifd, unsigned tag, const std::string& text);
ExifField ExifShort(int ifd, unsigned tag, unsigned value);
ExifField ExifRationals(int ifd, unsigned tag, const std::vector<std::pair<unsigned, unsigned>>& values);

// The block ("Exif\0\0", Intel order) with these entries and, when given, a thumbnail JPEG.
Bytes MakeExifBlock(const std::vector<ExifField>& fields, const Bytes& thumbnail = {});
// The JPEG with the block as an APP1 segment after its JFIF segment.
Bytes WithExifBlock(Bytes jpeg, const Bytes& block);

}  // namespace vimo::test
