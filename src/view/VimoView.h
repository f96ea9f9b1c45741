// The view: paints the document's image in a scrolling area, with its Image Gift caption: 1:1 in
// the top-left corner, or fitted to the window and centred, zoomed, turned upright.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "afx/OleDataSource.h"
#include "afx/afxwin.h"
#include "view/ReducedCopies.h"
#include "convert/ConvertQueue.h"

class CVimoDoc;

// Posted to the view when a sender it started has ended: wParam its exit status, lParam the
// send's number.
inline constexpr UINT WM_GIFT_SENDER_EXIT = WM_USER + 102;

class CVimoView : public CScrollView {
  DECLARE_DYNCREATE(CVimoView)

 protected:
  CVimoView();

 public:
  ~CVimoView() override;

  CVimoDoc* GetDocument() const;

  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  void OnInitialUpdate() override;
  void OnDraw(CDC* pDC) override;
  // Follows the document's new image: the scroll area takes its size, an animation plays, then
  // the view repaints; or its animation's next frame, which is repainted. News of the browse list
  // alone (kHintBrowseList) changes nothing here.
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;

  CMapStringToPtr m_mapStack;  // the Image Gift stack: full image paths, values 0
  COleDataSource m_dataSource; // offered by every drag of the shown image
  CReducedCopies m_copies;     // draws the image, its reductions from copies built aside

  // A send whose sender has not ended yet: what it attached and its job file's name.
  struct CGiftSend {
    std::vector<CString> paths;
    CString strJobName;
  };
  std::map<LPARAM, CGiftSend> m_mapSending;  // by the send's number

  // The drop block of one file: a DROPFILES header (file list at offset 20, ANSI names)
  // followed by the path, its NUL and the NUL that ends the list. NULL when memory runs out.
  static HGLOBAL CreateDropFiles(const char* path);
  // The same for several files, each path with its NUL, then the NUL that ends the list.
  static HGLOBAL CreateDropFiles(const std::vector<CString>& paths);
  // Puts the image at path on the Image Gift stack ("Stacked"), unless it is there already; one
  // whose name the job file cannot carry is refused with a message. TRUE when it was stacked.
  BOOL StackImage(const CString& path);

  // Image Gift: the settings dialog; also opened by Send when settings are missing.
  void OnGiftSettings();

  // The scale the image is shown at, when it is worth saying: an image is shown and it is not
  // today's plain 1:1 (zoomed, or fitted to the window).
  BOOL GetShownScale(double& dScale) const;
  // Steps the document's animation every nDelay milliseconds from now on; 0 stops it. The timer
  // runs only while an animation plays.
  void PlayAnimation(UINT nDelay);

 protected:
  // How the image is shown: turned (the photo's own orientation while g_bPhotosUpright, then the
  // quarter turns of R and Shift+R) and scaled. The scroll area is the shown size, in device
  // pixels; centred in the window while fitting (g_bFitToWindow or full screen) when smaller.
  struct CLayout {
    CSize sizeStored;      // the bitmap's own width and height
    CRect rcSource;        // the part of it shown: all of it, unless its file was turned since
    int nOrientation = 1;  // as DrawDibDraw takes it
    double dScale = 1.0;
    CSize sizeShown;
    BOOL bCentred = FALSE;
  };
  // FALSE without an image or for a negative size (a top-down bitmap). The sizes are the 16-bit
  // ones of a 12-byte core header, else the signed 32-bit ones.
  BOOL GetLayout(CLayout& layout) const;
  // Where the shown image's top-left corner lies in the scroll area.
  CPoint ImageOrigin(const CLayout& layout) const;
  BOOL IsFullScreen() const;
  // Fitting to the window now: the fit mode is on (the preference or full screen) and the user
  // did not zoom this image.
  BOOL IsFitted() const;

  // The shown image's source file: the browsed folder followed by the document title.
  CString ShownImagePath() const;
  // Sets the scroll area to the shown image's size, pages of 120 x 140 (device pixels, whatever
  // the zoom). FALSE, changing nothing, when there is no layout.
  BOOL FitScrollSizesToImage(CLayout& layout);
  // Applies change (given the image point under ptAbout, which it may move, as the layout
  // changes), then lays the image out again with that point under ptAbout (client coordinates).
  void Relayout(CPoint ptAbout, const std::function<void(double& x, double& y, const CLayout& before)>& change);
  // Shows the image at dZoom, the image point under ptAbout (client coordinates) staying there.
  void ZoomTo(double dZoom, CPoint ptAbout);
  // Turns this image nQuarters quarters clockwise, the point at the window's centre staying there.
  void Turn(int nQuarters);
  CPoint ClientCentre() const;
  // The turn the user sees of the shown file's own pixels: its EXIF orientation while photos are
  // shown upright, then the quarter turns of R and Shift+R.
  int ShownTurn() const;

  // Zoom and turns of the shown image, reset by each new image.
  BOOL m_bZoomed = FALSE;    // the user zoomed: m_dZoom instead of fitting or 1:1
  BOOL m_bActualInFullScreen = FALSE;  // F in full screen: 1:1 there, the window's fit untouched
  double m_dZoom = 1.0;
  int m_nQuarterTurns = 0;   // R and Shift+R, clockwise
  int m_nWheel = 0;          // Ctrl+wheel turns not yet a whole zoom step
  BOOL m_bInLayout = FALSE;
  std::chrono::steady_clock::time_point m_stepDue;  // when the animation's frame shown was due
  // How the shown converted file stands for its source, once that was turned in place.
  CConvertedTurn m_convertedTurn;
  BOOL m_bShownJpeg = FALSE;  // the shown file is a JPEG (by its content), read at each image

  // Panning with a drag: the point pressed and the scroll position then.
  BOOL m_bPanning = FALSE;
  CPoint m_ptPanFrom;
  CPoint m_ptScrollFrom;
  void BeginPan(CPoint point);
  void EndPan();

  // The slideshow: running, paused with Space, and whether it made the window full screen.
  BOOL m_bSlideshow = FALSE;
  BOOL m_bSlideshowPaused = FALSE;
  BOOL m_bSlideshowMadeFullScreen = FALSE;
  // Waits the interval from now for the next step (restarting the wait); stops waiting.
  void WaitForSlide();
  void EndSlideshow();
  void OnSlideshowStep();

  void OnViewFit();
  void OnUpdateViewFit(CCmdUI* pCmdUI);
  void OnViewZoomIn();
  void OnViewZoomOut();
  void OnViewZoomActual();
  void OnViewRotateRight();
  void OnViewRotateLeft();
  // Zoom and turns: while an image is shown.
  void OnUpdateViewImage(CCmdUI* pCmdUI);
  void OnViewUpright();
  void OnUpdateViewUpright(CCmdUI* pCmdUI);
  void OnViewKeepZoom();
  void OnUpdateViewKeepZoom(CCmdUI* pCmdUI);
  // The slideshow: full screen, the next image in browse order each interval; again to end it.
  void OnViewSlideshow();
  void OnUpdateViewSlideshow(CCmdUI* pCmdUI);
  BOOL OnViewSlideshowInterval(UINT nID);
  void OnUpdateViewSlideshowInterval(CCmdUI* pCmdUI);
  // Copy: the picture upright as shown and its file; Ctrl+Shift+C the full path as text.
  void OnEditCopy();
  void OnEditCopyPath();
  // Writes the turn the user sees into the JPEG file without loss; asks before cutting edges.
  void OnImageSaveTurn();
  // A JPEG shown (by the rule of Delete) with a turn to save.
  void OnUpdateImageSaveTurn(CCmdUI* pCmdUI);
  // The image's commands where the pointer is (or at the view's centre from the keyboard).
  void OnContextMenu(CWnd* pWnd, CPoint point);
  void OnLButtonDblClk(UINT nFlags, CPoint point);
  // The middle button pans a picture larger than the window.
  void OnMButtonDown(UINT nFlags, CPoint point);
  void OnMButtonUp(UINT nFlags, CPoint point);
  void OnMouseMove(UINT nFlags, CPoint point);
  void OnSize(UINT nType, int cx, int cy);
  // Ctrl+wheel zooms about the pointer; the wheel alone scrolls.
  BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);

  void OnGoNext();
  void OnUpdateGoNext(CCmdUI* pCmdUI);
  void OnGoPrev();
  void OnUpdateGoPrev(CCmdUI* pCmdUI);
  // Moves the shown image's source file into the trash. Where no trash can take it, asks (No
  // being the default) before deleting it for good; where the trash cannot take it now, says
  // why and the file stays.
  void OnImageDelete();
  // Puts the file last moved into the trash back and shows it again (Ctrl+Z, File menu).
  void OnEditUndo();
  void OnUpdateEditUndo(CCmdUI* pCmdUI);
  void OnImageSaveAs();
  // Delete, Save as, Stack and Send: only while an image is loaded and the title names it.
  void OnUpdateImageCommand(CCmdUI* pCmdUI);
  // Drags the shown file out of the window as a file drop; in full screen, pans the picture.
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnLButtonUp(UINT nFlags, CPoint point);
  // Arrow keys scroll a page: 120 pixels across, 140 down; Esc ends the slideshow and leaves
  // full screen; Space pauses the slideshow and goes on with it.
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  // Erases only outside the image, so that a repaint does not flash over it: the window colour,
  // black in full screen.
  BOOL OnEraseBkgnd(CDC* pDC);
  COLORREF BackgroundColour() const;
  // A step of the document's animation (the document has the view repaint), then the wait for the
  // next one.
  void OnTimer(UINT_PTR nIDEvent);
  // Sets the timer for the animation's next step, nDelay milliseconds after the step shown was
  // due: the time a step and its paint take does not add up from frame to frame. A step that
  // is late is due at once, and those after it follow on from then. 0 stops the timer.
  void ScheduleStep(UINT nDelay);
  // What the image's drawing asked for after a paint (m_copies).
  LRESULT OnReducedCopies(WPARAM wParam, LPARAM lParam);
  // Stacks the shown image; one whose name the job file cannot carry is refused with a message.
  void OnGiftStack();
  // Writes the mail job file and starts the sender with it. Stacked files that are gone are
  // left out (the user is told which); a shown image whose name the job file cannot carry
  // stops the send with a message.
  void OnGiftSend();
  // Writes the job file into the temporary folder and starts "Postmx.exe /d" with its path,
  // quoted, watched: its end arrives as WM_GIFT_SENDER_EXIT with lParam nSend. On failure the
  // user is told and no job file is left behind.
  BOOL HandOverMailJob(const CString& attachments, LPARAM nSend, CString& strJobName);
  // A sender has ended. When it failed, its images go back on the stack ("Stacked") and the
  // user reads the reason it logged.
  LRESULT OnGiftSenderExit(WPARAM wParam, LPARAM lParam);
  // FALSE, after telling the user, when path cannot be mailed.
  BOOL CheckMailablePath(const CString& path);
  // The stack's paths and the shown image's (always attached), without the files that are gone:
  // those leave the stack, lose their Image Gift state and are listed in missing, each after a
  // line feed.
  std::vector<CString> ExistingAttachments(const CString& shown, CString& missing);
  DECLARE_MESSAGE_MAP()
};
