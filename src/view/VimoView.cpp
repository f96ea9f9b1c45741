#include "view/VimoView.h"

#include <cstring>

#include "app/Globals.h"
#include "doc/VimoDoc.h"

IMPLEMENT_DYNCREATE(CVimoView, CScrollView)

BEGIN_MESSAGE_MAP(CVimoView, CScrollView)
  ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

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
    CBrush brush(GetSysColor(COLOR_WINDOW));
    pDC->FillRect(&client, &brush);
    return;
  }
  const CString path = CString(pDoc->m_szFolder) + pDoc->GetTitle();
  int nState = -1;
  void* pValue = nullptr;
  if (g_mapGiftState.Lookup(path, pValue)) nState = static_cast<int>(reinterpret_cast<std::intptr_t>(pValue));

  BITMAPINFOHEADER header;
  std::memcpy(&header, pDoc->m_pDib.get(), sizeof(header));
  const LONG width = header.biWidth;
  const LONG height = header.biHeight;
  if (width < 0 || height < 0) return;

  SetScrollSizes(MM_TEXT, CSize(width, height), CSize(120, 140));
  DrawDibDraw(pDoc->m_hDrawDib, pDC, 0, 0, width, height, reinterpret_cast<const BITMAPINFOHEADER*>(pDoc->m_pDib.get()),
              pDoc->m_pBits, 0, 0, width, height, 0);
  if (nState == 0) pDC->TextOut(10, 10, "Sent");
  else if (nState == 1) pDC->TextOut(10, 10, "Stacked");
}

BOOL CVimoView::OnEraseBkgnd(CDC* pDC) {
  CBrush brush(GetSysColor(COLOR_WINDOW));
  FillOutsideRect(pDC, &brush);
  return TRUE;
}
