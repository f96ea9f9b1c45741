#include "frame/MainFrm.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/Globals.h"
#include "app/VimoApp.h"
#include "convert/ExifBlock.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "view/ImageInfo.h"
#include "view/GridView.h"
#include "view/VimoView.h"

IMPLEMENT_DYNCREATE(CMainFrame, CSDIRememberFrame)

BEGIN_MESSAGE_MAP(CMainFrame, CSDIRememberFrame)
  ON_WM_CREATE()
  ON_COMMAND(ID_IMAGE_OPEN, OnImageOpen)
  ON_MESSAGE(WM_FIT_IMAGE, OnFitImage)
  ON_MESSAGE(WM_POLL_QUEUE, OnPollQueue)
  ON_COMMAND(ID_VIEW_FULL_SCREEN, OnViewFullScreen)
  ON_UPDATE_COMMAND_UI(ID_VIEW_FULL_SCREEN, OnUpdateViewFullScreen)
  ON_WM_CLOSE()
  ON_COMMAND(ID_VIEW_INFO, OnViewInfo)
  ON_UPDATE_COMMAND_UI(ID_VIEW_INFO, OnUpdateControlBarMenu)
  ON_MESSAGE(WM_IMAGE_SHOWN, OnImageShown)
  ON_MESSAGE(WM_SHOW_IMAGE, OnShowImage)
  ON_MESSAGE(WM_FOLDER_CHANGED, OnFolderChanged)
  ON_WM_DESTROY()
  ON_COMMAND(ID_FILE_OPEN_FOLDER, OnFileOpenFolder)
  ON_COMMAND(ID_VIEW_GRID, OnViewGrid)
  ON_UPDATE_COMMAND_UI(ID_VIEW_GRID, OnUpdateViewGrid)
  ON_UPDATE_COMMAND_UI(ID_INDICATOR_PLACE, OnUpdateIndicatorPlace)
  ON_COMMAND(ID_VIEW_FILM_STRIP, OnViewFilmStrip)
  ON_UPDATE_COMMAND_UI(ID_VIEW_FILM_STRIP, OnUpdateViewFilmStrip)
  ON_COMMAND_EX_RANGE(ID_VIEW_THUMB_128, ID_VIEW_THUMB_256, OnViewThumbnailSize)
  ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_THUMB_128, ID_VIEW_THUMB_256, OnUpdateViewThumbnailSize)
  ON_COMMAND_EX_RANGE(ID_VIEW_CAPTION_NAME, ID_VIEW_CAPTION_TAKEN, OnViewCaption)
  ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_CAPTION_NAME, ID_VIEW_CAPTION_TAKEN, OnUpdateViewCaption)
END_MESSAGE_MAP()

namespace {

// The status bar has the message pane only.
constexpr UINT kIndicators[] = {ID_SEPARATOR, ID_INDICATOR_PLACE};

constexpr DWORD kToolBarStyle = 0x50002800;    // child, visible, top, border below
constexpr DWORD kStatusBarStyle = 0x50008200;  // child, visible, bottom, border above

// The profile's "BarSpace" entry: the bars' space around the image (left, top, right, bottom),
// as GetBarSpace measured it when the window last closed.
constexpr char kBarSpaceEntry[] = "BarSpace";

CRect ReadBarSpace() {
  const CString text = AfxGetApp()->GetProfileString("View", kBarSpaceEntry, "");
  int values[4] = {0, 0, 0, 0};
  char rest = 0;
  if (std::sscanf(text, "%d %d %d %d %c", &values[0], &values[1], &values[2], &values[3], &rest) != 4)
    return CRect();
  for (const int value : values) {
    if (value < 0 || value > 2000) return CRect();
  }
  return CRect(values[0], values[1], values[2], values[3]);
}

}  // namespace

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() = default;

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) {
  cs.cx = 400;
  cs.cy = 400;
  m_barSpace = ReadBarSpace();
  if (!m_barSpace.IsRectNull()) cs.hMenu = 0;
  return CFrameWnd::PreCreateWindow(cs);
}

int CMainFrame::OnCreate(LPCREATESTRUCT lpCreateStruct) {
  if (CFrameWnd::OnCreate(lpCreateStruct) == -1) return -1;
  // The menu and the bars need the fonts, which the first picture does not.
  if (!m_barSpace.IsRectNull()) {
    ReserveBarSpace(m_barSpace);
    return 0;
  }
  return MakeBars() ? 0 : -1;
}

void CMainFrame::OnFirstPaint() {
  if (m_bBarsMade) return;
  // The view moves while the bars are laid out one by one, and ends where it was: only the end
  // is painted.
  SetRedraw(FALSE);
  // The space kept goes before the bars come: kept beside them, it would count twice in the least
  // size the window allows, and a small window would grow by it.
  ReserveBarSpace(CRect());
  LoadMenuBar(IDR_MAINFRAME);
  if (MakeBars()) {
    // As the first activation would have done with the bars there: the strip before the state
    // that shows it.
    if (IsFilmStripSaved()) MakeFilmStrip();
    LoadBarState(AfxGetApp()->m_pszProfileName);
    m_bFilmStripWanted = m_wndFilmStrip.IsVisible();
    // The panel kept shown describes the image the first paint showed.
    if (m_wndInfoBar.IsVisible()) DescribeShownImage();
    if (IsFullScreen()) HideBarsForFullScreen();
    else PlaceFilmStrip();
  }
  ReserveBarSpace(CRect());  // laid out before painting resumes
  SetRedraw(TRUE);
}

BOOL CMainFrame::MakeBars() {
  if (!m_wndToolBar.Create(this, kToolBarStyle, AFX_IDW_TOOLBAR) || !m_wndToolBar.LoadToolBar(IDR_MAINFRAME))
    return FALSE;
  if (!m_wndStatusBar.Create(this, kStatusBarStyle, AFX_IDW_STATUS_BAR) ||
      !m_wndStatusBar.SetIndicators(kIndicators, static_cast<int>(std::size(kIndicators))))
    return FALSE;
  m_wndToolBar.SetBarStyle(m_wndToolBar.GetBarStyle() | CBRS_TOOLTIPS | CBRS_FLYBY | CBRS_SIZE_DYNAMIC);
  m_wndToolBar.EnableDocking(CBRS_ALIGN_ANY);
  EnableDocking(CBRS_ALIGN_ANY);
  DockControlBar(&m_wndToolBar);
  // The panel beside the image, hidden until the user asks for it; remembered like the tool bar.
  if (!m_wndInfoBar.Create(this, "画像の情報", WS_CHILD | CBRS_ALIGN_RIGHT, ID_VIEW_INFO)) return FALSE;
  m_wndInfoBar.EnableDocking(CBRS_ALIGN_LEFT | CBRS_ALIGN_RIGHT);
  m_bBarsMade = TRUE;
  return TRUE;
}

BOOL CMainFrame::MakeFilmStrip() { return m_wndFilmStrip.GetWidget() != nullptr || m_wndFilmStrip.Create(this); }

BOOL CMainFrame::IsFilmStripSaved() const {
  CWinApp* pApp = AfxGetApp();
  for (int nBar = 0; nBar < 64; ++nBar) {
    CString section;
    section.Format("%s-Bar%d", pApp->m_pszProfileName, nBar);
    const UINT nID = pApp->GetProfileInt(section, "BarID", 0);
    if (nID == 0) return FALSE;
    if (nID == ID_VIEW_FILM_STRIP) return pApp->GetProfileInt(section, "Visible", 0) != 0;
  }
  return FALSE;
}

void CMainFrame::ActivateFrame(int nCmdShow) {
  // The strip's bar is made only for a user who keeps it on, before the bar state is read; with
  // the bars to come after the first picture, it comes with them.
  if (!m_bActivated && m_bBarsMade && IsFilmStripSaved()) MakeFilmStrip();
  CSDIRememberFrame::ActivateFrame(nCmdShow);
  if (m_bActivated) return;
  m_bActivated = TRUE;
  if (m_bBarsMade) m_bFilmStripWanted = m_wndFilmStrip.IsVisible();
  if (m_wndInfoBar.IsVisible()) DescribeShownImage();
  // The grid left showing at the last close comes back for a start on a folder or on nothing; a
  // start on a file shows that file.
  CDocument* pDoc = GetActiveDocument();
  if (pDoc != nullptr && pDoc->GetPathName().IsEmpty() && AfxGetApp()->GetProfileInt("View", "GridShown", 0) != 0)
    ShowGrid(TRUE);
}

BOOL CMainFrame::IsGridShown() const { return m_pGridView != nullptr && GetActiveView() == m_pGridView ? TRUE : FALSE; }

void CMainFrame::ShowGrid(BOOL bShow) {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return;
  if (bShow && m_pGridView == nullptr) {
    CCreateContext context;
    context.m_pNewViewClass = RUNTIME_CLASS(CGridView);
    context.m_pCurrentDoc = pDoc;
    m_pGridView = DYNAMIC_DOWNCAST(CGridView, CreateView(&context));
    if (m_pGridView == nullptr) return;
    m_pGridView->OnInitialUpdate();
  }
  if (bShow != IsGridShown()) {
    m_strNotice.Empty();
    // The read-ahead waits while the grid shows: its thumbnails are what the user waits for.
    pDoc->m_queue.HoldAhead(bShow);
    POSITION pos = pDoc->GetFirstViewPosition();
    CView* pImageView = pDoc->GetNextView(pos);
    SetActiveView(bShow ? m_pGridView : pImageView);
    if (!bShow) {
      m_pGridView->StopThumbnails();
      pImageView->Invalidate(TRUE);
    }
    PlaceFilmStrip();
  }
  if (bShow) m_pGridView->ShowList(TRUE);
}

void CMainFrame::ShowImageOf(int nIndex) {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return;
  ShowGrid(FALSE);
  pDoc->BrowseFrom(nIndex);
}

void CMainFrame::OpenFolder(const char* folder) {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return;
  pDoc->OpenFolder(folder);
  ShowGrid(TRUE);
}

void CMainFrame::OnFileOpenFolder() {
  CVimoDoc* pDoc = GetVimoDocument();
  CFolderPickerDialog dialog(pDoc != nullptr ? pDoc->m_szFolder : nullptr, 0, this);
  dialog.m_lpszTitle = "フォルダを開く";
  if (dialog.DoModal() == IDOK) OpenFolder(dialog.GetPathName());
}

void CMainFrame::OnViewGrid() {
  if (!IsGridShown()) {
    ShowGrid(TRUE);
    return;
  }
  const int focused = m_pGridView->GetFocusedIndex();
  if (focused >= 0) ShowImageOf(focused);
  else ShowGrid(FALSE);  // an empty grid: back to the window as it was
}

void CMainFrame::OnUpdateViewGrid(CCmdUI* pCmdUI) { pCmdUI->SetCheck(IsGridShown()); }

void CMainFrame::PlaceFilmStrip() {
  ShowControlBar(&m_wndFilmStrip, m_bFilmStripWanted && !IsGridShown() && !IsFullScreen(), FALSE);
}

void CMainFrame::OnViewFilmStrip() {
  if (!MakeFilmStrip()) return;
  m_bFilmStripWanted = !m_bFilmStripWanted;
  PlaceFilmStrip();
}

void CMainFrame::OnUpdateViewFilmStrip(CCmdUI* pCmdUI) { pCmdUI->SetCheck(m_bFilmStripWanted); }

BOOL CMainFrame::OnViewThumbnailSize(UINT nID) {
  g_nThumbnailSize = nID == ID_VIEW_THUMB_256 ? 256 : 128;
  WriteViewPreference("ThumbnailSize", g_nThumbnailSize);
  if (m_pGridView != nullptr) m_pGridView->SetThumbnailSize(g_nThumbnailSize);
  return TRUE;
}

void CMainFrame::OnUpdateViewThumbnailSize(CCmdUI* pCmdUI) {
  pCmdUI->SetCheck((pCmdUI->m_nID == ID_VIEW_THUMB_256) == (g_nThumbnailSize == 256) ? 1 : 0);
}

BOOL CMainFrame::OnViewCaption(UINT nID) {
  g_bCaptionTaken = nID == ID_VIEW_CAPTION_TAKEN ? 1 : 0;
  WriteViewPreference("CaptionTaken", g_bCaptionTaken);
  if (m_pGridView != nullptr) m_pGridView->SetCaptionTaken(g_bCaptionTaken);
  return TRUE;
}

void CMainFrame::OnUpdateViewCaption(CCmdUI* pCmdUI) {
  pCmdUI->SetCheck((pCmdUI->m_nID == ID_VIEW_CAPTION_TAKEN) == (g_bCaptionTaken != 0) ? 1 : 0);
}

void CMainFrame::ShowNotice(const CString& text) {
  m_strNotice = text;
  SetMessageText(text);
}

BOOL CMainFrame::OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery) {
  if (nCode == CN_COMMAND && !bQuery && !m_strNotice.IsEmpty()) {
    m_strNotice.Empty();
    SetMessageText(AfxLoadString(AFX_IDS_IDLEMESSAGE));
  }
  return CSDIRememberFrame::OnCmdMsg(nID, nCode, pExtra, bQuery);
}

void CMainFrame::GetMessageString(UINT nID, CString& rMessage) const {
  if (nID == AFX_IDS_IDLEMESSAGE && !m_strNotice.IsEmpty()) {
    rMessage = m_strNotice;
    return;
  }
  CSDIRememberFrame::GetMessageString(nID, rMessage);
  auto* pView = DYNAMIC_DOWNCAST(CVimoView, GetActiveView());
  double dScale = 1.0;
  if (nID != AFX_IDS_IDLEMESSAGE || pView == nullptr || !pView->GetShownScale(dScale)) return;
  // Whole percents, with a tenth below 20 %.
  char text[32];
  std::snprintf(text, sizeof(text), dScale >= 0.2 ? "    %.0f %%" : "    %.1f %%", dScale * 100);
  rMessage += text;
}

void CMainFrame::OnViewFullScreen() {
  const BOOL bFullScreen = !IsFullScreen();
  if (bFullScreen) {
    HideBarsForFullScreen();
  } else {
    ShowBarsAgain();
  }
  // The picture alone: full screen pans it by drag and the arrow keys, without scroll bars.
  if (CVimoView* pImageView = GetImageView()) pImageView->ShowScrollBar(SB_BOTH, !bFullScreen);
  SetFullScreen(bFullScreen);
  PlaceFilmStrip();
  // The view fits and turns black in full screen, even where the window keeps its size.
  if (CView* pView = GetActiveView()) pView->Invalidate(TRUE);
}

void CMainFrame::OnUpdateViewFullScreen(CCmdUI* pCmdUI) { pCmdUI->SetCheck(IsFullScreen() ? 1 : 0); }

void CMainFrame::HideBarsForFullScreen() {
  m_bToolBarShown = m_wndToolBar.IsVisible();
  m_bStatusBarShown = m_wndStatusBar.IsVisible();
  m_bInfoBarShown = m_wndInfoBar.IsVisible();
  ShowControlBar(&m_wndToolBar, FALSE, FALSE);
  ShowControlBar(&m_wndStatusBar, FALSE, FALSE);
  ShowControlBar(&m_wndInfoBar, FALSE, FALSE);
  ShowControlBar(&m_wndFilmStrip, FALSE, FALSE);
  SetMenuBarState(AFX_MBS_HIDDEN);
}

void CMainFrame::ShowBarsAgain() {
  ShowControlBar(&m_wndToolBar, m_bToolBarShown, FALSE);
  ShowControlBar(&m_wndStatusBar, m_bStatusBarShown, FALSE);
  ShowControlBar(&m_wndInfoBar, m_bInfoBarShown, FALSE);
  if (m_bInfoBarShown) DescribeShownImage();
  SetMenuBarState(AFX_MBS_VISIBLE);
}

void CMainFrame::OnViewInfo() {
  const BOOL bShow = !m_wndInfoBar.IsVisible();
  ShowControlBar(&m_wndInfoBar, bShow, FALSE);
  if (bShow) DescribeShownImage();
}

LRESULT CMainFrame::OnImageShown(WPARAM wParam, LPARAM /*lParam*/) {
  CVimoDoc* pDoc = GetVimoDocument();
  const int shown = wParam && pDoc != nullptr ? pDoc->GetShownIndex() : -1;
  if (shown >= 0) {
    // The shown file was rewritten: the pictures the strip and the grid keep of it are old.
    m_wndFilmStrip.RemakeThumbnail(shown);
    if (m_pGridView != nullptr) m_pGridView->RemakeThumbnail(shown);
  }
  m_bInfoStale = TRUE;
  m_strPlaceFile.Empty();
  if (m_wndInfoBar.IsVisible()) DescribeShownImage();
  return 0;
}

LRESULT CMainFrame::OnShowImage(WPARAM wParam, LPARAM /*lParam*/) {
  if (wParam == kShownImage) ShowGrid(FALSE);
  else ShowImageOf(static_cast<int>(wParam));
  return 0;
}

LRESULT CMainFrame::OnFolderChanged(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return 0;
  const CString gone = pDoc->FolderChanged();
  if (gone.IsEmpty()) return 0;
  SendMessage(WM_IMAGE_SHOWN);
  m_strNotice = gone + " は他のﾌﾟﾛｸﾞﾗﾑで削除または移動されました";
  SetMessageText(m_strNotice);
  return 0;
}

void CMainFrame::DescribeShownImage() {
  if (!m_bInfoStale) return;
  m_bInfoStale = FALSE;
  CVimoDoc* pDoc = GetVimoDocument();
  const BOOL bShown = pDoc != nullptr && pDoc->m_pDib != nullptr && !pDoc->GetTitle().IsEmpty();
  m_wndInfoBar.SetText(bShown ? CImageInfo::Describe(pDoc->m_szFolder, pDoc->GetTitle()) : CString());
}

void CMainFrame::OnClose() {
  // What the window keeps of itself goes into the profile in one write, when it has closed.
  const CWinApp::CProfileWriteGroup group(AfxGetApp());
  // The bars' space as the window shows it, for the next start; a window closed full screen, or
  // before its bars came, keeps what was known.
  if (m_bBarsMade && !IsFullScreen()) {
    const CRect space = GetBarSpace();
    CString text;
    text.Format("%d %d %d %d", static_cast<int>(space.left), static_cast<int>(space.top),
                static_cast<int>(space.right), static_cast<int>(space.bottom));
    AfxGetApp()->WriteProfileString("View", kBarSpaceEntry, text);
  }
  // The window stays full screen while it closes, so that its placement is the one it had
  // before; the bars are saved as they were then.
  if (IsFullScreen()) ShowBarsAgain();
  // The film strip's state saved is the user's choice, whether or not the grid hides it now.
  ShowControlBar(&m_wndFilmStrip, m_bFilmStripWanted, FALSE);
  // Whether the grid shows is kept with the window's placement, when it closes: a profile
  // written at each Enter would hold the grid back by the disk's flush.
  WriteViewPreference("GridShown", IsGridShown() ? 1 : 0);
  CSDIRememberFrame::OnClose();
}

void CMainFrame::OnDestroy() {
  m_wndFilmStrip.CloseThumbnails();
  if (m_pGridView != nullptr) m_pGridView->CloseThumbnails();
  CSDIRememberFrame::OnDestroy();
}

CVimoView* CMainFrame::GetImageView() const {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return nullptr;
  POSITION pos = pDoc->GetFirstViewPosition();
  return DYNAMIC_DOWNCAST(CVimoView, pDoc->GetNextView(pos));
}

CVimoDoc* CMainFrame::GetVimoDocument() const {
  CView* pView = GetActiveView();
  return pView != nullptr ? DYNAMIC_DOWNCAST(CVimoDoc, pView->GetDocument()) : nullptr;
}

void CMainFrame::OnImageOpen() {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return;
  pDoc->OpenImages(nullptr);
  // Images chosen are shown, in place of the grid.
  if (g_bPollQueue) ShowGrid(FALSE);
}

LRESULT CMainFrame::OnFitImage(WPARAM wParam, LPARAM lParam) {
  WINDOWPLACEMENT wp;
  wp.length = sizeof(WINDOWPLACEMENT);
  GetWindowPlacement(&wp);
  wp.rcNormalPosition.right = wp.rcNormalPosition.left + static_cast<LONG>(wParam) + 14;
  wp.rcNormalPosition.bottom = wp.rcNormalPosition.top + static_cast<LONG>(lParam) + 136;
  SetWindowPlacement(&wp);
  return 0;
}

LRESULT CMainFrame::OnPollQueue(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  CVimoDoc* pDoc = GetVimoDocument();
  if (pDoc == nullptr) return 0;
  CConvertQueue& queue = pDoc->m_queue;
  // An image asked for while the grid shows (one brought back from the trash) is converted; the
  // read-ahead behind it is held again once it is there.
  queue.HoldAhead(FALSE);
  struct CHoldAgain {
    CMainFrame* pFrame;
    CConvertQueue& queue;
    ~CHoldAgain() {
      if (pFrame->IsGridShown()) queue.HoldAhead(TRUE);
    }
  } holdAgain{this, queue};
  CVimoView* pView = GetImageView();
  int nBudget = 5000;
  while (!queue.CanNext()) {
    // The image shows as it converts, and the conversion's end brings the next wait.
    if (pView != nullptr && pView->LeaveWaitToConversion()) return 0;
    // Woken by the worker's hand-over, so an image is shown as soon as it is converted; only a
    // step that ran its full 50 ms counts against the budget.
    const BOOL bHandedOver = queue.WaitForWorker(50);
    // An image that became ready during the wait is shown before any error that came with
    // it, so an opened file is never hidden behind the error of the one after it; the error
    // waits for the next step forward.
    if (queue.CanNext()) break;
    const CString error = queue.TakeError();
    if (_mbscmp(reinterpret_cast<const unsigned char*>(static_cast<const char*>(error)),
                reinterpret_cast<const unsigned char*>("")) != 0) {
      pDoc->QueueNextImage();
      pDoc->m_nNextWanted = 0;  // the error answers the presses; browsing stops there
      if (pView != nullptr) pView->DropConversion();
      AfxMessageBox(error, MB_OK, 0);
      return 0;
    }
    // Nothing converting, waiting or failed: no image can come, so there is nothing to wait for.
    if (!queue.CanNext() && !queue.IsNextComing()) {
      pDoc->m_nNextWanted = 0;
      if (pView != nullptr) pView->DropConversion();
      return 0;
    }
    if (bHandedOver) continue;
    nBudget -= 50;
    if (nBudget < 0) {
      g_bPollQueue = 1;
      return 0;
    }
  }
  const CString* pPath = queue.Next();
  if (pPath != nullptr) {
    const CString path = *pPath;
    pDoc->LoadDib(path);
  }
  if (queue.HistoryCount() - queue.Index() < 3) pDoc->QueueNextImage();
  // Further presses that came while the worker was behind: the next one is waited for at the
  // next idle moment, after this image has been painted, so every press shows its own image.
  if (pDoc->m_nNextWanted > 0 && --pDoc->m_nNextWanted > 0) g_bPollQueue = 1;
  return 0;
}

void CMainFrame::OnUpdateIndicatorPlace(CCmdUI* pCmdUI) {
  CVimoDoc* pDoc = GetVimoDocument();
  std::string text;
  char piece[64];
  if (pDoc != nullptr && IsGridShown()) {
    // The grid: how many photos, and how many are chosen.
    std::snprintf(piece, sizeof(piece), "%d 枚", pDoc->m_images.GetCount());
    text = piece;
    const int nChosen = m_pGridView->GetChosenCount();
    if (nChosen > 0) {
      std::snprintf(piece, sizeof(piece), "    %d 枚を選択", nChosen);
      text += piece;
    }
  } else if (auto* pView = DYNAMIC_DOWNCAST(CVimoView, GetActiveView()); pDoc != nullptr && pView != nullptr &&
                                                                          !pDoc->GetTitle().IsEmpty()) {
    // The image: its place in the browse list, its pixels, its file's size and when it was taken.
    const int nShown = pDoc->GetShownIndex();
    if (nShown >= 0) {
      std::snprintf(piece, sizeof(piece), "%d / %d", nShown + 1, pDoc->m_images.GetCount());
      text = piece;
    }
    CSize sizeStored;
    CRect rcSource;
    if (pDoc->GetShownSource(sizeStored, rcSource)) {
      std::snprintf(piece, sizeof(piece), "%s%d x %d", text.empty() ? "" : "    ", rcSource.Width(), rcSource.Height());
      text += piece;
    }
    const CString path = pView->ShownImagePath();
    if (path != m_strPlaceFile) {
      m_strPlaceFile = path;
      m_strPlaceFacts = FileFacts(path);
    }
    text += m_strPlaceFacts.str();
  }
  pCmdUI->SetText(text.c_str());
}

CString CMainFrame::FileFacts(const char* path) {
  std::string facts;
  char piece[64];
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path[0] != '\0' && GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    const double dBytes = static_cast<double>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
    if (dBytes >= 1024.0 * 1024.0) std::snprintf(piece, sizeof(piece), "    %.1f MB", dBytes / (1024.0 * 1024.0));
    else std::snprintf(piece, sizeof(piece), "    %.0f KB", std::max(1.0, dBytes / 1024.0));
    facts = piece;
  }
  // "YYYY:MM:DD HH:MM:SS" as "YYYY/MM/DD HH:MM".
  std::string taken = path[0] != '\0' ? CExifBlock(path).GetDateTaken() : std::string();
  if (taken.size() >= 16) {
    taken = taken.substr(0, 16);
    taken[4] = taken[7] = '/';
    facts += "    撮影 " + taken;
  }
  return CString(facts);
}
