// The view: paints the document's image in a scrolling area, with its Image Gift caption: 1:1 in
// the top-left corner, or fitted to the window and centred, zoomed, turned upright.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "afx/OleDataSource.h"
#include "afx/afxwin.h"

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
  // Follows the document's image: the scroll area takes its size, then the view repaints. News
  // of the browse list alone (kHintBrowseList) changes nothing here.
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;

  CMapStringToPtr m_mapStack;  // the Image Gift stack: full image paths, values 0
  COleDataSource m_dataSource; // offered by every drag of the shown image

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

  // Zoom and turns of the shown image, reset by each new image.
  BOOL m_bZoomed = FALSE;    // the user zoomed: m_dZoom instead of fitting or 1:1
  double m_dZoom = 1.0;
  int m_nQuarterTurns = 0;   // R and Shift+R, clockwise
  int m_nWheel = 0;          // Ctrl+wheel turns not yet a whole zoom step
  BOOL m_bInLayout = FALSE;

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
  void OnSize(UINT nType, int cx, int cy);
  // Ctrl+wheel zooms about the pointer; the wheel alone scrolls.
  BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);

  void OnGoNext();
  void OnUpdateGoNext(CCmdUI* pCmdUI);
  void OnGoPrev();
  void OnUpdateGoPrev(CCmdUI* pCmdUI);
  // Moves the shown image's source file into the trash (deletes it where there is none), without
  // asking.
  void OnImageDelete();
  void OnImageSaveAs();
  // Delete, Save as, Stack and Send: only while an image is loaded and the title names it.
  void OnUpdateImageCommand(CCmdUI* pCmdUI);
  // Drags the shown file out of the window as a file drop.
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnLButtonUp(UINT nFlags, CPoint point);
  // Arrow keys scroll a page: 120 pixels across, 140 down; Esc leaves full screen.
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  // Erases only outside the image, so that a repaint does not flash over it: the window colour,
  // black in full screen.
  BOOL OnEraseBkgnd(CDC* pDC);
  COLORREF BackgroundColour() const;
  // A step of the document's animation, then the repaint and the wait for the next one.
  void OnTimer(UINT_PTR nIDEvent);
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
