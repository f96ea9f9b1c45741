// The film strip: a bar along the bottom of the window with a row of the browsed images'
// thumbnails, the shown image centred and marked; a click shows an image. Nothing of it is made
// (no bar, no list, no thumbnail) until it is first wanted.
#pragma once

#include "afx/ListCtrl.h"
#include "afx/afxwin.h"
#include "view/ThumbnailList.h"

class CFilmStrip : public CControlBar {
  DECLARE_DYNAMIC(CFilmStrip)

 public:
  CFilmStrip();
  ~CFilmStrip() override;

  // The bar, hidden, along the bottom of the frame.
  BOOL Create(CFrameWnd* pParentWnd);
  // At idle time while shown: follows the browse list and the image shown.
  void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) override;
  // The window's end: the thumbnails' threads end.
  void CloseThumbnails() { m_thumbnails.Close(); }
  // The file of item nItem was rewritten: its thumbnail is made again.
  void RemakeThumbnail(int nItem) { m_thumbnails.Remake(nItem); }

 protected:
  void OnThumbnailNotify(NMHDR* pNotifyStruct, LRESULT* pResult);
  // A click: that image is shown next, and the keys go back to the image.
  void OnItemActivate(NMHDR* pNotifyStruct, LRESULT* pResult);
  LRESULT OnThumbnailsReady(WPARAM wParam, LPARAM lParam);
  // Scrolls the strip so that item nItem sits at its centre.
  void Centre(int nItem);

  CListCtrl m_wndList;
  CThumbnailList m_thumbnails;
  int m_nGeneration = -1;  // of the browse list shown
  int m_nShown = -1;       // the place marked
  DECLARE_MESSAGE_MAP()
};
