// The pictures of thumbnails: what a thumbnail provider gives, turned upright and reduced for the
// cache, and reduced again into the form a list draws.
#pragma once

#include <vector>

#include "afx/Bitmap.h"

// What a thumbnail provider makes of a file: its picture, top row first, 4 bytes a pixel (red,
// green, blue, alpha), at least the asked size on its longer side (or whole, when smaller); and
// how its pixels are to be turned to be seen upright, as DrawDibDraw takes it (1: as stored).
struct THUMBNAILPIXELS {
  UINT cx = 0;
  UINT cy = 0;
  std::vector<BYTE> rgba;
  int nOrientation = 1;
};

// The provider's pixels reduced to cx on their longer side (when larger) and then turned upright;
// empty when they make no picture (no pixels, or not as many as their size says).
CBitmap UprightThumbnail(const THUMBNAILPIXELS& pixels, UINT cx);

// The picture reduced to cx on its longer side when larger, in the form the screen draws fastest.
CBitmap DrawableThumbnail(const CBitmap& picture, UINT cx);
