// A photo's EXIF block edited where it lies, for pixels that were turned upright: its orientation
// becomes 1, its pixel size the new one, and its thumbnail, which shows the old turn, is no longer
// linked. No other byte changes or moves: maker notes keep offsets that only their camera's
// makers know how to move, and GPS, dates and every other value stay as the camera wrote them.
#pragma once

#include <cstddef>

#include "afx/afx.h"

class CExifPatch {
 public:
  // pBlock: the body of an APP1 "Exif" segment ("Exif\0\0", then the TIFF structure), nSize
  // bytes. Sets the orientation of the first directory to 1, the EXIF directory's pixel width
  // and height to nWidth and nHeight, and ends the chain of directories after the first, so
  // that the thumbnail's directory is no longer read. FALSE, with the block untouched, when its
  // directories cannot be walked safely (a header that is none, a directory outside the block or
  // met twice) or a value to change is kept in a form that cannot hold the new one.
  static BOOL Upright(BYTE* pBlock, std::size_t nSize, unsigned nWidth, unsigned nHeight);

  // Whether the segment body is an EXIF block (it starts with "Exif\0\0").
  static BOOL IsExifBlock(const BYTE* pBlock, std::size_t nSize);
};
