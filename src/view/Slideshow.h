// The slideshow of the image view: full screen, the next image in browse order each interval
// (remembered), Space pauses and goes on, Esc or the command again ends it. It runs on a timer of
// the view's window; the view routes the slideshow's commands here.
#pragma once

#include "afx/afxwin.h"

class CVimoView;

class CSlideshow : public CCmdTarget {
 public:
  // The view's WM_TIMER of this ID is the slideshow's step.
  static constexpr UINT_PTR kTimer = 2;

  explicit CSlideshow(CVimoView* pView) : m_pView(pView) {}

  BOOL IsRunning() const { return m_bRunning; }
  // Stops, and leaves full screen when the slideshow made it.
  void End();
  // Space: pauses, or goes on with the next image after a whole interval.
  void TogglePause();
  // The interval counts from now (an image was shown, whoever brought it); nothing while it is
  // not running or paused.
  void WaitForSlide();
  // The timer: the next image, unless a message box is open or the image asked for is still being
  // converted (the step waits); at the last image of the browse order, or once full screen was left
  // another way (F11), the slideshow ends.
  void OnStep();

 protected:
  // The slideshow: full screen, the next image in browse order each interval; again to end it.
  void OnViewSlideshow();
  void OnUpdateViewSlideshow(CCmdUI* pCmdUI);
  BOOL OnViewSlideshowInterval(UINT nID);
  void OnUpdateViewSlideshowInterval(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  BOOL IsFullScreen() const;
  void SwitchFullScreen();

  CVimoView* m_pView;  // the view it belongs to, which outlives it
  BOOL m_bRunning = FALSE;
  BOOL m_bPaused = FALSE;
  BOOL m_bMadeFullScreen = FALSE;  // the slideshow made the window full screen
};
