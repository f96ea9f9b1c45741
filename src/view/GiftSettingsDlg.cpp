#include "view/GiftSettingsDlg.h"

#include <cstring>

namespace {

constexpr int IDC_GIFT_TO = 1000;
constexpr int IDC_GIFT_FROM = 1001;
constexpr int IDC_GIFT_SUBJECT = 1002;
constexpr int IDC_GIFT_COMMENT = 1003;
constexpr int IDC_GIFT_SERVER = 1004;

}  // namespace

CGiftSettingsDlg::CGiftSettingsDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

CGiftSettingsDlg::~CGiftSettingsDlg() = default;

void CGiftSettingsDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_GIFT_TO, m_strTo);
  DDX_Text(pDX, IDC_GIFT_SUBJECT, m_strSubject);
  DDX_Text(pDX, IDC_GIFT_SERVER, m_strServer);
  DDX_Text(pDX, IDC_GIFT_FROM, m_strFrom);
  DDX_Text(pDX, IDC_GIFT_COMMENT, m_strComment);
}

void CGiftSettingsDlg::OnOK() {
  UpdateData(TRUE);
  if (std::strchr(m_strTo, '@') == nullptr || std::strchr(m_strFrom, '@') == nullptr) {
    AfxMessageBox("@がメールIDに含まれていません");
    return;
  }
  if (m_strServer.IsEmpty()) {
    AfxMessageBox("SMTP サーバ名を指定してください");
    return;
  }
  CDialog::OnOK();
}

BEGIN_MESSAGE_MAP(CGiftSettingsDlg, CDialog)
END_MESSAGE_MAP()
