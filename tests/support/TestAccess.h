// The one way tests reach past what the program itself calls: clicking tool-bar buttons and
// menu items, pressing accelerators, dropping files on a window, answering drags, and putting a
// stand-in conversion or "executable's folder" in place (the test programs are linked so that
// the program's calls of ConvertForViewing and GetModuleFileNameA come here first). The classes it
// reaches into name it their friend; the bodies that need windows live in support/ui/TestAccess.cpp.
#pragma once

#include <functional>
#include <vector>

#include "afx/OleDataSource.h"
#include "afx/afx.h"

class CDialog;
class CWinApp;
class CFrameWnd;
class CToolBar;
class CWnd;
class QAction;
class QByteArray;

struct AfxTestAccess {
  // Menu item nID as the user finds it, after the update handlers ran: enabled, checked;
  // triggered (FALSE when it is missing or disabled); pointed at, as when the user runs through
  // the menu. An accelerator key ("Ctrl+O", "Tab", "Shift+Tab") pressed: FALSE when none has it.
  static BOOL IsMenuItemEnabled(CFrameWnd* pFrame, UINT nID);
  static BOOL IsMenuItemChecked(CFrameWnd* pFrame, UINT nID);
  static BOOL TriggerMenuItem(CFrameWnd* pFrame, UINT nID);
  static BOOL HoverMenuItem(CFrameWnd* pFrame, UINT nID);
  static BOOL PressAccelerator(CFrameWnd* pFrame, const char* lpszKeys);
  // Top-level menu nMenu: its title, then a "text|id" line per item shown ("-" for a separator).
  static std::vector<CString> GetMenuItems(CFrameWnd* pFrame, int nMenu);

  // Tool-bar button nIndex clicked; the pointer moved onto (bEnter) or off it; the tool tip it
  // shows (empty without CBRS_TOOLTIPS).
  static void ClickButton(CToolBar& toolBar, int nIndex);
  static void HoverButton(CToolBar& toolBar, int nIndex, BOOL bEnter);
  static CString GetButtonToolTip(const CToolBar& toolBar, int nIndex);

  // Files dropped on the window as a file manager drops them: a text/uri-list of their exact
  // bytes; or such a list as given.
  static void DropFiles(CWnd* pWnd, const std::vector<CString>& paths);
  static void DropUriList(CWnd* pWnd, const QByteArray& uriList);

  // The texts of the items of the list controls inside pWnd, as their cells show them.
  static std::vector<CString> GetListCaptions(CWnd* pWnd);
  // The state picture (0: none) that pParent answers for each of the nCount items of its list
  // control nID, as the control asks before painting them.
  static std::vector<int> GetListStateImages(CWnd* pParent, UINT nID, int nCount);

  // Where control nID of a dialog lies, in pixels (FALSE when it has none).
  static BOOL GetDlgItemRect(CDialog* pDialog, int nID, RECT* lpRect);

  // Drags of the program are answered by hook instead of a real drag loop (empty: real drags).
  static void SetDragDropHook(COleDataSource::DragDropHook hook);
  // The program's conversions run this instead of ConvertForViewing (NULL: ConvertForViewing
  // again); a call of ConvertForViewing from inside it is the real one.
  using ConvertFunction = int (*)(const char* src, const char* dst, int colours);
  static void SetConvertFunction(ConvertFunction function);
  // While held, conversions (the one begun before the window exists too) wait; releasing lets
  // them run ConvertForViewing.
  static void HoldConversions(BOOL bHold);
  // The conversion that has put nRows rows of its picture in its file (told the window of them)
  // stops there until this is called with 0.
  static void HoldStreamedRows(int nRows);
  // Timed waits ask clock instead of letting their time pass (NULL: the real clock): TRUE, the
  // time has passed; FALSE, the wait goes on until it is signalled.
  static void SetWaitClock(BOOL (*clock)(DWORD dwTimeout));
  // Waits until the conversion begun before any queue existed (CMultiThread::ConvertAhead) has ended.
  static void WaitForConversionAhead();
  // CWinApp::StartInstance, running beforeWindow after InitApplication, before InitInstance.
  static BOOL StartInstance(CWinApp& app, const std::vector<CString>& args, const std::function<void()>& beforeWindow);
  // The program runs as if its executable were path (NULL: the real one).
  static void SetExecutablePath(const char* path);

 private:
  // The menu item of nID that is shown, once every menu's update handlers ran.
  static QAction* MenuItem(CFrameWnd* pFrame, UINT nID);
};
