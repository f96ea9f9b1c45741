#include "doc/ExifOrientation.h"

#include "convert/ExifBlock.h"
#include "convert/PictureFormats.h"

int ReadExifOrientation(const char* path) {
  // The formats read by their own libraries first: only a RAW file's orientation counts, and
  // nothing more of them is read here (this runs as each image is shown).
  const int picture = vimo::convert::ReadPictureOrientation(path);
  return picture != 0 ? picture : CExifBlock(path).GetOrientation();
}
