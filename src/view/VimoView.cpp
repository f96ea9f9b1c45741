#include "view/VimoView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/Globals.h"
#include "app/VimoApp.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "view/GiftMailJob.h"
#include "view/GiftSettingsDlg.h"
#include "win32/DibLayout.h"
#include "win32/GlobalMemory.h"
#include "win32/ProcessWatch.h"
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
  DrawDibDraw(pDoc->m_hDrawDib, pDC, origin.x, origin.y, layout.sizeShown.cx, layout.sizeShown.cy,
              reinterpret_cast<const BITMAPINFOHEADER*>(pDoc->m_pDib.get()), pDoc->m_pBits, 0, 0, layout.sizeStored.cx,
              layout.sizeStored.cy, 0, layout.nOrientation);
  // At the image's top-left corner as drawn, at the text's own size.
  if (nState == 0) pDC->TextOut(origin.x + 10, origin.y + 10, "Sent");
  else if (nState == 1) pDC->TextOut(origin.x + 10, origin.y + 10, "Stacked");
}

// The new image's size is known before the repaint, so that the erase that precedes it already
// clears everything the previous, larger image covered. A new image starts unzoomed and unturned.
void CVimoView::OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) {
  if (lHint == kHintBrowseList) return;
  m_bZoomed = FALSE;
  m_nQuarterTurns = 0;
  m_nWheel = 0;
  CLayout layout;
  FitScrollSizesToImage(layout);
  CScrollView::OnUpdate(pSender, lHint, pHint);
}

BOOL CVimoView::IsFullScreen() const {
  CFrameWnd* pFrame = GetParentFrame();
  return pFrame != nullptr && pFrame->IsFullScreen();
}

BOOL CVimoView::IsFitted() const { return !m_bZoomed && (g_bFitToWindow || IsFullScreen()); }

BOOL CVimoView::GetLayout(CLayout& layout) const {
  CVimoDoc* pDoc = GetDocument();
  if (pDoc == nullptr || pDoc->m_pDib == nullptr) return FALSE;
  const vimo::platform::DibLayout dib = vimo::platform::ReadDibLayout(pDoc->m_pDib.get(), pDoc->m_nDibSize);
  if (dib.kind == vimo::platform::DibHeaderKind::kNone || dib.width < 0 || dib.height < 0) return FALSE;
  layout.sizeStored = CSize(dib.width, dib.height);
  layout.nOrientation = DrawDibTurnOrientation(g_bPhotosUpright ? pDoc->m_nOrientation : 1, m_nQuarterTurns);
  const BOOL bTurned = layout.nOrientation >= 5;  // shown rows are stored columns
  const double width = bTurned ? dib.height : dib.width;
  const double height = bTurned ? dib.width : dib.height;
  layout.bCentred = g_bFitToWindow || IsFullScreen();
  layout.dScale = m_bZoomed ? m_dZoom : 1.0;
  CRect client;
  GetClientRect(&client);
  if (!m_bZoomed && layout.bCentred && width > 0 && height > 0 && client.Width() > 0 && client.Height() > 0)
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
  if (IsFitted()) {
    // Off: 1:1 from the top-left corner, as without fitting; in full screen, 1:1 for this image.
    g_bFitToWindow = 0;
    if (IsFullScreen()) {
      m_bZoomed = TRUE;
      m_dZoom = 1.0;
    }
  } else {
    g_bFitToWindow = 1;
    m_bZoomed = FALSE;
  }
  WriteViewPreference("FitToWindow", g_bFitToWindow);
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
  if (nDelay == 0) KillTimer(kAnimationTimer);
  else SetTimer(kAnimationTimer, nDelay);
}

void CVimoView::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent != kAnimationTimer) return;
  CVimoDoc* pDoc = GetDocument();
  const UINT nDelay = pDoc != nullptr ? pDoc->StepAnimation() : 0;
  InvalidateRect(nullptr, FALSE);
  PlayAnimation(nDelay);
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
  const CString path = ShownImagePath();
  // Into the desktop's trash, where a deleted photo can be got back; a file that no trash can
  // take (its file system has none) is deleted as it always was.
  if (!vimo::platform::MoveToTrash(path) && std::remove(path) != 0) {
    AfxMessageBox("delete error\n" + path);
    return;
  }
  CVimoDoc* pDoc = GetDocument();
  pDoc->SetTitle("");
  pDoc->m_queue.DeleteCurrent();
}

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
      if (IsFullScreen()) GetParentFrame()->SendMessage(WM_COMMAND, ID_VIEW_FULL_SCREEN);
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
