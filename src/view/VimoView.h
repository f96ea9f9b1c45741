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

 protected:
  // Erases only outside the image, so that a repaint does not flash over it.
  BOOL OnEraseBkgnd(CDC* pDC);
  DECLARE_MESSAGE_MAP()
};
