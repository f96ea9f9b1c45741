// The view: paints the document's image 1:1 in the top-left corner of a scrolling area, with
// its Image Gift caption.
#pragma once

#include "afx/OleDataSource.h"
#include "afx/afxwin.h"

class CVimoDoc;

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

  CMapStringToPtr m_mapStack;  // the Image Gift stack: full image paths, values 0
  COleDataSource m_dataSource; // offered by every drag of the shown image

  // The drop block of one file: a DROPFILES header (file list at offset 20, ANSI names)
  // followed by the path, its NUL and the NUL that ends the list. NULL when memory runs out.
  static HGLOBAL CreateDropFiles(const char* path);

  // Image Gift: the settings dialog; also opened by Send when settings are missing.
  void OnGiftSettings();

 protected:
  // The shown image's source file: the browsed folder followed by the document title.
  CString ShownImagePath() const;

  void OnGoNext();
  void OnUpdateGoNext(CCmdUI* pCmdUI);
  void OnGoPrev();
  void OnUpdateGoPrev(CCmdUI* pCmdUI);
  // Deletes the shown image's source file, without asking.
  void OnImageDelete();
  void OnImageSaveAs();
  // Delete, Save as, Stack and Send: only while an image is loaded and the title names it.
  void OnUpdateImageCommand(CCmdUI* pCmdUI);
  // Drags the shown file out of the window as a file drop.
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnLButtonUp(UINT nFlags, CPoint point);
  // Arrow keys scroll a page: 120 pixels across, 140 down.
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  // Erases only outside the image, so that a repaint does not flash over it.
  BOOL OnEraseBkgnd(CDC* pDC);
  void OnGiftStack();
  // Writes the mail job file and starts the sender with it.
  void OnGiftSend();
  // Writes the job file into the temporary folder and starts "Postmx.exe /d" with it. On
  // failure the user is told and no job file is left behind.
  BOOL HandOverMailJob(const CString& attachments);
  DECLARE_MESSAGE_MAP()
};
