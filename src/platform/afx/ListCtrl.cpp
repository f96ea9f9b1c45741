#include "afx/ListCtrl.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <vector>

#include "afx/QtBridge.h"

namespace {

constexpr int kPadding = 6;      // around the picture, inside the cell
constexpr int kTextGap = 3;      // between the picture and the text
constexpr int kDefaultSide = 96;  // the picture box without an image list
constexpr int kTipLength = 1024;

}  // namespace

// What the control keeps of its items, and where they lie.
struct CListCtrl::CItems {
  DWORD dwStyle = 0;
  DWORD dwExStyle = 0;
  CImageList* pImages = nullptr;
  CImageList* pStateImages = nullptr;
  CWnd* pParent = nullptr;
  UINT nID = 0;
  std::vector<char> selected;
  int nSelected = 0;
  int nFocus = -1;
  int nAnchor = -1;
  int nHintFrom = -1;  // the items last said to be on screen
  int nHintTo = -1;

  bool Columns() const { return (dwStyle & LVS_ALIGNLEFT) != 0; }
  bool Single() const { return (dwStyle & LVS_SINGLESEL) != 0; }
  int Count() const { return static_cast<int>(selected.size()); }
  void Select(int nItem, bool bOn) {
    if (nItem < 0 || nItem >= Count() || (selected[static_cast<std::size_t>(nItem)] != 0) == bOn) return;
    selected[static_cast<std::size_t>(nItem)] = bOn ? 1 : 0;
    nSelected += bOn ? 1 : -1;
  }
  void SelectNone() {
    std::fill(selected.begin(), selected.end(), 0);
    nSelected = 0;
  }
  bool IsSelected(int nItem) const { return nItem >= 0 && nItem < Count() && selected[static_cast<std::size_t>(nItem)] != 0; }
};

// The control's window: a scroll area painting the cells of the items on screen.
struct AfxListWidget : QAbstractScrollArea, AfxWidgetLink {
  AfxListWidget(CListCtrl* pList, QWidget* pParent) : QAbstractScrollArea(pParent), AfxWidgetLink(pList) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setProperty("afxQtUnits", true);  // its client area and cells count in Qt's pixels
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  }
  CListCtrl* List() const { return static_cast<CListCtrl*>(m_pOwner); }
  CListCtrl::CItems& Items() const { return *List()->m_pItems; }

  // ---- layout --------------------------------------------------------------------------------

  QSize PictureBox() const {
    int cx = kDefaultSide;
    int cy = kDefaultSide;
    if (Items().pImages != nullptr) Items().pImages->GetIconSize(cx, cy);
    return QSize(cx, cy);
  }
  QSize Cell() const {
    const QSize box = PictureBox();
    return QSize(box.width() + 2 * kPadding, box.height() + 2 * kPadding + kTextGap + fontMetrics().height());
  }
  // Cells across (rows) or down (columns) the viewport, at least one.
  int PerLine() const {
    const QSize cell = Cell();
    return std::max(1, Items().Columns() ? viewport()->height() / cell.height() : viewport()->width() / cell.width());
  }
  int Lines() const { return (Items().Count() + PerLine() - 1) / PerLine(); }
  int LineExtent() const { return Items().Columns() ? Cell().width() : Cell().height(); }
  QScrollBar* Bar() const { return Items().Columns() ? horizontalScrollBar() : verticalScrollBar(); }
  // Where the cells begin across the lines: the lines are centred in the viewport.
  int Margin() const {
    const QSize cell = Cell();
    const int used = PerLine() * (Items().Columns() ? cell.height() : cell.width());
    return std::max(0, ((Items().Columns() ? viewport()->height() : viewport()->width()) - used) / 2);
  }
  QRect CellRect(int nItem) const {
    const QSize cell = Cell();
    const int line = nItem / PerLine();
    const int place = nItem % PerLine();
    const int along = line * LineExtent() - Bar()->value();
    if (Items().Columns()) return QRect(along, Margin() + place * cell.height(), cell.width(), cell.height());
    return QRect(Margin() + place * cell.width(), along, cell.width(), cell.height());
  }
  int ItemAt(const QPoint& pt) const {
    const QSize cell = Cell();
    const int along = (Items().Columns() ? pt.x() : pt.y()) + Bar()->value();
    const int across = (Items().Columns() ? pt.y() : pt.x()) - Margin();
    const int acrossExtent = Items().Columns() ? cell.height() : cell.width();
    if (along < 0 || across < 0 || across / acrossExtent >= PerLine()) return -1;
    const int nItem = along / LineExtent() * PerLine() + across / acrossExtent;
    return nItem < Items().Count() ? nItem : -1;
  }
  // The first and last item with any part on screen.
  std::pair<int, int> OnScreen() const {
    if (Items().Count() == 0) return {-1, -1};
    const int extent = Items().Columns() ? viewport()->width() : viewport()->height();
    const int first = Bar()->value() / LineExtent();
    const int last = (Bar()->value() + std::max(0, extent - 1)) / LineExtent();
    return {std::min(first * PerLine(), Items().Count() - 1), std::min((last + 1) * PerLine(), Items().Count()) - 1};
  }
  void UpdateBars() {
    const bool columns = Items().Columns();
    setHorizontalScrollBarPolicy(columns ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(columns ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    const int extent = columns ? viewport()->width() : viewport()->height();
    Bar()->setRange(0, std::max(0, Lines() * LineExtent() - extent));
    Bar()->setPageStep(std::max(1, extent));
    Bar()->setSingleStep(std::max(1, LineExtent() / 3));
  }

  // ---- notifications -------------------------------------------------------------------------

  LRESULT Notify(NMHDR& header, UINT code) {
    header.hwndFrom = List()->m_hWnd;
    header.idFrom = Items().nID;
    header.code = code;
    CWnd* pParent = Items().pParent;
    return pParent != nullptr ? pParent->SendMessage(WM_NOTIFY, Items().nID, reinterpret_cast<LPARAM>(&header)) : 0;
  }
  void NotifyItem(UINT code, int nItem) {
    NMITEMACTIVATE activate{};
    activate.iItem = nItem;
    Notify(activate.hdr, code);
  }
  void HintOnScreen() {
    const auto [from, to] = OnScreen();
    if (from == Items().nHintFrom && to == Items().nHintTo) return;
    Items().nHintFrom = from;
    Items().nHintTo = to;
    if (from < 0) return;
    NMLVCACHEHINT hint{};
    hint.iFrom = from;
    hint.iTo = to;
    Notify(hint.hdr, LVN_ODCACHEHINT);
  }

  // ---- painting ------------------------------------------------------------------------------

  bool viewportEvent(QEvent* pEvent) override {
    if (pEvent->type() == QEvent::Paint && m_pOwner != nullptr) {
      HintOnScreen();
      Paint(static_cast<QPaintEvent*>(pEvent)->rect());
      return true;
    }
    if (pEvent->type() == QEvent::ToolTip && m_pOwner != nullptr) {
      ShowTip(static_cast<QHelpEvent*>(pEvent));
      return true;
    }
    return QAbstractScrollArea::viewportEvent(pEvent);
  }
  void Paint(const QRect& area) {
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(area, colours.color(QPalette::Base));
    const auto [from, to] = OnScreen();
    const bool active = hasFocus();
    for (int nItem = std::max(0, from); nItem <= to; ++nItem) {
      const QRect cell = CellRect(nItem);
      if (!cell.intersects(area)) continue;
      char text[MAX_PATH + 1] = "";
      NMLVDISPINFO info{};
      info.item.mask = LVIF_TEXT | LVIF_IMAGE | (Items().pStateImages != nullptr ? LVIF_STATE : 0);
      info.item.stateMask = LVIS_STATEIMAGEMASK;
      info.item.iItem = nItem;
      info.item.pszText = text;
      info.item.cchTextMax = sizeof(text);
      info.item.iImage = I_IMAGECALLBACK;
      Notify(info.hdr, LVN_GETDISPINFO);
      text[sizeof(text) - 1] = '\0';
      const bool selected = Items().IsSelected(nItem) && (active || (Items().dwStyle & LVS_SHOWSELALWAYS) != 0);
      const QPalette::ColorGroup group = active ? QPalette::Active : QPalette::Inactive;
      if (selected) painter.fillRect(cell.adjusted(1, 1, -1, -1), colours.color(group, QPalette::Highlight));
      const QSize box = PictureBox();
      const QRect picture(cell.left() + kPadding, cell.top() + kPadding, box.width(), box.height());
      if (const QImage* image = Items().pImages != nullptr ? AfxImageOf(*Items().pImages, info.item.iImage) : nullptr) {
        const QPoint at(picture.left() + (box.width() - image->width()) / 2, picture.top() + (box.height() - image->height()) / 2);
        painter.drawImage(at, *image);
        DrawStateImage(painter, info.item, at);
      } else if (info.item.iImage == I_IMAGENONE) {
        painter.setPen(colours.color(QPalette::Mid));
        painter.drawRect(picture.adjusted(box.width() / 8, box.height() / 8, -box.width() / 8 - 1, -box.height() / 8 - 1));
      }
      const QRect line(cell.left() + 2, picture.bottom() + 1 + kTextGap, cell.width() - 4, fontMetrics().height());
      painter.setPen(colours.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
      painter.drawText(line, Qt::AlignHCenter | Qt::AlignTop, Caption(text, line.width()));
      if (active && nItem == Items().nFocus) {
        painter.setPen(QPen(colours.color(QPalette::Text), 1, Qt::DotLine));
        painter.drawRect(cell.adjusted(1, 1, -2, -2));
      }
    }
  }
  // The item's state picture, if its state names one, over the corner at of its picture.
  void DrawStateImage(QPainter& painter, const LVITEM& item, const QPoint& at) const {
    const UINT nState = (item.mask & LVIF_STATE) ? (item.state & item.stateMask & LVIS_STATEIMAGEMASK) >> 12 : 0;
    if (nState == 0 || Items().pStateImages == nullptr) return;
    if (const QImage* mark = AfxImageOf(*Items().pStateImages, static_cast<int>(nState) - 1)) painter.drawImage(at, *mark);
  }
  // An item's text as its cell shows it, line pixels wide.
  QString Caption(const char* text, int width) const {
    const Qt::TextElideMode mode = (Items().dwExStyle & LVS_EX_ELIDESTART) ? Qt::ElideLeft : Qt::ElideMiddle;
    return fontMetrics().elidedText(AfxToQString(text), mode, width);
  }
  QString CaptionOf(int nItem) {
    char text[MAX_PATH + 1] = "";
    NMLVDISPINFO info{};
    info.item.mask = LVIF_TEXT;
    info.item.iItem = nItem;
    info.item.pszText = text;
    info.item.cchTextMax = sizeof(text);
    Notify(info.hdr, LVN_GETDISPINFO);
    text[sizeof(text) - 1] = '\0';
    return Caption(text, Cell().width() - 4);
  }
  void ShowTip(QHelpEvent* pEvent) {
    const int nItem = ItemAt(pEvent->pos());
    char text[kTipLength] = "";
    if (nItem >= 0) {
      NMLVGETINFOTIP tip{};
      tip.pszText = text;
      tip.cchTextMax = sizeof(text);
      tip.iItem = nItem;
      Notify(tip.hdr, LVN_GETINFOTIP);
      text[sizeof(text) - 1] = '\0';
    }
    if (text[0] == '\0') QToolTip::hideText();
    else QToolTip::showText(pEvent->globalPos(), AfxToQString(text), viewport(), CellRect(nItem));
  }

  // ---- the selection -----------------------------------------------------------------------

  void RedrawAll() { viewport()->update(); }
  void SetFocusItem(int nItem) {
    if (nItem < 0 || nItem >= Items().Count()) return;
    Items().nFocus = nItem;
    EnsureVisible(nItem);
    RedrawAll();
  }
  void SelectOnly(int nItem) {
    Items().SelectNone();
    Items().Select(nItem, true);
  }
  void SelectRange(int nFrom, int nTo, bool bAdd) {
    if (!bAdd) Items().SelectNone();
    for (int nItem = std::min(nFrom, nTo); nItem <= std::max(nFrom, nTo); ++nItem) Items().Select(nItem, true);
  }
  // Moves the focus to nItem as a key does, with the selection that follows it.
  void MoveTo(int nItem, Qt::KeyboardModifiers modifiers) {
    if (Items().Count() == 0) return;
    nItem = std::clamp(nItem, 0, Items().Count() - 1);
    const bool single = Items().Single();
    if ((modifiers & Qt::ShiftModifier) && !single) {
      if (Items().nAnchor < 0) Items().nAnchor = std::max(0, Items().nFocus);
      SelectRange(Items().nAnchor, nItem, (modifiers & Qt::ControlModifier) != 0);
    } else if (!(modifiers & Qt::ControlModifier) || single) {
      SelectOnly(nItem);
      Items().nAnchor = nItem;
    }
    SetFocusItem(nItem);
  }
  void EnsureVisible(int nItem) {
    const QRect cell = CellRect(nItem);
    const int extent = Items().Columns() ? viewport()->width() : viewport()->height();
    const int start = Items().Columns() ? cell.left() : cell.top();
    const int end = Items().Columns() ? cell.right() + 1 : cell.bottom() + 1;
    if (start < 0) Bar()->setValue(Bar()->value() + start);
    else if (end > extent) Bar()->setValue(Bar()->value() + std::min(start, end - extent));
  }

  // ---- input ---------------------------------------------------------------------------------

  bool focusNextPrevChild(bool /*next*/) override { return false; }  // Tab belongs to the accelerators
  void focusInEvent(QFocusEvent* pEvent) override {
    QAbstractScrollArea::focusInEvent(pEvent);
    RedrawAll();
  }
  void focusOutEvent(QFocusEvent* pEvent) override {
    QAbstractScrollArea::focusOutEvent(pEvent);
    RedrawAll();
  }
  // Shown anew, it tells its parent again which items are on screen, and so as soon as it is
  // laid out, before its first paint: what they show can be begun meanwhile.
  void showEvent(QShowEvent* pEvent) override {
    QAbstractScrollArea::showEvent(pEvent);
    if (m_pOwner == nullptr) return;
    Items().nHintFrom = Items().nHintTo = -1;
    HintOnScreen();
  }
  void resizeEvent(QResizeEvent* pEvent) override {
    QAbstractScrollArea::resizeEvent(pEvent);
    if (m_pOwner == nullptr) return;
    UpdateBars();
    if (isVisible()) HintOnScreen();
  }
  void scrollContentsBy(int /*dx*/, int /*dy*/) override { viewport()->update(); }
  void wheelEvent(QWheelEvent* pEvent) override {
    if (m_pOwner != nullptr && Items().Columns()) {
      const int delta = pEvent->angleDelta().y() != 0 ? pEvent->angleDelta().y() : pEvent->angleDelta().x();
      Bar()->setValue(Bar()->value() - delta * LineExtent() / 120);
      pEvent->accept();
      return;
    }
    QAbstractScrollArea::wheelEvent(pEvent);
  }
  void keyPressEvent(QKeyEvent* pEvent) override {
    if (m_pOwner == nullptr) return;
    const int focus = std::max(0, Items().nFocus);
    const int across = Items().Columns() ? PerLine() : 1;  // the step of Left and Right
    const int down = Items().Columns() ? 1 : PerLine();    // of Up and Down
    const int extent = Items().Columns() ? viewport()->width() : viewport()->height();
    const int page = std::max(1, extent / LineExtent()) * PerLine();
    const Qt::KeyboardModifiers modifiers = pEvent->modifiers();
    switch (pEvent->key()) {
      case Qt::Key_Left: return MoveTo(focus - across, modifiers);
      case Qt::Key_Right: return MoveTo(Items().nFocus < 0 ? 0 : focus + across, modifiers);
      case Qt::Key_Up: return MoveTo(focus - down, modifiers);
      case Qt::Key_Down: return MoveTo(Items().nFocus < 0 ? 0 : focus + down, modifiers);
      case Qt::Key_Home: return MoveTo(0, modifiers);
      case Qt::Key_End: return MoveTo(Items().Count() - 1, modifiers);
      case Qt::Key_PageUp: return MoveTo(focus - page, modifiers);
      case Qt::Key_PageDown: return MoveTo(focus + page, modifiers);
      case Qt::Key_Space:
        if (Items().nFocus >= 0 && (modifiers & Qt::ControlModifier) && !Items().Single()) {
          Items().Select(Items().nFocus, !Items().IsSelected(Items().nFocus));
          Items().nAnchor = Items().nFocus;
          RedrawAll();
        } else if (Items().nFocus >= 0) {
          MoveTo(Items().nFocus, Qt::NoModifier);
        }
        return;
      default: break;
    }
    const UINT nChar = AfxVirtualKey(pEvent->key());
    if (nChar == 0) return;
    NMLVKEYDOWN key{};
    key.wVKey = static_cast<WORD>(nChar);
    Notify(key.hdr, LVN_KEYDOWN);
  }
  void mousePressEvent(QMouseEvent* pEvent) override {
    if (m_pOwner != nullptr && pEvent->button() == Qt::RightButton) {
      // The context menu that follows is for the item under the pointer: chosen alone, unless
      // it is among those chosen already.
      const int nItem = ItemAt(pEvent->position().toPoint());
      if (nItem >= 0 && !Items().IsSelected(nItem)) {
        Items().SelectNone();
        Items().Select(nItem, true);
        Items().nAnchor = nItem;
      }
      if (nItem >= 0) Items().nFocus = nItem;
      RedrawAll();
      return;
    }
    if (m_pOwner == nullptr || pEvent->button() != Qt::LeftButton) return;
    const int nItem = ItemAt(pEvent->position().toPoint());
    m_nPressed = nItem;
    m_ptPressed = pEvent->position().toPoint();
    m_bDragged = false;
    m_bSelectOnRelease = false;
    const Qt::KeyboardModifiers modifiers = Items().Single() ? Qt::NoModifier : pEvent->modifiers();
    if (nItem < 0) {
      if (!(modifiers & Qt::ControlModifier)) Items().SelectNone();
      RedrawAll();
      return;
    }
    if (modifiers & Qt::ControlModifier) {
      Items().Select(nItem, !Items().IsSelected(nItem));
      Items().nAnchor = nItem;
    } else if (modifiers & Qt::ShiftModifier) {
      SelectRange(Items().nAnchor < 0 ? nItem : Items().nAnchor, nItem, false);
    } else if (Items().IsSelected(nItem)) {
      m_bSelectOnRelease = true;  // the selection may be dragged; a plain click narrows it
      Items().nAnchor = nItem;
    } else {
      SelectOnly(nItem);
      Items().nAnchor = nItem;
    }
    SetFocusItem(nItem);
  }
  void mouseMoveEvent(QMouseEvent* pEvent) override {
    if (m_pOwner == nullptr || !(pEvent->buttons() & Qt::LeftButton) || m_bDragged || m_nPressed < 0 ||
        !Items().IsSelected(m_nPressed))
      return;
    if ((pEvent->position().toPoint() - m_ptPressed).manhattanLength() < QApplication::startDragDistance()) return;
    m_bDragged = true;
    m_bSelectOnRelease = false;
    NMLISTVIEW drag{};
    drag.iItem = m_nPressed;
    drag.ptAction = POINT{m_ptPressed.x(), m_ptPressed.y()};
    Notify(drag.hdr, LVN_BEGINDRAG);
  }
  void mouseReleaseEvent(QMouseEvent* pEvent) override {
    if (m_pOwner == nullptr || pEvent->button() != Qt::LeftButton) return;
    const int nItem = m_nPressed;
    m_nPressed = -1;
    if (m_bDragged || nItem < 0) return;
    if (m_bSelectOnRelease) {
      SelectOnly(nItem);
      RedrawAll();
    }
    const bool plain = !(pEvent->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
    if ((Items().dwExStyle & LVS_EX_ONECLICKACTIVATE) && plain && ItemAt(pEvent->position().toPoint()) == nItem)
      NotifyItem(LVN_ITEMACTIVATE, nItem);
  }
  void mouseDoubleClickEvent(QMouseEvent* pEvent) override {
    if (m_pOwner == nullptr || pEvent->button() != Qt::LeftButton) return;
    const int nItem = ItemAt(pEvent->position().toPoint());
    if (nItem >= 0 && !(Items().dwExStyle & LVS_EX_ONECLICKACTIVATE)) NotifyItem(LVN_ITEMACTIVATE, nItem);
  }
  bool event(QEvent* pEvent) override {
    if (AfxDeliverPosted(m_pOwner, pEvent)) return true;
    return QAbstractScrollArea::event(pEvent);
  }

  int m_nPressed = -1;
  QPoint m_ptPressed;
  bool m_bDragged = false;
  bool m_bSelectOnRelease = false;
};

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)

CListCtrl::CListCtrl() : m_pItems(std::make_unique<CItems>()) {}

CListCtrl::~CListCtrl() = default;

namespace {

AfxListWidget* WidgetOf(const CListCtrl* pList) { return dynamic_cast<AfxListWidget*>(pList->GetWidget()); }

}  // namespace

BOOL CListCtrl::Create(DWORD dwStyle, const RECT& /*rect*/, CWnd* pParentWnd, UINT nID) {
  if (pParentWnd == nullptr || pParentWnd->GetWidget() == nullptr || GetWidget() != nullptr) return FALSE;
  m_pItems->dwStyle = dwStyle;
  m_pItems->pParent = pParentWnd;
  m_pItems->nID = nID;
  QWidget* pClient = AfxClientOf(pParentWnd->GetWidget());
  auto* pWidget = new AfxListWidget(this, pClient);
  AttachWidget(pWidget, pWidget);
  if (pClient->layout() == nullptr) {
    auto* pLayout = new QVBoxLayout(pClient);
    pLayout->setContentsMargins(0, 0, 0, 0);
  }
  pClient->layout()->addWidget(pWidget);
  // The parent's focus is the list's: a view showing the list hands the keys on to it.
  pParentWnd->GetWidget()->setFocusProxy(pWidget);
  pWidget->UpdateBars();
  pWidget->setVisible((dwStyle & WS_VISIBLE) != 0 || pClient->isVisible());
  return TRUE;
}

void CListCtrl::SetExtendedStyle(DWORD dwExStyle) { m_pItems->dwExStyle = dwExStyle; }

CString CListCtrl::CaptionOf(int nItem) const {
  auto* pWidget = dynamic_cast<AfxListWidget*>(GetWidget());
  return pWidget != nullptr ? AfxFromQString(pWidget->CaptionOf(nItem)) : CString();
}

CImageList* CListCtrl::SetImageList(CImageList* pImageList, int nImageListType) {
  CImageList*& pList = nImageListType == static_cast<int>(LVSIL_STATE) ? m_pItems->pStateImages : m_pItems->pImages;
  CImageList* pOld = pList;
  pList = pImageList;
  if (AfxListWidget* pWidget = WidgetOf(this)) {
    pWidget->UpdateBars();
    pWidget->RedrawAll();
  }
  return pOld;
}

BOOL CListCtrl::SetItemCountEx(int iCount, DWORD /*dwFlags*/) {
  if (iCount < 0) return FALSE;
  CItems& items = *m_pItems;
  items.selected.resize(static_cast<std::size_t>(iCount), 0);
  items.nSelected = static_cast<int>(std::count(items.selected.begin(), items.selected.end(), 1));
  if (items.nFocus >= iCount) items.nFocus = iCount - 1;
  if (items.nAnchor >= iCount) items.nAnchor = iCount - 1;
  items.nHintFrom = items.nHintTo = -1;
  if (AfxListWidget* pWidget = WidgetOf(this)) {
    pWidget->UpdateBars();
    pWidget->RedrawAll();
  }
  return TRUE;
}

int CListCtrl::GetItemCount() const { return m_pItems->Count(); }

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
  UINT state = 0;
  if (m_pItems->IsSelected(nItem)) state |= LVIS_SELECTED;
  if (nItem >= 0 && nItem == m_pItems->nFocus) state |= LVIS_FOCUSED;
  return state & nMask;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
  CItems& items = *m_pItems;
  if (nItem < -1 || nItem >= items.Count()) return FALSE;
  const int first = nItem < 0 ? 0 : nItem;
  const int last = nItem < 0 ? items.Count() - 1 : nItem;
  if (nMask & LVIS_SELECTED) {
    if ((nState & LVIS_SELECTED) && items.Single()) items.SelectNone();
    for (int i = first; i <= last; ++i) items.Select(i, (nState & LVIS_SELECTED) != 0);
  }
  if ((nMask & LVIS_FOCUSED) && nItem >= 0) items.nFocus = (nState & LVIS_FOCUSED) ? nItem : (items.nFocus == nItem ? -1 : items.nFocus);
  if (AfxListWidget* pWidget = WidgetOf(this)) pWidget->RedrawAll();
  return TRUE;
}

int CListCtrl::GetNextItem(int nItem, int nFlags) const {
  for (int i = nItem + 1; i < m_pItems->Count(); ++i) {
    if ((nFlags & LVNI_SELECTED) && !m_pItems->IsSelected(i)) continue;
    if ((nFlags & LVNI_FOCUSED) && i != m_pItems->nFocus) continue;
    return i;
  }
  return -1;
}

UINT CListCtrl::GetSelectedCount() const { return static_cast<UINT>(m_pItems->nSelected); }

int CListCtrl::GetSelectionMark() const { return m_pItems->nAnchor; }

int CListCtrl::SetSelectionMark(int iIndex) { return std::exchange(m_pItems->nAnchor, iIndex); }

BOOL CListCtrl::EnsureVisible(int nItem, BOOL /*bPartialOK*/) {
  AfxListWidget* pWidget = WidgetOf(this);
  if (pWidget == nullptr || nItem < 0 || nItem >= m_pItems->Count()) return FALSE;
  pWidget->UpdateBars();
  pWidget->EnsureVisible(nItem);
  return TRUE;
}

BOOL CListCtrl::Scroll(CSize size) {
  AfxListWidget* pWidget = WidgetOf(this);
  if (pWidget == nullptr) return FALSE;
  pWidget->UpdateBars();
  pWidget->horizontalScrollBar()->setValue(pWidget->horizontalScrollBar()->value() + size.cx);
  pWidget->verticalScrollBar()->setValue(pWidget->verticalScrollBar()->value() + size.cy);
  return TRUE;
}

BOOL CListCtrl::GetItemRect(int nItem, RECT* lpRect, UINT /*nCode*/) const {
  AfxListWidget* pWidget = WidgetOf(this);
  if (pWidget == nullptr || lpRect == nullptr || nItem < 0 || nItem >= m_pItems->Count()) return FALSE;
  const QRect cell = pWidget->CellRect(nItem);
  *lpRect = RECT{cell.left(), cell.top(), cell.left() + cell.width(), cell.top() + cell.height()};
  return TRUE;
}

int CListCtrl::HitTest(CPoint pt) const {
  AfxListWidget* pWidget = WidgetOf(this);
  return pWidget != nullptr ? pWidget->ItemAt(QPoint(pt.x, pt.y)) : -1;
}

int CListCtrl::GetTopIndex() const {
  AfxListWidget* pWidget = WidgetOf(this);
  return pWidget != nullptr ? std::max(0, pWidget->OnScreen().first) : 0;
}

int CListCtrl::GetCountPerPage() const {
  AfxListWidget* pWidget = WidgetOf(this);
  if (pWidget == nullptr) return 0;
  const int extent = m_pItems->Columns() ? pWidget->viewport()->width() : pWidget->viewport()->height();
  return std::max(1, extent / pWidget->LineExtent()) * pWidget->PerLine();
}

BOOL CListCtrl::RedrawItems(int nFirst, int nLast) {
  AfxListWidget* pWidget = WidgetOf(this);
  if (pWidget == nullptr) return FALSE;
  const auto [from, to] = pWidget->OnScreen();
  for (int nItem = std::max(nFirst, from); nItem <= std::min(nLast, to); ++nItem) pWidget->viewport()->update(pWidget->CellRect(nItem));
  return TRUE;
}

void CListCtrl::MoveWindow(int x, int y, int nWidth, int nHeight) {
  if (GetWidget() != nullptr) GetWidget()->setGeometry(x, y, nWidth, nHeight);
}
