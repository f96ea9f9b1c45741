#include "view/GridView.h"

#include <algorithm>
#include <thread>

#include "app/Globals.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"
#include "view/VimoView.h"

IMPLEMENT_DYNCREATE(CGridView, CView)

BEGIN_MESSAGE_MAP(CGridView, CView)
  ON_NOTIFY(LVN_GETDISPINFO, IDC_GRID_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_ODCACHEHINT, IDC_GRID_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_GETINFOTIP, IDC_GRID_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_ITEMACTIVATE, IDC_GRID_LIST, OnItemActivate)
  ON_NOTIFY(LVN_KEYDOWN, IDC_GRID_LIST, OnListKeyDown)
  ON_NOTIFY(LVN_BEGINDRAG, IDC_GRID_LIST, OnBeginDrag)
  ON_WM_LBUTTONUP()
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
  ON_WM_CONTEXTMENU()
  ON_COMMAND(ID_EDIT_SELECT_ALL, OnEditSelectAll)
  ON_UPDATE_COMMAND_UI(ID_EDIT_SELECT_ALL, OnUpdateEditSelectAll)
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
  return m_fileCommands.OnCmdMsg(nID, nCode, pExtra, bQuery) || CView::OnCmdMsg(nID, nCode, pExtra, bQuery);
}

void CGridView::OnInitialUpdate() {
  if (m_wndList.GetWidget() != nullptr) return;
  const CRect whole;
  m_wndList.Create(WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_OWNERDATA | LVS_SHOWSELALWAYS, whole, this, IDC_GRID_LIST);
  m_thumbnails.Create(&m_wndList, this, g_nThumbnailSize);
}

void CGridView::OnDraw(CDC* /*pDC*/) {}

void CGridView::OnUpdate(CView* /*pSender*/, LPARAM lHint, CObject* /*pHint*/) {
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

void CGridView::OnGiftStack() {
  CVimoDoc* pDoc = GetDocument();
  POSITION pos = pDoc->GetFirstViewPosition();
  auto* pImageView = DYNAMIC_DOWNCAST(CVimoView, pDoc->GetNextView(pos));
  if (pImageView == nullptr) return;
  BOOL bStacked = FALSE;
  for (const int nItem : SelectedIndexes()) bStacked |= pImageView->m_gift.Stack(m_thumbnails.PathOf(nItem));
  if (bStacked) pImageView->Invalidate(TRUE);
}

void CGridView::OnUpdateSelection(CCmdUI* pCmdUI) { pCmdUI->Enable(m_wndList.GetSelectedCount() > 0); }

void CGridView::OnEditSelectAll() { m_wndList.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED); }

void CGridView::OnUpdateEditSelectAll(CCmdUI* pCmdUI) { pCmdUI->Enable(m_wndList.GetItemCount() > 0); }

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

void CGridView::OnContextMenu(CWnd* /*pWnd*/, CPoint point) {
  if (point.x == -1 && point.y == -1) {
    CRect rc;
    GetClientRect(&rc);
    point = CPoint((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    ClientToScreen(&point);
  }
  CMenu menu;
  if (!menu.LoadMenu(IDR_GRID_CONTEXT)) return;
  if (CMenu* pPopup = menu.GetSubMenu(0)) pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, GetParentFrame());
}
