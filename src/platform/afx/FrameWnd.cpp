#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QToolBar>
#include <QUrl>
#include <QWindow>

#include <cstddef>
#include <functional>
#include <map>

#include "afx/Dialog.h"
#include "afx/QtBridge.h"
#include "afx/Resource.h"
#include "afx/WinApp.h"
#include "win32/LargeMemory.h"

namespace {

// The text before the line break of a command's string: the status-bar prompt.
CString PromptOf(UINT nID) {
  const CString text = AfxLoadString(nID);
  const int nBreak = text.Find('\n');
  return nBreak < 0 ? text : text.Left(nBreak);
}

// The text after the line break: the tool tip.
CString ToolTipOf(UINT nID) {
  const CString text = AfxLoadString(nID);
  const int nBreak = text.Find('\n');
  return nBreak < 0 ? CString() : text.Mid(nBreak + 1);
}

QKeySequence KeysOf(const AFX_ACCEL& accel) {
  int key = 0;
  const WORD vk = accel.key;
  // Without FVIRTKEY the entry is the character typed, whichever keys make it ('+' is Shift and
  // '=' on some keyboards, a key of its own on others).
  // Qt's keys of printable characters are their upper-case codes.
  // Ctrl or Alt with such a character ("Ctrl+?") holds whichever keys type it.
  if (!(accel.fVirt & FVIRTKEY)) {
    if (vk <= 0x20 || vk >= 0x7F) return QKeySequence();
    int charModifiers = 0;
    if (accel.fVirt & FCONTROL) charModifiers |= Qt::CTRL;
    if (accel.fVirt & FALT) charModifiers |= Qt::ALT;
    return QKeySequence(charModifiers | static_cast<int>(vk >= 'a' && vk <= 'z' ? vk - 0x20 : vk));
  }
  if (vk >= 'A' && vk <= 'Z') key = Qt::Key_A + (vk - 'A');
  else if (vk >= '0' && vk <= '9') key = Qt::Key_0 + (vk - '0');
  else if (vk >= 0x70 && vk <= 0x7B) key = Qt::Key_F1 + (vk - 0x70);
  else {
    switch (vk) {
      case 0x08: key = Qt::Key_Backspace; break;
      case 0x09: key = Qt::Key_Tab; break;
      case 0x0D: key = Qt::Key_Return; break;
      case 0x2D: key = Qt::Key_Insert; break;
      case 0x2E: key = Qt::Key_Delete; break;
      default: return QKeySequence();
    }
  }
  int modifiers = 0;
  if (accel.fVirt & FCONTROL) modifiers |= Qt::CTRL;
  if (accel.fVirt & FSHIFT) modifiers |= Qt::SHIFT;
  if (accel.fVirt & FALT) modifiers |= Qt::ALT;
  return QKeySequence(modifiers | key);
}

// Fills pMenu with the entries from pEntry to the end of its popup (a popup inside it becomes a
// submenu, filled by the same rule). Every item gets its command ID and prompt; onItem finishes
// it. Returns the entry after the popup's end (or the resource's end).
const AFX_MENU_ENTRY* FillMenu(QMenu* pMenu, const AFX_MENU_ENTRY* pEntry,
                               const std::function<void(QMenu*, QAction*, const AFX_MENU_ENTRY&)>& onItem) {
  for (; pEntry->kind != AfxMenuKind::End; ++pEntry) {
    switch (pEntry->kind) {
      case AfxMenuKind::EndPopup: return pEntry + 1;
      case AfxMenuKind::Separator: pMenu->addSeparator(); break;
      case AfxMenuKind::Popup:
        pEntry = FillMenu(pMenu->addMenu(AfxToQString(pEntry->lpszText)), pEntry + 1, onItem) - 1;
        break;
      case AfxMenuKind::Item: {
        QAction* pAction = pMenu->addAction(AfxToQString(pEntry->lpszText));
        pAction->setData(pEntry->nID);
        pAction->setStatusTip(AfxToQString(PromptOf(pEntry->nID)));
        onItem(pMenu, pAction, *pEntry);
        break;
      }
      default: break;
    }
  }
  return pEntry;
}

// What the update handlers of command nID say, as the item shows it: enabled, checked.
void ApplyCommandState(QAction* pAction, UINT nID, CFrameWnd* pFrame) {
  CCmdUI state(nID);
  state.DoUpdate(pFrame);
  pAction->setEnabled(state.m_bEnabled != FALSE);
  if (state.m_nCheck >= 0) {
    pAction->setCheckable(true);
    pAction->setChecked(state.m_nCheck != 0);
  }
}

}  // namespace

QImage AfxImageFromResource(const AFX_IMAGE* pImage) {
  if (pImage == nullptr) return QImage();
  std::map<char, QRgb> colors;
  for (const char* const* pEntry = pImage->lpPalette; *pEntry != nullptr; ++pEntry) {
    const char* entry = *pEntry;
    colors[entry[0]] = entry[2] == '.' ? qRgba(0, 0, 0, 0) : (0xFF000000u | std::strtoul(entry + 2, nullptr, 16));
  }
  QImage image(pImage->nWidth, pImage->nHeight, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 0; y < pImage->nHeight; ++y) {
    const char* row = pImage->lpRows[y];
    for (int x = 0; x < pImage->nWidth && row[x] != '\0'; ++x) {
      const auto it = colors.find(row[x]);
      if (it != colors.end()) image.setPixel(x, y, it->second);
    }
  }
  return image;
}

// The frame's window: menu bar, bars, central view; close and drop come in as messages.
struct AfxFrameWidget : QMainWindow, AfxWidgetLink {
  explicit AfxFrameWidget(CFrameWnd* pFrame) : QMainWindow(nullptr), AfxWidgetLink(pFrame) {}
  CFrameWnd* Frame() const { return static_cast<CFrameWnd*>(m_pOwner); }

  void closeEvent(QCloseEvent* pEvent) override {
    pEvent->ignore();
    if (Frame() != nullptr) Frame()->SendMessage(WM_CLOSE);
  }
  bool event(QEvent* pEvent) override {
    if (AfxDeliverPosted(m_pOwner, pEvent)) return true;
    if (pEvent->type() == QEvent::StatusTip) {
      if (Frame() != nullptr) Frame()->ShowStatusPrompt(AfxFromQString(static_cast<QStatusTipEvent*>(pEvent)->tip()));
      return true;
    }
    return QMainWindow::event(pEvent);
  }
  // The frame's own paint comes first in a repaint of the window; the call waits in the queue
  // until the whole repaint has been drawn and flushed.
  void paintEvent(QPaintEvent* pEvent) override {
    PrepareBackingStore();
    QMainWindow::paintEvent(pEvent);
    if (m_bPainted) return;
    m_bPainted = true;
    QMetaObject::invokeMethod(
        this, [this] { if (Frame() != nullptr) Frame()->OnFirstPaint(); }, Qt::QueuedConnection);
  }
  void showEvent(QShowEvent* pEvent) override {
    QMainWindow::showEvent(pEvent);
    // Installed again at each show, it still filters once.
    if (windowHandle() != nullptr) windowHandle()->installEventFilter(this);
  }
  // The window system changed the window's state (full screen, maximized...): once the state is
  // applied, the window is drawn whole again, since what the window system shows of it may be
  // made anew; where the compositor places windows, the size before full screen comes back then.
  bool eventFilter(QObject* pObject, QEvent* pEvent) override {
    if (pObject == windowHandle() && pEvent->type() == QEvent::WindowStateChange) {
      const Qt::WindowStates applied = windowHandle()->windowStates();
      QMetaObject::invokeMethod(this, [this, applied] { AfterStateChange(applied); }, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(pObject, pEvent);
  }
  void AfterStateChange(Qt::WindowStates applied) {
    CFrameWnd* pFrame = Frame();
    if (pFrame == nullptr) return;
    const RECT& rc = pFrame->m_rcBeforeFullScreen;
    constexpr Qt::WindowStates kNotNormal = Qt::WindowFullScreen | Qt::WindowMaximized | Qt::WindowMinimized;
    if (pFrame->m_bSizeAfterFullScreen && !(applied & kNotNormal) && !(windowState() & kNotNormal)) {
      pFrame->m_bSizeAfterFullScreen = false;
      resize(rc.right - rc.left, rc.bottom - rc.top);
    }
    update();
    for (QWidget* pChild : findChildren<QWidget*>()) pChild->update();
  }
  void moveEvent(QMoveEvent* pEvent) override {
    QMainWindow::moveEvent(pEvent);
    if (m_pOwner != nullptr) m_pOwner->NoteRestoredRect();
  }
  void resizeEvent(QResizeEvent* pEvent) override {
    QMainWindow::resizeEvent(pEvent);
    if (m_pOwner != nullptr) m_pOwner->NoteRestoredRect();
  }
  void dragEnterEvent(QDragEnterEvent* pEvent) override {
    if (pEvent->mimeData()->hasUrls()) pEvent->acceptProposedAction();
  }
  void dropEvent(QDropEvent* pEvent) override {
    if (!acceptDrops()) return;
    std::vector<CString> paths;
    for (const QUrl& url : pEvent->mimeData()->urls()) {
      CString path;
      if (AfxPathOfFileUrl(url, path)) paths.push_back(path);
    }
    pEvent->acceptProposedAction();
    if (Frame() != nullptr) Frame()->OnDropFiles(paths);
  }

  // The window's backing store, when its memory is new (the first paint, a window grown larger), is
  // mapped for writing in one call before anything is drawn into it.
  void PrepareBackingStore() {
    QBackingStore* pStore = backingStore();
    QPaintDevice* pDevice = pStore != nullptr ? pStore->paintDevice() : nullptr;
    if (pDevice == nullptr || pDevice->devType() != QInternal::Image) return;
    const QImage& image = *static_cast<const QImage*>(pDevice);
    const auto bytes = static_cast<std::size_t>(image.sizeInBytes());
    if (image.constBits() == m_pPrepared && bytes == m_nPrepared) return;
    m_pPrepared = image.constBits();
    m_nPrepared = bytes;
    vimo::platform::PrepareForWriting(m_pPrepared, m_nPrepared);
  }

  bool m_bPainted = false;  // the first paint has been seen
  const uchar* m_pPrepared = nullptr;
  std::size_t m_nPrepared = 0;
};

// ---- control bars -----------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CControlBar, CWnd)
IMPLEMENT_DYNAMIC(CToolBar, CControlBar)
IMPLEMENT_DYNAMIC(CStatusBar, CControlBar)
IMPLEMENT_DYNAMIC(CTextBar, CControlBar)

namespace {

template <class Widget>
struct AfxBarWidget : Widget, AfxWidgetLink {
  AfxBarWidget(CControlBar* pBar, QWidget* pParent) : Widget(pParent), AfxWidgetLink(pBar) {}
  bool event(QEvent* pEvent) override {
    if (AfxDeliverPosted(m_pOwner, pEvent)) return true;
    return Widget::event(pEvent);
  }
};

}  // namespace

BOOL CControlBar::CreateBar(CWnd* pParentWnd, DWORD dwStyle, UINT nID, QWidget* pWidget) {
  m_dwStyle = dwStyle & 0xFFFF;
  m_nID = nID;
  m_pDockSite = DynamicDownCast<CFrameWnd>(pParentWnd, RUNTIME_CLASS(CFrameWnd));
  pWidget->setObjectName(QStringLiteral("Bar%1").arg(nID));
  if (m_pDockSite != nullptr) m_pDockSite->m_listControlBars.push_back(this);
  return TRUE;
}

BOOL CControlBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID, int nHeight) {
  auto* pMain = pParentWnd != nullptr ? qobject_cast<QMainWindow*>(pParentWnd->GetWidget()) : nullptr;
  if (pMain == nullptr) return FALSE;
  auto* pWidget = new AfxBarWidget<QToolBar>(this, pMain);
  AttachWidget(pWidget, pWidget);
  pWidget->setMovable(false);
  pWidget->setFloatable(false);
  auto* pClient = new QWidget(pWidget);
  pClient->setObjectName(QStringLiteral("AfxClient"));
  pClient->setFixedHeight(nHeight);
  pClient->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  pWidget->addWidget(pClient);
  pMain->addToolBar((dwStyle & CBRS_ALIGN_BOTTOM) ? Qt::BottomToolBarArea : Qt::TopToolBarArea, pWidget);
  pWidget->setVisible((dwStyle & WS_VISIBLE) != 0);
  return CreateBar(pParentWnd, dwStyle, nID, pWidget);
}

void CControlBar::OnUpdateCmdUI(CFrameWnd* /*pTarget*/, BOOL /*bDisableIfNoHndler*/) {}

void CControlBar::SetBarStyle(DWORD dwStyle) { m_dwStyle = dwStyle; }

void CControlBar::EnableDocking(DWORD dwDockStyle) {
  m_dwDockStyle = dwDockStyle;
  if (auto* pDock = qobject_cast<QDockWidget*>(GetWidget())) {
    Qt::DockWidgetAreas areas;
    if (dwDockStyle & CBRS_ALIGN_TOP) areas |= Qt::TopDockWidgetArea;
    if (dwDockStyle & CBRS_ALIGN_BOTTOM) areas |= Qt::BottomDockWidgetArea;
    if (dwDockStyle & CBRS_ALIGN_LEFT) areas |= Qt::LeftDockWidgetArea;
    if (dwDockStyle & CBRS_ALIGN_RIGHT) areas |= Qt::RightDockWidgetArea;
    pDock->setAllowedAreas(areas);
    QDockWidget::DockWidgetFeatures features = QDockWidget::DockWidgetClosable;
    if (areas != Qt::DockWidgetAreas()) features |= QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable;
    pDock->setFeatures(features);
    return;
  }
  auto* pToolBar = qobject_cast<QToolBar*>(GetWidget());
  if (pToolBar == nullptr) return;
  Qt::ToolBarAreas areas;
  if (dwDockStyle & CBRS_ALIGN_TOP) areas |= Qt::TopToolBarArea;
  if (dwDockStyle & CBRS_ALIGN_BOTTOM) areas |= Qt::BottomToolBarArea;
  if (dwDockStyle & CBRS_ALIGN_LEFT) areas |= Qt::LeftToolBarArea;
  if (dwDockStyle & CBRS_ALIGN_RIGHT) areas |= Qt::RightToolBarArea;
  pToolBar->setAllowedAreas(areas);
  pToolBar->setMovable(areas != Qt::ToolBarAreas());
  pToolBar->setFloatable(areas != Qt::ToolBarAreas());
}

BOOL CControlBar::IsVisible() const { return GetWidget() != nullptr && !GetWidget()->isHidden() ? TRUE : FALSE; }

DWORD CControlBar::GetDockSide() const {
  if (auto* pDock = qobject_cast<QDockWidget*>(GetWidget())) {
    auto* pMain = qobject_cast<QMainWindow*>(pDock->parentWidget());
    if (pDock->isFloating() || pMain == nullptr) return 0;
    switch (pMain->dockWidgetArea(pDock)) {
      case Qt::LeftDockWidgetArea: return CBRS_ALIGN_LEFT;
      case Qt::TopDockWidgetArea: return CBRS_ALIGN_TOP;
      case Qt::BottomDockWidgetArea: return CBRS_ALIGN_BOTTOM;
      default: return CBRS_ALIGN_RIGHT;
    }
  }
  auto* pToolBar = qobject_cast<QToolBar*>(GetWidget());
  if (pToolBar == nullptr) return CBRS_ALIGN_BOTTOM;
  if (pToolBar->isFloating()) return 0;
  auto* pMain = qobject_cast<QMainWindow*>(pToolBar->parentWidget());
  if (pMain == nullptr) return CBRS_ALIGN_TOP;
  switch (pMain->toolBarArea(pToolBar)) {
    case Qt::BottomToolBarArea: return CBRS_ALIGN_BOTTOM;
    case Qt::LeftToolBarArea: return CBRS_ALIGN_LEFT;
    case Qt::RightToolBarArea: return CBRS_ALIGN_RIGHT;
    default: return CBRS_ALIGN_TOP;
  }
}

BOOL CToolBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
  auto* pMain = qobject_cast<QMainWindow*>(pParentWnd->GetWidget());
  if (pMain == nullptr) return FALSE;
  auto* pWidget = new AfxBarWidget<QToolBar>(this, pMain);
  AttachWidget(pWidget, pWidget);
  pWidget->setMovable(false);
  pWidget->setFloatable(false);
  pMain->addToolBar((dwStyle & CBRS_ALIGN_BOTTOM) ? Qt::BottomToolBarArea : Qt::TopToolBarArea, pWidget);
  pWidget->setVisible((dwStyle & WS_VISIBLE) != 0);
  return CreateBar(pParentWnd, dwStyle, nID, pWidget);
}

BOOL CToolBar::LoadToolBar(UINT nIDResource) {
  auto* pToolBar = qobject_cast<QToolBar*>(GetWidget());
  const AFX_TOOLBAR* pResource = AfxFindToolBarResource(nIDResource);
  if (pToolBar == nullptr || pResource == nullptr) return FALSE;
  const QImage strip = AfxImageFromResource(pResource->lpBitmap);
  pToolBar->setIconSize(QSize(pResource->nButtonWidth, pResource->nButtonHeight));
  int nImage = 0;
  for (int i = 0; i < pResource->nCount; ++i) {
    const UINT nID = pResource->lpIDs[i];
    m_nIDs.push_back(nID);
    if (nID == ID_SEPARATOR) {
      pToolBar->addSeparator();
      continue;
    }
    const QImage image =
        strip.copy(nImage * pResource->nButtonWidth, 0, pResource->nButtonWidth, pResource->nButtonHeight);
    ++nImage;
    QAction* pAction = pToolBar->addAction(QIcon(QPixmap::fromImage(image)), QString());
    pAction->setData(nID);
    QObject::connect(pAction, &QAction::triggered, pToolBar, [this, nID] {
      if (m_pDockSite != nullptr) m_pDockSite->ExecuteCommand(nID);
    });
  }
  ApplyTexts();
  return TRUE;
}

void CToolBar::SetBarStyle(DWORD dwStyle) {
  CControlBar::SetBarStyle(dwStyle);
  ApplyTexts();
}

void CToolBar::ApplyTexts() {
  auto* pToolBar = qobject_cast<QToolBar*>(GetWidget());
  if (pToolBar == nullptr) return;
  for (QAction* pAction : pToolBar->actions()) {
    const UINT nID = pAction->data().toUInt();
    if (nID == 0) continue;
    const QString tip = AfxToQString(ToolTipOf(nID));
    pAction->setText(tip);
    pAction->setToolTip((m_dwStyle & CBRS_TOOLTIPS) ? tip : QString());
    pAction->setStatusTip((m_dwStyle & CBRS_FLYBY) ? AfxToQString(PromptOf(nID)) : QString());
  }
}

void CToolBar::UpdateButtons() {
  auto* pToolBar = qobject_cast<QToolBar*>(GetWidget());
  if (pToolBar == nullptr || m_pDockSite == nullptr) return;
  for (QAction* pAction : pToolBar->actions()) {
    const UINT nID = pAction->data().toUInt();
    if (nID == 0) continue;
    CCmdUI state(nID);
    state.DoUpdate(m_pDockSite);
    if (pAction->isEnabled() != (state.m_bEnabled != FALSE)) pAction->setEnabled(state.m_bEnabled != FALSE);
  }
}

BOOL CStatusBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
  auto* pMain = qobject_cast<QMainWindow*>(pParentWnd->GetWidget());
  if (pMain == nullptr) return FALSE;
  auto* pWidget = new AfxBarWidget<QStatusBar>(this, pMain);
  AttachWidget(pWidget, pWidget);
  pWidget->setSizeGripEnabled(true);
  pMain->setStatusBar(pWidget);
  pWidget->setVisible((dwStyle & WS_VISIBLE) != 0);
  return CreateBar(pParentWnd, dwStyle, nID, pWidget);
}

BOOL CStatusBar::SetIndicators(const UINT* lpIDArray, int nIDCount) {
  auto* pStatusBar = qobject_cast<QStatusBar*>(GetWidget());
  if (pStatusBar == nullptr || lpIDArray == nullptr) return FALSE;
  for (int i = 0; i < nIDCount; ++i) {
    auto* pPane = new QLabel(pStatusBar);
    const UINT nID = lpIDArray[i];
    pPane->setText(AfxToQString(AfxLoadString(nID == ID_SEPARATOR ? AFX_IDS_IDLEMESSAGE : nID)));
    pStatusBar->addWidget(pPane, nID == ID_SEPARATOR ? 1 : 0);
    m_panes.push_back(pPane);
    m_nIDs.push_back(nID);
  }
  return TRUE;
}

void CStatusBar::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL /*bDisableIfNoHndler*/) {
  for (size_t i = 1; i < m_nIDs.size(); ++i) {
    if (m_nIDs[i] == ID_SEPARATOR) continue;
    CCmdUI state(m_nIDs[i]);
    state.DoUpdate(pTarget);
    if (state.m_bTextSet && GetPaneText(static_cast<int>(i)) != state.m_strText) SetPaneText(static_cast<int>(i), state.m_strText);
  }
}

CString CStatusBar::GetPaneText(int nIndex) const {
  if (nIndex < 0 || nIndex >= static_cast<int>(m_panes.size()) || GetWidget() == nullptr) return CString();
  return AfxGetLabelText(static_cast<QLabel*>(m_panes[static_cast<size_t>(nIndex)]));
}

void CStatusBar::SetPaneText(int nIndex, const char* lpszNewText) {
  if (nIndex < 0 || nIndex >= static_cast<int>(m_panes.size()) || GetWidget() == nullptr) return;
  AfxSetLabelText(static_cast<QLabel*>(m_panes[static_cast<size_t>(nIndex)]), lpszNewText);
}

namespace {

// Joins the letters of words written without spaces (Japanese, half-width katakana) so that a
// line breaks between words, never inside one, unless the word alone is wider than the line.
constexpr QChar kWordJoiner(0x2060);

QString JoinWords(const QString& text) {
  QString joined;
  joined.reserve(text.size() * 2);
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (i > 0 && !c.isLowSurrogate() && c.unicode() > 0x7F && !c.isSpace() && text[i - 1].unicode() > 0x7F &&
        !text[i - 1].isSpace())
      joined += kWordJoiner;
    joined += c;
  }
  return joined;
}

// The text view of a text bar: as wide as a column of facts wants to be. While it has the focus,
// copying and selecting all are its own, before the frame's accelerators of the same keys; what
// it copies is the text without the joiners.
struct AfxTextView : QTextEdit {
  explicit AfxTextView(QWidget* pParent) : QTextEdit(pParent) {}
  QSize sizeHint() const override { return QSize(fontMetrics().averageCharWidth() * 44, QTextEdit::sizeHint().height()); }
  QMimeData* createMimeDataFromSelection() const override {
    auto* pData = new QMimeData;
    pData->setText(textCursor().selection().toPlainText().remove(kWordJoiner));
    return pData;
  }
  bool event(QEvent* pEvent) override {
    if (pEvent->type() == QEvent::ShortcutOverride) {
      auto* pKey = static_cast<QKeyEvent*>(pEvent);
      if (pKey->matches(QKeySequence::Copy) || pKey->matches(QKeySequence::SelectAll)) {
        pKey->accept();
        return true;
      }
    }
    return QTextEdit::event(pEvent);
  }
};

Qt::DockWidgetArea DockAreaOf(DWORD dwStyle) {
  if (dwStyle & CBRS_ALIGN_LEFT) return Qt::LeftDockWidgetArea;
  if (dwStyle & CBRS_ALIGN_TOP) return Qt::TopDockWidgetArea;
  if (dwStyle & CBRS_ALIGN_BOTTOM) return Qt::BottomDockWidgetArea;
  return Qt::RightDockWidgetArea;
}

}  // namespace

BOOL CTextBar::Create(CWnd* pParentWnd, const char* lpszTitle, DWORD dwStyle, UINT nID) {
  auto* pMain = qobject_cast<QMainWindow*>(pParentWnd->GetWidget());
  if (pMain == nullptr) return FALSE;
  auto* pWidget = new AfxBarWidget<QDockWidget>(this, pMain);
  AttachWidget(pWidget, pWidget);
  pWidget->setWindowTitle(AfxToQString(lpszTitle));
  auto* pView = new AfxTextView(pWidget);
  pView->setReadOnly(true);
  pView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  pView->setFocusPolicy(Qt::ClickFocus);  // Tab and the arrow keys stay with the image
  pView->setLineWrapMode(QTextEdit::WidgetWidth);
  pWidget->setWidget(pView);
  pWidget->setFeatures(QDockWidget::DockWidgetClosable);
  pWidget->setAllowedAreas(DockAreaOf(dwStyle));
  pMain->addDockWidget(DockAreaOf(dwStyle), pWidget);
  pWidget->setVisible((dwStyle & WS_VISIBLE) != 0);
  return CreateBar(pParentWnd, dwStyle, nID, pWidget);
}

void CTextBar::SetText(const char* lpszText) {
  auto* pDock = qobject_cast<QDockWidget*>(GetWidget());
  auto* pView = pDock != nullptr ? qobject_cast<QTextEdit*>(pDock->widget()) : nullptr;
  if (pView == nullptr) return;
  m_strText = lpszText != nullptr ? lpszText : "";
  const QString text = AfxToQString(m_strText);
  // The values start one space after the widest caption.
  int nCaption = 0;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    const qsizetype nTab = line.indexOf(QLatin1Char('\t'));
    if (nTab > 0) nCaption = std::max(nCaption, pView->fontMetrics().horizontalAdvance(line.left(nTab)));
  }
  const int nValues = nCaption + pView->fontMetrics().averageCharWidth() * 2;
  pView->setTabStopDistance(nValues);
  const QString shown = JoinWords(text);
  if (pView->toPlainText() == shown) return;
  pView->setPlainText(shown);
  // A value too long for its line goes on in the values' column.
  QTextBlockFormat hanging;
  hanging.setLeftMargin(nValues);
  hanging.setTextIndent(-nValues);
  QTextCursor all(pView->document());
  all.select(QTextCursor::Document);
  all.mergeBlockFormat(hanging);
}

CString CTextBar::GetText() const { return m_strText; }

// ---- CMenu ------------------------------------------------------------------------------------

CMenu::CMenu() = default;

CMenu::~CMenu() = default;

BOOL CMenu::LoadMenu(UINT nIDResource) {
  m_pEntries = AfxFindMenuResource(nIDResource);
  m_subMenus.clear();
  return m_pEntries != nullptr ? TRUE : FALSE;
}

BOOL CMenu::CreatePopupMenu() {
  m_appended.assign(1, AFX_MENU_ENTRY{AfxMenuKind::End, 0, nullptr, FALSE});
  m_appendedTexts.clear();
  m_subMenus.clear();
  m_pEntries = m_appended.data();
  return TRUE;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT nIDNewItem, const char* lpszNewItem) {
  if (m_appended.empty()) return FALSE;
  AFX_MENU_ENTRY entry{AfxMenuKind::Separator, 0, nullptr, FALSE};
  if ((nFlags & MF_SEPARATOR) == 0) {
    m_appendedTexts.push_back(std::make_unique<std::string>(lpszNewItem != nullptr ? lpszNewItem : ""));
    entry = AFX_MENU_ENTRY{AfxMenuKind::Item, nIDNewItem, m_appendedTexts.back()->c_str(), FALSE};
  }
  m_appended.insert(m_appended.end() - 1, entry);
  m_pEntries = m_appended.data();
  return TRUE;
}

CMenu* CMenu::GetSubMenu(int nPos) {
  int nDepth = 0;
  int nFound = 0;
  for (const AFX_MENU_ENTRY* pEntry = m_pEntries; pEntry != nullptr && pEntry->kind != AfxMenuKind::End; ++pEntry) {
    if (pEntry->kind == AfxMenuKind::EndPopup) {
      if (--nDepth < 0) break;
      continue;
    }
    if (pEntry->kind != AfxMenuKind::Popup) continue;
    if (nDepth++ == 0 && nFound++ == nPos) {
      auto pMenu = std::make_unique<CMenu>();
      pMenu->m_pEntries = pEntry + 1;
      m_subMenus.push_back(std::move(pMenu));
      return m_subMenus.back().get();
    }
  }
  return nullptr;
}

BOOL CMenu::TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd) {
  const bool bReturnCommand = (nFlags & TPM_RETURNCMD) != 0;
  CFrameWnd* pFrame = pWnd == nullptr ? nullptr
                      : pWnd->IsKindOf(RUNTIME_CLASS(CFrameWnd)) ? static_cast<CFrameWnd*>(pWnd)
                                                                  : pWnd->GetParentFrame();
  if (pFrame == nullptr || m_pEntries == nullptr) return FALSE;
  QMenu menu(pWnd->GetWidget());
  AfxModalRequest request;
  request.kind = AfxModalRequest::Kind::PopupMenu;
  FillMenu(&menu, m_pEntries, [&](QMenu* /*pMenu*/, QAction* pAction, const AFX_MENU_ENTRY& entry) {
    if (request.strText.IsEmpty()) request.strText = entry.lpszText;
    request.items.push_back(CString(entry.lpszText) + "|" + CString(std::to_string(entry.nID)));
    if (!bReturnCommand) ApplyCommandState(pAction, entry.nID, pFrame);
  });
  UINT nChosen = 0;
  {
    AfxModalScope scope;
    if (AfxHasModalHook()) {
      nChosen = static_cast<UINT>(AfxCallModalHook(request));
    } else if (QAction* pChosen = menu.exec(QPoint(x, y))) {
      nChosen = pChosen->data().toUInt();
    }
  }
  if (bReturnCommand) return static_cast<BOOL>(nChosen);
  return nChosen != 0 && pFrame->ExecuteCommand(nChosen) ? TRUE : FALSE;
}

// ---- CFrameWnd --------------------------------------------------------------------------------

struct CFrameWnd::MenuState {
  std::vector<QMenu*> menus;                // top-level menus, owned by the menu bar
  std::multimap<UINT, QAction*> items;      // menu items by command
  QMenu* pRecentMenu = nullptr;             // the menu holding the recent-file placeholder
  QAction* pRecentPlaceholder = nullptr;
  std::vector<QAction*> recentItems;
};

IMPLEMENT_DYNCREATE(CFrameWnd, CWnd)

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
  ON_WM_CREATE()
  ON_WM_CLOSE()
  ON_WM_DESTROY()
  ON_COMMAND_EX_RANGE(ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, OnBarCheck)
  ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, OnUpdateControlBarMenu)
END_MESSAGE_MAP()

CFrameWnd::CFrameWnd() : m_pMenus(std::make_unique<MenuState>()) {}

CFrameWnd::~CFrameWnd() {
  // The views' widgets are children of this frame's widget: they go first.
  m_pActiveView = nullptr;
  m_otherViews.clear();
  m_pView.reset();
}

BOOL CFrameWnd::LoadFrame(UINT nIDResource, CCreateContext* pContext) {
  m_nIDResource = nIDResource;
  CREATESTRUCT cs{};
  cs.x = cs.y = cs.cx = cs.cy = CW_USEDEFAULT;
  cs.hMenu = nIDResource;
  cs.lpCreateParams = pContext;
  if (!PreCreateWindow(cs)) return FALSE;
  auto* pWidget = new AfxFrameWidget(this);
  AttachWidget(pWidget, pWidget);
  if (cs.cx != CW_USEDEFAULT && cs.cy != CW_USEDEFAULT && cs.cx > 0 && cs.cy > 0) pWidget->resize(cs.cx, cs.cy);
  if (cs.x != CW_USEDEFAULT && cs.y != CW_USEDEFAULT) pWidget->move(cs.x, cs.y);
  if (const AFX_IMAGE* pIcon = AfxFindIconResource(nIDResource))
    pWidget->setWindowIcon(QIcon(QPixmap::fromImage(AfxImageFromResource(pIcon))));
  CString docString = AfxLoadString(nIDResource);
  const int nBreak = docString.Find('\n');
  m_strTitle = nBreak < 0 ? docString : docString.Left(nBreak);
  SetWindowText(m_strTitle);
  if (cs.hMenu != 0) BuildMenu(nIDResource);
  BuildAccelerators(nIDResource);
  m_pCreateContext = pContext;
  if (SendMessage(WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    m_pCreateContext = nullptr;
    m_pActiveView = nullptr;
    m_pView.reset();
    ReleaseWidget();
    return FALSE;
  }
  m_pCreateContext = nullptr;
  return TRUE;
}

int CFrameWnd::OnCreate(LPCREATESTRUCT lpCreateStruct) {
  auto* pContext = static_cast<CCreateContext*>(lpCreateStruct != nullptr ? lpCreateStruct->lpCreateParams : nullptr);
  if (pContext == nullptr || pContext->m_pNewViewClass == nullptr) return 0;
  std::unique_ptr<CObject> pObject(pContext->m_pNewViewClass->CreateObject());
  auto* pView = DynamicDownCast<CView>(pObject.get(), RUNTIME_CLASS(CView));
  if (pView == nullptr) return -1;
  pObject.release();
  m_pView.reset(pView);
  if (!m_pView->Create(this, pContext)) return -1;
  static_cast<QMainWindow*>(GetWidget())->setCentralWidget(m_pView->GetWidget());
  m_pView->GetWidget()->setFocus();
  m_pActiveView = m_pView.get();
  return 0;
}

CView* CFrameWnd::CreateView(CCreateContext* pContext, UINT /*nID*/) {
  if (pContext == nullptr || pContext->m_pNewViewClass == nullptr || GetWidget() == nullptr) return nullptr;
  std::unique_ptr<CObject> pObject(pContext->m_pNewViewClass->CreateObject());
  auto* pView = DynamicDownCast<CView>(pObject.get(), RUNTIME_CLASS(CView));
  if (pView == nullptr) return nullptr;
  pObject.release();
  std::unique_ptr<CView> pOwned(pView);
  if (!pOwned->Create(this, pContext)) return nullptr;
  pOwned->GetWidget()->hide();
  m_otherViews.push_back(std::move(pOwned));
  return pView;
}

void CFrameWnd::SetActiveView(CView* pViewNew, BOOL /*bNotify*/) {
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  if (pMain == nullptr || pViewNew == nullptr || pViewNew->GetWidget() == nullptr || pViewNew == m_pActiveView) return;
  // The view shown until now stays the frame's child, hidden, for when it is shown again.
  if (QWidget* pOld = pMain->takeCentralWidget()) {
    pOld->setParent(pMain);
    pOld->hide();
  }
  pMain->setCentralWidget(pViewNew->GetWidget());
  pViewNew->GetWidget()->show();
  pViewNew->GetWidget()->setFocus();
  m_pActiveView = pViewNew;
}

void CFrameWnd::OnClose() {
  CWinApp* pApp = AfxGetApp();
  if (pApp != nullptr && pApp->m_pMainWnd == this) pApp->CloseAllDocuments();
  if (m_hWnd != nullptr) DestroyWindow();
}

void CFrameWnd::OnDestroy() { Default(); }

LRESULT CFrameWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return CWnd::DefWindowProc(message, wParam, lParam);
}

BOOL CFrameWnd::DestroyWindow() {
  if (GetWidget() == nullptr) return FALSE;
  SendMessage(WM_DESTROY);
  for (CView* pView : AllViews()) {
    if (pView->GetDocument() != nullptr) pView->GetDocument()->RemoveView(pView);
  }
  ReleaseWidget();
  CWinApp* pApp = AfxGetApp();
  if (pApp != nullptr && pApp->m_pMainWnd == this) {
    pApp->m_pMainWnd = nullptr;
    AfxPostQuitMessage(0);
  }
  return TRUE;
}

CDocument* CFrameWnd::GetActiveDocument() const {
  return m_pActiveView != nullptr ? m_pActiveView->GetDocument() : nullptr;
}

void CFrameWnd::OnFirstPaint() {}

void CFrameWnd::LoadMenuBar(UINT nIDResource) {
  if (!m_pMenus->menus.empty()) return;
  BuildMenu(nIDResource);
  // A bar added to a window already shown is shown by its maker.
  if (auto* pMain = static_cast<QMainWindow*>(GetWidget()); pMain != nullptr && pMain->menuWidget() != nullptr)
    pMain->menuWidget()->show();
}

void CFrameWnd::ReserveBarSpace(const CRect& space) {
  if (GetWidget() == nullptr) return;
  GetWidget()->setContentsMargins(static_cast<int>(space.left), static_cast<int>(space.top),
                                  static_cast<int>(space.right), static_cast<int>(space.bottom));
  // The bars and the view take their places now, not at the next turn of the event loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

CRect CFrameWnd::GetBarSpace() const {
  QWidget* pMain = GetWidget();
  QWidget* pView = m_pActiveView != nullptr ? m_pActiveView->GetWidget() : nullptr;
  if (pMain == nullptr || pView == nullptr) return CRect();
  if (pMain->layout() != nullptr) pMain->layout()->activate();
  const QRect view = pView->geometry();
  return CRect(view.left(), view.top(), pMain->width() - 1 - view.right(), pMain->height() - 1 - view.bottom());
}

void CFrameWnd::ActivateFrame(int nCmdShow) {
  if (nCmdShow == -1) {
    if (!IsWindowVisible()) nCmdShow = SW_SHOWNORMAL;
    else if (IsIconic()) nCmdShow = SW_RESTORE;
  }
  if (nCmdShow == -1 || GetWidget() == nullptr) return;
  ShowWindow(nCmdShow);
  // The offscreen platform has no stacking order to change.
  if (nCmdShow != SW_HIDE && nCmdShow != SW_SHOWMINNOACTIVE && QGuiApplication::platformName() != "offscreen") {
    GetWidget()->raise();
    GetWidget()->activateWindow();
  }
}

void CFrameWnd::InitialUpdateFrame(CDocument* /*pDoc*/, BOOL bMakeVisible) {
  if (bMakeVisible) {
    if (m_pView != nullptr) m_pView->OnInitialUpdate();
    int nCmdShow = -1;
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == this) {
      nCmdShow = pApp->m_nCmdShow;
      pApp->m_nCmdShow = -1;
    }
    ActivateFrame(nCmdShow);
  }
  OnUpdateFrameTitle(TRUE);
}

void CFrameWnd::OnUpdateFrameTitle(BOOL bAddToTitle) {
  CDocument* pDocument = GetActiveDocument();
  if (!bAddToTitle || pDocument == nullptr) {
    SetWindowText(m_strTitle);
    return;
  }
  SetWindowText(pDocument->GetTitle() + " - " + m_strTitle);
}

std::vector<CView*> CFrameWnd::AllViews() const {
  std::vector<CView*> views;
  if (m_pView != nullptr) views.push_back(m_pView.get());
  for (const auto& pView : m_otherViews) views.push_back(pView.get());
  return views;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery) {
  if (m_pActiveView != nullptr && m_pActiveView->OnCmdMsg(nID, nCode, pExtra, bQuery)) return TRUE;
  if (CWnd::OnCmdMsg(nID, nCode, pExtra, bQuery)) return TRUE;
  CWinApp* pApp = AfxGetApp();
  return pApp != nullptr && pApp->OnCmdMsg(nID, nCode, pExtra, bQuery) ? TRUE : FALSE;
}

// Control bars --------------------------------------------------------------------------------

void CFrameWnd::EnableDocking(DWORD dwDockStyle) {
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  if (pMain != nullptr && dwDockStyle != 0) pMain->setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
}

void CFrameWnd::DockControlBar(CControlBar* pBar, UINT nDockBarID) {
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  if (auto* pDock = pBar != nullptr ? qobject_cast<QDockWidget*>(pBar->GetWidget()) : nullptr) {
    Qt::DockWidgetArea area = Qt::RightDockWidgetArea;
    switch (nDockBarID) {
      case AFX_IDW_DOCKBAR_LEFT: area = Qt::LeftDockWidgetArea; break;
      case AFX_IDW_DOCKBAR_TOP: area = Qt::TopDockWidgetArea; break;
      case AFX_IDW_DOCKBAR_BOTTOM: area = Qt::BottomDockWidgetArea; break;
      default: break;
    }
    if (!pDock->isAreaAllowed(area)) return;
    const bool bVisible = !pDock->isHidden();
    pDock->setFloating(false);
    pMain->addDockWidget(area, pDock);
    pDock->setVisible(bVisible);
    return;
  }
  auto* pToolBar = pBar != nullptr ? qobject_cast<QToolBar*>(pBar->GetWidget()) : nullptr;
  if (pMain == nullptr || pToolBar == nullptr) return;
  Qt::ToolBarArea area = Qt::TopToolBarArea;
  switch (nDockBarID) {
    case AFX_IDW_DOCKBAR_LEFT: area = Qt::LeftToolBarArea; break;
    case AFX_IDW_DOCKBAR_RIGHT: area = Qt::RightToolBarArea; break;
    case AFX_IDW_DOCKBAR_BOTTOM: area = Qt::BottomToolBarArea; break;
    default: break;
  }
  if (!pToolBar->isAreaAllowed(area)) return;
  const bool bVisible = !pToolBar->isHidden();
  if (pToolBar->isWindow()) pToolBar->setWindowFlags(Qt::Widget);  // floating: back into the frame
  pMain->addToolBar(area, pToolBar);
  pToolBar->setVisible(bVisible);
}

void CFrameWnd::FloatControlBar(CControlBar* pBar, CPoint point) {
  if (auto* pDock = pBar != nullptr ? qobject_cast<QDockWidget*>(pBar->GetWidget()) : nullptr) {
    if (!pDock->features().testFlag(QDockWidget::DockWidgetFloatable)) return;
    pDock->setFloating(true);
    pDock->move(point.x, point.y);
    return;
  }
  auto* pToolBar = pBar != nullptr ? qobject_cast<QToolBar*>(pBar->GetWidget()) : nullptr;
  if (pToolBar == nullptr || !pToolBar->isFloatable()) return;
  // What Qt's own undocking does, which it offers no call for: the bar becomes a tool window of
  // the frame and stays in the frame's layout, which passes over it while it floats and takes it
  // back when the user docks it again.
  const bool bVisible = !pToolBar->isHidden();
  pToolBar->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
  pToolBar->adjustSize();
  pToolBar->move(point.x, point.y);
  pToolBar->setVisible(bVisible);
}

void CFrameWnd::ShowControlBar(CControlBar* pBar, BOOL bShow, BOOL /*bDelay*/) {
  if (pBar != nullptr && pBar->GetWidget() != nullptr) pBar->GetWidget()->setVisible(bShow != FALSE);
}

CControlBar* CFrameWnd::GetControlBar(UINT nID) const {
  for (CControlBar* pBar : m_listControlBars) {
    if (pBar->GetDlgCtrlID() == nID) return pBar;
  }
  return nullptr;
}

BOOL CFrameWnd::OnBarCheck(UINT nID) {
  CControlBar* pBar = GetControlBar(nID);
  if (pBar == nullptr) return FALSE;
  ShowControlBar(pBar, !pBar->IsVisible(), FALSE);
  return TRUE;
}

void CFrameWnd::OnUpdateControlBarMenu(CCmdUI* pCmdUI) {
  CControlBar* pBar = GetControlBar(pCmdUI->m_nID);
  if (pBar == nullptr) {
    pCmdUI->Enable(FALSE);
    return;
  }
  pCmdUI->Enable(TRUE);
  pCmdUI->SetCheck(pBar->IsVisible() ? 1 : 0);
}

namespace {

const char* DockName(DWORD dwSide) {
  switch (dwSide) {
    case CBRS_ALIGN_TOP: return "Top";
    case CBRS_ALIGN_BOTTOM: return "Bottom";
    case CBRS_ALIGN_LEFT: return "Left";
    case CBRS_ALIGN_RIGHT: return "Right";
    default: return "Floating";
  }
}

UINT DockBarOfName(const CString& name) {
  if (name == "Bottom") return AFX_IDW_DOCKBAR_BOTTOM;
  if (name == "Left") return AFX_IDW_DOCKBAR_LEFT;
  if (name == "Right") return AFX_IDW_DOCKBAR_RIGHT;
  return AFX_IDW_DOCKBAR_TOP;
}

}  // namespace

void CFrameWnd::SaveBarState(const char* lpszProfileName) const {
  CWinApp* pApp = AfxGetApp();
  if (pApp == nullptr || lpszProfileName == nullptr) return;
  const CWinApp::CProfileWriteGroup group(pApp);
  int nBar = 0;
  for (const CControlBar* pBar : m_listControlBars) {
    CString section;
    section.Format("%s-Bar%d", lpszProfileName, nBar++);
    pApp->WriteProfileInt(section, "BarID", static_cast<int>(pBar->GetDlgCtrlID()));
    pApp->WriteProfileInt(section, "Visible", pBar->IsVisible() ? 1 : 0);
    const DWORD dwSide = pBar->GetDockSide();
    pApp->WriteProfileString(section, "Docking", DockName(dwSide));
    if (dwSide != 0 || pBar->GetWidget() == nullptr || AfxCompositorPlacesWindows()) continue;
    // A floating bar's place on the desktop.
    pApp->WriteProfileInt(section, "XPos", pBar->GetWidget()->x());
    pApp->WriteProfileInt(section, "YPos", pBar->GetWidget()->y());
  }
}

void CFrameWnd::LoadBarState(const char* lpszProfileName) {
  CWinApp* pApp = AfxGetApp();
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  if (pApp == nullptr || lpszProfileName == nullptr || pMain == nullptr) return;
  for (int nBar = 0; nBar < 64; ++nBar) {
    CString section;
    section.Format("%s-Bar%d", lpszProfileName, nBar);
    const UINT nID = pApp->GetProfileInt(section, "BarID", 0);
    if (nID == 0) break;
    CControlBar* pBar = GetControlBar(nID);
    if (pBar == nullptr) continue;
    const CString docking = pApp->GetProfileString(section, "Docking", "");
    if (docking == "Floating") {
      FloatControlBar(pBar, CPoint(static_cast<int>(pApp->GetProfileInt(section, "XPos", 0)),
                                   static_cast<int>(pApp->GetProfileInt(section, "YPos", 0))));
    } else if (!docking.IsEmpty()) {
      DockControlBar(pBar, DockBarOfName(docking));
    }
    ShowControlBar(pBar, pApp->GetProfileInt(section, "Visible", 1) != 0, FALSE);
  }
}

// Status bar ----------------------------------------------------------------------------------

void CFrameWnd::SetMessageText(const char* lpszText) {
  auto* pStatusBar = DynamicDownCast<CStatusBar>(GetControlBar(AFX_IDW_STATUS_BAR), RUNTIME_CLASS(CStatusBar));
  if (pStatusBar != nullptr) pStatusBar->SetPaneText(0, lpszText);
}

void CFrameWnd::GetMessageString(UINT nID, CString& rMessage) const { rMessage = PromptOf(nID); }

void CFrameWnd::ShowStatusPrompt(const CString& prompt) {
  m_bPromptShown = prompt.IsEmpty() ? FALSE : TRUE;
  CString text = prompt;
  if (text.IsEmpty()) GetMessageString(AFX_IDS_IDLEMESSAGE, text);
  SetMessageText(text);
}

// Full screen and menu bar ---------------------------------------------------------------------

void CFrameWnd::SetFullScreen(BOOL bFullScreen) {
  QWidget* pWidget = GetWidget();
  if (pWidget == nullptr || IsFullScreen() == bFullScreen) return;
  if (bFullScreen) {
    NoteRestoredRect();
    // The window's own area (without the frame the window manager draws round it) comes back
    // as it is: a position that counts the frame in is only as good as what the window knows of
    // that frame, and just after full screen a window manager has not drawn it again yet.
    const QRect area = pWidget->geometry();
    m_rcBeforeFullScreen = RECT{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
    m_bSizeAfterFullScreen = false;
    // Where no window manager places it (a bare X server), the window covers the screen itself;
    // placed first, since placing a window ends its full-screen state.
    m_bHoldRestored = true;
    if (QScreen* pScreen = pWidget->screen(); pScreen != nullptr && !AfxCompositorPlacesWindows())
      pWidget->setGeometry(pScreen->geometry());
    pWidget->setWindowState(pWidget->windowState() | Qt::WindowFullScreen);
    m_bHoldRestored = false;
    pWidget->show();
    return;
  }
  pWidget->setWindowState(pWidget->windowState() & ~Qt::WindowFullScreen);
  const RECT& rc = m_rcBeforeFullScreen;
  if (rc.right > rc.left && rc.bottom > rc.top && !(pWidget->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))) {
    // Where the compositor places windows, a size asked for before it has left full screen is
    // lost with the full-screen buffer: the size comes back once it has (AfxFrameWidget).
    if (AfxCompositorPlacesWindows()) m_bSizeAfterFullScreen = true;
    else pWidget->setGeometry(QRect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top));
  }
  pWidget->show();
}

BOOL CFrameWnd::IsFullScreen() const {
  return GetWidget() != nullptr && (GetWidget()->windowState() & Qt::WindowFullScreen) ? TRUE : FALSE;
}

void CFrameWnd::SetMenuBarState(DWORD nState) {
  // A window still without its menu bar does not get an empty one.
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  if (pMain != nullptr && pMain->menuWidget() != nullptr) pMain->menuWidget()->setVisible(nState != AFX_MBS_HIDDEN);
}

DWORD CFrameWnd::GetMenuBarState() const {
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  return pMain != nullptr && pMain->menuWidget() != nullptr && pMain->menuWidget()->isHidden() ? AFX_MBS_HIDDEN
                                                                                               : AFX_MBS_VISIBLE;
}

// Menus and accelerators ----------------------------------------------------------------------

void CFrameWnd::BuildMenu(UINT nIDResource) {
  const AFX_MENU_ENTRY* pEntry = AfxFindMenuResource(nIDResource);
  auto* pMain = static_cast<QMainWindow*>(GetWidget());
  if (pEntry == nullptr) return;
  const auto makeItem = [this, pMain](QMenu* pMenu, QAction* pAction, const AFX_MENU_ENTRY& entry) {
    const UINT nID = entry.nID;
    pAction->setEnabled(entry.bGrayed == FALSE);
    m_pMenus->items.emplace(nID, pAction);
    if (nID == ID_FILE_MRU_FILE1) {
      m_pMenus->pRecentMenu = pMenu;
      m_pMenus->pRecentPlaceholder = pAction;
    }
    QObject::connect(pAction, &QAction::triggered, pMain, [this, nID] { ExecuteCommand(nID); });
  };
  while (pEntry->kind == AfxMenuKind::Popup) {
    QMenu* pMenu = pMain->menuBar()->addMenu(AfxToQString(pEntry->lpszText));
    const int nMenu = static_cast<int>(m_pMenus->menus.size());
    m_pMenus->menus.push_back(pMenu);
    QObject::connect(pMenu, &QMenu::aboutToShow, pMain, [this, nMenu] { UpdateMenu(nMenu); });
    pEntry = FillMenu(pMenu, pEntry + 1, makeItem);
    // A submenu's items are asked again when it opens: a command may have run since its menu did.
    for (QMenu* pSubMenu : pMenu->findChildren<QMenu*>())
      QObject::connect(pSubMenu, &QMenu::aboutToShow, pMain, [this, pSubMenu] { UpdateMenuItems(pSubMenu); });
  }
}

void CFrameWnd::BuildAccelerators(UINT nIDResource) {
  int nCount = 0;
  const AFX_ACCEL* pAccel = AfxFindAcceleratorResource(nIDResource, &nCount);
  for (int i = 0; i < nCount; ++i) {
    const QKeySequence keys = KeysOf(pAccel[i]);
    if (keys.isEmpty()) continue;
    auto* pAction = new QAction(GetWidget());
    // Return stands for the keypad's Enter too, as on Windows.
    if (keys[0].key() == Qt::Key_Return)
      pAction->setShortcuts({keys, QKeySequence(keys[0].keyboardModifiers() | Qt::Key_Enter)});
    else
      pAction->setShortcut(keys);
    pAction->setShortcutContext(Qt::WindowShortcut);
    pAction->setAutoRepeat(true);
    const UINT nID = pAccel[i].cmd;
    pAction->setData(nID);
    // Accelerators stay enabled: the command's update handler decides when the key arrives.
    QObject::connect(pAction, &QAction::triggered, GetWidget(), [this, nID] { ExecuteCommand(nID); });
    GetWidget()->addAction(pAction);
  }
}

void CFrameWnd::UpdateMenu(int nMenu) {
  if (nMenu < 0 || nMenu >= static_cast<int>(m_pMenus->menus.size())) return;
  QMenu* pMenu = m_pMenus->menus[static_cast<size_t>(nMenu)];
  if (pMenu == m_pMenus->pRecentMenu) {
    // The recent files replace the placeholder while there are any.
    for (QAction* pAction : m_pMenus->recentItems) {
      m_pMenus->items.erase(std::find_if(m_pMenus->items.begin(), m_pMenus->items.end(),
                                         [pAction](const auto& item) { return item.second == pAction; }));
      pMenu->removeAction(pAction);
      delete pAction;
    }
    m_pMenus->recentItems.clear();
    CWinApp* pApp = AfxGetApp();
    const std::vector<CString> files = pApp != nullptr ? pApp->GetRecentFileList() : std::vector<CString>();
    m_pMenus->pRecentPlaceholder->setVisible(files.empty());
    for (size_t i = 0; i < files.size() && i < 16; ++i) {
      QString text = AfxToQString(files[i]);
      text.replace(QLatin1Char('&'), QLatin1String("&&"));
      auto* pAction = new QAction(QStringLiteral("&%1 %2").arg(i + 1 < 10 ? QString::number(i + 1) : QString::number(i + 1)).arg(text), pMenu);
      const UINT nID = ID_FILE_MRU_FILE1 + static_cast<UINT>(i);
      pAction->setData(nID);
      pAction->setStatusTip(AfxToQString(PromptOf(nID)));
      pMenu->insertAction(m_pMenus->pRecentPlaceholder, pAction);
      QObject::connect(pAction, &QAction::triggered, GetWidget(), [this, nID] { ExecuteCommand(nID); });
      m_pMenus->items.emplace(nID, pAction);
      m_pMenus->recentItems.push_back(pAction);
    }
  }
  UpdateMenuItems(pMenu);
}

void CFrameWnd::UpdateMenuItems(QMenu* pMenu) {
  for (QAction* pAction : pMenu->actions()) {
    if (QMenu* pSubMenu = pAction->menu()) {
      UpdateMenuItems(pSubMenu);
      continue;
    }
    const UINT nID = pAction->data().toUInt();
    if (nID == 0 || pAction == m_pMenus->pRecentPlaceholder) continue;
    ApplyCommandState(pAction, nID, this);
  }
}

BOOL CFrameWnd::InModalState() const { return AfxModalScope::Active() ? TRUE : FALSE; }

void CFrameWnd::RefreshCommandStates() {
  for (CControlBar* pBar : m_listControlBars) {
    if (auto* pToolBar = DynamicDownCast<CToolBar>(pBar, RUNTIME_CLASS(CToolBar))) pToolBar->UpdateButtons();
    else if (pBar->IsVisible()) pBar->OnUpdateCmdUI(this, TRUE);
  }
  auto* pStatusBar = DynamicDownCast<CStatusBar>(GetControlBar(AFX_IDW_STATUS_BAR), RUNTIME_CLASS(CStatusBar));
  if (pStatusBar == nullptr || m_bPromptShown) return;
  CString idle;
  GetMessageString(AFX_IDS_IDLEMESSAGE, idle);
  if (pStatusBar->GetPaneText(0) != idle) pStatusBar->SetPaneText(0, idle);
}

void CFrameWnd::OnDropFiles(const std::vector<CString>& paths) {
  CWinApp* pApp = AfxGetApp();
  if (pApp == nullptr) return;
  if (GetWidget() != nullptr) GetWidget()->activateWindow();
  for (const CString& path : paths) pApp->OpenDocumentFile(path);
}
