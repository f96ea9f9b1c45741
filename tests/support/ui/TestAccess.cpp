// The window half of the test adapter: menus, tool bars, drops and drags reached through the
// widgets the layer made, as a user's clicks reach them.
#include "support/TestAccess.h"

#include <QAction>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEnterEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QToolBar>

#include <utility>

#include "afx/Dialog.h"
#include "afx/ListCtrl.h"
#include "afx/QtBridge.h"
#include "afx/afxwin.h"

BOOL AfxTestAccess::StartInstance(CWinApp& app, const std::vector<CString>& args, const std::function<void()>& beforeWindow) {
  if (!app.StartApplication(args)) return FALSE;
  if (beforeWindow) beforeWindow();
  return app.StartWindows();
}

namespace {

QMenuBar* MenuBarOf(CFrameWnd* pFrame) {
  auto* pMain = qobject_cast<QMainWindow*>(pFrame->GetWidget());
  return pMain != nullptr ? pMain->menuBar() : nullptr;
}

// The action of tool-bar button nIndex; NULL for a separator or a missing button.
QAction* ButtonAction(const CToolBar& toolBar, int nIndex) {
  auto* pToolBar = qobject_cast<QToolBar*>(toolBar.GetWidget());
  const UINT nID = toolBar.GetItemID(nIndex);
  if (pToolBar == nullptr || nID == 0) return nullptr;
  for (QAction* pAction : pToolBar->actions()) {
    if (pAction->data().toUInt() == nID) return pAction;
  }
  return nullptr;
}

}  // namespace

QAction* AfxTestAccess::MenuItem(CFrameWnd* pFrame, UINT nID) {
  QMenuBar* pBar = MenuBarOf(pFrame);
  if (pBar == nullptr) return nullptr;
  const QList<QAction*> menus = pBar->actions();
  for (int i = 0; i < menus.size(); ++i) pFrame->UpdateMenu(i);
  for (QMenu* pMenu : pBar->findChildren<QMenu*>()) {  // the menus and their submenus
    for (QAction* pAction : pMenu->actions()) {
      if (pAction->data().toUInt() == nID && !pAction->isSeparator() && pAction->isVisible()) return pAction;
    }
  }
  return nullptr;
}

BOOL AfxTestAccess::IsMenuItemEnabled(CFrameWnd* pFrame, UINT nID) {
  QAction* pAction = MenuItem(pFrame, nID);
  return pAction != nullptr && pAction->isEnabled() ? TRUE : FALSE;
}

BOOL AfxTestAccess::IsMenuItemChecked(CFrameWnd* pFrame, UINT nID) {
  QAction* pAction = MenuItem(pFrame, nID);
  return pAction != nullptr && pAction->isChecked() ? TRUE : FALSE;
}

BOOL AfxTestAccess::TriggerMenuItem(CFrameWnd* pFrame, UINT nID) {
  QAction* pAction = MenuItem(pFrame, nID);
  if (pAction == nullptr || !pAction->isEnabled()) return FALSE;
  pAction->trigger();
  return TRUE;
}

BOOL AfxTestAccess::HoverMenuItem(CFrameWnd* pFrame, UINT nID) {
  QAction* pAction = MenuItem(pFrame, nID);
  return pAction != nullptr && pAction->showStatusText(MenuBarOf(pFrame)) ? TRUE : FALSE;
}

BOOL AfxTestAccess::PressAccelerator(CFrameWnd* pFrame, const char* lpszKeys) {
  const QKeySequence keys = QKeySequence::fromString(AfxToQString(lpszKeys));
  for (QAction* pAction : pFrame->GetWidget()->actions()) {
    if (pAction->shortcut() == keys) {
      pAction->trigger();
      return TRUE;
    }
  }
  return FALSE;
}

std::vector<CString> AfxTestAccess::GetMenuItems(CFrameWnd* pFrame, int nMenu) {
  std::vector<CString> lines;
  QMenuBar* pBar = MenuBarOf(pFrame);
  if (pBar == nullptr || nMenu < 0 || nMenu >= pBar->actions().size()) return lines;
  pFrame->UpdateMenu(nMenu);
  QMenu* pMenu = pBar->actions()[nMenu]->menu();
  lines.push_back(AfxFromQString(pMenu->title()));
  for (QAction* pAction : pMenu->actions()) {
    if (!pAction->isVisible()) continue;
    CString line;
    line.Format("%s|%u", pAction->isSeparator() ? "-" : AfxFromQString(pAction->text()).str().c_str(), pAction->data().toUInt());
    lines.push_back(line);
  }
  return lines;
}

void AfxTestAccess::ClickButton(CToolBar& toolBar, int nIndex) {
  if (QAction* pAction = ButtonAction(toolBar, nIndex)) pAction->trigger();
}

void AfxTestAccess::HoverButton(CToolBar& toolBar, int nIndex, BOOL bEnter) {
  QAction* pAction = ButtonAction(toolBar, nIndex);
  QWidget* pButton = pAction != nullptr ? qobject_cast<QToolBar*>(toolBar.GetWidget())->widgetForAction(pAction) : nullptr;
  if (pButton == nullptr) return;
  if (bEnter) {
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(pButton, &enter);
    return;
  }
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(pButton, &leave);
}

CString AfxTestAccess::GetButtonToolTip(const CToolBar& toolBar, int nIndex) {
  QAction* pAction = ButtonAction(toolBar, nIndex);
  if (pAction == nullptr || (toolBar.GetBarStyle() & CBRS_TOOLTIPS) == 0) return CString();
  return AfxFromQString(pAction->toolTip());
}

BOOL AfxTestAccess::GetDlgItemRect(CDialog* pDialog, int nID, RECT* lpRect) {
  const auto it = pDialog->m_controls.find(nID);
  if (it == pDialog->m_controls.end()) return FALSE;
  const QRect r = it->second->geometry();
  *lpRect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  return TRUE;
}

void AfxTestAccess::DropFiles(CWnd* pWnd, const std::vector<CString>& paths) {
  std::vector<std::string> files;
  for (const CString& path : paths) files.push_back(path.str());
  DropUriList(pWnd, AfxUriListOfFiles(files));
}

void AfxTestAccess::DropUriList(CWnd* pWnd, const QByteArray& uriList) {
  QWidget* pWidget = pWnd->GetWidget();
  if (pWidget == nullptr) return;
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"), uriList);
  const QPointF center(pWidget->width() / 2.0, pWidget->height() / 2.0);
  QDragEnterEvent enter(center.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(pWidget, &enter);
  if (!enter.isAccepted()) return;
  QDropEvent drop(center, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(pWidget, &drop);
}

void AfxTestAccess::SetDragDropHook(COleDataSource::DragDropHook hook) { COleDataSource::s_testDragHook = std::move(hook); }

std::vector<int> AfxTestAccess::GetListStateImages(CWnd* pParent, UINT nID, int nCount) {
  std::vector<int> states;
  for (int nItem = 0; pParent != nullptr && nItem < nCount; ++nItem) {
    NMLVDISPINFO info{};
    info.hdr.idFrom = nID;
    info.hdr.code = LVN_GETDISPINFO;
    info.item.mask = LVIF_STATE;
    info.item.stateMask = LVIS_STATEIMAGEMASK;
    info.item.iItem = nItem;
    pParent->SendMessage(WM_NOTIFY, nID, reinterpret_cast<LPARAM>(&info.hdr));
    states.push_back(static_cast<int>((info.item.state & LVIS_STATEIMAGEMASK) >> 12));
  }
  return states;
}

std::vector<CString> AfxTestAccess::GetListCaptions(CWnd* pWnd) {
  std::vector<CString> captions;
  if (pWnd == nullptr || pWnd->GetWidget() == nullptr) return captions;
  for (QWidget* pChild : pWnd->GetWidget()->findChildren<QWidget*>()) {
    const auto* pLink = dynamic_cast<const AfxWidgetLink*>(pChild);
    auto* pList = pLink != nullptr ? dynamic_cast<CListCtrl*>(pLink->m_pOwner) : nullptr;
    if (pList == nullptr) continue;
    for (int nItem = 0; nItem < pList->GetItemCount(); ++nItem) captions.push_back(pList->CaptionOf(nItem));
  }
  return captions;
}
