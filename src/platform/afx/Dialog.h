// Dialogs from templates, data exchange, file dialogs, message boxes, and the hook through
// which tests answer all of these.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "afx/Wnd.h"

class CDialog;

class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;  // TRUE: controls into members
  CWnd* m_pDlgWnd;
};

// Copies between edit control nIDC and value. Multi-line text goes into value with CR LF
// between lines and comes out split at them.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
// Check box nIDC and value (1 checked, 0 not).
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// The chosen item of drop-down list nIDC and index (0 the first; -1 none).
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)

 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Shows the dialog of the template modally; IDOK, IDCANCEL or what EndDialog was given.
  virtual int DoModal();
  virtual BOOL OnInitDialog();
  void EndDialog(int nResult);

  // A drop-down list's text is its chosen item's; setting it chooses the item of that text.
  CString GetDlgItemText(int nID) const;
  void SetDlgItemText(int nID, const char* lpszString);
  void CheckDlgButton(int nIDButton, UINT nCheck);
  UINT IsDlgButtonChecked(int nIDButton) const;
  // Edit control nID takes the focus with the first cbSelected bytes of its text selected (a
  // name without its extension), as EM_SETSEL selects them.
  void SelectDlgItemText(int nID, int cbSelected);

  // The OK and Cancel buttons (the layer's own use and the test hook).
  virtual void OnOK();
  virtual void OnCancel();

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  friend struct AfxDialogWidget;
  friend struct AfxTestAccess;  // tests find a control where the user sees it
  friend void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
  BOOL CreateFromTemplate();
  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  int m_nModalResult = IDCANCEL;
  BOOL m_bEnded = FALSE;
  std::map<int, QWidget*> m_controls;  // owned by the dialog's widget
};

inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
inline constexpr DWORD OFN_EXPLORER = 0x00080000;

struct OPENFILENAME {
  DWORD lStructSize;
  HWND hwndOwner;
  LPCSTR lpstrFilter;  // pairs of display text and pattern, each NUL-terminated, then a NUL
  DWORD nFilterIndex;  // 1-based
  LPSTR lpstrFile;     // result buffer
  DWORD nMaxFile;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  LPCSTR lpstrDefExt;
};

inline constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

// Why the last file dialog ended without IDOK: FNERR_BUFFERTOOSMALL, or 0 when it was cancelled.
DWORD CommDlgExtendedError();

class CFileDialog : public CCmdTarget {
 public:
  explicit CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt = nullptr, LPCSTR lpszFileName = nullptr,
                       DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCSTR lpszFilter = nullptr,
                       CWnd* pParentWnd = nullptr);

  // Shows Qt's own file dialog. On IDOK the result is in m_ofn.lpstrFile in the Windows
  // layout: one file as its full path and two NULs; several as the folder, a NUL, each name
  // with its NUL, and a closing NUL. A result that does not fit nMaxFile counts as cancelled:
  // CommDlgExtendedError then says FNERR_BUFFERTOOSMALL, and the buffer holds as much of the
  // result as fits, NUL-terminated, so the caller can name what was refused.
  // The process's current folder is left at the chosen folder.
  int DoModal();
  CString GetPathName() const;  // the first string of the result
  CString GetFileName() const;  // the chosen name without its folder

  OPENFILENAME m_ofn{};

 private:
  BOOL StoreResult(const std::vector<CString>& paths);
  BOOL m_bOpenFileDialog;
  char m_szFileName[MAX_PATH] = {};
  CString m_strFilter;
};

// Qt's own (non-native) dialog choosing one folder; the test hook answers it as a file dialog of
// that title, with the folder as the one file chosen.
class CFolderPickerDialog : public CCmdTarget {
 public:
  explicit CFolderPickerDialog(LPCSTR lpszFolder = nullptr, DWORD dwFlags = 0, CWnd* pParentWnd = nullptr);
  // IDOK with a folder chosen; IDCANCEL when cancelled or when the name cannot be passed on exactly
  // (the user is told).
  int DoModal();
  CString GetPathName() const { return m_strFolder; }  // the chosen folder, without a trailing '/'

  LPCSTR m_lpszTitle = nullptr;

 private:
  CString m_strFolder;
};

// A modal box captioned with the application's title: one OK button (MB_OK), OK and Cancel
// (MB_OKCANCEL), Yes and No (MB_YESNO, Yes the default unless MB_DEFBUTTON2 makes it No), or Yes,
// No and Cancel (MB_YESNOCANCEL, MB_DEFBUTTON2 or MB_DEFBUTTON3 making No or Cancel the default).
// Returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO); closing a box counts as Cancel or No.
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// What a modal box or dialog asks the test hook.
struct AfxModalRequest {
  enum class Kind { MessageBox, Dialog, FileDialog, PopupMenu, Print };
  Kind kind = Kind::MessageBox;
  CString strText;     // message box: its text; dialog: its caption; file dialog: its title
  CString strCaption;  // message box: its caption
  UINT nType = MB_OK;  // message box: its buttons and default (MB_OKCANCEL, MB_YESNO, MB_DEFBUTTON2)
  CDialog* pDialog = nullptr;  // dialog: its controls exist and show the members' data
  BOOL bOpenFileDialog = FALSE;
  CString strInitialName;     // file dialog: the name it was given
  std::vector<CString> filterLabels;  // file dialog: its filters as they read
  std::vector<CString> patterns;      // file dialog: what the filter it starts with lists
  std::vector<CString> files;  // file dialog answer: the chosen files, full paths
  // Popup menu (strText: its first item): the hook answers with the command chosen, or 0 for none.
  // Print dialog or preview (strText: the job's name; choices: how the picture may lie on the
  // page, nChoice the one chosen): the hook answers IDOK with a PDF file to print into
  // (strPrintFile) and may change nChoice.
  std::vector<CString> choices;
  int nChoice = 0;
  CString strPrintFile;
  std::vector<CString> items;  // popup menu: "text|id" of each item, in order
};
// Answers a modal request instead of the user: IDOK or IDCANCEL (for a dialog, the button the
// hook pressed; the dialog may stay open, and the hook is then asked again); for a Yes/No box
// IDYES or IDNO, anything else pressing its default button as Enter would.
using AfxModalHook = std::function<int(AfxModalRequest& request)>;
// Installs the hook; an empty function shows boxes and dialogs to the user again.
void AfxSetModalHook(AfxModalHook hook);
