#include "afx/Wnd.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <set>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "afx/Bitmap.h"
#include "afx/Dialog.h"
#include "afx/QtBridge.h"
#include "afx/WinApp.h"

namespace {

// The window objects whose windows exist: what IsWindow answers from. PostMessageA may look a
// window up on any thread: the set changes, and the windows' widgets go, under this lock.
std::set<const CWnd*>& LiveWindows() {
  static std::set<const CWnd*> windows;
  return windows;
}
std::mutex g_liveWindowsMutex;

// Framework units per Qt pixel of a window's client area: device pixels inside a view, Qt's own
// pixels elsewhere.
double UnitRatio(QWidget* pWidget) {
  // A control's units are Qt's own (the list control sets this).
  if (pWidget->property("afxQtUnits").toBool()) return 1.0;
  if (auto* pArea = qobject_cast<QAbstractScrollArea*>(pWidget)) return pArea->viewport()->devicePixelRatioF();
  return 1.0;
}

}  // namespace

QWidget* AfxClientOf(QWidget* pWidget) {
  if (auto* pArea = qobject_cast<QAbstractScrollArea*>(pWidget)) return pArea->viewport();
  if (auto* pClient = pWidget->findChild<QWidget*>(QStringLiteral("AfxClient"), Qt::FindDirectChildrenOnly)) return pClient;
  return pWidget;
}

UINT AfxVirtualKey(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<UINT>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<UINT>('0' + (key - Qt::Key_0));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return static_cast<UINT>(0x70 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Space: return 0x20;
    default: return 0;
  }
}

// ---- Qt bridge ---------------------------------------------------------------------------------

AfxWidgetLink::~AfxWidgetLink() {
  if (m_pOwner == nullptr) return;
  {
    const std::lock_guard<std::mutex> guard(g_liveWindowsMutex);
    LiveWindows().erase(m_pOwner);
  }
  m_pOwner->m_timers.clear();  // they went with the widget
  m_pOwner->m_pWidget = nullptr;
  m_pOwner->m_pLink = nullptr;
  m_pOwner->m_hWnd = nullptr;
}

QEvent::Type AfxPostedMessage::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void AfxPostAcrossThreads(QObject* pReceiver, QEvent* pEvent) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(pEvent);
#endif
  QCoreApplication::postEvent(pReceiver, pEvent);
}

void AfxTakeOverPosted(QEvent* pEvent) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(pEvent);
#endif
  (void)pEvent;
}

bool AfxDeliverPosted(CWnd* pOwner, QEvent* pEvent) {
  AfxTakeOverPosted(pEvent);
  if (pEvent->type() != AfxPostedMessage::EventType()) return false;
  if (pOwner == nullptr) return true;
  const auto* pMessage = static_cast<AfxPostedMessage*>(pEvent);
  pOwner->WindowProc(pMessage->m_nMessage, pMessage->m_wParam, pMessage->m_lParam);
  return true;
}

BOOL AfxCompositorPlacesWindows() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? TRUE : FALSE;
}

// ---- Win32 user functions ---------------------------------------------------------------------

COLORREF GetSysColor(int nIndex) {
  const QPalette palette = QApplication::palette();
  QColor color;
  switch (nIndex) {
    case COLOR_WINDOW: color = palette.color(QPalette::Base); break;
    case COLOR_WINDOWTEXT: color = palette.color(QPalette::Text); break;
    default: color = palette.color(QPalette::Button); break;
  }
  return RGB(static_cast<BYTE>(color.red()), static_cast<BYTE>(color.green()), static_cast<BYTE>(color.blue()));
}

int GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    default: return 0;
  }
}

BOOL IsWindow(HWND hWnd) { return CWnd::FromHandle(hWnd) != nullptr ? TRUE : FALSE; }

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  const std::lock_guard<std::mutex> guard(g_liveWindowsMutex);
  auto* pWnd = reinterpret_cast<CWnd*>(hWnd);
  if (LiveWindows().count(pWnd) == 0 || pWnd->GetWidget() == nullptr) return FALSE;
  AfxPostAcrossThreads(pWnd->GetWidget(), new AfxPostedMessage(Msg, wParam, lParam));
  return TRUE;
}

int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  const int n = std::vsnprintf(lpOut, 1024, lpFmt, args);
  va_end(args);
  return n < 0 ? 0 : (n > 1023 ? 1023 : n);
}

// ---- CDC --------------------------------------------------------------------------------------

CDC::CDC(QPainter* pPainter) : m_pPainter(pPainter) {
  if (pPainter->device() != nullptr) m_dDeviceRatio = pPainter->device()->devicePixelRatioF();
  SetViewportOrg(0, 0);
}

CDC::CDC() = default;

CDC::~CDC() { SelectObject(nullptr); }

BOOL CDC::CreateCompatibleDC(CDC* /*pDC*/) { return TRUE; }

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
  CBitmap* pPrevious = m_pSelected;
  m_pMemoryPainter.reset();  // ends painting into the bitmap selected before
  m_pPainter = nullptr;
  m_pSelected = pBitmap;
  if (pBitmap != nullptr && pBitmap->m_pImage) {
    m_pMemoryPainter = std::make_unique<QPainter>(pBitmap->m_pImage.get());
    m_pPainter = m_pMemoryPainter.get();
    m_dDeviceRatio = 1.0;
    SetViewportOrg(0, 0);
  }
  return pPrevious;
}

void CDC::FillRect(const RECT* lpRect, CBrush* pBrush) {
  if (m_pPainter == nullptr || lpRect == nullptr || pBrush == nullptr) return;
  m_pPainter->fillRect(QRect(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top),
                       AfxToQColor(pBrush->GetColor()));
}

BOOL CDC::TextOut(int x, int y, const char* lpszString, int nCount) {
  if (m_pPainter == nullptr || lpszString == nullptr || nCount < 0) return FALSE;
  const QString text = AfxToQString(lpszString, static_cast<std::size_t>(nCount));
  // The text starts at the device point (x, y) but is laid out in Qt's pixels, at the size the
  // user's scale gives the system font.
  const QPointF at = m_pPainter->transform().map(QPointF(x, y));
  m_pPainter->save();
  m_pPainter->resetTransform();
  m_pPainter->setFont(QApplication::font());
  m_pPainter->setPen(Qt::black);
  m_pPainter->setBackgroundMode(Qt::OpaqueMode);
  m_pPainter->setBackground(Qt::white);
  const QFontMetrics metrics(m_pPainter->font());
  m_pPainter->fillRect(QRectF(at, QSizeF(metrics.horizontalAdvance(text), metrics.height())), Qt::white);
  m_pPainter->drawText(at + QPointF(0, metrics.ascent()), text);
  m_pPainter->restore();
  return TRUE;
}

void CDC::SetViewportOrg(int x, int y) {
  m_ptViewportOrg = CPoint(x, y);
  if (m_pPainter == nullptr) return;
  const double scale = 1.0 / m_dDeviceRatio;
  m_pPainter->setTransform(QTransform::fromScale(scale, scale).translate(x, y));
}

// ---- CWnd -------------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_pLink != nullptr) m_pLink->m_pOwner = nullptr;
  {
    const std::lock_guard<std::mutex> guard(g_liveWindowsMutex);
    LiveWindows().erase(this);
  }
  QWidget* pWidget = m_pWidget;
  m_pWidget = nullptr;
  m_pLink = nullptr;
  delete pWidget;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  auto* pWnd = reinterpret_cast<CWnd*>(hWnd);
  const std::lock_guard<std::mutex> guard(g_liveWindowsMutex);
  return LiveWindows().count(pWnd) != 0 ? pWnd : nullptr;
}

void CWnd::AttachWidget(QWidget* pWidget, AfxWidgetLink* pLink) {
  m_pWidget = pWidget;
  m_pLink = pLink;
  m_hWnd = reinterpret_cast<HWND>(this);
  const std::lock_guard<std::mutex> guard(g_liveWindowsMutex);
  LiveWindows().insert(this);
}

void CWnd::ReleaseWidget() {
  if (m_pWidget == nullptr) return;
  for (auto& [nID, pTimer] : m_timers) pTimer->stop();
  m_timers.clear();
  QWidget* pWidget = m_pWidget;
  if (m_pLink != nullptr) m_pLink->m_pOwner = nullptr;
  {
    const std::lock_guard<std::mutex> guard(g_liveWindowsMutex);
    LiveWindows().erase(this);
  }
  m_pWidget = nullptr;
  m_pLink = nullptr;
  m_hWnd = nullptr;
  pWidget->hide();
  pWidget->deleteLater();
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT& /*cs*/) { return TRUE; }

BOOL CWnd::DestroyWindow() {
  if (m_pWidget == nullptr) return FALSE;
  SendMessage(WM_DESTROY);
  ReleaseWidget();
  return TRUE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) { return WindowProc(message, wParam, lParam); }

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessageA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    ExecuteCommand(static_cast<UINT>(LOWORD(wParam)));
    return 0;
  }
  const auto* pHeader = message == WM_NOTIFY ? reinterpret_cast<const NMHDR*>(lParam) : nullptr;
  const AFX_MSGMAP_ENTRY* pEntry = pHeader != nullptr ? FindMessageEntry(message, pHeader->code, static_cast<UINT>(pHeader->idFrom))
                                                      : FindMessageEntry(message, 0, 0);
  const AFX_MSGARGS args{message, wParam, lParam, nullptr};
  if (pEntry == nullptr) return DefWindowProc(message, wParam, lParam);
  const AFX_MSGARGS* pPrevious = m_pCurrentMessage;
  m_pCurrentMessage = &args;
  const LRESULT result = pEntry->pfn(this, args);
  m_pCurrentMessage = pPrevious;
  return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (message == WM_CLOSE) DestroyWindow();
  return 0;
}

LRESULT CWnd::Default() {
  if (m_pCurrentMessage == nullptr) return 0;
  return DefWindowProc(m_pCurrentMessage->nMessage, m_pCurrentMessage->wParam, m_pCurrentMessage->lParam);
}

int CWnd::OnCreate(LPCREATESTRUCT /*lpCreateStruct*/) { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnClose() { Default(); }

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
  if (m_pWidget == nullptr) return 0;
  QTimer*& pTimer = m_timers[nIDEvent];
  if (pTimer == nullptr) pTimer = new QTimer(m_pWidget);  // the widget's child: it goes with the window
  pTimer->disconnect();
  QObject::connect(pTimer, &QTimer::timeout, pTimer, [this, nIDEvent, lpfnTimer] {
    if (lpfnTimer != nullptr) lpfnTimer(m_hWnd, WM_TIMER, nIDEvent, 0);
    else WindowProc(WM_TIMER, static_cast<WPARAM>(nIDEvent), 0);
  });
  pTimer->start(static_cast<int>(std::min<UINT>(nElapse, INT_MAX)));
  return nIDEvent;
}

// Stopped, not deleted: KillTimer may come from the timer's own WM_TIMER.
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
  const auto found = m_timers.find(nIDEvent);
  if (m_pWidget == nullptr || found == m_timers.end()) return FALSE;
  found->second->stop();
  return TRUE;
}

BOOL CWnd::ShowWindow(int nCmdShow) {
  if (m_pWidget == nullptr) return FALSE;
  const BOOL bWasVisible = m_pWidget->isVisible() ? TRUE : FALSE;
  switch (nCmdShow) {
    case SW_HIDE: m_pWidget->hide(); break;
    case SW_SHOWMAXIMIZED: m_pWidget->showMaximized(); break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: m_pWidget->showMinimized(); break;
    case SW_SHOW: m_pWidget->show(); break;
    default: m_pWidget->showNormal(); break;
  }
  return bWasVisible;
}

void CWnd::SetFocus() {
  if (m_pWidget != nullptr) m_pWidget->setFocus(Qt::OtherFocusReason);
}

BOOL CWnd::IsWindowVisible() const { return m_pWidget != nullptr && m_pWidget->isVisible() ? TRUE : FALSE; }

BOOL CWnd::IsIconic() const { return m_pWidget != nullptr && m_pWidget->isMinimized() ? TRUE : FALSE; }

void CWnd::GetClientRect(RECT* lpRect) const {
  *lpRect = RECT{0, 0, 0, 0};
  if (m_pWidget == nullptr) return;
  const QWidget* pClient = AfxClientOf(m_pWidget);
  const double ratio = UnitRatio(m_pWidget);
  lpRect->right = qRound(pClient->width() * ratio);
  lpRect->bottom = qRound(pClient->height() * ratio);
}

void CWnd::Invalidate(BOOL bErase) { InvalidateRect(nullptr, bErase); }

void CWnd::InvalidateRect(const RECT* lpRect, BOOL /*bErase*/) {
  if (m_pWidget == nullptr) return;
  QWidget* pClient = AfxClientOf(m_pWidget);
  if (lpRect == nullptr) {
    pClient->update();
    return;
  }
  const double ratio = UnitRatio(m_pWidget);
  const QRectF area(lpRect->left / ratio, lpRect->top / ratio, (lpRect->right - lpRect->left) / ratio,
                    (lpRect->bottom - lpRect->top) / ratio);
  pClient->update(area.toAlignedRect());
}

void CWnd::UpdateWindow() {
  if (m_pWidget == nullptr) return;
  if (auto* pArea = qobject_cast<QAbstractScrollArea*>(m_pWidget)) {
    pArea->viewport()->repaint();
    return;
  }
  m_pWidget->repaint();
}

void CWnd::SetRedraw(BOOL bRedraw) {
  if (m_pWidget != nullptr) m_pWidget->setUpdatesEnabled(bRedraw != FALSE);
}

void CWnd::SetWindowText(const char* lpszString) {
  if (m_pWidget != nullptr) AfxSetWindowTitle(m_pWidget, lpszString);
}

CString CWnd::GetWindowText() const {
  return m_pWidget != nullptr ? AfxGetWindowTitle(m_pWidget) : CString();
}

BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* lpwndpl) const {
  if (m_pWidget == nullptr || lpwndpl == nullptr) return FALSE;
  const Qt::WindowStates state = m_pWidget->windowState();
  lpwndpl->flags = 0;
  lpwndpl->ptMinPosition = POINT{-1, -1};
  lpwndpl->ptMaxPosition = POINT{-1, -1};
  QRect normal(WindowPosition(), m_pWidget->size());
  if ((state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) && m_bHasRestored) {
    normal = QRect(QPoint(m_rcRestored.left, m_rcRestored.top), QPoint(m_rcRestored.right - 1, m_rcRestored.bottom - 1));
  }
  if (state & Qt::WindowMinimized) {
    lpwndpl->showCmd = SW_SHOWMINIMIZED;
    if (state & Qt::WindowMaximized) lpwndpl->flags = WPF_RESTORETOMAXIMIZED;
  } else if (state & Qt::WindowMaximized) {
    lpwndpl->showCmd = SW_SHOWMAXIMIZED;
  } else {
    lpwndpl->showCmd = SW_SHOWNORMAL;
  }
  lpwndpl->rcNormalPosition = RECT{normal.left(), normal.top(), normal.left() + normal.width(),
                                   normal.top() + normal.height()};
  return TRUE;
}

BOOL CWnd::SetWindowPlacement(const WINDOWPLACEMENT* lpwndpl) {
  if (m_pWidget == nullptr || lpwndpl == nullptr) return FALSE;
  const RECT& rc = lpwndpl->rcNormalPosition;
  m_pWidget->setWindowState(Qt::WindowNoState);
  m_rcRestored = rc;
  m_bHasRestored = true;
  m_pWidget->move(rc.left, rc.top);
  m_pWidget->resize(std::max<int>(1, rc.right - rc.left), std::max<int>(1, rc.bottom - rc.top));
  switch (lpwndpl->showCmd) {
    case SW_HIDE: m_pWidget->hide(); break;
    case SW_SHOWMAXIMIZED: m_pWidget->showMaximized(); break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: {
      Qt::WindowStates state = Qt::WindowMinimized;
      if (lpwndpl->flags & WPF_RESTORETOMAXIMIZED) state |= Qt::WindowMaximized;
      if (lpwndpl->showCmd == SW_SHOWMINNOACTIVE) m_pWidget->setAttribute(Qt::WA_ShowWithoutActivating);
      m_pWidget->setWindowState(state);
      m_pWidget->show();
      m_pWidget->setAttribute(Qt::WA_ShowWithoutActivating, false);
      break;
    }
    default: m_pWidget->show(); break;
  }
  return TRUE;
}

QPoint CWnd::WindowPosition() const {
  if (!AfxCompositorPlacesWindows()) return m_pWidget->pos();
  return m_bHasRestored ? QPoint(m_rcRestored.left, m_rcRestored.top) : QPoint(0, 0);
}

void CWnd::NoteRestoredRect() {
  if (m_pWidget == nullptr || m_bHoldRestored || (m_pWidget->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
    return;
  const QPoint pos = WindowPosition();
  m_rcRestored = RECT{pos.x(), pos.y(), pos.x() + m_pWidget->width(), pos.y() + m_pWidget->height()};
  m_bHasRestored = true;
}

void CWnd::DragAcceptFiles(BOOL bAccept) {
  if (m_pWidget != nullptr) m_pWidget->setAcceptDrops(bAccept != FALSE);
}

void CWnd::ClientToScreen(POINT* lpPoint) const {
  if (m_pWidget == nullptr || lpPoint == nullptr) return;
  const double ratio = UnitRatio(m_pWidget);
  const QPoint at = AfxClientOf(m_pWidget)->mapToGlobal(QPointF(lpPoint->x / ratio, lpPoint->y / ratio).toPoint());
  *lpPoint = POINT{at.x(), at.y()};
}

CFrameWnd* CWnd::GetParentFrame() const {
  for (QWidget* pWidget = m_pWidget != nullptr ? m_pWidget->parentWidget() : nullptr; pWidget != nullptr;
       pWidget = pWidget->parentWidget()) {
    if (auto* pLink = dynamic_cast<AfxWidgetLink*>(pWidget)) {
      if (pLink->m_pOwner != nullptr && pLink->m_pOwner->IsKindOf(RUNTIME_CLASS(CFrameWnd)))
        return static_cast<CFrameWnd*>(pLink->m_pOwner);
    }
  }
  return nullptr;
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange exchange(this, bSaveAndValidate);
  DoDataExchange(&exchange);
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange* /*pDX*/) {}

// ---- CView ------------------------------------------------------------------------------------

// The view's window: a scroll area whose viewport is the client area.
struct AfxViewWidget : QAbstractScrollArea, AfxWidgetLink {
  explicit AfxViewWidget(CView* pView, QWidget* pParent) : QAbstractScrollArea(pParent), AfxWidgetLink(pView) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
  }
  CView* View() const { return static_cast<CView*>(m_pOwner); }

  bool viewportEvent(QEvent* pEvent) override {
    if (pEvent->type() == QEvent::Paint && View() != nullptr) {
      QPainter painter(viewport());
      View()->PaintView(&painter, TRUE);
      return true;
    }
    return QAbstractScrollArea::viewportEvent(pEvent);
  }
  void resizeEvent(QResizeEvent* pEvent) override {
    QAbstractScrollArea::resizeEvent(pEvent);
    if (View() == nullptr) return;
    View()->OnViewportResized();
    const double ratio = viewport()->devicePixelRatioF();
    View()->WindowProc(WM_SIZE, SIZE_RESTORED,
                       MAKELPARAM(static_cast<WORD>(qRound(viewport()->width() * ratio)),
                                  static_cast<WORD>(qRound(viewport()->height() * ratio))));
  }
  // The wheel goes to the view first; what it leaves scrolls.
  void wheelEvent(QWheelEvent* pEvent) override {
    const QPointF pt = pEvent->position() * viewport()->devicePixelRatioF();
    const int delta = pEvent->angleDelta().y() != 0 ? pEvent->angleDelta().y() : pEvent->angleDelta().x();
    UINT nFlags = 0;
    if (pEvent->modifiers() & Qt::ControlModifier) nFlags |= MK_CONTROL;
    if (pEvent->modifiers() & Qt::ShiftModifier) nFlags |= MK_SHIFT;
    const WPARAM wParam = static_cast<WPARAM>(MAKELPARAM(static_cast<WORD>(nFlags), static_cast<WORD>(static_cast<short>(delta))));
    const LPARAM lParam = MAKELPARAM(static_cast<WORD>(qRound(pt.x())), static_cast<WORD>(qRound(pt.y())));
    if (View() != nullptr && View()->WindowProc(WM_MOUSEWHEEL, wParam, lParam) != 0) {
      pEvent->accept();
      return;
    }
    QAbstractScrollArea::wheelEvent(pEvent);
  }
  void scrollContentsBy(int /*dx*/, int /*dy*/) override {
    viewport()->update();
    if (View() != nullptr) View()->OnScrollPositionChanged();
  }
  bool event(QEvent* pEvent) override {
    if (AfxDeliverPosted(m_pOwner, pEvent)) return true;
    return QAbstractScrollArea::event(pEvent);
  }
  // Tab belongs to the accelerators: it never moves the focus out of the view.
  bool focusNextPrevChild(bool /*next*/) override { return false; }
  void keyPressEvent(QKeyEvent* pEvent) override {
    const UINT nChar = AfxVirtualKey(pEvent->key());
    if (View() == nullptr || nChar == 0) return;
    View()->WindowProc(WM_KEYDOWN, nChar, MAKELPARAM(static_cast<WORD>(pEvent->isAutoRepeat() ? 2 : 1), 0));
  }
  void mousePressEvent(QMouseEvent* pEvent) override {
    if (View() == nullptr) return;
    if (pEvent->button() == Qt::LeftButton) View()->WindowProc(WM_LBUTTONDOWN, ButtonFlags(pEvent), PointParam(pEvent));
    else if (pEvent->button() == Qt::MiddleButton) View()->WindowProc(WM_MBUTTONDOWN, ButtonFlags(pEvent), PointParam(pEvent));
  }
  void mouseReleaseEvent(QMouseEvent* pEvent) override {
    if (View() == nullptr) return;
    if (pEvent->button() == Qt::LeftButton) View()->WindowProc(WM_LBUTTONUP, ButtonFlags(pEvent), PointParam(pEvent));
    else if (pEvent->button() == Qt::MiddleButton) View()->WindowProc(WM_MBUTTONUP, ButtonFlags(pEvent), PointParam(pEvent));
  }
  // Qt tracks no moves without a button held: an idle pointer costs nothing.
  void mouseMoveEvent(QMouseEvent* pEvent) override {
    if (View() != nullptr) View()->WindowProc(WM_MOUSEMOVE, ButtonFlags(pEvent), PointParam(pEvent));
  }
  // The second press of a double-click comes as the double-click alone, as on Windows.
  void mouseDoubleClickEvent(QMouseEvent* pEvent) override {
    if (View() == nullptr) return;
    if (pEvent->button() == Qt::LeftButton) View()->WindowProc(WM_LBUTTONDBLCLK, ButtonFlags(pEvent), PointParam(pEvent));
    else mousePressEvent(pEvent);
  }
  void contextMenuEvent(QContextMenuEvent* pEvent) override {
    if (View() == nullptr) return;
    const LPARAM lParam = pEvent->reason() == QContextMenuEvent::Keyboard
                              ? MAKELPARAM(0xFFFF, 0xFFFF)
                              : MAKELPARAM(static_cast<WORD>(pEvent->globalPos().x()), static_cast<WORD>(pEvent->globalPos().y()));
    View()->WindowProc(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(View()->m_hWnd), lParam);
  }
  static WPARAM ButtonFlags(const QMouseEvent* pEvent) {
    UINT nFlags = 0;
    if (pEvent->buttons() & Qt::LeftButton) nFlags |= MK_LBUTTON;
    if (pEvent->buttons() & Qt::MiddleButton) nFlags |= MK_MBUTTON;
    if (pEvent->modifiers() & Qt::ControlModifier) nFlags |= MK_CONTROL;
    if (pEvent->modifiers() & Qt::ShiftModifier) nFlags |= MK_SHIFT;
    return nFlags;
  }
  // The event's position in the view's units (device pixels) as a message's lParam.
  LPARAM PointParam(const QMouseEvent* pEvent) const {
    const QPointF pt = pEvent->position() * viewport()->devicePixelRatioF();
    return MAKELPARAM(static_cast<WORD>(qRound(pt.x())), static_cast<WORD>(qRound(pt.y())));
  }
};

IMPLEMENT_DYNAMIC(CView, CWnd)

CView::CView() = default;

CView::~CView() {
  if (m_pDocument != nullptr) m_pDocument->RemoveView(this);
}

BOOL CView::Create(CFrameWnd* pParentWnd, CCreateContext* pContext) {
  CREATESTRUCT cs{};
  if (!PreCreateWindow(cs)) return FALSE;
  auto* pWidget = new AfxViewWidget(this, pParentWnd->GetWidget());
  AttachWidget(pWidget, pWidget);
  if (pContext != nullptr && pContext->m_pCurrentDoc != nullptr) pContext->m_pCurrentDoc->AddView(this);
  return TRUE;
}

BOOL CView::PreCreateWindow(CREATESTRUCT& cs) { return CWnd::PreCreateWindow(cs); }

void CView::OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }

void CView::OnUpdate(CView* /*pSender*/, LPARAM /*lHint*/, CObject* /*pHint*/) { Invalidate(TRUE); }

void CView::OnPrepareDC(CDC* /*pDC*/) {}

BOOL CView::OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery) {
  if (CWnd::OnCmdMsg(nID, nCode, pExtra, bQuery)) return TRUE;
  return m_pDocument != nullptr && m_pDocument->OnCmdMsg(nID, nCode, pExtra, bQuery) ? TRUE : FALSE;
}

void CView::PaintView(QPainter* pPainter, BOOL bErase) {
  CDC dc(pPainter);
  if (bErase) WindowProc(WM_ERASEBKGND, reinterpret_cast<WPARAM>(&dc), 0);
  dc.SetViewportOrg(0, 0);
  OnPrepareDC(&dc);
  OnDraw(&dc);
}

LRESULT CView::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) {
    auto* pDC = reinterpret_cast<CDC*>(wParam);
    CRect client;
    GetClientRect(&client);
    CBrush brush(GetSysColor(COLOR_WINDOW));
    pDC->FillRect(&client, &brush);
    return 1;
  }
  return CWnd::DefWindowProc(message, wParam, lParam);
}

// ---- CScrollView ------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CScrollView, CView)

const SIZE CScrollView::sizeDefault = {0, 0};

void CScrollView::SetScrollSizes(int nMapMode, SIZE sizeTotal, const SIZE& sizePage, const SIZE& sizeLine) {
  m_nMapMode = nMapMode;
  m_totalDev = CSize(std::max<LONG>(0, sizeTotal.cx), std::max<LONG>(0, sizeTotal.cy));
  m_pageDev = sizePage;
  if (m_pageDev.cx == 0) m_pageDev.cx = m_totalDev.cx / 10;
  if (m_pageDev.cy == 0) m_pageDev.cy = m_totalDev.cy / 10;
  m_lineDev = sizeLine;
  if (m_lineDev.cx == 0) m_lineDev.cx = m_pageDev.cx / 10;
  if (m_lineDev.cy == 0) m_lineDev.cy = m_pageDev.cy / 10;
  UpdateBars();
}

void CScrollView::GetScrollSizes(int& nMapMode, SIZE& sizeTotal, SIZE& sizePage, SIZE& sizeLine) const {
  nMapMode = m_nMapMode;
  sizeTotal = m_totalDev;
  sizePage = m_pageDev;
  sizeLine = m_lineDev;
}

double CScrollView::DeviceRatio() const { return UnitRatio(GetWidget()); }

// The bars count in device pixels, as the sizes do: the range ends where the image's last pixel
// meets the client area's edge, and a page is a page of image pixels whatever the scale.
void CScrollView::UpdateBars() {
  auto* pArea = qobject_cast<QAbstractScrollArea*>(GetWidget());
  if (pArea == nullptr) return;
  const double ratio = DeviceRatio();
  auto device = [ratio](int qtPixels) { return static_cast<int>(qRound(qtPixels * ratio)); };
  // The bars' presence changes the viewport, which changes the ranges: settle in a few rounds.
  for (int round = 0; round < 3; ++round) {
    const QSize client = pArea->maximumViewportSize();
    const bool needH = m_bHorzShown && m_totalDev.cx > device(client.width());
    const bool needV = m_bVertShown && m_totalDev.cy > device(client.height());
    const int width = device(client.width() - (needV ? pArea->verticalScrollBar()->sizeHint().width() : 0));
    const int height = device(client.height() - (needH ? pArea->horizontalScrollBar()->sizeHint().height() : 0));
    pArea->horizontalScrollBar()->setRange(0, std::max(0, m_totalDev.cx - width));
    pArea->verticalScrollBar()->setRange(0, std::max(0, m_totalDev.cy - height));
    if (device(pArea->viewport()->width()) == width || round == 2) break;
  }
  pArea->horizontalScrollBar()->setPageStep(std::max(1, m_pageDev.cx));
  pArea->verticalScrollBar()->setPageStep(std::max(1, m_pageDev.cy));
  pArea->horizontalScrollBar()->setSingleStep(std::max(1, m_lineDev.cx));
  pArea->verticalScrollBar()->setSingleStep(std::max(1, m_lineDev.cy));
}

void CScrollView::ShowScrollBar(UINT nBar, BOOL bShow) {
  auto* pArea = qobject_cast<QAbstractScrollArea*>(GetWidget());
  if (pArea == nullptr) return;
  if (nBar != SB_VERT) m_bHorzShown = bShow;
  if (nBar != SB_HORZ) m_bVertShown = bShow;
  const Qt::ScrollBarPolicy horz = m_bHorzShown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  const Qt::ScrollBarPolicy vert = m_bVertShown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  if (pArea->horizontalScrollBarPolicy() == horz && pArea->verticalScrollBarPolicy() == vert) return;
  pArea->setHorizontalScrollBarPolicy(horz);
  pArea->setVerticalScrollBarPolicy(vert);
  UpdateBars();
}

void CScrollView::OnViewportResized() { UpdateBars(); }

void CScrollView::OnScrollPositionChanged() {}

CPoint CScrollView::GetScrollPosition() const {
  auto* pArea = qobject_cast<QAbstractScrollArea*>(GetWidget());
  if (pArea == nullptr) return CPoint();
  return CPoint(pArea->horizontalScrollBar()->value(), pArea->verticalScrollBar()->value());
}

void CScrollView::ScrollToPosition(POINT pt) {
  auto* pArea = qobject_cast<QAbstractScrollArea*>(GetWidget());
  if (pArea == nullptr) return;
  pArea->horizontalScrollBar()->setValue(pt.x);
  pArea->verticalScrollBar()->setValue(pt.y);
}

void CScrollView::FillOutsideRect(CDC* pDC, CBrush* pBrush) {
  CRect client;
  GetClientRect(&client);
  const CPoint pos = GetScrollPosition();
  const int imageRight = m_totalDev.cx - pos.x;
  const int imageBottom = m_totalDev.cy - pos.y;
  if (imageRight < client.right) {
    const CRect right(std::max(0, imageRight), 0, client.right, client.bottom);
    pDC->FillRect(&right, pBrush);
  }
  if (imageBottom < client.bottom) {
    const CRect below(0, std::max(0, imageBottom), client.right, client.bottom);
    pDC->FillRect(&below, pBrush);
  }
}

BOOL CScrollView::OnScroll(UINT nScrollCode, UINT nPos, BOOL bDoScroll) {
  auto* pArea = qobject_cast<QAbstractScrollArea*>(GetWidget());
  if (pArea == nullptr) return FALSE;
  auto step = [nPos](QScrollBar* pBar, UINT nCode, int page, int line) {
    switch (nCode) {
      case SB_LINEUP: return pBar->value() - line;
      case SB_LINEDOWN: return pBar->value() + line;
      case SB_PAGEUP: return pBar->value() - page;
      case SB_PAGEDOWN: return pBar->value() + page;
      case SB_TOP: return pBar->minimum();
      case SB_BOTTOM: return pBar->maximum();
      case SB_THUMBTRACK: return static_cast<int>(nPos);
      default: return pBar->value();
    }
  };
  QScrollBar* pH = pArea->horizontalScrollBar();
  QScrollBar* pV = pArea->verticalScrollBar();
  const int x = std::clamp(step(pH, nScrollCode & 0xFF, m_pageDev.cx, m_lineDev.cx), pH->minimum(), pH->maximum());
  const int y = std::clamp(step(pV, (nScrollCode >> 8) & 0xFF, m_pageDev.cy, m_lineDev.cy), pV->minimum(), pV->maximum());
  const bool bMoved = x != pH->value() || y != pV->value();
  if (bDoScroll && bMoved) {
    pH->setValue(x);
    pV->setValue(y);
  }
  return bMoved ? TRUE : FALSE;
}

void CScrollView::OnPrepareDC(CDC* pDC) {
  const CPoint pos = GetScrollPosition();
  pDC->SetViewportOrg(-pos.x, -pos.y);
}
