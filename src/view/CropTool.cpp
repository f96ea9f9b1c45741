#include "view/CropTool.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void CCropTool::Begin(CSize picture) {
  m_bActive = TRUE;
  m_picture = picture;
  m_rect = CRect();
  m_grab = Grab::kNone;
}

double CCropTool::Ratio() const {
  const double dWide = m_picture.cx >= m_picture.cy ? 1.0 : -1.0;  // a fixed shape turns with the picture
  const auto turned = [dWide](double ratio) { return dWide > 0 ? ratio : 1.0 / ratio; };
  switch (m_aspect) {
    case Aspect::kPicture: return m_picture.cy > 0 ? static_cast<double>(m_picture.cx) / m_picture.cy : 0.0;
    case Aspect::kSquare: return 1.0;
    case Aspect::k3x2: return turned(3.0 / 2.0);
    case Aspect::k4x3: return turned(4.0 / 3.0);
    case Aspect::k16x9: return turned(16.0 / 9.0);
    default: return 0.0;
  }
}

CRect CCropTool::Spanned(CPoint anchor, CPoint point) const {
  const int nDirX = point.x >= anchor.x ? 1 : -1;
  const int nDirY = point.y >= anchor.y ? 1 : -1;
  // The room from the anchor to the picture's edges the way the pointer went.
  const double dRoomX = nDirX > 0 ? m_picture.cx - anchor.x : anchor.x;
  const double dRoomY = nDirY > 0 ? m_picture.cy - anchor.y : anchor.y;
  double w = std::min<double>(std::abs(point.x - anchor.x), dRoomX);
  double h = std::min<double>(std::abs(point.y - anchor.y), dRoomY);
  if (const double ratio = Ratio(); ratio > 0) {
    // The larger of the two moves decides; the other follows, and both shrink to fit.
    if (w >= h * ratio) h = w / ratio;
    else w = h * ratio;
    const double dFit = std::min({1.0, dRoomX / std::max(w, 1e-9), dRoomY / std::max(h, 1e-9)});
    w *= dFit;
    h *= dFit;
  }
  const int x2 = anchor.x + nDirX * static_cast<int>(std::lround(w));
  const int y2 = anchor.y + nDirY * static_cast<int>(std::lround(h));
  return CRect(std::min<int>(anchor.x, x2), std::min<int>(anchor.y, y2), std::max<int>(anchor.x, x2), std::max<int>(anchor.y, y2));
}

void CCropTool::SetAspect(Aspect aspect) {
  m_aspect = aspect;
  const double ratio = Ratio();
  if (ratio <= 0 || m_rect.IsRectEmpty()) return;
  const double cx = (m_rect.left + m_rect.right) / 2.0;
  const double cy = (m_rect.top + m_rect.bottom) / 2.0;
  // The same area in the new shape, then as large as fits in the picture about that centre.
  double h = std::sqrt(static_cast<double>(m_rect.Width()) * m_rect.Height() / ratio);
  double w = h * ratio;
  const double dFit = std::min({1.0, m_picture.cx / w, m_picture.cy / h});
  w *= dFit;
  h *= dFit;
  const double left = std::clamp(cx - w / 2, 0.0, m_picture.cx - w);
  const double top = std::clamp(cy - h / 2, 0.0, m_picture.cy - h);
  m_rect = CRect(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)), static_cast<int>(std::lround(left + w)),
                 static_cast<int>(std::lround(top + h)));
}

void CCropTool::Handles(CPoint (&points)[8]) const {
  const CRect& r = m_rect;
  const int mx = (r.left + r.right) / 2;
  const int my = (r.top + r.bottom) / 2;
  const CPoint all[8] = {CPoint(r.left, r.top),  CPoint(r.right, r.top), CPoint(r.right, r.bottom), CPoint(r.left, r.bottom),
                         CPoint(mx, r.top),      CPoint(r.right, my),    CPoint(mx, r.bottom),      CPoint(r.left, my)};
  std::copy(std::begin(all), std::end(all), std::begin(points));
}

void CCropTool::Press(CPoint point, int nReach) {
  point.x = std::clamp<LONG>(point.x, 0, m_picture.cx);
  point.y = std::clamp<LONG>(point.y, 0, m_picture.cy);
  m_ptFrom = point;
  m_rectFrom = m_rect;
  if (!m_rect.IsRectEmpty()) {
    CPoint handles[8];
    Handles(handles);
    for (int i = 0; i < 8; ++i) {
      if (std::abs(point.x - handles[i].x) <= nReach && std::abs(point.y - handles[i].y) <= nReach) {
        m_grab = Grab::kHandle;
        m_nHandle = i;
        return;
      }
    }
    if (m_rect.PtInRect(point)) {
      m_grab = Grab::kMove;
      return;
    }
  }
  m_grab = Grab::kNew;
  m_rect = CRect(point.x, point.y, point.x, point.y);
}

void CCropTool::Drag(CPoint point) {
  point.x = std::clamp<LONG>(point.x, 0, m_picture.cx);
  point.y = std::clamp<LONG>(point.y, 0, m_picture.cy);
  const CRect& r = m_rectFrom;
  switch (m_grab) {
    case Grab::kNew:
      m_rect = Spanned(m_ptFrom, point);
      break;
    case Grab::kMove: {
      const LONG dx = std::clamp<LONG>(point.x - m_ptFrom.x, -r.left, m_picture.cx - r.right);
      const LONG dy = std::clamp<LONG>(point.y - m_ptFrom.y, -r.top, m_picture.cy - r.bottom);
      m_rect = CRect(r.left + dx, r.top + dy, r.right + dx, r.bottom + dy);
      break;
    }
    case Grab::kHandle: {
      // A corner spans from the opposite corner; an edge moves alone, from the opposite edge,
      // across the whole other side (a kept shape then takes its size from that edge's move).
      const CPoint opposite[4] = {CPoint(r.right, r.bottom), CPoint(r.left, r.bottom), CPoint(r.left, r.top), CPoint(r.right, r.top)};
      if (m_nHandle < 4) {
        m_rect = Spanned(opposite[m_nHandle], point);
        break;
      }
      const BOOL bAcross = m_nHandle == 5 || m_nHandle == 7;
      const CPoint anchor = m_nHandle == 4 ? CPoint(r.left, r.bottom) : m_nHandle == 5 ? CPoint(r.left, r.top)
                          : m_nHandle == 6 ? CPoint(r.left, r.top)     : CPoint(r.right, r.top);
      const CPoint to = bAcross ? CPoint(point.x, anchor.y + r.Height())
                                : CPoint(anchor.x + r.Width(), point.y);
      m_rect = Ratio() > 0 ? Spanned(anchor, bAcross ? CPoint(point.x, anchor.y) : CPoint(anchor.x, point.y)) : Spanned(anchor, to);
      break;
    }
    case Grab::kNone:
      break;
  }
}
