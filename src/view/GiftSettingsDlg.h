// The Image Gift settings dialog: recipients, sender, subject, comment and SMTP server.
#pragma once

#include "afx/Dialog.h"

class CGiftSettingsDlg : public CDialog {
 public:
  enum { IDD = 130 };

  explicit CGiftSettingsDlg(CWnd* pParent = nullptr);
  ~CGiftSettingsDlg() override;

  CString m_strTo;
  CString m_strSubject;
  CString m_strServer;
  CString m_strFrom;
  CString m_strComment;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  // Closes the dialog only when recipients and sender hold an '@' and a server is named.
  void OnOK() override;

  DECLARE_MESSAGE_MAP()
};
