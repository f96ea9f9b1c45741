#include "view/RenameDlg.h"

#include <climits>
#include <cstring>

#include "res/Resource.h"

BEGIN_MESSAGE_MAP(CRenameDlg, CDialog)
END_MESSAGE_MAP()

CRenameDlg::CRenameDlg(const CString& strName, CWnd* pParent) : CDialog(IDD, pParent), m_strName(strName) {}

CString CRenameDlg::Refusal(const CString& name) {
  if (name.IsEmpty()) return "a name cannot be empty";
  if (name == "." || name == "..") return "not a file name: " + name;
  if (std::strchr(name, '/') != nullptr) return "a name cannot hold '/': " + name;
  if (name.GetLength() > NAME_MAX) return "name too long (more than " + CString(std::to_string(NAME_MAX)) + " bytes)";
  return CString();
}

BOOL CRenameDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // The name up to its extension; a name that begins with its only dot is selected whole.
  const char* dot = std::strrchr(m_strName, '.');
  const int cbStem = dot != nullptr && dot != m_strName ? static_cast<int>(dot - m_strName) : m_strName.GetLength();
  SelectDlgItemText(IDC_RENAME_NAME, cbStem);
  return FALSE;  // the focus was set
}

void CRenameDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_RENAME_NAME, m_strName);
}

void CRenameDlg::OnOK() {
  UpdateData(TRUE);
  const CString refusal = Refusal(m_strName);
  if (!refusal.IsEmpty()) {
    AfxMessageBox(refusal);
    return;
  }
  CDialog::OnOK();
}
