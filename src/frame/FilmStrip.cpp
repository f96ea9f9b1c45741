#include "frame/FilmStrip.h"

#include "doc/VimoDoc.h"
#include "res/Resource.h"

IMPLEMENT_DYNAMIC(CFilmStrip, CControlBar)

BEGIN_MESSAGE_MAP(CFilmStrip, CControlBar)
  ON_NOTIFY(LVN_GETDISPINFO, IDC_FILM_STRIP_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_ODCACHEHINT, IDC_FILM_STRIP_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_GETINFOTIP, IDC_FILM_STRIP_LIST, OnThumbnailNotify)
  ON_NOTIFY(LVN_ITEMACTIVATE, IDC_FILM_STRIP_LIST, OnItemActivate)
  ON_MESSAGE(WM_THUMBNAILS_READY, OnThumbnailsReady)
END_MESSAGE_MAP()

namespace {

// The strip's pictures, from the cache's smallest thumbnails; its height holds one row of them
// with their names, and a scroll bar.
constexpr int kStripPicture = 64;
constexpr int kStripHeight = 124;

}  // namespace

CFilmStrip::CFilmStrip() : m_thumbnails(1, FALSE, TRUE) {}

CFilmStrip::~CFilmStrip() = default;

BOOL CFilmStrip::Create(CFrameWnd* pParentWnd) {
  return CControlBar::Create(pParentWnd, WS_CHILD | CBRS_BOTTOM, ID_VIEW_FILM_STRIP, kStripHeight);
}

void CFilmStrip::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL /*bDisableIfNoHndler*/) {
  auto* pDoc = DYNAMIC_DOWNCAST(CVimoDoc, pTarget->GetActiveDocument());
  if (pDoc == nullptr) return;
  if (m_wndList.GetWidget() == nullptr) {
    const CRect whole;
    m_wndList.Create(WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_OWNERDATA | LVS_ALIGNLEFT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                     whole, this, IDC_FILM_STRIP_LIST);
    // Photos of one camera differ at the end of their names (IMG_0001.jpg, IMG_0002.jpg): the
    // captions keep it; the tool tip gives the whole name.
    m_wndList.SetExtendedStyle(LVS_EX_ONECLICKACTIVATE | LVS_EX_ELIDESTART);
    m_thumbnails.Create(&m_wndList, this, kStripPicture);
  }
  const int shown = pDoc->GetShownIndex();
  if (m_nGeneration == pDoc->m_images.GetGeneration() && m_nShown == shown) return;
  if (m_nGeneration != pDoc->m_images.GetGeneration()) {
    m_nGeneration = pDoc->m_images.GetGeneration();
    m_thumbnails.SetImages(pDoc);
    m_wndList.SetItemCountEx(pDoc->m_images.GetCount());
  }
  m_nShown = shown;
  m_wndList.SetItemState(-1, 0, LVIS_SELECTED);
  if (shown < 0) return;
  m_wndList.SetItemState(shown, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  Centre(shown);
}

void CFilmStrip::Centre(int nItem) {
  CRect cell;
  CRect client;
  if (!m_wndList.GetItemRect(nItem, &cell, LVIR_BOUNDS)) return;
  m_wndList.GetClientRect(&client);
  m_wndList.Scroll(CSize((cell.left + cell.right) / 2 - client.Width() / 2, 0));
}

void CFilmStrip::OnThumbnailNotify(NMHDR* pNotifyStruct, LRESULT* /*pResult*/) { m_thumbnails.OnNotify(*pNotifyStruct); }

void CFilmStrip::OnItemActivate(NMHDR* pNotifyStruct, LRESULT* /*pResult*/) {
  CFrameWnd* pFrame = GetParentFrame();
  auto* pDoc = pFrame != nullptr ? DYNAMIC_DOWNCAST(CVimoDoc, pFrame->GetActiveDocument()) : nullptr;
  if (pDoc == nullptr) return;
  pDoc->BrowseFrom(reinterpret_cast<NMITEMACTIVATE*>(pNotifyStruct)->iItem);
  if (CView* pView = pFrame->GetActiveView()) pView->SetFocus();
}

LRESULT CFilmStrip::OnThumbnailsReady(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  m_thumbnails.OnThumbnailsReady();
  return 0;
}
