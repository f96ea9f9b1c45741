// The grid: the document's second view, the browsed images as thumbnails in the browse order.
// Enter or a double-click shows an image, Esc goes back to the one shown; several images chosen
// are stacked into Image Gift (F5), moved to the trash (Ctrl+Del) or dragged out together; one
// chosen is copied at another size (Shift+S). A stacked image carries the Gift mark on its
// thumbnail, and Gift's settings and send work here as in the image view.
#pragma once

#include <vector>

#include "afx/ListCtrl.h"
#include "afx/OleDataSource.h"
#include "afx/afxwin.h"
#include "view/FileCommands.h"
#include "view/ThumbnailList.h"

class CVimoDoc;
class CVimoView;

class CGridView : public CView {
  DECLARE_DYNCREATE(CGridView)

 protected:
  CGridView();

 public:
  ~CGridView() override;

  CVimoDoc* GetDocument() const;
  // Makes the list control that fills the view.
  void OnInitialUpdate() override;
  // Nothing to paint: the list covers the view.
  void OnDraw(CDC* pDC) override;
  // Follows the document while the grid is shown.
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;
  // The grid's own commands first, then the file commands' (Undo), then the document's.
  BOOL OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery = FALSE) override;

  // Brings the grid up to date with the browse list; with bSelectShown (and whenever the list
  // changed) the shown image alone is selected, focused and scrolled into view.
  void ShowList(BOOL bSelectShown);
  // The image the grid's Enter is for (the focused one), or -1.
  int GetFocusedIndex() const;
  // How many images are chosen.
  int GetChosenCount() const { return static_cast<int>(m_wndList.GetSelectedCount()); }
  // Thumbnails of cx pixels from now on.
  void SetThumbnailSize(int cx);
  // The grid was hidden: no more thumbnails are begun for it until it is shown again.
  void StopThumbnails();
  // The window's end: the thumbnails' threads end.
  void CloseThumbnails() { m_thumbnails.Close(); }
  // The file of item nItem was rewritten: its thumbnail is made again.
  void RemakeThumbnail(int nItem) { m_thumbnails.Remake(nItem); }
  // The captions say when each photo was taken (bTaken) or its name.
  void SetCaptionTaken(BOOL bTaken) { m_thumbnails.SetCaptionTaken(bTaken); }

 protected:
  // The list control's notifications.
  void OnThumbnailNotify(NMHDR* pNotifyStruct, LRESULT* pResult);
  // A double-click (or Enter, through the frame's command): the grid gives way to the image
  // (WM_SHOW_IMAGE to the frame).
  void OnItemActivate(NMHDR* pNotifyStruct, LRESULT* pResult);
  // Esc: back to the image shown (WM_SHOW_IMAGE).
  void OnListKeyDown(NMHDR* pNotifyStruct, LRESULT* pResult);
  // Drags every chosen file out as one file drop.
  void OnBeginDrag(NMHDR* pNotifyStruct, LRESULT* pResult);
  void OnLButtonUp(UINT nFlags, CPoint point);
  LRESULT OnThumbnailsReady(WPARAM wParam, LPARAM lParam);

  // The chosen images' commands, on a right-click or the menu key.
  void OnContextMenu(CWnd* pWnd, CPoint point);
  // F5: every chosen image onto the Image Gift stack, as the image view stacks each; the status
  // bar says how many went on it.
  void OnGiftStack();
  // Ctrl+Del: every chosen file into the trash, as one step of Undo (the file commands say what
  // stays and ask before deleting for good); those that went leave the browse list.
  void OnImageDelete();
  // F2: the focused image (else the first chosen) gets a new name.
  void OnFileRename();
  // F7, F8: every chosen file copied or moved into a folder; those moved leave the browse list.
  void OnFileCopyTo();
  void OnFileMoveTo();
  // Ctrl+Shift+O: the focused image (else the first chosen) opened with another application.
  void OnFileOpenWith();
  // F5, Ctrl+Del and the file commands: while an image is chosen.
  void OnUpdateSelection(CCmdUI* pCmdUI);
  void OnEditSelectAll();
  void OnUpdateEditSelectAll(CCmdUI* pCmdUI);
  // Shift+S: a scaled copy of the one image chosen, through the copy's dialog, turned as the
  // image view shows it.
  void OnImageResize();
  void OnUpdateImageResize(CCmdUI* pCmdUI);
  // Ctrl+P: the focused image is shown, and printed as the image view prints it.
  void OnImagePrint();
  // The focused image as the desktop's background.
  void OnImageWallpaper();
  // Print and wallpaper: while an image is focused.
  void OnUpdateFocused(CCmdUI* pCmdUI);

  // The places of the chosen images, in the browse order.
  std::vector<int> SelectedIndexes() const;
  // The image view, whose Image Gift the grid's Gift commands go to.
  CVimoView* GetImageView() const;
  // The paths of the chosen images, in the browse order.
  std::vector<CString> SelectedPaths() const;
  // The image a command for one file means: the focused one when chosen, else the first chosen;
  // "" when none is chosen.
  CString OneSelectedPath() const;

  CListCtrl m_wndList;
  CThumbnailList m_thumbnails;
  CFileCommands m_fileCommands;
  COleDataSource m_dataSource;
  int m_nGeneration = -1;  // of the browse list shown
  DECLARE_MESSAGE_MAP()
};
