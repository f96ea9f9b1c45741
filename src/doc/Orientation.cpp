#include "doc/Orientation.h"

#include <algorithm>

namespace {

// Each orientation as a left-right mirror followed by clockwise quarter turns; indexed by value.
struct MirrorTurns {
  int nMirror;
  int nQuarters;
};
constexpr MirrorTurns kParts[9] = {{0, 0}, {0, 0}, {1, 0}, {0, 2}, {1, 2}, {1, 3}, {0, 1}, {1, 1}, {0, 3}};

int OrientationOf(int nMirror, int nQuarters) {
  for (int nValue = 1; nValue <= 8; ++nValue) {
    if (kParts[nValue].nMirror == nMirror && kParts[nValue].nQuarters == (nQuarters % 4 + 4) % 4) return nValue;
  }
  return 1;
}

// Where the pixel (x, y) of a picture of size stored lands once it is turned by nOrientation.
CPoint TurnedPoint(int nOrientation, CPoint pt, CSize stored) {
  const int w = stored.cx, h = stored.cy;
  switch (nOrientation) {
    case 2: return CPoint(w - 1 - pt.x, pt.y);
    case 3: return CPoint(w - 1 - pt.x, h - 1 - pt.y);
    case 4: return CPoint(pt.x, h - 1 - pt.y);
    case 5: return CPoint(pt.y, pt.x);
    case 6: return CPoint(h - 1 - pt.y, pt.x);
    case 7: return CPoint(h - 1 - pt.y, w - 1 - pt.x);
    case 8: return CPoint(pt.y, w - 1 - pt.x);
    default: return pt;
  }
}

}  // namespace

int COrientation::Compose(int nFirst, int nThen) {
  const MirrorTurns first = kParts[nFirst >= 1 && nFirst <= 8 ? nFirst : 1];
  const MirrorTurns then = kParts[nThen >= 1 && nThen <= 8 ? nThen : 1];
  // A mirror after turns equals the mirror before the turns the other way round.
  return OrientationOf(first.nMirror ^ then.nMirror, (then.nMirror ? -first.nQuarters : first.nQuarters) + then.nQuarters);
}

CRect COrientation::StoredRect(int nOrientation, const CRect& rcShown, CSize stored) {
  // The inverse turn maps the shown corners back; 6 and 8 undo each other, the others themselves.
  const int nInverse = nOrientation == 6 ? 8 : nOrientation == 8 ? 6 : nOrientation;
  const CSize shown = nOrientation >= 5 ? CSize(stored.cy, stored.cx) : stored;
  const CPoint a = TurnedPoint(nInverse, CPoint(rcShown.left, rcShown.top), shown);
  const CPoint b = TurnedPoint(nInverse, CPoint(rcShown.right - 1, rcShown.bottom - 1), shown);
  return CRect(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1);
}
