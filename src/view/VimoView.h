// The view: paints the document's image in a scrolling area, with its Image Gift caption: 1:1 in
// the top-left corner, or fitted to the window and centred, zoomed, turned upright; and turns the
// user's input into calls. Its slideshow, Image Gift and file commands are parts of their own
// (m_slideshow, m_gift, m_fileCommands), which the view's command routing reaches.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "afx/OleDataSource.h"
#include "afx/afxwin.h"
#include "doc/VimoDoc.h"
#include "view/CropTool.h"
#include "view/FileCommands.h"
#include "view/ImageGift.h"
#include "view/ImageLayout.h"
#include "view/PicturePrint.h"
#include "view/ReducedCopies.h"
#include "view/Slideshow.h"
#include "view/StreamedPicture.h"

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
  // The view's own commands first, then the slideshow's, Image Gift's and the file commands', then
  // the document's.
  BOOL OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery = FALSE) override;

  COleDataSource m_dataSource; // offered by every drag of the shown image
  CReducedCopies m_copies;     // draws the image, its reductions from copies built aside
  CSlideshow m_slideshow;
  CImageGift m_gift;           // the Image Gift stack, which the grid stacks into too
  CFileCommands m_fileCommands;
  CCropTool m_crop;            // the part to cut, drawn on the picture while cropping
  CPicturePrint m_print;       // keeps the user's last choice of how the picture lies on the page
  // The grid's Print: the print dialog opens once the image at path is the one shown (the next
  // image shown being another drops the wish).
  void PrintWhenShown(const CString& path) { m_strPrintWhenShown = path; }
  CString m_strPrintWhenShown;

  // The drop block of one file: a DROPFILES header (file list at offset 20, ANSI names)
  // followed by the path, its NUL and the NUL that ends the list. NULL when memory runs out.
  static HGLOBAL CreateDropFiles(const char* path);
  // The same for several files, each path with its NUL, then the NUL that ends the list.
  static HGLOBAL CreateDropFiles(const std::vector<CString>& paths);

  // The shown image's source file: the browsed folder followed by the document title.
  CString ShownImagePath() const;
  // The scale the image is shown at, when it is worth saying: an image is shown and it is not
  // today's plain 1:1 (zoomed, or fitted to the window).
  BOOL GetShownScale(double& dScale) const;
  // Steps the document's animation every nDelay milliseconds from now on; 0 stops it. The timer
  // runs only while an animation plays.
  void PlayAnimation(UINT nDelay);

  // While the window waits for an image (bWaiting) whose conversion is under way, shows what
  // there is of it: the rows converted so far, or a reduced picture when it is fitted; otherwise
  // follows the picture shown so. TRUE when something of it shows or is on its way. Its
  // converted file replaces the picture; DropConversion drops it (the conversion failed).
  BOOL FollowConversion(BOOL bWaiting);
  void DropConversion();
  // The window's wait for the worker ends here when the image it waits for shows as it converts
  // (TRUE): the conversion's end asks for the next wait (g_bPollQueue).
  BOOL LeaveWaitToConversion();

 protected:
  using CLayout = CImageLayout::CLayout;
  // FALSE without an image or for a negative size (a top-down bitmap).
  BOOL GetLayout(CLayout& layout) const;
  // The window the image is laid out in, now.
  CImageLayout::CWindow LayoutWindow() const;
  // Where the shown image's top-left corner lies in the scroll area.
  CPoint ImageOrigin(const CLayout& layout) const;
  BOOL IsFullScreen() const;
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
  // The picture as shown at 1:1 (turned as the user sees it): its size, and the point of it under
  // client point (FALSE without a layout).
  BOOL GetShownPicture(CSize& size) const;
  CPoint PictureAt(CPoint client) const;
  // The crop rectangle and its handles over the picture.
  void DrawCrop(CDC* pDC, const CLayout& layout) const;
  // The copy's dialog for part of the picture as shown (bCrop), or all of it; then the copy written
  // (or why not said). FALSE when the dialog was cancelled.
  BOOL SaveCopy(const CRect& part, BOOL bCrop);
  void OnImageCrop();
  void OnImageResize();
  // Copies: while an image is shown and its file named.
  void OnUpdateImageCopy(CCmdUI* pCmdUI);
  // Enter (the grid's key too, which cropping takes), or the crop menu: the part drawn to the copy's dialog.
  void OnCropAccept();
  void OnCropCancel();
  void OnUpdateCropCommand(CCmdUI* pCmdUI);
  BOOL OnCropAspect(UINT nID);
  void OnUpdateCropAspect(CCmdUI* pCmdUI);
  // Asks before a lossless turn cuts the edges of the picture.
  static BOOL AskToCutEdges(const CVimoDoc::CTurnCut& cut);

  CImageLayout m_layout;  // zoom and turns of the shown image, reset by each new image

  // The picture of the image whose conversion is under way (FollowConversion), laid out as that
  // image will be: its own zoom and turns, its photo's orientation.
  CStreamedPicture m_stream;
  CImageLayout m_streamLayout;
  int m_nStreamOrientation = 1;
  BOOL m_bStreamSwitching = FALSE;  // its converted file is shown: the reduced picture stays
                                    // until the file's averaged drawing is due
  unsigned m_nPollSerial = 0;       // the conversion whose end the window's wait is left to
  // FALSE unless that picture is what the view shows now.
  BOOL GetStreamLayout(CLayout& layout) const;
  void BeginStream(unsigned nSerial, const std::string& source);
  // Takes the rows complete; repaints the band they add.
  void TakeStreamRows(const std::string& written, int nRows);
  // Paints the background over the client rectangle client outside image (both in one space).
  void FillAround(CDC* pDC, const CRect& client, const CRect& image);
  LRESULT OnStreamProgress(WPARAM wParam, LPARAM lParam);
  LRESULT OnStreamedPicture(WPARAM wParam, LPARAM lParam);
  BOOL m_bInLayout = FALSE;
  std::chrono::steady_clock::time_point m_stepDue;  // when the animation's frame shown was due

  // Panning with a drag: the point pressed and the scroll position then.
  BOOL m_bPanning = FALSE;
  CPoint m_ptPanFrom;
  CPoint m_ptScrollFrom;
  void BeginPan(CPoint point);
  void EndPan();

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
  // Copy: the picture upright as shown and its file; Ctrl+Shift+C the full path as text.
  void OnEditCopy();
  void OnEditCopyPath();
  // Ctrl+P and the preview: the picture as shown (upright, turned, its colours managed).
  void OnImagePrint();
  void OnImagePrintPreview();
  // The shown file as the desktop's background.
  void OnImageWallpaper();
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
  // Moves the shown image's source file into the trash (the file commands say what stays and ask
  // before deleting for good); once it went, the title empties and the picture stays painted.
  void OnImageDelete();
  void OnImageSaveAs();
  // F2: the shown file gets a new name (the title follows).
  void OnFileRename();
  // F7, F8: the shown file copied or moved into a folder; once moved away it leaves the title and
  // the browse list, as a delete does.
  void OnFileCopyTo();
  void OnFileMoveTo();
  // Ctrl+Shift+O: the shown file opened with an application of the desktop's.
  void OnFileOpenWith();
  // Delete, Save as, copy, rename, move: only while an image is loaded and the title names it.
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
  // next one; or the slideshow's step.
  void OnTimer(UINT_PTR nIDEvent);
  // Sets the timer for the animation's next step, nDelay milliseconds after the step shown was
  // due: the time a step and its paint take does not add up from frame to frame. A step that
  // is late is due at once, and those after it follow on from then. 0 stops the timer.
  void ScheduleStep(UINT nDelay);
  // What the image's drawing asked for after a paint (m_copies).
  LRESULT OnReducedCopies(WPARAM wParam, LPARAM lParam);
  // A mail sender started by Image Gift has ended.
  LRESULT OnGiftSenderExit(WPARAM wParam, LPARAM lParam);
  DECLARE_MESSAGE_MAP()
};
