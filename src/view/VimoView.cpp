#include "view/VimoView.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/Globals.h"
#include "doc/PictureCopy.h"
#include "view/CopyDlg.h"
#include "convert/StreamProgress.h"
#include "doc/ExifOrientation.h"
#include "res/Resource.h"
#include "settings/Preferences.h"
#include "view/ClipboardOffer.h"
#include "view/Wallpaper.h"
#include "win32/GlobalMemory.h"

IMPLEMENT_DYNCREATE(CVimoView, CScrollView)

BEGIN_MESSAGE_MAP(CVimoView, CScrollView)
  ON_COMMAND(ID_GO_NEXT, OnGoNext)
  ON_UPDATE_COMMAND_UI(ID_GO_NEXT, OnUpdateGoNext)
  ON_COMMAND(ID_GO_PREV, OnGoPrev)
  ON_UPDATE_COMMAND_UI(ID_GO_PREV, OnUpdateGoPrev)
  ON_COMMAND(ID_IMAGE_DELETE, OnImageDelete)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_DELETE, OnUpdateImageCommand)
  ON_COMMAND(ID_IMAGE_SAVE_AS, OnImageSaveAs)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_SAVE_AS, OnUpdateImageCommand)
  ON_COMMAND(ID_FILE_RENAME, OnFileRename)
  ON_UPDATE_COMMAND_UI(ID_FILE_RENAME, OnUpdateImageCommand)
  ON_COMMAND(ID_FILE_COPY_TO, OnFileCopyTo)
  ON_UPDATE_COMMAND_UI(ID_FILE_COPY_TO, OnUpdateImageCommand)
  ON_COMMAND(ID_FILE_MOVE_TO, OnFileMoveTo)
  ON_UPDATE_COMMAND_UI(ID_FILE_MOVE_TO, OnUpdateImageCommand)
  ON_COMMAND(ID_FILE_OPEN_WITH, OnFileOpenWith)
  ON_UPDATE_COMMAND_UI(ID_FILE_OPEN_WITH, OnUpdateImageCommand)
  ON_WM_LBUTTONDOWN()
  ON_WM_LBUTTONUP()
  ON_WM_KEYDOWN()
  ON_WM_ERASEBKGND()
  ON_MESSAGE(WM_GIFT_SENDER_EXIT, OnGiftSenderExit)
  ON_COMMAND(ID_VIEW_FIT, OnViewFit)
  ON_UPDATE_COMMAND_UI(ID_VIEW_FIT, OnUpdateViewFit)
  ON_COMMAND(ID_VIEW_ZOOM_IN, OnViewZoomIn)
  ON_UPDATE_COMMAND_UI(ID_VIEW_ZOOM_IN, OnUpdateViewImage)
  ON_COMMAND(ID_VIEW_ZOOM_OUT, OnViewZoomOut)
  ON_UPDATE_COMMAND_UI(ID_VIEW_ZOOM_OUT, OnUpdateViewImage)
  ON_COMMAND(ID_VIEW_ZOOM_ACTUAL, OnViewZoomActual)
  ON_UPDATE_COMMAND_UI(ID_VIEW_ZOOM_ACTUAL, OnUpdateViewImage)
  ON_COMMAND(ID_VIEW_ROTATE_RIGHT, OnViewRotateRight)
  ON_UPDATE_COMMAND_UI(ID_VIEW_ROTATE_RIGHT, OnUpdateViewImage)
  ON_COMMAND(ID_VIEW_ROTATE_LEFT, OnViewRotateLeft)
  ON_UPDATE_COMMAND_UI(ID_VIEW_ROTATE_LEFT, OnUpdateViewImage)
  ON_COMMAND(ID_VIEW_UPRIGHT, OnViewUpright)
  ON_UPDATE_COMMAND_UI(ID_VIEW_UPRIGHT, OnUpdateViewUpright)
  ON_WM_SIZE()
  ON_WM_MOUSEWHEEL()
  ON_WM_TIMER()
  ON_MESSAGE(WM_REDUCED_COPIES, OnReducedCopies)
  ON_MESSAGE(WM_STREAM_PROGRESS, OnStreamProgress)
  ON_MESSAGE(WM_STREAMED_PICTURE, OnStreamedPicture)
  ON_COMMAND(ID_VIEW_KEEP_ZOOM, OnViewKeepZoom)
  ON_UPDATE_COMMAND_UI(ID_VIEW_KEEP_ZOOM, OnUpdateViewKeepZoom)
  ON_COMMAND(ID_EDIT_COPY, OnEditCopy)
  ON_UPDATE_COMMAND_UI(ID_EDIT_COPY, OnUpdateImageCommand)
  ON_COMMAND(ID_EDIT_COPY_PATH, OnEditCopyPath)
  ON_UPDATE_COMMAND_UI(ID_EDIT_COPY_PATH, OnUpdateImageCommand)
  ON_COMMAND(ID_IMAGE_SAVE_TURN, OnImageSaveTurn)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_SAVE_TURN, OnUpdateImageSaveTurn)
  ON_COMMAND(ID_IMAGE_PRINT, OnImagePrint)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_PRINT, OnUpdateImageCommand)
  ON_COMMAND(ID_IMAGE_PRINT_PREVIEW, OnImagePrintPreview)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_PRINT_PREVIEW, OnUpdateImageCommand)
  ON_COMMAND(ID_IMAGE_WALLPAPER, OnImageWallpaper)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_WALLPAPER, OnUpdateImageCommand)
  ON_WM_CONTEXTMENU()
  ON_WM_LBUTTONDBLCLK()
  ON_WM_MBUTTONDOWN()
  ON_WM_MBUTTONUP()
  ON_WM_MOUSEMOVE()
  ON_COMMAND(ID_IMAGE_CROP, OnImageCrop)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_CROP, OnUpdateImageCopy)
  ON_COMMAND(ID_IMAGE_RESIZE, OnImageResize)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_RESIZE, OnUpdateImageCopy)
  ON_COMMAND(ID_CROP_ACCEPT, OnCropAccept)
  ON_UPDATE_COMMAND_UI(ID_CROP_ACCEPT, OnUpdateCropCommand)
  ON_COMMAND(ID_CROP_CANCEL, OnCropCancel)
  ON_UPDATE_COMMAND_UI(ID_CROP_CANCEL, OnUpdateCropCommand)
  ON_COMMAND_EX_RANGE(ID_CROP_ASPECT_PICTURE, ID_CROP_ASPECT_FREE, OnCropAspect)
  ON_UPDATE_COMMAND_UI_RANGE(ID_CROP_ASPECT_PICTURE, ID_CROP_ASPECT_FREE, OnUpdateCropAspect)
END_MESSAGE_MAP()

namespace {

constexpr UINT_PTR kAnimationTimer = 1;

}  // namespace

CVimoView::CVimoView() : m_slideshow(this), m_gift(this), m_fileCommands(this) {}

CVimoView::~CVimoView() { CStreamProgress::Listen({}); }

CVimoDoc* CVimoView::GetDocument() const { return DYNAMIC_DOWNCAST(CVimoDoc, CView::GetDocument()); }

BOOL CVimoView::OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery) {
  // While cropping, Enter accepts the part drawn instead of showing the grid.
  if (m_crop.IsActive() && nID == ID_VIEW_GRID) {
    if (bQuery) return TRUE;
    if (nCode == CN_UPDATE_COMMAND_UI) static_cast<CCmdUI*>(pExtra)->Enable(TRUE);
    else if (nCode == CN_COMMAND) OnCropAccept();
    return TRUE;
  }
  if (m_slideshow.OnCmdMsg(nID, nCode, pExtra, bQuery) || m_gift.OnCmdMsg(nID, nCode, pExtra, bQuery) ||
      m_fileCommands.OnCmdMsg(nID, nCode, pExtra, bQuery))
    return TRUE;
  return CScrollView::OnCmdMsg(nID, nCode, pExtra, bQuery);
}

BOOL CVimoView::PreCreateWindow(CREATESTRUCT& cs) { return CView::PreCreateWindow(cs); }

void CVimoView::OnInitialUpdate() {
  CView::OnInitialUpdate();
  SetScrollSizes(MM_TEXT, CSize(200, 200));
  // News of the conversion under way comes as a message, and ends the window's wait for the worker.
  if (CVimoDoc* pDoc = GetDocument()) {
    CStreamProgress::Listen([hWnd = m_hWnd, pWake = pDoc->m_queue.ResultEvent()] {
      PostMessageA(hWnd, WM_STREAM_PROGRESS, 0, 0);
      if (pWake != nullptr) pWake->SetEvent();
    });
  }
}

void CVimoView::OnDraw(CDC* pDC) {
  CVimoDoc* pDoc = GetDocument();
  if (CLayout streamed; GetStreamLayout(streamed)) {
    SetScrollSizes(MM_TEXT, streamed.sizeShown, CSize(120, 140));
    const CPoint origin = ImageOrigin(streamed);
    CRect client;
    GetClientRect(&client);
    const CPoint scrolled = GetScrollPosition();
    FillAround(pDC, CRect(scrolled.x, scrolled.y, scrolled.x + client.Width(), scrolled.y + client.Height()),
               m_stream.Covered(origin, streamed));
    m_stream.Draw(pDC, origin, streamed);
    return;
  }
  if (pDoc == nullptr || pDoc->m_pDib == nullptr) {
    CRect client;
    GetClientRect(&client);
    CBrush brush(BackgroundColour());
    pDC->FillRect(&client, &brush);
    return;
  }
  int nState = -1;
  void* pValue = nullptr;
  if (g_mapGiftState.Lookup(ShownImagePath(), pValue)) nState = static_cast<int>(reinterpret_cast<std::intptr_t>(pValue));

  CLayout layout;
  if (!FitScrollSizesToImage(layout)) return;
  // An animation's see-through parts show the background laid around the image.
  pDoc->SetAnimationBackground(BackgroundColour());
  const CPoint origin = ImageOrigin(layout);
  const BOOL bDrawn =
      m_copies.Draw(this, pDoc->m_hDrawDib, pDC, origin.x, origin.y, layout.sizeShown.cx, layout.sizeShown.cy,
                    reinterpret_cast<const BITMAPINFOHEADER*>(pDoc->m_pDib.get()), pDoc->m_pBits, layout.rcSource.left,
                    layout.rcSource.top, layout.rcSource.Width(), layout.rcSource.Height(), layout.nOrientation,
                    m_bStreamSwitching);
  // The reduced picture shown while the file converted stays until the file's averaged drawing.
  if (m_bStreamSwitching && bDrawn) {
    m_bStreamSwitching = FALSE;
    m_stream.Reset();
  } else if (m_bStreamSwitching) {
    m_stream.Draw(pDC, origin, layout);
  }
  // At the image's top-left corner as drawn, at the text's own size.
  if (nState == 0) pDC->TextOut(origin.x + 10, origin.y + 10, "Sent");
  else if (nState == 1) pDC->TextOut(origin.x + 10, origin.y + 10, "Stacked");
  if (m_crop.IsActive()) DrawCrop(pDC, layout);
}

// The new image's size is known before the repaint, so that the erase that precedes it already
// clears everything the previous, larger image covered. A new image starts unturned, unzoomed
// unless the user keeps the zoom, an animated one playing, and nothing drawn of the previous one
// is used again; an animation's next frame is drawn over the last, without erasing.
void CVimoView::OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) {
  if (lHint == CVimoDoc::kHintBrowseList) return;
  m_copies.Reset();
  if (lHint == CVimoDoc::kHintNextFrame) {
    InvalidateRect(nullptr, FALSE);
    return;
  }
  // The converted file of the picture shown while it converted takes its place.
  m_bStreamSwitching = !m_bStreamSwitching && m_stream.HasReduced() && ShownImagePath() == CString(m_stream.Source());
  if (!m_bStreamSwitching) m_stream.Reset();
  m_layout.Reset(g_bKeepZoom);
  m_crop.End();  // the part drawn belonged to the picture before
  CVimoDoc* pDoc = GetDocument();
  PlayAnimation(pDoc != nullptr && pDoc->m_pAnimation != nullptr ? pDoc->m_pAnimation->GetDelay() : 0);
  CLayout layout;
  FitScrollSizesToImage(layout);
  CScrollView::OnUpdate(pSender, lHint, pHint);
  // The slideshow's interval counts from the image now shown, whoever brought it.
  m_slideshow.WaitForSlide();
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN);
  if (!m_strPrintWhenShown.IsEmpty() && pDoc != nullptr && pDoc->m_pDib != nullptr) {
    if (m_strPrintWhenShown == ShownImagePath()) PostMessage(WM_COMMAND, ID_IMAGE_PRINT);
    m_strPrintWhenShown.Empty();
  }
}

BOOL CVimoView::IsFullScreen() const {
  CFrameWnd* pFrame = GetParentFrame();
  return pFrame != nullptr && pFrame->IsFullScreen();
}

CImageLayout::CWindow CVimoView::LayoutWindow() const {
  CRect client;
  GetClientRect(&client);
  return {CSize(client.Width(), client.Height()), IsFullScreen(), g_bFitToWindow};
}

BOOL CVimoView::GetLayout(CLayout& layout) const {
  CVimoDoc* pDoc = GetDocument();
  CImageLayout::CImage image;
  if (pDoc == nullptr || !pDoc->GetShownSource(image.sizeStored, image.rcSource)) return FALSE;
  image.nConvertedTurn = pDoc->m_shownTurn.nOrientation;
  image.nPhotoOrientation = g_bPhotosUpright ? pDoc->m_nOrientation : 1;
  layout = m_layout.Lay(image, LayoutWindow());
  return TRUE;
}

CPoint CVimoView::ImageOrigin(const CLayout& layout) const {
  CRect client;
  GetClientRect(&client);
  return CImageLayout::Origin(layout, CSize(client.Width(), client.Height()));
}

BOOL CVimoView::FitScrollSizesToImage(CLayout& layout) {
  if (!GetLayout(layout)) return FALSE;
  SetScrollSizes(MM_TEXT, layout.sizeShown, CSize(120, 140));
  return TRUE;
}

BOOL CVimoView::GetShownScale(double& dScale) const {
  CLayout layout;
  if (!GetLayout(layout) || (layout.dScale == 1.0 && !layout.bCentred && !m_layout.IsZoomed())) return FALSE;
  dScale = layout.dScale;
  return TRUE;
}

COLORREF CVimoView::BackgroundColour() const { return IsFullScreen() ? RGB(0, 0, 0) : GetSysColor(COLOR_WINDOW); }

BOOL CVimoView::OnEraseBkgnd(CDC* pDC) {
  CLayout layout;
  CRect image;
  if (GetStreamLayout(layout)) {
    image = m_stream.Covered(ImageOrigin(layout), layout);
  } else if (GetLayout(layout)) {
    const CPoint origin = ImageOrigin(layout);
    image = CRect(origin.x, origin.y, origin.x + layout.sizeShown.cx, origin.y + layout.sizeShown.cy);
  } else {
    CBrush brush(BackgroundColour());
    FillOutsideRect(pDC, &brush);
    return TRUE;
  }
  CRect client;
  GetClientRect(&client);
  const CPoint scrolled = GetScrollPosition();
  FillAround(pDC, client, CRect(image.left - scrolled.x, image.top - scrolled.y, image.right - scrolled.x, image.bottom - scrolled.y));
  return TRUE;
}

void CVimoView::FillAround(CDC* pDC, const CRect& client, const CRect& image) {
  CBrush brush(BackgroundColour());
  const CRect parts[] = {
      CRect(client.left, client.top, client.right, std::clamp<LONG>(image.top, client.top, client.bottom)),
      CRect(client.left, std::clamp<LONG>(image.bottom, client.top, client.bottom), client.right, client.bottom),
      CRect(client.left, image.top, std::clamp<LONG>(image.left, client.left, client.right), image.bottom),
      CRect(std::clamp<LONG>(image.right, client.left, client.right), image.top, client.right, image.bottom),
  };
  for (const CRect& part : parts) {
    if (part.Width() > 0 && part.Height() > 0) pDC->FillRect(&part, &brush);
  }
}

int CVimoView::ShownTurn() const {
  CVimoDoc* pDoc = GetDocument();
  return m_layout.ShownTurn(g_bPhotosUpright && pDoc != nullptr ? pDoc->m_nOrientation : 1);
}

CPoint CVimoView::ClientCentre() const {
  CRect client;
  GetClientRect(&client);
  return CPoint(client.Width() / 2, client.Height() / 2);
}

void CVimoView::Relayout(CPoint ptAbout, const std::function<void(double& x, double& y, const CLayout& before)>& change) {
  CLayout before;
  if (!GetLayout(before)) return;
  // The image point under ptAbout, in the shown image's pixels at 1:1.
  const CPoint scrolled = GetScrollPosition();
  const CPoint origin = ImageOrigin(before);
  double x = (scrolled.x + ptAbout.x - origin.x) / before.dScale;
  double y = (scrolled.y + ptAbout.y - origin.y) / before.dScale;
  change(x, y, before);
  CLayout after;
  if (!FitScrollSizesToImage(after)) return;
  const CPoint moved = ImageOrigin(after);
  ScrollToPosition(POINT{static_cast<LONG>(std::lround(x * after.dScale + moved.x - ptAbout.x)),
                         static_cast<LONG>(std::lround(y * after.dScale + moved.y - ptAbout.y))});
  Invalidate(TRUE);
}

void CVimoView::ZoomTo(double dZoom, CPoint ptAbout) {
  Relayout(ptAbout, [this, dZoom](double&, double&, const CLayout&) { m_layout.ZoomTo(dZoom); });
}

void CVimoView::Turn(int nQuarters) {
  m_crop.End();  // the part drawn lay on the picture unturned
  Relayout(ClientCentre(),
           [this, nQuarters](double& x, double& y, const CLayout& before) { m_layout.Turn(nQuarters, x, y, before); });
}

void CVimoView::OnViewFit() {
  // Full screen fits of its own, and the window's remembered choice stays as it was there.
  const CImageLayout::CWindow window = LayoutWindow();
  const BOOL bFitToWindow = m_layout.ToggleFit(window);
  if (!window.bFullScreen) {
    g_bFitToWindow = bFitToWindow;
    WriteViewPreference("FitToWindow", g_bFitToWindow);
  }
  CLayout layout;
  FitScrollSizesToImage(layout);
  ScrollToPosition(POINT{0, 0});
  Invalidate(TRUE);
}

void CVimoView::OnUpdateViewFit(CCmdUI* pCmdUI) { pCmdUI->SetCheck(m_layout.IsFitted(LayoutWindow()) ? 1 : 0); }

void CVimoView::OnViewZoomIn() {
  CLayout layout;
  if (GetLayout(layout)) ZoomTo(CImageLayout::NextZoomStep(layout.dScale, 1), ClientCentre());
}

void CVimoView::OnViewZoomOut() {
  CLayout layout;
  if (GetLayout(layout)) ZoomTo(CImageLayout::NextZoomStep(layout.dScale, -1), ClientCentre());
}

void CVimoView::OnViewZoomActual() { ZoomTo(1.0, ClientCentre()); }

void CVimoView::OnViewRotateRight() { Turn(1); }

void CVimoView::OnViewRotateLeft() { Turn(-1); }

void CVimoView::OnUpdateViewImage(CCmdUI* pCmdUI) {
  CLayout layout;
  pCmdUI->Enable(GetLayout(layout));
}

void CVimoView::OnViewUpright() {
  g_bPhotosUpright = g_bPhotosUpright ? 0 : 1;
  WriteViewPreference("PhotosUpright", g_bPhotosUpright);
  CLayout layout;
  FitScrollSizesToImage(layout);
  Invalidate(TRUE);
}

void CVimoView::OnUpdateViewUpright(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bPhotosUpright); }

// A fitted image follows the window's size; a centred one its centre.
void CVimoView::OnSize(UINT /*nType*/, int /*cx*/, int /*cy*/) {
  if (m_bInLayout) return;
  m_bInLayout = TRUE;
  CLayout layout;
  if (FitScrollSizesToImage(layout) && layout.bCentred) Invalidate(TRUE);
  m_bInLayout = FALSE;
}

BOOL CVimoView::OnMouseWheel(UINT nFlags, short zDelta, CPoint pt) {
  if (!(nFlags & MK_CONTROL)) return FALSE;
  CLayout layout;
  if (!GetLayout(layout)) return TRUE;
  const double dScale = m_layout.WheelScale(zDelta, layout.dScale);
  if (dScale != layout.dScale) ZoomTo(dScale, pt);
  return TRUE;
}

void CVimoView::PlayAnimation(UINT nDelay) {
  m_stepDue = std::chrono::steady_clock::now();
  ScheduleStep(nDelay);
}

void CVimoView::ScheduleStep(UINT nDelay) {
  if (nDelay == 0) {
    KillTimer(kAnimationTimer);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  m_stepDue = std::max(m_stepDue + std::chrono::milliseconds(nDelay), now);
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_stepDue - now).count();
  SetTimer(kAnimationTimer, static_cast<UINT>(std::max<long long>(wait, 1)));
}

void CVimoView::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent == CSlideshow::kTimer) m_slideshow.OnStep();
  if (nIDEvent != kAnimationTimer) return;
  CVimoDoc* pDoc = GetDocument();
  ScheduleStep(pDoc != nullptr ? pDoc->StepAnimation() : 0);
}

LRESULT CVimoView::OnReducedCopies(WPARAM wParam, LPARAM lParam) {
  m_copies.OnMessage(wParam, lParam);
  return 0;
}

// ---- the picture while it converts ---------------------------------------------------------------

BOOL CVimoView::GetStreamLayout(CLayout& layout) const {
  if (m_bStreamSwitching || !m_stream.IsShown()) return FALSE;
  CImageLayout::CImage image;
  image.sizeStored = m_stream.StoredSize();
  image.rcSource = CRect(0, 0, image.sizeStored.cx, image.sizeStored.cy);
  image.nPhotoOrientation = g_bPhotosUpright ? m_nStreamOrientation : 1;
  layout = m_streamLayout.Lay(image, LayoutWindow());
  // Rows are drawn as they are stored, never reduced: a reduction waits for the reduced picture,
  // which is never enlarged (the window grew since it was asked for).
  if (!m_stream.HasReduced()) return layout.dScale >= 1 - 1e-9;
  const CSize reduced = m_stream.ReducedSize();
  const bool bTurned = layout.nOrientation >= 5;
  return reduced.cx >= (bTurned ? layout.sizeShown.cy : layout.sizeShown.cx) &&
         reduced.cy >= (bTurned ? layout.sizeShown.cx : layout.sizeShown.cy);
}

void CVimoView::BeginStream(unsigned nSerial, const std::string& source) {
  m_bStreamSwitching = FALSE;
  m_streamLayout = m_layout;
  m_streamLayout.Reset(g_bKeepZoom);
  m_nStreamOrientation = ReadExifOrientation(source.c_str());
  vimo::convert::ReducedSize wanted;
  const CImageLayout::CWindow window = LayoutWindow();
  if (m_streamLayout.IsFitted(window)) {
    // At least the size the picture is shown at, as it is stored (a turned photo's sides swap).
    wanted = [layout = m_streamLayout, window, nOrientation = g_bPhotosUpright ? m_nStreamOrientation : 1](std::size_t width,
                                                                                                          std::size_t height) {
      CImageLayout::CImage image;
      image.sizeStored = CSize(static_cast<int>(width), static_cast<int>(height));
      image.rcSource = CRect(0, 0, image.sizeStored.cx, image.sizeStored.cy);
      image.nPhotoOrientation = nOrientation;
      const CLayout laid = layout.Lay(image, window);
      const bool bTurned = laid.nOrientation >= 5;
      return std::pair<std::size_t, std::size_t>(bTurned ? laid.sizeShown.cy : laid.sizeShown.cx,
                                                 bTurned ? laid.sizeShown.cx : laid.sizeShown.cy);
    };
  }
  m_stream.Begin(nSerial, source, this, GetDocument()->m_queue.ResultEvent(), std::move(wanted));
}

void CVimoView::TakeStreamRows(const std::string& written, int nRows) {
  CLayout before;
  const BOOL bWasShown = GetStreamLayout(before);
  const int nFrom = m_stream.TakeRows(written, nRows);
  CLayout layout;
  if (nFrom < 0 || m_stream.HasReduced() || !GetStreamLayout(layout)) return;
  if (!bWasShown) {
    // The first rows: the picture shown before goes.
    SetScrollSizes(MM_TEXT, layout.sizeShown, CSize(120, 140));
    Invalidate(TRUE);
    return;
  }
  const CRect band = CStreamedPicture::RowsShown(nFrom, m_stream.Rows(), ImageOrigin(layout), layout);
  const CPoint scrolled = GetScrollPosition();
  const CRect inClient(band.left - scrolled.x, band.top - scrolled.y, band.right - scrolled.x, band.bottom - scrolled.y);
  if (inClient.Width() > 0 && inClient.Height() > 0) InvalidateRect(&inClient, FALSE);
}

BOOL CVimoView::FollowConversion(BOOL bWaiting) {
  CVimoDoc* pDoc = GetDocument();
  if (pDoc == nullptr || m_hWnd == nullptr) return FALSE;
  const CStreamProgress::CState state = CStreamProgress::Take();
  if (state.nSerial == 0) return FALSE;
  // The wait left to a conversion takes its result once it has ended (and another may have begun).
  if (m_nPollSerial != 0 && (state.nSerial != m_nPollSerial || state.bEnded)) {
    m_nPollSerial = 0;
    g_bPollQueue = 1;
  }
  if (state.nSerial != m_stream.Serial()) {
    // Only the conversion of the image waited for: the read-ahead's go on unseen.
    if (!bWaiting || state.bEnded || CString(state.source) != pDoc->m_queue.ComingSource()) return FALSE;
    BeginStream(state.nSerial, state.source);
  }
  if (!state.written.empty()) TakeStreamRows(state.written, state.nRows);
  return !state.bEnded && bWaiting && (m_stream.IsShown() || m_stream.IsDecoding());
}

BOOL CVimoView::LeaveWaitToConversion() {
  // Only once something of it shows: the reduced picture's end wakes the wait as well.
  if (!FollowConversion(TRUE) || !m_stream.IsShown()) return FALSE;
  m_nPollSerial = m_stream.Serial();
  return TRUE;
}

void CVimoView::DropConversion() {
  const BOOL bShown = m_stream.IsShown();
  m_stream.Reset();
  m_bStreamSwitching = FALSE;
  m_nPollSerial = 0;
  if (!bShown) return;
  CLayout layout;
  FitScrollSizesToImage(layout);
  Invalidate(TRUE);
}

LRESULT CVimoView::OnStreamProgress(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  (void)FollowConversion(FALSE);
  return 0;
}

LRESULT CVimoView::OnStreamedPicture(WPARAM /*wParam*/, LPARAM lParam) {
  if (!m_stream.TakeReduced(lParam)) return 0;
  if (CLayout layout; GetStreamLayout(layout)) SetScrollSizes(MM_TEXT, layout.sizeShown, CSize(120, 140));
  Invalidate(TRUE);
  return 0;
}

LRESULT CVimoView::OnGiftSenderExit(WPARAM wParam, LPARAM lParam) { return m_gift.OnSenderExit(wParam, lParam); }

void CVimoView::OnGoNext() {
  CVimoDoc* pDoc = GetDocument();
  CConvertQueue& queue = pDoc->m_queue;
  const CString* pPath = queue.Next();
  if (pPath == nullptr) {
    ++pDoc->m_nNextWanted;
    g_bPollQueue = 1;
    return;
  }
  pDoc->LoadDib(*pPath);
  if (queue.HistoryCount() - queue.Index() < 3) pDoc->QueueNextImage();
  const CString error = queue.TakeError();
  if (!error.IsEmpty()) AfxMessageBox(error);
}

// Also enabled while the worker still owes an image or an error: Next then waits for it
// (through the frame's poll) instead of leaving Tab dead until the conversion is done.
void CVimoView::OnUpdateGoNext(CCmdUI* pCmdUI) {
  CConvertQueue& queue = GetDocument()->m_queue;
  pCmdUI->Enable(queue.CanNext() || queue.IsNextComing());
}

void CVimoView::OnGoPrev() {
  CVimoDoc* pDoc = GetDocument();
  const CString* pPath = pDoc->m_queue.Previous();
  if (pPath != nullptr) pDoc->LoadDib(*pPath);
}

void CVimoView::OnUpdateGoPrev(CCmdUI* pCmdUI) { pCmdUI->Enable(GetDocument()->m_queue.CanPrevious()); }

CString CVimoView::ShownImagePath() const {
  CVimoDoc* pDoc = GetDocument();
  return CString(pDoc->m_szFolder) + pDoc->GetTitle();
}

void CVimoView::OnImageDelete() {
  if (m_fileCommands.Delete({ShownImagePath()}).empty()) return;
  GetDocument()->ForgetShownFile();
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN);
}

void CVimoView::OnImageSaveAs() { GetDocument()->SaveCopyAs(ShownImagePath()); }

void CVimoView::OnFileRename() {
  if (m_fileCommands.Rename(ShownImagePath()).IsEmpty()) return;
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN);
}

void CVimoView::OnFileCopyTo() { m_fileCommands.CopyTo({ShownImagePath()}, FALSE); }

void CVimoView::OnFileMoveTo() {
  if (m_fileCommands.CopyTo({ShownImagePath()}, TRUE).empty()) return;
  GetDocument()->ForgetShownFile();
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN);
}

void CVimoView::OnFileOpenWith() { m_fileCommands.OpenWith(ShownImagePath()); }

void CVimoView::OnUpdateImageCommand(CCmdUI* pCmdUI) {
  CVimoDoc* pDoc = GetDocument();
  pCmdUI->Enable(pDoc->m_pDib != nullptr && !pDoc->GetTitle().IsEmpty());
}

void CVimoView::OnKeyDown(UINT nChar, UINT /*nRepCnt*/, UINT /*nFlags*/) {
  // A page each time: 120 pixels across, 140 down, never a line.
  switch (nChar) {
    case VK_LEFT:
      OnScroll(0xFF02, 0, TRUE);
      break;
    case VK_UP:
      OnScroll(0x02FF, 0, TRUE);
      break;
    case VK_RIGHT:
      OnScroll(0xFF03, 0, TRUE);
      break;
    case VK_DOWN:
      OnScroll(0x03FF, 0, TRUE);
      break;
    case VK_ESCAPE:
      if (m_crop.IsActive()) {
        OnCropCancel();
        break;
      }
      if (m_slideshow.IsRunning()) m_slideshow.End();
      if (IsFullScreen()) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
      break;
    case VK_SPACE:
      m_slideshow.TogglePause();
      break;
    default:
      break;
  }
  Default();
}

HGLOBAL CVimoView::CreateDropFiles(const char* path) { return CreateDropFiles(std::vector<CString>{CString(path)}); }

HGLOBAL CVimoView::CreateDropFiles(const std::vector<CString>& paths) {
  std::size_t length = 0;
  for (const CString& path : paths) length += static_cast<std::size_t>(path.GetLength()) + 1;
  HGLOBAL hDrop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + length + 1);
  if (hDrop == nullptr) return nullptr;
  auto* bytes = static_cast<char*>(GlobalLock(hDrop));
  DROPFILES header{};
  header.pFiles = sizeof(DROPFILES);
  std::memcpy(bytes, &header, sizeof(header));
  char* at = bytes + sizeof(DROPFILES);
  for (const CString& path : paths) {
    std::memcpy(at, static_cast<const char*>(path), static_cast<std::size_t>(path.GetLength()) + 1);
    at += path.GetLength() + 1;
  }
  GlobalUnlock(hDrop);
  return hDrop;
}

void CVimoView::OnLButtonDown(UINT nFlags, CPoint point) {
  if (m_crop.IsActive()) {
    CLayout layout;
    if (!GetLayout(layout)) return;
    // Handles are grabbed within 6 screen pixels, at any zoom.
    m_crop.Press(PictureAt(point), std::max(1, static_cast<int>(std::lround(6 / layout.dScale))));
    Invalidate(FALSE);
    return;
  }
  // Full screen has no file manager beside it to drop into: the drag pans instead.
  if (IsFullScreen()) {
    BeginPan(point);
    return;
  }
  CVimoDoc* pDoc = GetDocument();
  if (pDoc->GetTitle().IsEmpty() || pDoc->m_pDib == nullptr) return;
  HGLOBAL hDrop = CreateDropFiles(ShownImagePath());
  if (hDrop == nullptr) return;
  m_dataSource.CacheGlobalData(CF_HDROP, hDrop);
  g_bDragging = 1;
  m_dataSource.DoDragDrop(DROPEFFECT_COPY | DROPEFFECT_MOVE, nullptr, nullptr);
  // Cleared only once the messages the drag left queued have been handled.
  PostMessage(WM_LBUTTONUP, nFlags, MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y)));
}

void CVimoView::OnLButtonUp(UINT /*nFlags*/, CPoint /*point*/) {
  m_crop.Release();
  EndPan();
  g_bDragging = 0;
  Default();
}

// ---- the mouse ----------------------------------------------------------------------------------

void CVimoView::BeginPan(CPoint point) {
  m_bPanning = TRUE;
  m_ptPanFrom = point;
  m_ptScrollFrom = GetScrollPosition();
}

void CVimoView::EndPan() { m_bPanning = FALSE; }

void CVimoView::OnMouseMove(UINT nFlags, CPoint point) {
  if (m_crop.IsActive() && (nFlags & MK_LBUTTON)) {
    m_crop.Drag(PictureAt(point));
    Invalidate(FALSE);
    return;
  }
  if (!m_bPanning || !(nFlags & (MK_LBUTTON | MK_MBUTTON))) return;
  // The picture follows the pointer; the scroll range keeps it from leaving the window.
  ScrollToPosition(POINT{m_ptScrollFrom.x - (point.x - m_ptPanFrom.x), m_ptScrollFrom.y - (point.y - m_ptPanFrom.y)});
}

void CVimoView::OnMButtonDown(UINT /*nFlags*/, CPoint point) { BeginPan(point); }

void CVimoView::OnMButtonUp(UINT /*nFlags*/, CPoint /*point*/) { EndPan(); }

void CVimoView::OnLButtonDblClk(UINT /*nFlags*/, CPoint /*point*/) {
  if (m_crop.IsActive()) return;  // two presses while drawing the part, not full screen
  const BOOL bWasFullScreen = IsFullScreen();
  if (m_slideshow.IsRunning()) m_slideshow.End();
  if (IsFullScreen() == bWasFullScreen) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
}

void CVimoView::OnContextMenu(CWnd* /*pWnd*/, CPoint point) {
  if (point.x == -1 && point.y == -1) {
    point = ClientCentre();
    ClientToScreen(&point);
  }
  CMenu menu;
  if (!menu.LoadMenu(m_crop.IsActive() ? IDR_CROP_CONTEXT : IDR_IMAGE_CONTEXT)) return;
  if (CMenu* pPopup = menu.GetSubMenu(0)) pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, GetParentFrame());
}

void CVimoView::OnViewKeepZoom() {
  g_bKeepZoom = g_bKeepZoom ? 0 : 1;
  WriteViewPreference("KeepZoom", g_bKeepZoom);
}

void CVimoView::OnUpdateViewKeepZoom(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bKeepZoom); }

// ---- the clipboard ------------------------------------------------------------------------------

void CVimoView::OnEditCopy() {
  CLayout layout;
  if (!GetLayout(layout)) return;
  CString reason;
  if (!CClipboardOffer::CopyImage(*GetDocument(), layout.rcSource, layout.nOrientation, ShownImagePath(), &reason))
    AfxMessageBox("cannot copy, " + reason + "\n" + ShownImagePath());
}

void CVimoView::OnEditCopyPath() {
  if (!CClipboardOffer::CopyPath(ShownImagePath())) AfxMessageBox("cannot copy, out of memory\n" + ShownImagePath());
}

// ---- print and wallpaper -----------------------------------------------------------------------

void CVimoView::OnImagePrint() {
  CLayout layout;
  if (GetLayout(layout)) m_print.Print(*GetDocument(), layout.rcSource, layout.nOrientation, ShownImagePath(), FALSE);
}

void CVimoView::OnImagePrintPreview() {
  CLayout layout;
  if (GetLayout(layout)) m_print.Print(*GetDocument(), layout.rcSource, layout.nOrientation, ShownImagePath(), TRUE);
}

void CVimoView::OnImageWallpaper() { CWallpaper::Set(ShownImagePath()); }

// ---- the turn saved into the file ---------------------------------------------------------------

void CVimoView::OnUpdateImageSaveTurn(CCmdUI* pCmdUI) {
  CVimoDoc* pDoc = GetDocument();
  pCmdUI->Enable(pDoc->m_pDib != nullptr && !pDoc->GetTitle().IsEmpty() && pDoc->IsShownJpeg() &&
                 (ShownTurn() != 1 || pDoc->m_nOrientation != 1));
}

BOOL CVimoView::AskToCutEdges(const CVimoDoc::CTurnCut& cut) {
  CString question;
  question.Format("この画像の幅か高さがJPEGのﾌﾞﾛｯｸの倍数ではないため、画質を保って回転すると端が切り取られます "
                  "(%d x %d → %d x %d ﾋﾟｸｾﾙ)。\n端を切り取って回転しますか?",
                  static_cast<int>(cut.sizeBefore.cx), static_cast<int>(cut.sizeBefore.cy), static_cast<int>(cut.sizeKept.cx),
                  static_cast<int>(cut.sizeKept.cy));
  return AfxMessageBox(question, MB_OKCANCEL) == IDOK;
}

void CVimoView::OnImageSaveTurn() {
  if (!GetDocument()->SaveTurn(ShownTurn(), &CVimoView::AskToCutEdges)) return;
  // The picture is shown as the file now stands, unturned by R and Shift+R.
  m_layout.Reset(TRUE);
  CLayout turned;
  FitScrollSizesToImage(turned);
  Invalidate(TRUE);
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN, TRUE);
}

// ---- copies, cut or scaled ----------------------------------------------------------------------

BOOL CVimoView::GetShownPicture(CSize& size) const {
  CLayout layout;
  if (!GetLayout(layout)) return FALSE;
  const BOOL bSideways = layout.nOrientation >= 5;
  size = CSize(bSideways ? layout.rcSource.Height() : layout.rcSource.Width(), bSideways ? layout.rcSource.Width() : layout.rcSource.Height());
  return TRUE;
}

CPoint CVimoView::PictureAt(CPoint client) const {
  CLayout layout;
  if (!GetLayout(layout)) return CPoint();
  const CPoint scrolled = GetScrollPosition();
  const CPoint origin = ImageOrigin(layout);
  return CPoint(static_cast<int>(std::lround((scrolled.x + client.x - origin.x) / layout.dScale)),
                static_cast<int>(std::lround((scrolled.y + client.y - origin.y) / layout.dScale)));
}

void CVimoView::DrawCrop(CDC* pDC, const CLayout& layout) const {
  const CRect& part = m_crop.GetRect();
  if (part.IsRectEmpty()) return;
  const CPoint origin = ImageOrigin(layout);
  const auto at = [&](CPoint point) {
    return CPoint(origin.x + static_cast<int>(std::lround(point.x * layout.dScale)),
                  origin.y + static_cast<int>(std::lround(point.y * layout.dScale)));
  };
  const CPoint a = at(CPoint(part.left, part.top));
  const CPoint b = at(CPoint(part.right, part.bottom));
  // A black line with a white one inside shows on any picture.
  CBrush black(RGB(0, 0, 0));
  CBrush white(RGB(255, 255, 255));
  for (int nLine = 0; nLine < 2; ++nLine) {
    CBrush* pBrush = nLine == 0 ? &black : &white;
    const int d = nLine;
    const CRect edges[] = {CRect(a.x - 1 + d, a.y - 1 + d, b.x + 1 - d, a.y + d), CRect(a.x - 1 + d, b.y - d, b.x + 1 - d, b.y + 1 - d),
                           CRect(a.x - 1 + d, a.y - 1 + d, a.x + d, b.y + 1 - d), CRect(b.x - d, a.y - 1 + d, b.x + 1 - d, b.y + 1 - d)};
    for (const CRect& edge : edges) pDC->FillRect(&edge, pBrush);
  }
  CPoint handles[8];
  m_crop.Handles(handles);
  for (const CPoint& handle : handles) {
    const CPoint centre = at(handle);
    const CRect outer(centre.x - 4, centre.y - 4, centre.x + 5, centre.y + 5);
    const CRect inner(centre.x - 3, centre.y - 3, centre.x + 4, centre.y + 4);
    pDC->FillRect(&outer, &black);
    pDC->FillRect(&inner, &white);
  }
}

void CVimoView::OnUpdateImageCopy(CCmdUI* pCmdUI) {
  CVimoDoc* pDoc = GetDocument();
  CSize size;
  pCmdUI->Enable(pDoc->m_pDib != nullptr && !pDoc->GetTitle().IsEmpty() && GetShownPicture(size));
}

void CVimoView::OnImageCrop() {
  CSize size;
  if (!GetShownPicture(size)) return;
  if (m_slideshow.IsRunning()) m_slideshow.End();
  m_crop.Begin(size);
  Invalidate(FALSE);
}

void CVimoView::OnImageResize() {
  m_crop.End();
  SaveCopy(CRect(), FALSE);
}

void CVimoView::OnUpdateCropCommand(CCmdUI* pCmdUI) { pCmdUI->Enable(m_crop.IsActive()); }

void CVimoView::OnCropAccept() {
  // The part stays drawn behind the dialog, and to be changed when the dialog is cancelled.
  const CRect part = m_crop.GetRect();
  if (!SaveCopy(part, !part.IsRectEmpty())) return;
  m_crop.End();
  Invalidate(FALSE);
}

void CVimoView::OnCropCancel() {
  m_crop.End();
  Invalidate(FALSE);
}

BOOL CVimoView::OnCropAspect(UINT nID) {
  m_crop.SetAspect(static_cast<CCropTool::Aspect>(nID - ID_CROP_ASPECT_PICTURE));
  Invalidate(FALSE);
  return TRUE;
}

void CVimoView::OnUpdateCropAspect(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_crop.IsActive());
  pCmdUI->SetCheck(static_cast<UINT>(m_crop.GetAspect()) == pCmdUI->m_nID - ID_CROP_ASPECT_PICTURE ? 1 : 0);
}

BOOL CVimoView::SaveCopy(const CRect& part, BOOL bCrop) {
  CSize size;
  if (!GetShownPicture(size)) return FALSE;
  const CString path = ShownImagePath();
  const int nTurn = ShownTurn();
  // The part lies where the blocks let a JPEG be cut without loss, if there is such a place.
  CRect snapped = part;
  const BOOL bWithoutLoss = bCrop && GetDocument()->IsShownJpeg() && CPictureCopy::SnapWithoutLoss(path, nTurn, snapped);
  CCopyDlg dialog(path, bCrop ? CSize(part.Width(), part.Height()) : size, bCrop, bWithoutLoss, this);
  if (dialog.DoModal() != IDOK) return FALSE;
  CPictureCopy::CChoice choice = dialog.m_choice;
  choice.rcPart = !bCrop ? CRect() : choice.bWithoutLoss ? snapped : part;
  CString error;
  if (!CPictureCopy::Write(path, nTurn, choice, error)) {
    AfxMessageBox(error);
    return TRUE;
  }
  if (choice.strTarget == path) {
    // The original was replaced, as the user agreed: it is shown as it is now.
    GetDocument()->ConvertAgain();
    if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN, TRUE);
  }
  return TRUE;
}
