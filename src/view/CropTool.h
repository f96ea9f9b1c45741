// The crop rectangle drawn on the view: where it lies in the picture as shown (upright, in its own
// pixels at 1:1), the shape it keeps, and how the mouse draws, moves and sizes it. No window here:
// the view hands it points in picture pixels and paints what it says.
#pragma once

#include "afx/afxwin.h"

class CCropTool {
 public:
  // The shapes the rectangle can keep: the picture's own, 1:1, 3:2, 4:3, 16:9 (turned to the
  // picture's: 2:3 on a picture taller than wide), or none.
  enum class Aspect { kPicture, kSquare, k3x2, k4x3, k16x9, kFree };

  // Crop mode on for a picture of this size (as shown), the rectangle not drawn yet.
  void Begin(CSize picture);
  void End() { m_bActive = FALSE; }
  BOOL IsActive() const { return m_bActive; }
  // The rectangle, inside the picture; empty while none is drawn.
  const CRect& GetRect() const { return m_rect; }
  Aspect GetAspect() const { return m_aspect; }
  // Keeps shape aspect from now on: the rectangle takes it about its centre, as large as fits.
  void SetAspect(Aspect aspect);

  // The left button went down at point: on a handle (within nReach pixels of it) that handle
  // sizes the rectangle, inside it the rectangle moves, elsewhere a new one is drawn from there.
  void Press(CPoint point, int nReach);
  // The pointer moved with the button down.
  void Drag(CPoint point);
  void Release() { m_grab = Grab::kNone; }
  // The eight handles' places: the corners from the top-left clockwise, then the edges' middles
  // (top, right, bottom, left).
  void Handles(CPoint (&points)[8]) const;

 private:
  enum class Grab { kNone, kNew, kMove, kHandle };
  // Width over height of the shape kept; 0 for none.
  double Ratio() const;
  // The rectangle with corner anchor fixed and its opposite corner at (or towards) point, in the
  // shape kept and inside the picture.
  CRect Spanned(CPoint anchor, CPoint point) const;

  BOOL m_bActive = FALSE;
  CSize m_picture;
  CRect m_rect;
  Aspect m_aspect = Aspect::kFree;
  Grab m_grab = Grab::kNone;
  int m_nHandle = 0;
  CPoint m_ptFrom;       // where the move or new rectangle began
  CRect m_rectFrom;      // the rectangle then
};
