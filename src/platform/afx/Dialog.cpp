#include "afx/Dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "afx/QtBridge.h"
#include "afx/Resource.h"
#include "afx/WinApp.h"

namespace {

AfxModalHook& ModalHook() {
  static AfxModalHook hook;
  return hook;
}

int g_nModalDepth = 0;

QWidget* MainWidget() {
  CWnd* pMain = AfxGetMainWnd();
  return pMain != nullptr ? pMain->GetWidget() : nullptr;
}

// The template's font where it is installed, else the application's interface font.
QFont DialogFont(const AFX_DLGTEMPLATE& dialog) {
  QFont font = QApplication::font();
  const QString family = AfxToQString(dialog.lpszFont);
  if (QFontDatabase::families().contains(family)) font.setFamily(family);
  if (dialog.nPointSize > 0) font.setPointSize(dialog.nPointSize);
  return font;
}

}  // namespace

AfxModalScope::AfxModalScope() { ++g_nModalDepth; }
AfxModalScope::~AfxModalScope() { --g_nModalDepth; }
bool AfxModalScope::Active() { return g_nModalDepth > 0; }

void AfxSetModalHook(AfxModalHook hook) { ModalHook() = std::move(hook); }
bool AfxHasModalHook() { return static_cast<bool>(ModalHook()); }
int AfxCallModalHook(AfxModalRequest& request) { return ModalHook()(request); }

int AfxMessageBox(const char* lpszText, UINT nType, UINT /*nIDHelp*/) {
  AfxModalScope scope;
  const UINT nButtons = nType & 0x0F;  // the low four bits choose the buttons
  const bool bThree = nButtons == MB_YESNOCANCEL;
  const bool bYesNo = nButtons == MB_YESNO || bThree;
  const bool bCancel = nButtons == MB_OKCANCEL;
  const int nDefault = !bYesNo                          ? IDOK
                       : bThree && (nType & MB_DEFBUTTON3) != 0 ? IDCANCEL
                       : (nType & MB_DEFBUTTON2) != 0           ? IDNO
                                                                : IDYES;
  if (AfxHasModalHook()) {
    AfxModalRequest request;
    request.kind = AfxModalRequest::Kind::MessageBox;
    request.strText = lpszText != nullptr ? lpszText : "";
    request.strCaption = AfxGetAppName();
    request.nType = nType;
    const int nAnswer = AfxCallModalHook(request);
    if (bThree && nAnswer == IDCANCEL) return IDCANCEL;
    if (bYesNo) return nAnswer == IDYES || nAnswer == IDNO ? nAnswer : nDefault;
    return bCancel && nAnswer == IDCANCEL ? IDCANCEL : IDOK;
  }
  const QMessageBox::StandardButtons buttons = bThree    ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                                               : bYesNo  ? QMessageBox::Yes | QMessageBox::No
                                               : bCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                         : QMessageBox::Ok;
  QMessageBox box(bYesNo ? QMessageBox::Question : QMessageBox::NoIcon, AfxToQString(AfxGetAppName()),
                  AfxToQString(lpszText), buttons, MainWidget());
  box.setTextFormat(Qt::PlainText);
  if (bYesNo) {
    box.setDefaultButton(nDefault == IDYES ? QMessageBox::Yes : nDefault == IDNO ? QMessageBox::No : QMessageBox::Cancel);
    box.setEscapeButton(bThree ? QMessageBox::Cancel : QMessageBox::No);
  }
  const int nPressed = box.exec();
  if (bThree && nPressed == QMessageBox::Cancel) return IDCANCEL;
  if (bYesNo) return nPressed == QMessageBox::Yes ? IDYES : IDNO;
  return bCancel && nPressed != QMessageBox::Ok ? IDCANCEL : IDOK;
}

// ---- CDialog ----------------------------------------------------------------------------------

struct AfxDialogWidget : QDialog, AfxWidgetLink {
  AfxDialogWidget(CDialog* pDialog, QWidget* pParent) : QDialog(pParent), AfxWidgetLink(pDialog) {}
  CDialog* Dialog() const { return static_cast<CDialog*>(m_pOwner); }
  // Esc and the close box cancel through the dialog's OnCancel.
  void reject() override {
    if (Dialog() != nullptr) Dialog()->OnCancel();
    else QDialog::reject();
  }
  bool event(QEvent* pEvent) override {
    if (AfxDeliverPosted(m_pOwner, pEvent)) return true;
    return QDialog::event(pEvent);
  }
};

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

BOOL CDialog::CreateFromTemplate() {
  const AFX_DLGTEMPLATE* pTemplate = AfxFindDialogResource(m_nIDTemplate);
  if (pTemplate == nullptr) return FALSE;
  QWidget* pParent = m_pParentWnd != nullptr ? m_pParentWnd->GetWidget() : MainWidget();
  auto* pWidget = new AfxDialogWidget(this, pParent);
  AttachWidget(pWidget, pWidget);
  pWidget->setWindowTitle(AfxToQString(pTemplate->lpszCaption));
  pWidget->setFont(DialogFont(*pTemplate));
  // Dialog units: a quarter of the font's average character width, an eighth of its height.
  const QFontMetrics metrics(pWidget->font());
  const double baseX = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  const double baseY = metrics.height();
  auto px = [baseX](int x) { return static_cast<int>(x * baseX / 4.0 + 0.5); };
  auto py = [baseY](int y) { return static_cast<int>(y * baseY / 8.0 + 0.5); };
  pWidget->setFixedSize(px(pTemplate->cx), py(pTemplate->cy));
  for (int i = 0; i < pTemplate->nItems; ++i) {
    const AFX_DLGITEM& item = pTemplate->lpItems[i];
    QWidget* pControl = nullptr;
    switch (item.kind) {
      case AfxControl::Static: {
        auto* pLabel = new QLabel(AfxToQString(item.lpszText), pWidget);
        pLabel->setTextFormat(Qt::PlainText);
        pControl = pLabel;
        break;
      }
      case AfxControl::Icon: {
        auto* pLabel = new QLabel(pWidget);
        const AFX_IMAGE* pIcon = AfxFindIconResource(static_cast<UINT>(std::atoi(item.lpszText)));
        if (pIcon != nullptr) pLabel->setPixmap(QPixmap::fromImage(AfxImageFromResource(pIcon)));
        pControl = pLabel;
        break;
      }
      case AfxControl::Edit:
        if (item.dwStyle & ES_MULTILINE) {
          auto* pEdit = new QPlainTextEdit(pWidget);
          pEdit->setTabChangesFocus(true);
          if (item.dwStyle & ES_AUTOHSCROLL) pEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
          pEdit->setReadOnly((item.dwStyle & ES_READONLY) != 0);
          pControl = pEdit;
        } else {
          auto* pEdit = new QLineEdit(pWidget);
          pEdit->setReadOnly((item.dwStyle & ES_READONLY) != 0);
          pControl = pEdit;
        }
        break;
      case AfxControl::Button: {
        auto* pButton = new QPushButton(AfxToQString(item.lpszText), pWidget);
        pButton->setDefault((item.dwStyle & BS_DEFPUSHBUTTON) != 0);
        pButton->setAutoDefault(false);
        const int nID = item.nID;
        QObject::connect(pButton, &QPushButton::clicked, pWidget, [this, nID] {
          if (nID == IDOK) OnOK();
          else if (nID == IDCANCEL) OnCancel();
        });
        pControl = pButton;
        break;
      }
      case AfxControl::Check:
        pControl = new QCheckBox(AfxToQString(item.lpszText), pWidget);
        break;
      case AfxControl::ComboBox: {
        auto* pList = new QComboBox(pWidget);
        pList->addItems(AfxToQString(item.lpszText).split(QLatin1Char('\n')));
        pControl = pList;
        break;
      }
    }
    pControl->setGeometry(px(item.x), py(item.y), px(item.cx), py(item.cy));
    if (item.nID != -1 && item.nID != 0xFFFF) m_controls[item.nID] = pControl;
  }
  return TRUE;
}

int CDialog::DoModal() {
  m_bEnded = FALSE;
  m_nModalResult = IDCANCEL;
  if (!CreateFromTemplate()) return -1;
  AfxModalScope scope;
  OnInitDialog();
  if (AfxHasModalHook()) {
    for (int nRound = 0; nRound < 20 && !m_bEnded; ++nRound) {
      AfxModalRequest request;
    request.kind = AfxModalRequest::Kind::Dialog;
      request.strText = GetWindowText();
      request.pDialog = this;
      if (AfxCallModalHook(request) == IDOK) OnOK();
      else OnCancel();
    }
    if (!m_bEnded) EndDialog(IDCANCEL);
  } else if (!m_bEnded) {
    static_cast<QDialog*>(GetWidget())->exec();
  }
  QWidget* pWidget = GetWidget();
  m_controls.clear();
  if (pWidget != nullptr) {
    ReleaseWidget();
  }
  return m_nModalResult;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bEnded = TRUE;
  if (auto* pDialog = qobject_cast<QDialog*>(GetWidget())) pDialog->done(nResult);
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

CString CDialog::GetDlgItemText(int nID) const {
  const auto it = m_controls.find(nID);
  if (it == m_controls.end()) return CString();
  // Edit controls keep the bytes they were given (settings may be Shift_JIS).
  if (qobject_cast<QLineEdit*>(it->second) != nullptr || qobject_cast<QPlainTextEdit*>(it->second) != nullptr) {
    return AfxGetEditBytes(it->second);
  }
  if (auto* pLabel = qobject_cast<QLabel*>(it->second)) return AfxGetLabelText(pLabel);
  if (auto* pButton = qobject_cast<QAbstractButton*>(it->second)) return AfxFromQString(pButton->text());
  if (auto* pList = qobject_cast<QComboBox*>(it->second)) return AfxFromQString(pList->currentText());
  return CString();
}

void CDialog::CheckDlgButton(int nIDButton, UINT nCheck) {
  const auto it = m_controls.find(nIDButton);
  if (it == m_controls.end()) return;
  if (auto* pCheck = qobject_cast<QCheckBox*>(it->second)) pCheck->setChecked(nCheck != 0);
}

UINT CDialog::IsDlgButtonChecked(int nIDButton) const {
  const auto it = m_controls.find(nIDButton);
  if (it == m_controls.end()) return 0;
  const auto* pCheck = qobject_cast<const QCheckBox*>(it->second);
  return pCheck != nullptr && pCheck->isChecked() ? 1 : 0;
}

void CDialog::SetDlgItemText(int nID, const char* lpszString) {
  const auto it = m_controls.find(nID);
  if (it == m_controls.end()) return;
  if (qobject_cast<QLineEdit*>(it->second) != nullptr || qobject_cast<QPlainTextEdit*>(it->second) != nullptr) {
    AfxSetEditBytes(it->second, lpszString);
    return;
  }
  if (auto* pLabel = qobject_cast<QLabel*>(it->second)) AfxSetLabelText(pLabel, lpszString);
  if (auto* pList = qobject_cast<QComboBox*>(it->second)) {
    const int nIndex = pList->findText(AfxToQString(lpszString));
    if (nIndex >= 0) pList->setCurrentIndex(nIndex);
  }
}

void CDialog::SelectDlgItemText(int nID, int cbSelected) {
  const auto it = m_controls.find(nID);
  auto* pEdit = it != m_controls.end() ? qobject_cast<QLineEdit*>(it->second) : nullptr;
  if (pEdit == nullptr) return;
  const CString text = AfxGetEditBytes(pEdit);
  const int cbText = text.GetLength();
  const int cb = cbSelected < 0 ? 0 : cbSelected > cbText ? cbText : cbSelected;
  // The characters the first cb bytes show as, decoded as the whole text is.
  const int nChars = static_cast<int>(AfxDecodeText(CString(static_cast<const char*>(text), cb), AfxEncodingOf(text)).size());
  pEdit->setFocus();
  pEdit->setSelection(0, nChars);
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
  auto* pDialog = DynamicDownCast<CDialog>(pDX->m_pDlgWnd, RUNTIME_CLASS(CDialog));
  if (pDialog == nullptr) return;
  if (pDX->m_bSaveAndValidate) value = pDialog->GetDlgItemText(nIDC);
  else pDialog->SetDlgItemText(nIDC, value);
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value) {
  auto* pDialog = DynamicDownCast<CDialog>(pDX->m_pDlgWnd, RUNTIME_CLASS(CDialog));
  if (pDialog == nullptr) return;
  if (pDX->m_bSaveAndValidate) value = static_cast<int>(pDialog->IsDlgButtonChecked(nIDC));
  else pDialog->CheckDlgButton(nIDC, static_cast<UINT>(value));
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index) {
  auto* pDialog = DynamicDownCast<CDialog>(pDX->m_pDlgWnd, RUNTIME_CLASS(CDialog));
  if (pDialog == nullptr) return;
  const auto it = pDialog->m_controls.find(nIDC);
  auto* pList = it != pDialog->m_controls.end() ? qobject_cast<QComboBox*>(it->second) : nullptr;
  if (pList == nullptr) return;
  if (pDX->m_bSaveAndValidate) index = pList->currentIndex();
  else pList->setCurrentIndex(index);
}

// ---- CFileDialog ------------------------------------------------------------------------------

namespace {
DWORD g_dwFileDialogError = 0;  // the user-interface thread's only

struct NameFilter {
  CString label;                  // shown as given
  std::vector<CString> patterns;  // what the dialog lists
};

// The display text and pattern pairs of a filter ("text\0*.a;*.b\0...\0"). The pattern "*.*"
// lists every file, as it does on the system such filters were written for (on Linux it would
// pass over names without a dot).
std::vector<NameFilter> ParseFilters(const char* lpstrFilter) {
  std::vector<NameFilter> filters;
  for (const char* p = lpstrFilter; p != nullptr && *p != '\0';) {
    NameFilter filter;
    filter.label = p;
    p += std::strlen(p) + 1;
    if (*p == '\0') break;  // a text without patterns ends the list
    const std::string patterns = p;
    p += patterns.size() + 1;
    for (std::size_t start = 0; start <= patterns.size();) {
      std::size_t end = patterns.find(';', start);
      if (end == std::string::npos) end = patterns.size();
      const std::string pattern = patterns.substr(start, end - start);
      if (!pattern.empty()) filter.patterns.emplace_back(pattern == "*.*" ? "*" : pattern.c_str());
      start = end + 1;
    }
    filters.push_back(filter);
  }
  return filters;
}

// A name filter for Qt's dialog: the label, then the patterns in parentheses, which the dialog
// hides (HideNameFilterDetails) so that the label reads exactly as given.
QString QtNameFilter(const NameFilter& filter) {
  QStringList patterns;
  for (const CString& pattern : filter.patterns) patterns << AfxToQString(pattern);
  return AfxToQString(filter.label) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

// The paths of the names chosen in Qt's dialog. A name that Qt may have changed (see
// AfxPathOfQtFileName), or an opened one that does not exist by the bytes it came back as, is
// refused with a message: opening or writing it would reach another file than the one listed.
bool TakeQtChoice(const QStringList& names, bool bOpen, std::vector<CString>& rPaths) {
  for (const QString& name : names) {
    CString path;
    if (!AfxPathOfQtFileName(name, path)) {
      AfxMessageBox("This name is not UTF-8, and the file dialog cannot pass it on exactly:\n" +
                    AfxFromQString(name) + (bOpen ? "\nOpen the file by dropping it on the window." : "\nType another name."));
      return false;
    }
    struct stat status {};
    if (bOpen && ::stat(path, &status) != 0) {
      AfxMessageBox("cannot find\n" + path);
      return false;
    }
    rPaths.push_back(path);
  }
  return true;
}

}  // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt, LPCSTR lpszFileName, DWORD dwFlags,
                         LPCSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog) {
  m_ofn.lStructSize = sizeof(m_ofn);
  m_ofn.hwndOwner = pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr;
  m_ofn.lpstrFile = m_szFileName;
  m_ofn.nMaxFile = sizeof(m_szFileName);
  m_ofn.lpstrDefExt = lpszDefExt;
  m_ofn.Flags = dwFlags | OFN_EXPLORER;
  if (lpszFileName != nullptr) std::snprintf(m_szFileName, sizeof(m_szFileName), "%s", lpszFileName);
  if (lpszFilter != nullptr) {
    // The framework's form: pairs separated by '|'.
    std::string filter(lpszFilter);
    for (char& ch : filter) {
      if (ch == '|') ch = '\0';
    }
    m_strFilter = CString(filter.c_str(), static_cast<int>(filter.size()));
    m_ofn.lpstrFilter = m_strFilter.str().c_str();
  }
}

BOOL CFileDialog::StoreResult(const std::vector<CString>& paths) {
  if (m_ofn.lpstrFile == nullptr || paths.empty()) return FALSE;
  std::string result;
  const bool bMulti = (m_ofn.Flags & OFN_ALLOWMULTISELECT) != 0;
  if (paths.size() == 1) {
    result = paths[0].str();
    result.push_back('\0');
    if (bMulti) result.push_back('\0');
    const size_t nSlash = paths[0].str().rfind(PATH_SEPARATOR);
    m_ofn.nFileOffset = static_cast<WORD>(nSlash == std::string::npos ? 0 : nSlash + 1);
  } else {
    const std::string& first = paths[0].str();
    const size_t nSlash = first.rfind(PATH_SEPARATOR);
    const std::string folder = nSlash == std::string::npos ? std::string(".") : (nSlash == 0 ? std::string("/") : first.substr(0, nSlash));
    result = folder;
    result.push_back('\0');
    for (const CString& path : paths) {
      const size_t n = path.str().rfind(PATH_SEPARATOR);
      result += n == std::string::npos ? path.str() : path.str().substr(n + 1);
      result.push_back('\0');
    }
    result.push_back('\0');
    m_ofn.nFileOffset = static_cast<WORD>(folder.size() + 1);
  }
  if (result.size() > m_ofn.nMaxFile) {
    g_dwFileDialogError = FNERR_BUFFERTOOSMALL;
    if (m_ofn.nMaxFile > 0) {
      const size_t fits = m_ofn.nMaxFile - 1;
      std::memcpy(m_ofn.lpstrFile, result.data(), fits);
      m_ofn.lpstrFile[fits] = '\0';
    }
    return FALSE;
  }
  std::memcpy(m_ofn.lpstrFile, result.data(), result.size());
  return TRUE;
}

DWORD CommDlgExtendedError() { return g_dwFileDialogError; }

int CFileDialog::DoModal() {
  g_dwFileDialogError = 0;
  AfxModalScope scope;
  std::vector<CString> chosen;
  const std::vector<NameFilter> filters = ParseFilters(m_ofn.lpstrFilter);
  const std::size_t nSelected = m_ofn.nFilterIndex >= 1 ? m_ofn.nFilterIndex - 1 : 0;
  if (AfxHasModalHook()) {
    AfxModalRequest request;
    request.kind = AfxModalRequest::Kind::FileDialog;
    request.strText = m_ofn.lpstrTitle != nullptr ? m_ofn.lpstrTitle : "";
    request.bOpenFileDialog = m_bOpenFileDialog;
    request.strInitialName = m_ofn.lpstrFile != nullptr ? m_ofn.lpstrFile : "";
    for (const NameFilter& filter : filters) request.filterLabels.push_back(filter.label);
    if (nSelected < filters.size()) request.patterns = filters[nSelected].patterns;
    if (AfxCallModalHook(request) != IDOK) return IDCANCEL;
    chosen = request.files;
  } else {
    QFileDialog dialog(MainWidget(), AfxToQString(m_ofn.lpstrTitle));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList nameFilters;
    for (const NameFilter& filter : filters) nameFilters << QtNameFilter(filter);
    if (!nameFilters.isEmpty()) {
      dialog.setNameFilters(nameFilters);
      if (nSelected < filters.size()) dialog.selectNameFilter(nameFilters[static_cast<qsizetype>(nSelected)]);
    }
    // The current folder as Qt lists it; a name in it that is not UTF-8 is refused on return.
    const std::unique_ptr<char, decltype(&std::free)> current(getcwd(nullptr, 0), &std::free);
    if (current != nullptr) dialog.setDirectory(AfxQtFileName(current.get()));
    if (m_bOpenFileDialog) {
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode((m_ofn.Flags & OFN_ALLOWMULTISELECT) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    } else {
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setOption(QFileDialog::DontConfirmOverwrite, (m_ofn.Flags & OFN_OVERWRITEPROMPT) == 0);
    }
    // A given name that is not UTF-8 shows with U+FFFD, and comes back refused unless edited.
    if (m_ofn.lpstrFile != nullptr && m_ofn.lpstrFile[0] != '\0') dialog.selectFile(AfxQtFileName(m_ofn.lpstrFile));
    if (dialog.exec() != QDialog::Accepted) return IDCANCEL;
    if (!TakeQtChoice(dialog.selectedFiles(), m_bOpenFileDialog != FALSE, chosen)) return IDCANCEL;
  }
  if (chosen.empty() || !StoreResult(chosen)) return IDCANCEL;
  // Like the system dialog, leave the process in the chosen folder. A Save caller may go on with
  // the bare file name, which must not land in another folder.
  const std::string& first = chosen[0].str();
  const std::size_t nSlash = first.rfind(PATH_SEPARATOR);
  const std::string folder = nSlash == std::string::npos ? "." : (nSlash == 0 ? "/" : first.substr(0, nSlash));
  if (chdir(folder.c_str()) != 0 && !m_bOpenFileDialog) {
    AfxMessageBox(("cannot enter folder\n" + folder).c_str());
    return IDCANCEL;
  }
  return IDOK;
}

CFolderPickerDialog::CFolderPickerDialog(LPCSTR lpszFolder, DWORD /*dwFlags*/, CWnd* /*pParentWnd*/)
    : m_strFolder(lpszFolder != nullptr ? lpszFolder : "") {}

int CFolderPickerDialog::DoModal() {
  AfxModalScope scope;
  std::vector<CString> chosen;
  if (AfxHasModalHook()) {
    AfxModalRequest request;
    request.kind = AfxModalRequest::Kind::FileDialog;
    request.strText = m_lpszTitle != nullptr ? m_lpszTitle : "";
    request.bOpenFileDialog = TRUE;
    request.strInitialName = m_strFolder;
    if (AfxCallModalHook(request) != IDOK) return IDCANCEL;
    chosen = request.files;
  } else {
    QFileDialog dialog(MainWidget(), AfxToQString(m_lpszTitle));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!m_strFolder.IsEmpty()) dialog.setDirectory(AfxQtFileName(m_strFolder));
    if (dialog.exec() != QDialog::Accepted) return IDCANCEL;
    if (!TakeQtChoice(dialog.selectedFiles(), true, chosen)) return IDCANCEL;
  }
  if (chosen.empty()) return IDCANCEL;
  m_strFolder = chosen[0];
  while (m_strFolder.GetLength() > 1 && m_strFolder.GetAt(m_strFolder.GetLength() - 1) == PATH_SEPARATOR)
    m_strFolder = m_strFolder.Left(m_strFolder.GetLength() - 1);
  return IDOK;
}

CString CFileDialog::GetPathName() const { return m_ofn.lpstrFile != nullptr ? CString(m_ofn.lpstrFile) : CString(); }

CString CFileDialog::GetFileName() const {
  if (m_ofn.lpstrFile == nullptr) return CString();
  const CString first(m_ofn.lpstrFile);
  const int nSlash = first.ReverseFind(PATH_SEPARATOR);
  return nSlash < 0 ? first : first.Mid(nSlash + 1);
}
