// The eight ways a picture can be turned and mirrored, numbered as a photo's EXIF orientation
// says how its stored pixels are to be shown (1 as stored, 2 mirrored left-right, 3 half a turn,
// 4 mirrored top-bottom, 5 transposed, 6 a quarter turn clockwise, 7 transversed, 8 a quarter
// turn counter-clockwise), as DrawDibDraw takes them.
#pragma once

#include "afx/afxwin.h"

class COrientation {
 public:
  // The orientation that shows a picture as turning it by nFirst, then the result by nThen, does.
  static int Compose(int nFirst, int nThen);
  // The part of a picture of size stored that turning it by nOrientation shows as rcShown (a
  // rectangle of the turned picture).
  static CRect StoredRect(int nOrientation, const CRect& rcShown, CSize stored);
};
