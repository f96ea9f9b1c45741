#include "view/VimoView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/Globals.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "settings/Preferences.h"
#include "doc/LosslessTurn.h"
#include "view/ClipboardOffer.h"
#include "view/GiftMailJob.h"
#include "view/GiftSettingsDlg.h"
#include "view/Orientation.h"
#include "win32/DibLayout.h"
#include "win32/GlobalMemory.h"
#include "win32/ProcessWatch.h"
#include "win32/ThumbnailCache.h"
#include "win32/Trash.h"

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
  ON_COMMAND(ID_EDIT_UNDO, OnEditUndo)
  ON_UPDATE_COMMAND_UI(ID_EDIT_UNDO, OnUpdateEditUndo)
  ON_WM_LBUTTONDOWN()
  ON_WM_LBUTTONUP()
  ON_WM_KEYDOWN()
  ON_WM_ERASEBKGND()
  ON_UPDATE_COMMAND_UI(ID_GIFT_SEND, OnUpdateImageCommand)
  ON_UPDATE_COMMAND_UI(ID_GIFT_STACK, OnUpdateImageCommand)
  ON_COMMAND(ID_GIFT_SETTINGS, OnGiftSettings)
  ON_COMMAND(ID_GIFT_STACK, OnGiftStack)
  ON_COMMAND(ID_GIFT_SEND, OnGiftSend)
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
  ON_COMMAND(ID_VIEW_KEEP_ZOOM, OnViewKeepZoom)
  ON_UPDATE_COMMAND_UI(ID_VIEW_KEEP_ZOOM, OnUpdateViewKeepZoom)
  ON_COMMAND(ID_VIEW_SLIDESHOW, OnViewSlideshow)
  ON_UPDATE_COMMAND_UI(ID_VIEW_SLIDESHOW, OnUpdateViewSlideshow)
  ON_COMMAND_EX_RANGE(ID_VIEW_SLIDESHOW_2S, ID_VIEW_SLIDESHOW_10S, OnViewSlideshowInterval)
  ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SLIDESHOW_2S, ID_VIEW_SLIDESHOW_10S, OnUpdateViewSlideshowInterval)
  ON_COMMAND(ID_EDIT_COPY, OnEditCopy)
  ON_UPDATE_COMMAND_UI(ID_EDIT_COPY, OnUpdateImageCommand)
  ON_COMMAND(ID_EDIT_COPY_PATH, OnEditCopyPath)
  ON_UPDATE_COMMAND_UI(ID_EDIT_COPY_PATH, OnUpdateImageCommand)
  ON_COMMAND(ID_IMAGE_SAVE_TURN, OnImageSaveTurn)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_SAVE_TURN, OnUpdateImageSaveTurn)
  ON_WM_CONTEXTMENU()
  ON_WM_LBUTTONDBLCLK()
  ON_WM_MBUTTONDOWN()
  ON_WM_MBUTTONUP()
  ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

namespace {

// The zoom steps of + and -, and of a notch of Ctrl+wheel.
constexpr double kZoomSteps[] = {1.0 / 32, 1.0 / 24, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3,
                                 1.0 / 2,  2.0 / 3,  1.0,      1.5,      2.0,     3.0,     4.0,     8.0};

// The next step above (nDirection 1) or below (-1) dScale; dScale itself at the end.
double NextZoomStep(double dScale, int nDirection) {
  if (nDirection > 0) {
    for (double step : kZoomSteps) {
      if (step > dScale * (1 + 1e-6)) return step;
    }
    return dScale;
  }
  for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it) {
    if (*it < dScale * (1 - 1e-6)) return *it;
  }
  return dScale;
}
constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT_PTR kSlideshowTimer = 2;

// The slideshow's intervals, as the menu offers them.
constexpr struct {
  UINT nID;
  int nSeconds;
} kSlideshowIntervals[] = {{ID_VIEW_SLIDESHOW_2S, 2}, {ID_VIEW_SLIDESHOW_3S, 3}, {ID_VIEW_SLIDESHOW_5S, 5}, {ID_VIEW_SLIDESHOW_10S, 10}};

// Whether the file's content is a JPEG's (its first bytes).
BOOL IsJpegFile(const char* path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  unsigned char head[3] = {0, 0, 0};
  return file && std::fread(head, 1, 3, file.get()) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

}  // namespace

CVimoView::CVimoView() : m_mapStack(10) {}

CVimoView::~CVimoView() = default;

CVimoDoc* CVimoView::GetDocument() const { return DYNAMIC_DOWNCAST(CVimoDoc, CView::GetDocument()); }

BOOL CVimoView::PreCreateWindow(CREATESTRUCT& cs) { return CView::PreCreateWindow(cs); }

void CVimoView::OnInitialUpdate() {
  CView::OnInitialUpdate();
  SetScrollSizes(MM_TEXT, CSize(200, 200));
}

void CVimoView::OnDraw(CDC* pDC) {
  CVimoDoc* pDoc = GetDocument();
  if (pDoc == nullptr || pDoc->m_pDib == nullptr) {
    CRect client;
    GetClientRect(&client);
    CBrush brush(BackgroundColour());
    pDC->FillRect(&client, &brush);
    return;
  }
  const CString path = CString(pDoc->m_szFolder) + pDoc->GetTitle();
  int nState = -1;
  void* pValue = nullptr;
  if (g_mapGiftState.Lookup(path, pValue)) nState = static_cast<int>(reinterpret_cast<std::intptr_t>(pValue));

  CLayout layout;
  if (!FitScrollSizesToImage(layout)) return;
  // An animation's see-through parts show the background laid around the image.
  pDoc->SetAnimationBackground(BackgroundColour());
  const CPoint origin = ImageOrigin(layout);
  m_copies.Draw(this, pDoc->m_hDrawDib, pDC, origin.x, origin.y, layout.sizeShown.cx, layout.sizeShown.cy,
                reinterpret_cast<const BITMAPINFOHEADER*>(pDoc->m_pDib.get()), pDoc->m_pBits, layout.rcSource.left,
                layout.rcSource.top, layout.rcSource.Width(), layout.rcSource.Height(), layout.nOrientation);
  // At the image's top-left corner as drawn, at the text's own size.
  if (nState == 0) pDC->TextOut(origin.x + 10, origin.y + 10, "Sent");
  else if (nState == 1) pDC->TextOut(origin.x + 10, origin.y + 10, "Stacked");
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
  if (!g_bKeepZoom) {
    m_bZoomed = FALSE;
    m_bActualInFullScreen = FALSE;
  }
  m_nQuarterTurns = 0;
  m_nWheel = 0;
  CVimoDoc* pDoc = GetDocument();
  m_convertedTurn = pDoc != nullptr ? pDoc->m_queue.GetShownTurn() : CConvertedTurn{};
  m_bShownJpeg = pDoc != nullptr && pDoc->m_pDib != nullptr && IsJpegFile(ShownImagePath());
  PlayAnimation(pDoc != nullptr && pDoc->m_pAnimation != nullptr ? pDoc->m_pAnimation->GetDelay() : 0);
  CLayout layout;
  FitScrollSizesToImage(layout);
  CScrollView::OnUpdate(pSender, lHint, pHint);
  // The slideshow's interval counts from the image now shown, whoever brought it.
  WaitForSlide();
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN);
}

BOOL CVimoView::IsFullScreen() const {
  CFrameWnd* pFrame = GetParentFrame();
  return pFrame != nullptr && pFrame->IsFullScreen();
}

BOOL CVimoView::IsFitted() const {
  return !m_bZoomed && (IsFullScreen() ? !m_bActualInFullScreen : g_bFitToWindow != 0);
}

BOOL CVimoView::GetLayout(CLayout& layout) const {
  CVimoDoc* pDoc = GetDocument();
  if (pDoc == nullptr || pDoc->m_pDib == nullptr) return FALSE;
  const vimo::platform::DibLayout dib = vimo::platform::ReadDibLayout(pDoc->m_pDib.get(), pDoc->m_nDibSize);
  if (dib.kind == vimo::platform::DibHeaderKind::kNone || dib.width < 0 || dib.height < 0) return FALSE;
  layout.sizeStored = CSize(dib.width, dib.height);
  // A file turned in place since its conversion: the converted pixels turned (and cut) first.
  const CConvertedTurn& converted = m_convertedTurn;
  const BOOL bCut = converted.right > converted.left && converted.bottom > converted.top &&
                    converted.right <= dib.width && converted.bottom <= dib.height;
  layout.rcSource = bCut ? CRect(converted.left, converted.top, converted.right, converted.bottom) : CRect(0, 0, dib.width, dib.height);
  layout.nOrientation = COrientation::Compose(converted.nOrientation, ShownTurn());
  const BOOL bTurned = layout.nOrientation >= 5;  // shown rows are stored columns
  const double width = bTurned ? layout.rcSource.Height() : layout.rcSource.Width();
  const double height = bTurned ? layout.rcSource.Width() : layout.rcSource.Height();
  layout.bCentred = g_bFitToWindow || IsFullScreen();
  layout.dScale = m_bZoomed ? m_dZoom : 1.0;
  CRect client;
  GetClientRect(&client);
  if (IsFitted() && width > 0 && height > 0 && client.Width() > 0 && client.Height() > 0)
    layout.dScale = std::min({1.0, client.Width() / width, client.Height() / height});
  const auto shown = [&layout](double extent) {
    return extent == 0 ? 0 : std::max(1, static_cast<int>(std::lround(extent * layout.dScale)));
  };
  layout.sizeShown = CSize(shown(width), shown(height));
  return TRUE;
}

CPoint CVimoView::ImageOrigin(const CLayout& layout) const {
  if (!layout.bCentred) return CPoint(0, 0);
  CRect client;
  GetClientRect(&client);
  return CPoint(std::max(0, (client.Width() - layout.sizeShown.cx) / 2), std::max(0, (client.Height() - layout.sizeShown.cy) / 2));
}

BOOL CVimoView::FitScrollSizesToImage(CLayout& layout) {
  if (!GetLayout(layout)) return FALSE;
  SetScrollSizes(MM_TEXT, layout.sizeShown, CSize(120, 140));
  return TRUE;
}

BOOL CVimoView::GetShownScale(double& dScale) const {
  CLayout layout;
  if (!GetLayout(layout) || (layout.dScale == 1.0 && !layout.bCentred && !m_bZoomed)) return FALSE;
  dScale = layout.dScale;
  return TRUE;
}

COLORREF CVimoView::BackgroundColour() const { return IsFullScreen() ? RGB(0, 0, 0) : GetSysColor(COLOR_WINDOW); }

BOOL CVimoView::OnEraseBkgnd(CDC* pDC) {
  CBrush brush(BackgroundColour());
  CLayout layout;
  if (!GetLayout(layout)) {
    FillOutsideRect(pDC, &brush);
    return TRUE;
  }
  CRect client;
  GetClientRect(&client);
  const CPoint scrolled = GetScrollPosition();
  const CPoint origin = ImageOrigin(layout);
  const CRect image(origin.x - scrolled.x, origin.y - scrolled.y, origin.x - scrolled.x + layout.sizeShown.cx,
                    origin.y - scrolled.y + layout.sizeShown.cy);
  const CRect parts[] = {
      CRect(0, 0, client.right, std::clamp<LONG>(image.top, 0, client.bottom)),
      CRect(0, std::clamp<LONG>(image.bottom, 0, client.bottom), client.right, client.bottom),
      CRect(0, image.top, std::clamp<LONG>(image.left, 0, client.right), image.bottom),
      CRect(std::clamp<LONG>(image.right, 0, client.right), image.top, client.right, image.bottom),
  };
  for (const CRect& part : parts) {
    if (part.Width() > 0 && part.Height() > 0) pDC->FillRect(&part, &brush);
  }
  return TRUE;
}

int CVimoView::ShownTurn() const {
  CVimoDoc* pDoc = GetDocument();
  return DrawDibTurnOrientation(g_bPhotosUpright && pDoc != nullptr ? pDoc->m_nOrientation : 1, m_nQuarterTurns);
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
  Relayout(ptAbout, [this, dZoom](double&, double&, const CLayout&) {
    m_bZoomed = TRUE;
    m_dZoom = dZoom;
  });
}

void CVimoView::Turn(int nQuarters) {
  Relayout(ClientCentre(), [this, nQuarters](double& x, double& y, const CLayout& before) {
    // The point, in the turned image's pixels.
    const double width = before.sizeShown.cx / before.dScale;
    const double height = before.sizeShown.cy / before.dScale;
    const double turnedX = nQuarters > 0 ? height - y : y;
    y = nQuarters > 0 ? x : width - x;
    x = turnedX;
    m_nQuarterTurns = (m_nQuarterTurns + nQuarters + 4) % 4;
  });
}

void CVimoView::OnViewFit() {
  if (IsFullScreen()) {
    // Full screen fits of its own: F shows this image 1:1 there or fitted again, and the
    // window's remembered choice stays as it was.
    m_bActualInFullScreen = IsFitted();
    m_bZoomed = FALSE;
  } else if (IsFitted()) {
    g_bFitToWindow = 0;  // off: 1:1 from the top-left corner, as without fitting
    WriteViewPreference("FitToWindow", g_bFitToWindow);
  } else {
    g_bFitToWindow = 1;
    m_bZoomed = FALSE;
    WriteViewPreference("FitToWindow", g_bFitToWindow);
  }
  CLayout layout;
  FitScrollSizesToImage(layout);
  ScrollToPosition(POINT{0, 0});
  Invalidate(TRUE);
}

void CVimoView::OnUpdateViewFit(CCmdUI* pCmdUI) { pCmdUI->SetCheck(IsFitted() ? 1 : 0); }

void CVimoView::OnViewZoomIn() {
  CLayout layout;
  if (GetLayout(layout)) ZoomTo(NextZoomStep(layout.dScale, 1), ClientCentre());
}

void CVimoView::OnViewZoomOut() {
  CLayout layout;
  if (GetLayout(layout)) ZoomTo(NextZoomStep(layout.dScale, -1), ClientCentre());
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
  m_nWheel += zDelta;
  double dScale = layout.dScale;
  for (; m_nWheel >= WHEEL_DELTA; m_nWheel -= WHEEL_DELTA) dScale = NextZoomStep(dScale, 1);
  for (; m_nWheel <= -WHEEL_DELTA; m_nWheel += WHEEL_DELTA) dScale = NextZoomStep(dScale, -1);
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
  if (nIDEvent == kSlideshowTimer) OnSlideshowStep();
  if (nIDEvent != kAnimationTimer) return;
  CVimoDoc* pDoc = GetDocument();
  ScheduleStep(pDoc != nullptr ? pDoc->StepAnimation() : 0);
}

LRESULT CVimoView::OnReducedCopies(WPARAM wParam, LPARAM lParam) {
  m_copies.OnMessage(wParam, lParam);
  return 0;
}

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
  using vimo::platform::TrashResult;
  const CString path = ShownImagePath();
  CVimoDoc* pDoc = GetDocument();
  // Into the desktop's trash, where a deleted photo can be got back; a file that no trash can
  // take is deleted for good only when the user says so, and one that the trash cannot take
  // just now stays.
  const vimo::platform::TrashOutcome outcome = pDoc->TrashFile(path);
  switch (outcome.result) {
    case TrashResult::kMoved:
      break;
    case TrashResult::kNoTrash:
      if (AfxMessageBox("ごみ箱に移せません: " + CString(std::strerror(outcome.error)) + "\n" + path +
                            "\n\nこのﾌｧｲﾙを完全に削除しますか?",
                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
      if (vimo::platform::DeleteRegularFile(path) != 0) {
        AfxMessageBox("delete error\n" + path);
        return;
      }
      break;
    case TrashResult::kCannotTakeNow:
      AfxMessageBox("not deleted: the trash cannot take it now (" + CString(std::strerror(outcome.error)) + ")\n" + path);
      return;
    case TrashResult::kNotRegularFile:
      AfxMessageBox("delete error\n" + path);
      return;
  }
  pDoc->ForgetShownFile();
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN);
}

void CVimoView::OnEditUndo() {
  CString path;
  const int error = GetDocument()->RestoreTrashed(path);
  if (error != 0) {
    AfxMessageBox("cannot restore (" + CString(std::strerror(error)) + ")\n" + path);
    return;
  }
  // Shown again, and browsed on from, as a file opened by path.
  AfxGetApp()->OpenDocumentFile(path);
}

void CVimoView::OnUpdateEditUndo(CCmdUI* pCmdUI) { pCmdUI->Enable(GetDocument()->CanRestoreTrashed()); }

void CVimoView::OnImageSaveAs() { GetDocument()->SaveCopyAs(ShownImagePath()); }

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
      if (m_bSlideshow) EndSlideshow();
      if (IsFullScreen()) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
      break;
    case VK_SPACE:
      if (!m_bSlideshow) break;
      m_bSlideshowPaused = !m_bSlideshowPaused;
      if (m_bSlideshowPaused) KillTimer(kSlideshowTimer);
      else WaitForSlide();
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
  EndPan();
  g_bDragging = 0;
  Default();
}

void CVimoView::OnGiftSettings() {
  CGiftSettingsDlg dlg;
  dlg.m_strServer = g_strServer;
  dlg.m_strTo = g_strTo;
  dlg.m_strSubject = g_strSubject;
  dlg.m_strFrom = g_strFrom;
  dlg.m_strComment = g_strBody;
  if (dlg.DoModal() != IDOK) return;
  g_strServer = dlg.m_strServer;
  g_strTo = dlg.m_strTo;
  g_strSubject = dlg.m_strSubject;
  g_strFrom = dlg.m_strFrom;
  g_strBody = dlg.m_strComment;
  g_bSettingsChanged = 1;
}

BOOL CVimoView::CheckMailablePath(const CString& path) {
  if (IsMailablePath(path)) return TRUE;
  AfxMessageBox("cannot mail a file whose name holds a tab or line break:\n" + VisiblePath(path));
  return FALSE;
}

void CVimoView::OnGiftStack() {
  if (StackImage(ShownImagePath())) InvalidateRect(nullptr, TRUE);
}

BOOL CVimoView::StackImage(const CString& path) {
  if (!CheckMailablePath(path)) return FALSE;
  void* value = nullptr;
  if (m_mapStack.Lookup(path, value)) return FALSE;
  m_mapStack[path] = nullptr;
  g_mapGiftState[path] = reinterpret_cast<void*>(1);
  return TRUE;
}

std::vector<CString> CVimoView::ExistingAttachments(const CString& shown, CString& missing) {
  std::vector<CString> candidates;
  void* value = nullptr;
  for (POSITION pos = m_mapStack.GetStartPosition(); pos != nullptr;) {
    CString path;
    m_mapStack.GetNextAssoc(pos, path, value);
    candidates.push_back(path);
  }
  if (!m_mapStack.Lookup(shown, value)) candidates.push_back(shown);
  // A stacked file deleted since would make the sender refuse the whole mail.
  std::vector<CString> paths;
  for (const CString& path : candidates) {
    struct _stat status {};
    if (_stat(path, &status) == 0) {
      paths.push_back(path);
      continue;
    }
    missing += "\n" + path;
    m_mapStack.RemoveKey(path);
    g_mapGiftState.RemoveKey(path);
  }
  return paths;
}

void CVimoView::OnGiftSend() {
  if (g_strServer.IsEmpty() || g_strTo.IsEmpty() || g_strFrom.IsEmpty()) {
    OnGiftSettings();
    return;
  }
  const CString shown = ShownImagePath();
  if (!CheckMailablePath(shown)) return;
  CString missing;
  const std::vector<CString> paths = ExistingAttachments(shown, missing);
  if (paths.empty()) {
    InvalidateRect(nullptr, TRUE);
    AfxMessageBox("not found, nothing sent:" + missing);
    return;
  }
  // The images count as sent only once the sender has them; after a failure the stack stays
  // as it was, so that the user can send again.
  // Numbered across the whole run, so that the end of a send can never be taken for another's.
  static LPARAM nLastSend = 0;
  const LPARAM nSend = ++nLastSend;
  CString strJobName;
  if (!HandOverMailJob(MakeAttachmentLine(paths), nSend, strJobName)) return;
  for (const CString& path : paths) g_mapGiftState[path] = nullptr;  // sent
  m_mapSending[nSend] = CGiftSend{paths, strJobName};
  m_mapStack.RemoveAll();
  InvalidateRect(nullptr, TRUE);
  if (!missing.IsEmpty()) AfxMessageBox("not found, left out of the mail:" + missing);
}

BOOL CVimoView::HandOverMailJob(const CString& attachments, LPARAM nSend, CString& strJobName) {
  char tempFolder[256] = "";
  char jobPath[MAX_PATH] = "";
  const DWORD folderLength = GetTempPathA(sizeof(tempFolder), tempFolder);
  if (folderLength == 0 || folderLength >= sizeof(tempFolder) ||
      GetTempFileNameA(tempFolder, "VIM", 0, jobPath) == 0) {
    AfxMessageBox("cannot open temp file");
    return FALSE;
  }
  const CString text =
      MakeMailJobText(g_szLogPath, g_strServer, g_strTo, g_strFrom, g_strSubject, attachments, g_strBody);
  const int written = WriteMailJobFile(jobPath, text);
  if (written <= 0) {
    DeleteFileA(jobPath);
    AfxMessageBox(written == 0 ? "cannot open temp file" : "cannot write temp file");
    return FALSE;
  }
  // Quoted, the path reaches the sender as one argument whatever blanks it holds.
  CString command;
  command.Format("Postmx.exe /d %s", vimo::platform::QuoteCommandLineArgument(jobPath).c_str());
  if (command.GetLength() >= 512 || WinExecNotify(command, 0, m_hWnd, WM_GIFT_SENDER_EXIT, nSend) <= 31) {
    DeleteFileA(jobPath);
    AfxMessageBox("Postmx.exe cannot start");
    return FALSE;
  }
  const char* name = std::strrchr(jobPath, '/');
  strJobName = name != nullptr ? name + 1 : jobPath;
  return TRUE;
}

LRESULT CVimoView::OnGiftSenderExit(WPARAM wParam, LPARAM lParam) {
  const auto sending = m_mapSending.find(lParam);
  if (sending == m_mapSending.end()) return 0;
  const CGiftSend send = sending->second;
  m_mapSending.erase(sending);
  if (wParam == 0) return 0;
  // The mail did not go out: the images are stacked again, ready for another try.
  for (const CString& path : send.paths) {
    m_mapStack[path] = nullptr;
    g_mapGiftState[path] = reinterpret_cast<void*>(1);
  }
  InvalidateRect(nullptr, TRUE);
  AfxMessageBox(SendFailureReason(g_szLogPath, send.strJobName, static_cast<int>(wParam)));
  return 0;
}

// ---- the mouse ----------------------------------------------------------------------------------

void CVimoView::BeginPan(CPoint point) {
  m_bPanning = TRUE;
  m_ptPanFrom = point;
  m_ptScrollFrom = GetScrollPosition();
}

void CVimoView::EndPan() { m_bPanning = FALSE; }

void CVimoView::OnMouseMove(UINT nFlags, CPoint point) {
  if (!m_bPanning || !(nFlags & (MK_LBUTTON | MK_MBUTTON))) return;
  // The picture follows the pointer; the scroll range keeps it from leaving the window.
  ScrollToPosition(POINT{m_ptScrollFrom.x - (point.x - m_ptPanFrom.x), m_ptScrollFrom.y - (point.y - m_ptPanFrom.y)});
}

void CVimoView::OnMButtonDown(UINT /*nFlags*/, CPoint point) { BeginPan(point); }

void CVimoView::OnMButtonUp(UINT /*nFlags*/, CPoint /*point*/) { EndPan(); }

void CVimoView::OnLButtonDblClk(UINT /*nFlags*/, CPoint /*point*/) {
  const BOOL bWasFullScreen = IsFullScreen();
  if (m_bSlideshow) EndSlideshow();
  if (IsFullScreen() == bWasFullScreen) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
}

void CVimoView::OnContextMenu(CWnd* /*pWnd*/, CPoint point) {
  if (point.x == -1 && point.y == -1) {
    point = ClientCentre();
    ClientToScreen(&point);
  }
  CMenu menu;
  if (!menu.LoadMenu(IDR_IMAGE_CONTEXT)) return;
  if (CMenu* pPopup = menu.GetSubMenu(0)) pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, GetParentFrame());
}

void CVimoView::OnViewKeepZoom() {
  g_bKeepZoom = g_bKeepZoom ? 0 : 1;
  WriteViewPreference("KeepZoom", g_bKeepZoom);
}

void CVimoView::OnUpdateViewKeepZoom(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bKeepZoom); }

// ---- the slideshow ------------------------------------------------------------------------------

void CVimoView::OnViewSlideshow() {
  if (m_bSlideshow) {
    EndSlideshow();
    return;
  }
  m_bSlideshow = TRUE;
  m_bSlideshowPaused = FALSE;
  m_bSlideshowMadeFullScreen = !IsFullScreen();
  if (m_bSlideshowMadeFullScreen) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
  WaitForSlide();
}

void CVimoView::OnUpdateViewSlideshow(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_bSlideshow || GetDocument()->m_pDib != nullptr);
  pCmdUI->SetCheck(m_bSlideshow ? 1 : 0);
}

BOOL CVimoView::OnViewSlideshowInterval(UINT nID) {
  for (const auto& interval : kSlideshowIntervals) {
    if (interval.nID == nID) g_nSlideshowSeconds = interval.nSeconds;
  }
  WriteViewPreference("SlideshowSeconds", g_nSlideshowSeconds);
  WaitForSlide();
  return TRUE;
}

void CVimoView::OnUpdateViewSlideshowInterval(CCmdUI* pCmdUI) {
  for (const auto& interval : kSlideshowIntervals) {
    if (interval.nID == pCmdUI->m_nID) pCmdUI->SetCheck(interval.nSeconds == g_nSlideshowSeconds ? 1 : 0);
  }
}

void CVimoView::WaitForSlide() {
  if (m_bSlideshow && !m_bSlideshowPaused) SetTimer(kSlideshowTimer, static_cast<UINT>(g_nSlideshowSeconds) * 1000);
}

void CVimoView::EndSlideshow() {
  KillTimer(kSlideshowTimer);
  m_bSlideshow = FALSE;
  if (m_bSlideshowMadeFullScreen && IsFullScreen()) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
  m_bSlideshowMadeFullScreen = FALSE;
}

void CVimoView::OnSlideshowStep() {
  CFrameWnd* pFrame = GetParentFrame();
  // Left full screen another way (F11): the slideshow is over.
  if (!IsFullScreen()) {
    EndSlideshow();
    return;
  }
  // A message box is open, or the image asked for is still being converted: this step waits.
  CVimoDoc* pDoc = GetDocument();
  if (pFrame->InModalState() || pDoc->m_nNextWanted > 0) return;
  CConvertQueue& queue = pDoc->m_queue;
  if (!queue.CanNext() && !queue.IsNextComing()) {
    EndSlideshow();  // the last image of the browse order stays, in the window
    return;
  }
  OnGoNext();
}

// ---- the clipboard ------------------------------------------------------------------------------

void CVimoView::OnEditCopy() {
  CLayout layout;
  if (!GetLayout(layout)) return;
  if (!CClipboardOffer::CopyImage(*GetDocument(), layout.rcSource, layout.nOrientation, ShownImagePath()))
    AfxMessageBox("cannot copy, out of memory\n" + ShownImagePath());
}

void CVimoView::OnEditCopyPath() {
  if (!CClipboardOffer::CopyPath(ShownImagePath())) AfxMessageBox("cannot copy, out of memory\n" + ShownImagePath());
}

// ---- the turn saved into the file ---------------------------------------------------------------

void CVimoView::OnUpdateImageSaveTurn(CCmdUI* pCmdUI) {
  CVimoDoc* pDoc = GetDocument();
  pCmdUI->Enable(pDoc->m_pDib != nullptr && !pDoc->GetTitle().IsEmpty() && m_bShownJpeg &&
                 (ShownTurn() != 1 || pDoc->m_nOrientation != 1));
}

void CVimoView::OnImageSaveTurn() {
  CVimoDoc* pDoc = GetDocument();
  const CString path = ShownImagePath();
  const int nTurn = ShownTurn();
  CLosslessTurn turn;
  if (!turn.Load(path)) {
    AfxMessageBox("cannot turn, not a readable JPEG file\n" + path);
    return;
  }
  int nKeptWidth = 0;
  int nKeptHeight = 0;
  const BOOL bWhole = turn.IsWhole(nTurn, nKeptWidth, nKeptHeight);
  if (!bWhole) {
    // The sizes as the picture is shown.
    const BOOL bSideways = nTurn >= 5;
    CString question;
    question.Format("この画像の幅か高さがJPEGのﾌﾞﾛｯｸの倍数ではないため、画質を保って回転すると端が切り取られます "
                    "(%d x %d → %d x %d ﾋﾟｸｾﾙ)。\n端を切り取って回転しますか?",
                    bSideways ? turn.GetHeight() : turn.GetWidth(), bSideways ? turn.GetWidth() : turn.GetHeight(),
                    bSideways ? nKeptHeight : nKeptWidth, bSideways ? nKeptWidth : nKeptHeight);
    if (AfxMessageBox(question, MB_OKCANCEL) != IDOK) return;
  }
  switch (turn.Save(nTurn, !bWhole)) {
    case CLosslessTurn::Result::kDone:
      break;
    case CLosslessTurn::Result::kNotWritten:
      AfxMessageBox("cannot write the turned file, the file is unchanged\n" + path + "\n" + std::strerror(turn.GetError()));
      return;
    default:
      // Damaged data, or an EXIF block that cannot be written back.
      AfxMessageBox("cannot turn without loss, the file is unchanged\n" + path);
      return;
  }
  // Its thumbnails in the desktop's cache show the old turn: they go, and are made again.
  CThumbnailCache::ForgetFile(path);

  // The converted file is not made again: it is shown turned as the file is now, and cut to
  // what the file kept.
  CLayout layout;
  if (GetLayout(layout)) {
    const CRect kept = COrientation::StoredRect(m_convertedTurn.nOrientation, CRect(0, 0, nKeptWidth, nKeptHeight),
                                                CSize(layout.rcSource.Width(), layout.rcSource.Height()));
    CConvertedTurn converted;
    converted.nOrientation = COrientation::Compose(m_convertedTurn.nOrientation, nTurn);
    converted.left = layout.rcSource.left + kept.left;
    converted.top = layout.rcSource.top + kept.top;
    converted.right = layout.rcSource.left + kept.right;
    converted.bottom = layout.rcSource.top + kept.bottom;
    pDoc->m_queue.MarkShownTurned(converted);
    m_convertedTurn = converted;
  }
  pDoc->m_nOrientation = 1;
  m_nQuarterTurns = 0;
  CLayout turned;
  FitScrollSizesToImage(turned);
  Invalidate(TRUE);
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_IMAGE_SHOWN, TRUE);
}
