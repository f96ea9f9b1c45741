// The keys at a glance (Help > キーボードショートカット, F1): every key of the accelerator table
// with the text of its command's menu item, and the mouse gestures and keys the view handles
// itself, grouped as the menus are. The list is made from the resources each time, so a key
// added to the table or a menu item renamed shows here at once.
#pragma once

#include "afx/Dialog.h"

class CKeysDlg : public CDialog {
 public:
  enum { IDD = 131 };

  explicit CKeysDlg(CWnd* pParent = nullptr);

  // The list as the window shows it: a heading per group, then a line per command, its keys
  // (joined by ", ") and a tab before its menu text; lines end in CR LF.
  static CString KeyList();
  // How the list names an accelerator's keys ("Ctrl+Shift+C", "F11", "Shift+Tab", "+").
  static CString KeyName(BYTE fVirt, WORD key);
  // A menu item's text as the list shows it: without its key, its mnemonic and its dots.
  static CString PlainMenuText(const char* lpszItem);

 protected:
  BOOL OnInitDialog() override;

  DECLARE_MESSAGE_MAP()
};
