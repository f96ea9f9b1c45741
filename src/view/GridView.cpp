#include "view/GridView.h"

#include <algorithm>
#include <thread>

#include "app/Globals.h"
#include "convert/ImageFacts.h"
#include "doc/ExifOrientation.h"
#include "doc/PictureCopy.h"
#include "doc/VimoDoc.h"
#include "frame/MainFrm.h"
#include "res/Resource.h"
#include "settings/Preferences.h"
#include "view/CopyDlg.h"
#include "view/ImageGift.h"
#include "view/VimoView.h"
#include "view/Wallpaper.h"

IMPLEMENT_DYNCREATE(CGridView, CView)

BEGIN_MESSAGE_MAP(CGridView, CView)
  ON_NOTIFY(LVN_GETDISPINFO, IDC_GRID_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_ODCACHEHINT, IDC_GRID_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_GETINFOTIP, IDC_GRID_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_ITEMACTIVATE, IDC_GRID_LIST, OnItemActivate)
  ON_NOTIFY(LVN_KEYDOWN, IDC_GRID_LIST, OnListKeyDown)
  ON_NOTIFY(LVN_BEGINDRAG, IDC_GRID_LIST, OnBeginDrag)
  ON_WM_LBUTTONUP()
  ON_WM_CONTEXTMENU()
  ON_COMMAND(ID_IMAGE_RESIZE, OnImageResize)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_RESIZE, OnUpdateImageResize)
  ON_MESSAGE(WM_THUMBNAILS_READY, OnThumbnailsReady)
  ON_COMMAND(ID_GIFT_STACK, OnGiftStack)
  ON_UPDATE_COMMAND_UI(ID_GIFT_STACK, OnUpdateSelection)
  ON_COMMAND(ID_IMAGE_DELETE, OnImageDelete)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_DELETE, OnUpdateSelection)
  ON_COMMAND(ID_FILE_RENAME, OnFileRename)
  ON_UPDATE_COMMAND_UI(ID_FILE_RENAME, OnUpdateSelection)
  ON_COMMAND(ID_FILE_COPY_TO, OnFileCopyTo)
  ON_UPDATE_COMMAND_UI(ID_FILE_COPY_TO, OnUpdateSelection)
  ON_COMMAND(ID_FILE_MOVE_TO, OnFileMoveTo)
  ON_UPDATE_COMMAND_UI(ID_FILE_MOVE_TO, OnUpdateSelection)
  ON_COMMAND(ID_FILE_OPEN_WITH, OnFileOpenWith)
  ON_UPDATE_COMMAND_UI(ID_FILE_OPEN_WITH, OnUpdateSelection)
  ON_COMMAND(ID_EDIT_SELECT_ALL, OnEditSelectAll)
  ON_UPDATE_COMMAND_UI(ID_EDIT_SELECT_ALL, OnUpdateEditSelectAll)
  ON_COMMAND(ID_IMAGE_PRINT, OnImagePrint)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_PRINT, OnUpdateFocused)
  ON_COMMAND(ID_IMAGE_WALLPAPER, OnImageWallpaper)
  ON_UPDATE_COMMAND_UI(ID_IMAGE_WALLPAPER, OnUpdateFocused)
END_MESSAGE_MAP()

namespace {

// The grid's thumbnails are made on a thread for each core, up to four: they are what the user
// waits for while the grid is shown.
int GridThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

}  // namespace

CGridView::CGridView() : m_thumbnails(GridThreads(), TRUE, FALSE), m_fileCommands(this) {}

CGridView::~CGridView() = default;

CVimoDoc* CGridView::GetDocument() const { return DYNAMIC_DOWNCAST(CVimoDoc, CView::GetDocument()); }

BOOL CGridView::OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery) {
  if (m_fileCommands.OnCmdMsg(nID, nCode, pExtra, bQuery) || CView::OnCmdMsg(nID, nCode, pExtra, bQuery)) return TRUE;
  // Gift's settings and send are the image view's, whichever view is shown; the stack (F5) is
  // the grid's own, above.
  CVimoView* pImageView = GetImageView();
  if ((nID != ID_GIFT_SETTINGS && nID != ID_GIFT_SEND) || pImageView == nullptr) return FALSE;
  if (!pImageView->m_gift.OnCmdMsg(nID, nCode, pExtra, bQuery)) return FALSE;
  // A send empties the stack: the marks go.
  if (nCode == CN_COMMAND) m_wndList.RedrawItems(0, m_wndList.GetItemCount() - 1);
  return TRUE;
}

CVimoView* CGridView::GetImageView() const {
  CVimoDoc* pDoc = GetDocument();
  if (pDoc == nullptr) return nullptr;
  for (POSITION pos = pDoc->GetFirstViewPosition(); pos != nullptr;) {
    if (auto* pView = DYNAMIC_DOWNCAST(CVimoView, pDoc->GetNextView(pos))) return pView;
  }
  return nullptr;
}

void CGridView::OnInitialUpdate() {
  if (m_wndList.GetWidget() != nullptr) return;
  const CRect whole;
  m_wndList.Create(WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_OWNERDATA | LVS_SHOWSELALWAYS, whole, this, IDC_GRID_LIST);
  m_thumbnails.SetMark(&IsGiftStacked, GiftMarkPicture(g_nThumbnailSize));
  m_thumbnails.SetCaptionTaken(g_bCaptionTaken);
  m_thumbnails.Create(&m_wndList, this, g_nThumbnailSize);
}

void CGridView::OnDraw(CDC* /*pDC*/) {}

void CGridView::OnUpdate(CView* /*pSender*/, LPARAM lHint, CObject* /*pHint*/) {
  if (lHint == CVimoDoc::kHintGiftStack) {
    if (m_wndList.GetWidget() != nullptr) m_wndList.RedrawItems(0, m_wndList.GetItemCount() - 1);
    return;
  }
  // An animation's next frame changes neither the list nor the image shown.
  if (lHint != CVimoDoc::kHintNextFrame && IsWindowVisible()) ShowList(TRUE);
}

void CGridView::ShowList(BOOL bSelectShown) {
  CVimoDoc* pDoc = GetDocument();
  if (pDoc == nullptr || m_wndList.GetWidget() == nullptr) return;
  if (m_nGeneration != pDoc->m_images.GetGeneration()) {
    m_nGeneration = pDoc->m_images.GetGeneration();
    m_thumbnails.SetImages(pDoc);
    m_wndList.SetItemState(-1, 0, LVIS_SELECTED);
    m_wndList.SetItemCountEx(pDoc->m_images.GetCount());
    bSelectShown = TRUE;
  }
  if (!bSelectShown) return;
  int shown = pDoc->GetShownIndex();
  if (shown < 0) shown = std::max(0, GetFocusedIndex());
  if (shown >= m_wndList.GetItemCount()) return;
  m_wndList.SetItemState(-1, 0, LVIS_SELECTED);
  m_wndList.SetItemState(shown, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  m_wndList.SetSelectionMark(shown);
  m_wndList.EnsureVisible(shown, FALSE);
}

int CGridView::GetFocusedIndex() const { return m_wndList.GetNextItem(-1, LVNI_FOCUSED); }

void CGridView::SetThumbnailSize(int cx) { m_thumbnails.SetSize(cx); }

void CGridView::StopThumbnails() { m_thumbnails.Stop(); }

void CGridView::OnThumbnailNotify(NMHDR* pNotifyStruct, LRESULT* /*pResult*/) { m_thumbnails.OnNotify(*pNotifyStruct); }

LRESULT CGridView::OnThumbnailsReady(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  m_thumbnails.OnThumbnailsReady();
  return 0;
}

void CGridView::OnItemActivate(NMHDR* pNotifyStruct, LRESULT* /*pResult*/) {
  const int nItem = reinterpret_cast<NMITEMACTIVATE*>(pNotifyStruct)->iItem;
  m_wndList.SetItemState(nItem, LVIS_FOCUSED, LVIS_FOCUSED);
  if (CFrameWnd* pFrame = GetParentFrame()) pFrame->SendMessage(WM_SHOW_IMAGE, static_cast<WPARAM>(nItem));
}

void CGridView::OnListKeyDown(NMHDR* pNotifyStruct, LRESULT* /*pResult*/) {
  if (reinterpret_cast<NMLVKEYDOWN*>(pNotifyStruct)->wVKey != VK_ESCAPE) return;
  CFrameWnd* pFrame = GetParentFrame();
  if (pFrame != nullptr && GetDocument()->m_pDib != nullptr) pFrame->SendMessage(WM_SHOW_IMAGE, kShownImage);
}

std::vector<int> CGridView::SelectedIndexes() const {
  std::vector<int> indexes;
  for (int nItem = m_wndList.GetNextItem(-1, LVNI_SELECTED); nItem >= 0; nItem = m_wndList.GetNextItem(nItem, LVNI_SELECTED))
    indexes.push_back(nItem);
  return indexes;
}

void CGridView::OnBeginDrag(NMHDR* /*pNotifyStruct*/, LRESULT* /*pResult*/) {
  std::vector<CString> paths;
  for (const int nItem : SelectedIndexes()) paths.push_back(m_thumbnails.PathOf(nItem));
  HGLOBAL hDrop = paths.empty() ? nullptr : CVimoView::CreateDropFiles(paths);
  if (hDrop == nullptr) return;
  m_dataSource.CacheGlobalData(CF_HDROP, hDrop);
  g_bDragging = 1;
  m_dataSource.DoDragDrop(DROPEFFECT_COPY | DROPEFFECT_MOVE, nullptr, nullptr);
  // Cleared only once the messages the drag left queued have been handled, as the image view does.
  PostMessage(WM_LBUTTONUP);
}

void CGridView::OnLButtonUp(UINT /*nFlags*/, CPoint /*point*/) { g_bDragging = 0; }

void CGridView::OnContextMenu(CWnd* /*pWnd*/, CPoint point) {
  if (point.x == -1 && point.y == -1) {
    CRect rect;
    const int nFocus = GetFocusedIndex();
    CWnd* pOver = &m_wndList;
    if (nFocus < 0 || !m_wndList.GetItemRect(nFocus, &rect, LVIR_BOUNDS)) {
      GetClientRect(&rect);
      pOver = this;
    }
    point = CPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    pOver->ClientToScreen(&point);
  }
  CMenu menu;
  if (!menu.LoadMenu(IDR_GRID_CONTEXT)) return;
  if (CMenu* pPopup = menu.GetSubMenu(0)) pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, GetParentFrame());
}

void CGridView::OnGiftStack() {
  CVimoView* pImageView = GetImageView();
  if (pImageView == nullptr) return;
  int nStacked = 0;
  int nAlready = 0;
  for (const int nItem : SelectedIndexes()) {
    const CString path = m_thumbnails.PathOf(nItem);
    if (IsGiftStacked(path)) ++nAlready;
    else if (pImageView->m_gift.Stack(path)) ++nStacked;
  }
  if (nStacked > 0) {
    pImageView->Invalidate(TRUE);
    m_wndList.RedrawItems(0, m_wndList.GetItemCount() - 1);
  }
  CString notice;
  if (nAlready > 0) notice.Format("%d 枚をｽﾀｯｸしました (%d 枚はｽﾀｯｸ済み)", nStacked, nAlready);
  else notice.Format("%d 枚をｽﾀｯｸしました", nStacked);
  if (auto* pFrame = DYNAMIC_DOWNCAST(CMainFrame, GetParentFrame())) pFrame->ShowNotice(notice);
}

void CGridView::OnUpdateSelection(CCmdUI* pCmdUI) { pCmdUI->Enable(m_wndList.GetSelectedCount() > 0); }

void CGridView::OnEditSelectAll() { m_wndList.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED); }

void CGridView::OnUpdateEditSelectAll(CCmdUI* pCmdUI) { pCmdUI->Enable(m_wndList.GetItemCount() > 0); }

void CGridView::OnUpdateFocused(CCmdUI* pCmdUI) { pCmdUI->Enable(GetFocusedIndex() >= 0); }

void CGridView::OnImagePrint() {
  const int nFocused = GetFocusedIndex();
  CVimoDoc* pDoc = GetDocument();
  POSITION pos = pDoc->GetFirstViewPosition();
  auto* pImageView = DYNAMIC_DOWNCAST(CVimoView, pDoc->GetNextView(pos));
  CFrameWnd* pFrame = GetParentFrame();
  if (nFocused < 0 || pImageView == nullptr || pFrame == nullptr) return;
  pImageView->PrintWhenShown(m_thumbnails.PathOf(nFocused));
  pFrame->SendMessage(WM_SHOW_IMAGE, static_cast<WPARAM>(nFocused));
}

void CGridView::OnImageWallpaper() {
  const int nFocused = GetFocusedIndex();
  if (nFocused >= 0) CWallpaper::Set(m_thumbnails.PathOf(nFocused));
}

void CGridView::OnImageDelete() {
  const std::vector<int> indexes = SelectedIndexes();
  if (indexes.empty()) return;
  std::vector<CString> paths;
  for (const int nItem : indexes) paths.push_back(m_thumbnails.PathOf(nItem));
  const std::vector<CString> went = m_fileCommands.Delete(paths);
  if (went.empty()) return;
  CVimoDoc* pDoc = GetDocument();
  std::vector<CString> names;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (std::find(went.begin(), went.end(), paths[i]) != went.end()) names.push_back(pDoc->m_images.GetName(indexes[i]));
  }
  pDoc->ForgetImages(names);
  // The focus stays where the first of them was.
  const int next = std::min(indexes.front(), m_wndList.GetItemCount() - 1);
  if (next < 0) return;
  m_wndList.SetItemState(-1, 0, LVIS_SELECTED);
  m_wndList.SetItemState(next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  m_wndList.SetSelectionMark(next);
  m_wndList.EnsureVisible(next, FALSE);
}

void CGridView::OnUpdateImageResize(CCmdUI* pCmdUI) { pCmdUI->Enable(GetChosenCount() == 1); }

void CGridView::OnImageResize() {
  const std::vector<int> indexes = SelectedIndexes();
  if (indexes.size() != 1) return;
  const CString path = m_thumbnails.PathOf(indexes[0]);
  // As the image view would show it: its EXIF turn while photos are shown upright.
  const int nTurn = g_bPhotosUpright ? ReadExifOrientation(path) : 1;
  const ImageFacts facts = ReadImageFacts(path);
  if (facts.width == 0 || facts.height == 0 || facts.width > 0x7FFFFFFF || facts.height > 0x7FFFFFFF) {
    AfxMessageBox("cannot make a copy, the picture cannot be read\n" + path);
    return;
  }
  const int nWidth = static_cast<int>(facts.width);
  const int nHeight = static_cast<int>(facts.height);
  CCopyDlg dialog(path, nTurn >= 5 ? CSize(nHeight, nWidth) : CSize(nWidth, nHeight), FALSE, FALSE, this);
  if (dialog.DoModal() != IDOK) return;
  CString error;
  if (!CPictureCopy::Write(path, nTurn, dialog.m_choice, error)) {
    AfxMessageBox(error);
    return;
  }
  if (dialog.m_choice.strTarget == path) RemakeThumbnail(indexes[0]);
}

std::vector<CString> CGridView::SelectedPaths() const {
  std::vector<CString> paths;
  for (const int nItem : SelectedIndexes()) paths.push_back(m_thumbnails.PathOf(nItem));
  return paths;
}

CString CGridView::OneSelectedPath() const {
  const int focused = GetFocusedIndex();
  if (focused >= 0 && (m_wndList.GetItemState(focused, LVIS_SELECTED) & LVIS_SELECTED) != 0) return m_thumbnails.PathOf(focused);
  const std::vector<int> indexes = SelectedIndexes();
  return indexes.empty() ? CString() : m_thumbnails.PathOf(indexes.front());
}

void CGridView::OnFileRename() {
  const CString path = OneSelectedPath();
  if (!path.IsEmpty()) m_fileCommands.Rename(path);
}

void CGridView::OnFileCopyTo() { m_fileCommands.CopyTo(SelectedPaths(), FALSE); }

void CGridView::OnFileMoveTo() {
  const std::vector<int> indexes = SelectedIndexes();
  const std::vector<CString> paths = SelectedPaths();
  const std::vector<CString> moved = m_fileCommands.CopyTo(paths, TRUE);
  if (moved.empty()) return;
  CVimoDoc* pDoc = GetDocument();
  std::vector<CString> names;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (std::find(moved.begin(), moved.end(), paths[i]) != moved.end()) names.push_back(pDoc->m_images.GetName(indexes[i]));
  }
  pDoc->ForgetImages(names);
}

void CGridView::OnFileOpenWith() {
  const CString path = OneSelectedPath();
  if (!path.IsEmpty()) m_fileCommands.OpenWith(path);
}
