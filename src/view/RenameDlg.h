// Asks for a file's new name: the name shown whole, the part before its extension selected so
// that typing replaces only that. Names no file can have are refused while the dialog stays open.
#pragma once

#include "afx/Dialog.h"

class CRenameDlg : public CDialog {
 public:
  enum { IDD = 133 };

  // strName: the file's name now; m_strName holds the new one after IDOK.
  explicit CRenameDlg(const CString& strName, CWnd* pParent = nullptr);

  // Why name cannot be a file's name (a short English text), or "" when it can: empty, "." and
  // "..", a '/', more bytes than a name may hold (NAME_MAX).
  static CString Refusal(const CString& name);

  CString m_strName;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  // Closes only on a name a file can have; the question whether it is free is the caller's.
  void OnOK() override;
  DECLARE_MESSAGE_MAP()
};
