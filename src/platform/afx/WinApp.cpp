#include "afx/WinApp.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QPointer>
#include <QTimer>
#include <QTranslator>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string_view>
#include <thread>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>
#include <unistd.h>

#include "afx/Dialog.h"
#include "afx/ProfileFile.h"
#include "afx/ShutdownSignals.h"
#include "afx/QtBridge.h"
#include "afx/Resource.h"
#include "afx/ShellOpen.h"
#include "win32/Kernel.h"
#include "win32/MonitorProfile.h"
#include "win32/SafeFiles.h"
#include "win32/TempFolder.h"
#include "win32/UserFolders.h"

namespace {

CWinApp* g_pApp = nullptr;
std::unique_ptr<QApplication> g_pQtApp;
std::unique_ptr<QTranslator> g_pQtTexts;  // Qt's own texts in the interface's language, while the application lives
int g_argc = 0;
std::vector<char*> g_argv;
bool g_bInIdle = false;
bool g_bNoShellOpen = false;  // a screenshot run neither hands over nor listens
bool g_bProfileReadOnly = false;  // a screenshot run reads the user's profile but never writes it

constexpr const char* kRecentSection = "Recent File List";

// The absolute form of a path, as the framework records documents: below the current folder
// when relative, without empty, "." and ".." steps. No links are resolved, and the bytes of
// the names are kept whatever they are.
CString FullPath(const char* lpszPath) {
  return CString(vimo::platform::FullPath(lpszPath != nullptr ? lpszPath : ""));
}

QtMessageHandler g_pPreviousHandler = nullptr;

// The offscreen platform reports every window operation it cannot do; those say nothing here.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"))) return;
  if (g_pPreviousHandler != nullptr) g_pPreviousHandler(type, context, message);
}

// A call handed from another thread to the application's, as an event the thread sanitizer is
// told of (Qt's own queued calls are made and read through locks it cannot see).
class CallEvent : public QEvent {
 public:
  explicit CallEvent(std::function<void()> call) : QEvent(Type()), m_call(std::move(call)) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  void Run() const { m_call(); }

 private:
  std::function<void()> m_call;
};

class CallReceiver : public QObject {
 public:
  using QObject::QObject;
  bool event(QEvent* pEvent) override {
    AfxTakeOverPosted(pEvent);  // before the event is read
    if (pEvent->type() != CallEvent::Type()) return QObject::event(pEvent);
    static_cast<const CallEvent*>(pEvent)->Run();
    return true;
  }
};

// Made on the application's thread, before any other thread may post to it; it goes with the
// application object.
QObject* ApplicationCalls() {
  static QPointer<QObject> pReceiver;
  if (pReceiver == nullptr && QCoreApplication::instance() != nullptr) pReceiver = new CallReceiver(QCoreApplication::instance());
  return pReceiver.data();
}

}  // namespace

// The application's idle processing. Files handed over by other starts are opened first, so that
// the program's own idle work (the wait for a converted image) sees the browsing they started.
void AfxRunIdle() {
  if (g_bInIdle || g_pApp == nullptr || AfxModalScope::Active()) return;
  g_bInIdle = true;
  g_pApp->OpenHandedOverFiles();
  for (LONG lCount = 0; g_pApp->OnIdle(lCount); ++lCount) {
  }
  g_bInIdle = false;
}

CString AfxLoadString(UINT nID) {
  const char* text = AfxFindStringResource(nID);
  return text != nullptr ? CString(text) : CString();
}

CString AfxFormatString(const char* lpszFormat, const char* lpsz1, const char* lpsz2) {
  CString text(lpszFormat);
  for (const auto& [marker, insert] : {std::pair{"%1", lpsz1}, std::pair{"%2", lpsz2}}) {
    const int nAt = text.Find(marker);
    if (nAt >= 0) text = text.Left(nAt) + (insert != nullptr ? insert : "") + text.Mid(nAt + 2);
  }
  return text;
}

CWinApp* AfxGetApp() { return g_pApp; }
CWnd* AfxGetMainWnd() { return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr; }
const char* AfxGetAppName() { return g_pApp != nullptr && g_pApp->m_pszAppName != nullptr ? g_pApp->m_pszAppName : ""; }
BOOL AfxOleInit() { return TRUE; }

// ---- CDocument --------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CDocument, CCmdTarget)

// No save command: the framework never writes a document's file.
BEGIN_MESSAGE_MAP(CDocument, CCmdTarget)
END_MESSAGE_MAP()

CDocument::CDocument() = default;

CDocument::~CDocument() {
  for (CView* pView : m_viewList) pView->m_pDocument = nullptr;
}

void CDocument::SetTitle(const char* lpszTitle) {
  m_strTitle = lpszTitle != nullptr ? lpszTitle : "";
  for (CView* pView : m_viewList) {
    if (CFrameWnd* pFrame = pView->GetParentFrame()) pFrame->OnUpdateFrameTitle(TRUE);
  }
}

void CDocument::SetPathName(const char* lpszPathName, BOOL bAddToMRU) {
  m_strPathName = FullPath(lpszPathName);
  const int nSlash = m_strPathName.ReverseFind(PATH_SEPARATOR);
  SetTitle(nSlash < 0 ? m_strPathName : m_strPathName.Mid(nSlash + 1));
  if (bAddToMRU && AfxGetApp() != nullptr) AfxGetApp()->AddToRecentFileList(m_strPathName);
}

BOOL CDocument::OnNewDocument() {
  DeleteContents();
  m_strPathName.Empty();
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CDocument::OnOpenDocument(const char* lpszPathName) {
  struct stat status {};
  std::FILE* pFile = nullptr;
  if (lpszPathName != nullptr && ::stat(lpszPathName, &status) == 0 && S_ISREG(status.st_mode))
    pFile = std::fopen(lpszPathName, "rb");
  if (pFile == nullptr) {
    AfxMessageBox(AfxFormatString(AfxLoadString(AFX_IDP_FAILED_TO_OPEN_DOC), lpszPathName));
    return FALSE;
  }
  DeleteContents();
  CArchive archive(FALSE);
  Serialize(archive);
  std::fclose(pFile);
  SetModifiedFlag(FALSE);
  return TRUE;
}

void CDocument::OnCloseDocument() {
  if (m_pDocTemplate != nullptr) m_pDocTemplate->CloseDocument(this);
}

void CDocument::Serialize(CArchive& /*ar*/) {}

void CDocument::UpdateAllViews(CView* pSender, LPARAM lHint, CObject* pHint) {
  for (CView* pView : m_viewList) {
    if (pView != pSender) pView->OnUpdate(pSender, lHint, pHint);
  }
}

POSITION CDocument::GetFirstViewPosition() const {
  return m_viewList.empty() ? nullptr : reinterpret_cast<POSITION>(static_cast<std::uintptr_t>(1));
}

CView* CDocument::GetNextView(POSITION& rPosition) const {
  const auto nIndex = reinterpret_cast<std::uintptr_t>(rPosition);
  if (nIndex == 0 || nIndex > m_viewList.size()) {
    rPosition = nullptr;
    return nullptr;
  }
  CView* pView = m_viewList[nIndex - 1];
  rPosition = nIndex < m_viewList.size() ? reinterpret_cast<POSITION>(nIndex + 1) : nullptr;
  return pView;
}

void CDocument::AddView(CView* pView) {
  m_viewList.push_back(pView);
  pView->m_pDocument = this;
}

void CDocument::RemoveView(CView* pView) {
  std::erase(m_viewList, pView);
  pView->m_pDocument = nullptr;
}

// ---- CSingleDocTemplate -----------------------------------------------------------------------

CSingleDocTemplate::CSingleDocTemplate(UINT nIDResource, const CRuntimeClass* pDocClass,
                                       const CRuntimeClass* pFrameClass, const CRuntimeClass* pViewClass)
    : m_nIDResource(nIDResource), m_pDocClass(pDocClass), m_pFrameClass(pFrameClass), m_pViewClass(pViewClass) {}

CSingleDocTemplate::~CSingleDocTemplate() {
  if (m_pFrame != nullptr && m_pFrame->m_hWnd != nullptr) m_pFrame->DestroyWindow();
  m_pOnlyDoc.reset();
  m_pFrame.reset();
  m_closedFrames.clear();
}

BOOL CSingleDocTemplate::GetDocString(CString& rString, int nIndex) const {
  const CString text = AfxLoadString(m_nIDResource);
  int nStart = 0;
  for (int i = 0; i < nIndex; ++i) {
    nStart = text.Find('\n', nStart);
    if (nStart < 0) {
      rString.Empty();
      return FALSE;
    }
    ++nStart;
  }
  const int nEnd = text.Find('\n', nStart);
  rString = nEnd < 0 ? text.Mid(nStart) : text.Mid(nStart, nEnd - nStart);
  return TRUE;
}

void CSingleDocTemplate::SetDefaultTitle(CDocument* pDocument) {
  CString title;
  if (!GetDocString(title, docName) || title.IsEmpty()) title = AfxLoadString(AFX_IDS_UNTITLED);
  pDocument->SetTitle(title);
}

CDocument* CSingleDocTemplate::OpenDocumentFile(const char* lpszPathName, BOOL bMakeVisible) {
  BOOL bCreated = FALSE;
  if (m_pOnlyDoc != nullptr) {
    if (!m_pOnlyDoc->SaveModified()) return nullptr;
  } else {
    std::unique_ptr<CObject> pObject(m_pDocClass->CreateObject());
    auto* pDocument = DynamicDownCast<CDocument>(pObject.get(), RUNTIME_CLASS(CDocument));
    if (pDocument == nullptr) return nullptr;
    pObject.release();
    m_pOnlyDoc.reset(pDocument);
    m_pOnlyDoc->m_pDocTemplate = this;
    bCreated = TRUE;
  }
  CDocument* pDocument = m_pOnlyDoc.get();
  if (m_pFrame == nullptr) {
    std::unique_ptr<CObject> pObject(m_pFrameClass->CreateObject());
    auto* pFrame = DynamicDownCast<CFrameWnd>(pObject.get(), RUNTIME_CLASS(CFrameWnd));
    if (pFrame == nullptr) {
      m_pOnlyDoc.reset();
      return nullptr;
    }
    pObject.release();
    m_pFrame.reset(pFrame);
    CCreateContext context;
    context.m_pNewViewClass = m_pViewClass;
    context.m_pCurrentDoc = pDocument;
    if (!m_pFrame->LoadFrame(m_nIDResource, &context)) {
      m_pFrame.reset();
      m_pOnlyDoc.reset();
      return nullptr;
    }
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == nullptr) pApp->m_pMainWnd = m_pFrame.get();
  }
  if (lpszPathName == nullptr) {
    SetDefaultTitle(pDocument);
    if (!pDocument->OnNewDocument()) {
      if (bCreated) CloseDocument(pDocument);
      return nullptr;
    }
  } else {
    if (!pDocument->OnOpenDocument(lpszPathName)) {
      if (bCreated) CloseDocument(pDocument);
      return nullptr;
    }
    pDocument->SetPathName(lpszPathName);
  }
  m_pFrame->InitialUpdateFrame(pDocument, bMakeVisible);
  return pDocument;
}

void CSingleDocTemplate::CloseDocument(CDocument* pDocument) {
  if (pDocument != m_pOnlyDoc.get()) return;
  if (m_pFrame != nullptr) {
    m_pFrame->DestroyWindow();
    m_closedFrames.push_back(std::move(m_pFrame));
  }
  m_pOnlyDoc.reset();
}

void CSingleDocTemplate::CloseAllDocuments() {
  if (m_pOnlyDoc != nullptr) m_pOnlyDoc->OnCloseDocument();
}

// ---- opens handed over by a second start ---------------------------------------------------

namespace {

// The socket of this user's viewer: only in the user's private runtime folder, named after the
// program; empty when there is no such folder.
std::string ShellOpenSocket(const char* lpszProgramName) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/' || lpszProgramName == nullptr) return {};
  // A folder that others can write to could hold a planted socket or link.
  if (!vimo::platform::IsOwnFolder(runtime)) return {};
  return std::string(runtime) + "/" + lpszProgramName + "-open";
}

}  // namespace

void CWinApp::EnableShellOpen() {
  if (m_bShellOpenDecided) {
    // Files handed over are read through the event loop, once there is one.
    if (m_pShellOpen != nullptr && QCoreApplication::instance() != nullptr) m_pShellOpen->Watch();
    return;
  }
  m_bShellOpenDecided = TRUE;
  m_bHandedOver = FALSE;
  const std::string socketPath = ShellOpenSocket(m_pszProfileName);
  if (socketPath.empty() || g_bNoShellOpen) return;
  CCommandLineInfo info;
  ParseCommandLine(info);
  const CString file = info.m_nShellCommand == CCommandLineInfo::FileOpen ? FullPath(info.m_strFileName) : CString();
  // A running viewer takes the file and this start ends; a start without a file runs as a window
  // of its own beside it and leaves the socket alone.
  switch (AfxShellOpen::Begin(socketPath, file.IsEmpty() ? nullptr : static_cast<const char*>(file), m_pShellOpen)) {
    case AfxShellOpen::Start::kHandedOver:
      m_bHandedOver = TRUE;
      return;
    case AfxShellOpen::Start::kBeside:
      return;
    case AfxShellOpen::Start::kListening:
      if (QCoreApplication::instance() != nullptr) m_pShellOpen->Watch();
      return;
  }
}

void CWinApp::OpenHandedOverFiles() {
  while (m_pShellOpen != nullptr && m_pShellOpen->HasReceived()) {
    const CString path(m_pShellOpen->TakeReceived());
    OpenDocumentFile(path);
    if (auto* pFrame = DynamicDownCast<CFrameWnd>(m_pMainWnd, RUNTIME_CLASS(CFrameWnd))) pFrame->ActivateFrame();
  }
}

// ---- CWinApp ----------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
  ON_COMMAND_EX_RANGE(ID_FILE_MRU_FILE1, ID_FILE_MRU_FILE16, OnOpenRecentFile)
  ON_UPDATE_COMMAND_UI(ID_FILE_MRU_FILE1, OnUpdateRecentFileMenu)
  ON_COMMAND(ID_APP_EXIT, OnAppExit)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* lpszAppName) {
  g_pApp = this;
  if (lpszAppName != nullptr) m_strAppName = lpszAppName;
}

CWinApp::~CWinApp() {
  m_templates.clear();
  if (g_pApp == this) g_pApp = nullptr;
}

void CWinApp::ResetForNextRun() {
  if (m_strAppName.IsEmpty()) m_strAppName = AfxLoadString(AFX_IDS_APP_TITLE);
  m_pszAppName = m_strAppName;
  char exePath[4096] = "";
  GetModuleFileNameA(nullptr, exePath, sizeof(exePath));
  m_strHelpPath = exePath;
  const int nSlash = m_strHelpPath.ReverseFind(PATH_SEPARATOR);
  // The module's name and the profile named after it, unless the program gave its own.
  if (m_pszExeName == nullptr) {
    m_strExeName = m_strHelpPath.Mid(nSlash + 1);
    m_pszExeName = m_strExeName;
  }
  if (m_pszProfileName == nullptr) m_pszProfileName = m_pszExeName;
  const int nDot = m_strHelpPath.ReverseFind('.');
  if (nDot > nSlash) m_strHelpPath = m_strHelpPath.Left(nDot);
  m_strHelpPath += ".hlp";
  m_pszHelpFilePath = m_strHelpPath;
  m_nCmdShow = SW_SHOWNORMAL;
  m_bShellOpenDecided = FALSE;
}

int CWinApp::ExitInstance() {
  WaitForShellFileTypes();
  SaveStdProfileSettings();
  FlushProfile();
  return 0;
}

BOOL CWinApp::OnIdle(LONG lCount) {
  if (lCount <= 0) {
    // A file opened stays in the recent list even if the program never ends normally.
    SaveStdProfileSettings();
    auto* pFrame = DynamicDownCast<CFrameWnd>(m_pMainWnd, RUNTIME_CLASS(CFrameWnd));
    if (pFrame != nullptr && pFrame->m_hWnd != nullptr) pFrame->RefreshCommandStates();
    return TRUE;
  }
  return FALSE;
}

CDocument* CWinApp::OpenDocumentFile(const char* lpszFileName) {
  CSingleDocTemplate* pTemplate = GetDocTemplate();
  if (pTemplate == nullptr || lpszFileName == nullptr) return nullptr;
  // A document already open under this path is only brought to the front.
  CDocument* pOpen = pTemplate->GetDocument();
  if (pOpen != nullptr && !pOpen->GetPathName().IsEmpty() && pOpen->GetPathName() == FullPath(lpszFileName)) {
    if (CFrameWnd* pFrame = pTemplate->GetFrame()) pFrame->ActivateFrame();
    return pOpen;
  }
  return pTemplate->OpenDocumentFile(lpszFileName);
}

void CWinApp::AddDocTemplate(CSingleDocTemplate* pTemplate) { m_templates.emplace_back(pTemplate); }

void CWinApp::CloseAllDocuments() {
  for (auto& pTemplate : m_templates) pTemplate->CloseAllDocuments();
}

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo) {
  for (const CString& arg : m_args) {
    if (arg.GetLength() > 1 && arg.GetAt(0) == '-') continue;
    if (rCmdInfo.m_strFileName.IsEmpty()) {
      // A file named relative to the shell's folder is opened by its full path, so that later
      // changes of the current folder (the file dialogs make them) cannot redirect it.
      rCmdInfo.m_strFileName = FullPath(arg);
      rCmdInfo.m_nShellCommand = CCommandLineInfo::FileOpen;
    }
  }
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& rCmdInfo) {
  // The running viewer has the file: this start ends here, without a window.
  if (m_bHandedOver) return FALSE;
  switch (rCmdInfo.m_nShellCommand) {
    case CCommandLineInfo::FileNew:
      OnFileNew();
      return m_pMainWnd != nullptr ? TRUE : FALSE;
    case CCommandLineInfo::FileOpen:
      return OpenDocumentFile(rCmdInfo.m_strFileName) != nullptr ? TRUE : FALSE;
    default:
      return TRUE;
  }
}

void CWinApp::OnFileNew() {
  if (CSingleDocTemplate* pTemplate = GetDocTemplate()) pTemplate->OpenDocumentFile(nullptr);
}

namespace {

// The patterns of the document type's filter: those its name lists in parentheses, as in
// "Vimo Files (*.bmp;*.jpg)", so that the dialog lists what its label promises; without such a
// list, "*" and the filter extension.
std::string FilterPatterns(const CString& filterName, const CString& filterExt) {
  const std::string& name = filterName.str();
  const std::size_t open = name.rfind('(');
  const std::size_t close = name.rfind(')');
  if (open != std::string::npos && close != std::string::npos && close > open + 1 &&
      name.find('*', open) < close)
    return name.substr(open + 1, close - open - 1);
  return "*" + filterExt.str();
}

}  // namespace

void CWinApp::OnFileOpen() {
  CSingleDocTemplate* pTemplate = GetDocTemplate();
  if (pTemplate == nullptr) return;
  CString filterName;
  CString filterExt;
  pTemplate->GetDocString(filterName, CSingleDocTemplate::filterName);
  pTemplate->GetDocString(filterExt, CSingleDocTemplate::filterExt);
  std::string filter;
  if (!filterName.IsEmpty() && !filterExt.IsEmpty()) filter += filterName.str() + '\0' + FilterPatterns(filterName, filterExt) + '\0';
  filter += AfxLoadString(AFX_IDS_ALLFILTER).str() + '\0' + "*.*" + '\0' + '\0';
  CFileDialog dialog(TRUE);
  const CString title = AfxLoadString(AFX_IDS_OPENFILE);
  dialog.m_ofn.lpstrFilter = filter.c_str();
  dialog.m_ofn.nFilterIndex = 1;
  dialog.m_ofn.lpstrTitle = title;
  dialog.m_ofn.Flags |= OFN_HIDEREADONLY;
  if (dialog.DoModal() != IDOK) return;
  OpenDocumentFile(dialog.GetPathName());
}

void CWinApp::OnAppExit() {
  if (m_pMainWnd != nullptr) m_pMainWnd->SendMessage(WM_CLOSE);
}

BOOL CWinApp::OnOpenRecentFile(UINT nID) {
  const int nIndex = static_cast<int>(nID - ID_FILE_MRU_FILE1);
  if (nIndex < 0 || nIndex >= static_cast<int>(m_recentFiles.size())) return FALSE;
  const CString path = m_recentFiles[static_cast<size_t>(nIndex)];
  if (OpenDocumentFile(path) == nullptr) {
    const auto it = std::find(m_recentFiles.begin(), m_recentFiles.end(), path);
    if (it != m_recentFiles.end()) m_recentFiles.erase(it);
    m_bRecentChanged = TRUE;
  }
  return TRUE;
}

void CWinApp::OnUpdateRecentFileMenu(CCmdUI* pCmdUI) { pCmdUI->Enable(!m_recentFiles.empty()); }

void CWinApp::LoadStdProfileSettings(UINT nMaxMRU) {
  m_nMaxMRU = nMaxMRU;
  m_bRecentChanged = FALSE;
  m_recentFiles.clear();
  for (UINT i = 1; i <= nMaxMRU; ++i) {
    CString entry;
    entry.Format("File%u", i);
    const CString path = GetProfileString(kRecentSection, entry);
    if (!path.IsEmpty()) m_recentFiles.push_back(path);
  }
}

void CWinApp::SaveStdProfileSettings() {
  if (m_nMaxMRU == 0 || !m_bRecentChanged) return;
  m_bRecentChanged = FALSE;
  const CProfileWriteGroup group(this);
  for (UINT i = 1; i <= m_nMaxMRU; ++i) {
    CString entry;
    entry.Format("File%u", i);
    if (i <= m_recentFiles.size()) WriteProfileString(kRecentSection, entry, m_recentFiles[i - 1]);
    else WriteProfileString(kRecentSection, entry, nullptr);
  }
}

void CWinApp::AddToRecentFileList(const char* lpszPathName) {
  if (m_nMaxMRU == 0 || lpszPathName == nullptr) return;
  const CString path = FullPath(lpszPathName);
  std::erase(m_recentFiles, path);
  m_recentFiles.insert(m_recentFiles.begin(), path);
  if (m_recentFiles.size() > m_nMaxMRU) m_recentFiles.resize(m_nMaxMRU);
  m_bRecentChanged = TRUE;
}

namespace {

// The folder of the profile: the user's configuration folder.
std::string ProfileFolder() {
  const std::string config = vimo::platform::UserConfigHome();
  return config.empty() ? std::string("./.config") : config;
}

}  // namespace

CString CWinApp::GetProfilePath() const {
  return CString(ProfileFolder() + "/" + (m_pszProfileName != nullptr ? m_pszProfileName : "") + ".ini");
}

std::optional<vimo::platform::ProfileEdit> CWinApp::UnwrittenEdit(const char* lpszSection, const char* lpszEntry) const {
  if (const vimo::platform::ProfileEdit* edit = vimo::platform::LastEditOf(m_profileEdits, lpszSection, lpszEntry))
    return *edit;
  if (m_pProfileWriter == nullptr) return std::nullopt;
  return m_pProfileWriter->Unwritten(GetProfilePath().str(), lpszSection, lpszEntry);
}

UINT CWinApp::GetProfileInt(const char* lpszSection, const char* lpszEntry, int nDefault) {
  if (const auto edit = UnwrittenEdit(lpszSection, lpszEntry)) {
    return static_cast<UINT>(edit->value && !edit->value->empty() ? std::strtol(edit->value->c_str(), nullptr, 10) : nDefault);
  }
  return static_cast<UINT>(vimo::platform::ReadProfileInt(GetProfilePath(), lpszSection, lpszEntry, nDefault));
}

CString CWinApp::GetProfileString(const char* lpszSection, const char* lpszEntry, const char* lpszDefault) {
  if (const auto edit = UnwrittenEdit(lpszSection, lpszEntry)) {
    return edit->value ? CString(edit->value->c_str()) : CString(lpszDefault != nullptr ? lpszDefault : "");
  }
  return CString(vimo::platform::ReadProfileString(GetProfilePath(), lpszSection, lpszEntry, lpszDefault));
}

BOOL CWinApp::WriteProfileInt(const char* lpszSection, const char* lpszEntry, int nValue) {
  return WriteProfileString(lpszSection, lpszEntry, std::to_string(nValue).c_str());
}

BOOL CWinApp::WriteProfileString(const char* lpszSection, const char* lpszEntry, const char* lpszValue) {
  if (g_bProfileReadOnly || lpszSection == nullptr || lpszEntry == nullptr) return FALSE;
  // A value that could not be read back whole is not stored: its entry goes instead.
  const bool bStorable = lpszValue == nullptr || vimo::platform::IsStorableProfileValue(lpszEntry, lpszValue);
  vimo::platform::ProfileEdit edit{lpszSection, lpszEntry, std::nullopt};
  if (lpszValue != nullptr && bStorable) edit.value = lpszValue;
  m_profileEdits.push_back(std::move(edit));
  if (m_nProfileWriteGroups > 0) return bStorable ? TRUE : FALSE;
  return PostProfileEdits() && bStorable ? TRUE : FALSE;
}

BOOL CWinApp::PostProfileEdits() {
  if (m_nProfileWriteGroups > 0) return TRUE;
  if (m_profileEdits.empty()) return m_pProfileWriter == nullptr || !m_pProfileWriter->Failing() ? TRUE : FALSE;
  if (m_pProfileWriter == nullptr) {
    // A failure is said on the window's thread, as soon as its loop runs.
    QObject* pCalls = ApplicationCalls();
    m_pProfileWriter = std::make_unique<vimo::platform::ProfileWriter>([this, pCalls](int nError) {
      if (pCalls != nullptr) AfxPostAcrossThreads(pCalls, new CallEvent([this, nError] { SayProfileFailure(nError); }));
    });
  }
  m_pProfileWriter->Write(GetProfilePath().str(), std::move(m_profileEdits));
  m_profileEdits.clear();
  return m_pProfileWriter->Failing() ? FALSE : TRUE;
}

BOOL CWinApp::FlushProfile() {
  PostProfileEdits();
  int nError = 0;
  const bool bWritten = m_pProfileWriter == nullptr || m_pProfileWriter->Flush(nError);
  m_pProfileWriter.reset();
  if (!bWritten) SayProfileFailure(nError != 0 ? nError : EIO);
  return bWritten ? TRUE : FALSE;
}

void CWinApp::SayProfileFailure(int nError) {
  // Said once: the settings chosen hold in this run, and every later write tries again.
  if (m_bProfileFailureSaid) return;
  m_bProfileFailureSaid = TRUE;
  AfxMessageBox(AfxFormatString(AfxLoadString(AFX_IDP_FAILED_TO_WRITE_PROFILE), GetProfilePath(), std::strerror(nError)));
}

CWinApp::CProfileWriteGroup::CProfileWriteGroup(CWinApp* pApp) : m_pApp(pApp) {
  if (m_pApp != nullptr) ++m_pApp->m_nProfileWriteGroups;
}

CWinApp::CProfileWriteGroup::~CProfileWriteGroup() {
  if (m_pApp == nullptr) return;
  --m_pApp->m_nProfileWriteGroups;
  m_pApp->PostProfileEdits();
}

namespace {

// What the desktop entry says of the program, from its document type and resources.
struct DesktopEntryFields {
  std::string name;        // the window title
  std::string comment;     // the file type's name
  std::string patterns;    // the file dialog filter's patterns, ';'-separated
  std::string mimeTypes;   // of those patterns, ';'-terminated (AddMimeTypes)
  std::string categories;  // string AFX_IDS_DESKTOP_CATEGORIES
};

// The fields of the template's strings and the resources, all but the MIME types.
DesktopEntryFields FieldsOf(CSingleDocTemplate* pTemplate) {
  DesktopEntryFields fields;
  CString name;
  CString typeName;
  CString filterName;
  CString filterExt;
  if (pTemplate != nullptr) {
    pTemplate->GetDocString(name, CSingleDocTemplate::windowTitle);
    pTemplate->GetDocString(typeName, CSingleDocTemplate::regFileTypeName);
    pTemplate->GetDocString(filterName, CSingleDocTemplate::filterName);
    pTemplate->GetDocString(filterExt, CSingleDocTemplate::filterExt);
  }
  fields.name = name.str();
  fields.comment = typeName.str();
  fields.patterns = FilterPatterns(filterName, filterExt);
  fields.categories = AfxLoadString(AFX_IDS_DESKTOP_CATEGORIES).str();
  return fields;
}

// The MIME types of the patterns, from the shared MIME database (read on first use: about 20 ms).
void AddMimeTypes(DesktopEntryFields& fields) {
  const QMimeDatabase types;
  const QStringList patterns = AfxToQString(fields.patterns.c_str()).split(QLatin1Char(';'));
  QStringList names;
  for (const QString& pattern : patterns) {
    const QMimeType type = types.mimeTypeForFile(pattern, QMimeDatabase::MatchExtension);
    if (!type.isDefault() && !names.contains(type.name())) names.append(type.name());
  }
  for (const QString& type : names) fields.mimeTypes += AfxFromQString(type).str() + ";";
}

// $XDG_DATA_HOME/applications/<name>.desktop (else ~/.local/share/...); empty without a home.
std::string UserDesktopEntryPath(const char* lpszName) {
  const std::string data = vimo::platform::UserDataHome();
  if (data.empty() || lpszName == nullptr) return {};
  return data + "/applications/" + lpszName + ".desktop";
}

// The entry a copy of the program at exePath writes for itself at start (bMarked: its Exec line
// marks the start as the desktop's; entries written before the mark existed lack it).
std::string WrittenDesktopEntry(const std::string& exePath, const DesktopEntryFields& fields, bool bMarked = true) {
  // The path in double quotes. Inside them " ` $ \ take a backslash, and the value's own
  // escaping doubles every backslash: "\\$" for $, "\\\\" for a backslash.
  std::string quoted = "\"";
  for (const char c : exePath) {
    if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
    if (c == '\\') quoted += "\\\\\\";
    quoted += c;
  }
  quoted += '"';
  std::string entry = "[Desktop Entry]\nType=Application\nName=" + fields.name + "\nComment=" + fields.comment +
                      "\nExec=" + quoted + (bMarked ? std::string(" ") + AFX_DESKTOP_START_OPTION : "") + " %f\n";
  if (!fields.mimeTypes.empty()) entry += "MimeType=" + fields.mimeTypes + "\n";
  entry += "Terminal=false\n";
  if (!fields.categories.empty()) entry += "Categories=" + fields.categories + "\n";
  return entry;
}

// The program path of an entry's Exec="..." line as WrittenDesktopEntry quotes it; empty when
// there is none.
std::string QuotedExecPath(const std::string& entry) {
  const size_t start = entry.find("\nExec=\"");
  if (start == std::string::npos) return {};
  std::string path;
  for (size_t i = start + 7; i < entry.size() && entry[i] != '\n'; ++i) {
    if (entry[i] == '"') return path;
    if (entry.compare(i, 4, "\\\\\\\\") == 0) i += 3;
    else if (entry.compare(i, 2, "\\\\") == 0) i += 2;
    path += entry[i];
  }
  return {};
}

std::string TextOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// The entry's MIME types come from the shared MIME database, and a written entry is flushed to
// the disk: both on a thread of their own, below the window's, so that the window's first paint
// waits for neither. The next call and ExitInstance wait for it.
void CWinApp::RegisterShellFileTypes(BOOL /*bCompat*/) {
  WaitForShellFileTypes();
  const std::string path = UserDesktopEntryPath(m_pszExeName);
  if (path.empty()) return;
  char exePath[PATH_MAX] = "";
  if (GetModuleFileNameA(nullptr, exePath, sizeof(exePath)) == 0) return;
  UpdateShellFileTypes([path, exe = std::string(exePath), fields = FieldsOf(GetDocTemplate())]() mutable {
    AddMimeTypes(fields);
    const std::string entry = WrittenDesktopEntry(exe, fields);
    if (TextOfFile(path) == entry) return;
    vimo::platform::MakeFolders(path.substr(0, path.rfind('/')));
    vimo::platform::ReplaceFileAtomically(path.c_str(), entry, 0644);
  });
}

void CWinApp::UnregisterShellFileTypes() {
  WaitForShellFileTypes();
  UpdateShellFileTypes([path = UserDesktopEntryPath(m_pszExeName), fields = FieldsOf(GetDocTemplate())]() mutable {
    const std::string entry = TextOfFile(path);
    const std::string exePath = QuotedExecPath(entry);
    if (exePath.empty()) return;
    AddMimeTypes(fields);
    if (entry != WrittenDesktopEntry(exePath, fields) && entry != WrittenDesktopEntry(exePath, fields, false)) return;
    std::remove(path.c_str());
  });
}

void CWinApp::UpdateShellFileTypes(std::function<void()> update) {
  try {
    m_shellFileTypes = std::jthread([update = std::move(update)] {
      vimo::platform::LowerThreadPriority(kShellFileTypesNiceness);
      update();
    });
  } catch (const std::system_error&) {
    update();  // no thread to be had: at once
  }
}

void CWinApp::WaitForShellFileTypes() {
  if (m_shellFileTypes.joinable()) m_shellFileTypes.join();
}

int CWinApp::Run() {
  m_bRunning = TRUE;
  QApplication::exec();
  m_bRunning = FALSE;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return ExitInstance();
}

BOOL CWinApp::BuildWindows() {
  // The fonts (Qt's font database, the interface's font and the one its language falls back to)
  // are loaded on a thread of their own while the window is built, so that its first text does
  // not wait for them; a start has read the font configuration already (AfxWinMain). The thread
  // ends with the building: the libraries it enters read the environment, which must not change
  // under them.
  const std::jthread fontsAhead([font = QApplication::font(), sample = QLocale().nativeLanguageName()] {
    (void)QFontMetrics(font).horizontalAdvance(sample);
  });
  return InitInstance();
}

BOOL CWinApp::StartInstance(const std::vector<CString>& args) { return StartApplication(args) && StartWindows(); }

BOOL CWinApp::StartApplication(const std::vector<CString>& args) {
  m_args = args;
  ResetForNextRun();
  if (InitApplication()) return TRUE;
  m_pShellOpen.reset();
  return FALSE;
}

BOOL CWinApp::StartWindows() {
  if (BuildWindows()) return TRUE;
  m_pShellOpen.reset();
  ExitInstance();
  m_templates.clear();
  m_pMainWnd = nullptr;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return FALSE;
}

int CWinApp::StopInstance() {
  m_pShellOpen.reset();
  if (m_pMainWnd != nullptr) m_pMainWnd->SendMessage(WM_CLOSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const int nCode = ExitInstance();
  m_templates.clear();
  m_pMainWnd = nullptr;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return nCode;
}

void AfxPostQuitMessage(int nExitCode) {
  if (g_pApp != nullptr && g_pApp->m_bRunning) QCoreApplication::exit(nExitCode);
}

// ---- start-up ---------------------------------------------------------------------------------

namespace {

// Whether the desktop session has a message bus: one named in the environment, or the user's
// bus in the runtime folder.
bool HasSessionBus() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  return runtime != nullptr && runtime[0] == '/' && ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 &&
         S_ISSOCK(info.st_mode);
}

// What is settled before any thread of the program starts (InitApplication may start some): the
// environment Qt reads, and the locale Qt's application sets, so that setting it again changes
// nothing under a thread already running.
void PrepareProcess() {
  // The glib dispatcher signals aboutToBlock while posted events wait; the plain one does not.
  if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  // Without a session bus Qt would try to start one (for a global menu bar and accessibility,
  // which need a bus of the session) and wait for that while the window is built: none is
  // started for the viewer.
  if (!HasSessionBus()) qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  std::setlocale(LC_ALL, "");
}

}  // namespace

void AfxWinInit(int argc, char** argv) {
  if (g_pQtApp != nullptr) return;
  PrepareProcess();
  g_pPreviousHandler = qInstallMessageHandler(&FilterMessages);
  g_argc = argc;
  g_argv.assign(argv, argv + argc);
  g_argv.push_back(nullptr);
  g_pQtApp = std::make_unique<QApplication>(g_argc, g_argv.data());
  QApplication::setQuitOnLastWindowClosed(false);
  if (const CWinApp* pApp = AfxGetApp(); pApp != nullptr && pApp->m_pszInterfaceLocale != nullptr) {
    const QLocale locale(QString::fromLatin1(pApp->m_pszInterfaceLocale));
    QLocale::setDefault(locale);
    g_pQtTexts = std::make_unique<QTranslator>();
    if (g_pQtTexts->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      QCoreApplication::installTranslator(g_pQtTexts.get());
  }
  if (const CWinApp* pApp = AfxGetApp(); pApp != nullptr && pApp->m_pszInterfaceFont != nullptr) {
    // Asked for first, the default family behind it: the match is made when text is first drawn,
    // not by reading the whole font database at start-up.
    QFont font = QApplication::font();
    font.setFamilies({AfxToQString(pApp->m_pszInterfaceFont), font.family()});
    QApplication::setFont(font);
  }
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, g_pQtApp.get(),
                   &AfxRunIdle);
  // Asked now, answered while the window is built.
  vimo::platform::RequestMonitorProfile();
}

void AfxWinTerm() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // On Wayland what this program put on the clipboard goes with it (the compositor keeps no copy):
  // it is let go while the clipboard still exists, which would otherwise keep it to the end. (On X
  // a clipboard manager may take it over at exit.)
  if (g_pQtApp != nullptr && AfxCompositorPlacesWindows() && QGuiApplication::clipboard()->ownsClipboard())
    QGuiApplication::clipboard()->clear();
  if (g_pQtTexts != nullptr) QCoreApplication::removeTranslator(g_pQtTexts.get());
  g_pQtTexts.reset();
  vimo::platform::ForgetMonitorProfile();  // asked on the connection that closes now
  g_pQtApp.reset();
}

int AfxWinMain(int argc, char** argv) {
  CWinApp* pApp = AfxGetApp();
  if (pApp == nullptr) return 1;
  PrepareProcess();
  // The font configuration (fontconfig's files: about 10 ms) is read while Qt's application
  // object is made, which uses one core and leaves the other idle; the window's fonts, loaded
  // while it is built, then only match and open theirs, and its first paint does not wait for
  // them. What fontconfig reads of the environment and the locale is settled by now, and it
  // loads its configuration safely from two threads at once.
  std::jthread fontConfiguration([] { (void)FcInit(); });
  // A viewer stopped while it starts still ends the normal way, its converted files deleted.
  AfxCatchShutdownSignals();
  std::vector<CString> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  if (!pApp->StartApplication(args)) {
    vimo::platform::ForgetMonitorProfile();  // no window system comes to ask
    vimo::platform::RemovePrivateFolder();
    AfxRaiseShutdownSignal();
    return 0;
  }
  AfxWinInit(argc, argv);
  fontConfiguration.join();
  if (pApp->m_pShellOpen != nullptr) pApp->m_pShellOpen->Watch();
  AfxCatchShutdownSignals();
  int nCode = 0;
  if (!pApp->BuildWindows()) {
    nCode = pApp->ExitInstance();
  } else {
    nCode = pApp->Run();
  }
  pApp->m_pShellOpen.reset();
  pApp->m_templates.clear();
  pApp->m_pMainWnd = nullptr;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  vimo::platform::RemovePrivateFolder();
  AfxWinTerm();
  AfxRaiseShutdownSignal();
  return nCode;
}

BOOL AfxPumpMessagesUntil(const std::function<bool()>& pred, DWORD nTimeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() >= static_cast<qint64>(nTimeoutMs)) return FALSE;
    // A short nested loop: it blocks (and so runs the idle processing) when nothing is waiting.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return TRUE;
}

BOOL AfxSaveWindowImage(CWnd* pWnd, const char* lpszPngPath) {
  if (pWnd == nullptr || pWnd->GetWidget() == nullptr || lpszPngPath == nullptr) return FALSE;
  // Made in memory and written by its path's bytes, which Qt's file names could change.
  QBuffer png;
  png.open(QIODevice::WriteOnly);
  if (!pWnd->GetWidget()->grab().save(&png, "PNG")) return FALSE;
  const QByteArray& bytes = png.data();
  return vimo::platform::ReplaceFileAtomically(lpszPngPath, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), 0666)
             ? TRUE
             : FALSE;
}

namespace {

// The name a run without a display gives its messages, as command-line tools do.
const char* ProgramName() {
  CWinApp* pApp = AfxGetApp();
  return pApp != nullptr && pApp->m_pszExeName != nullptr ? pApp->m_pszExeName : "";
}

}  // namespace

int AfxWinScreenshot(int argc, char** argv, const std::vector<CString>& args, const char* lpszPngPath,
                     const std::function<bool()>& isReady, DWORD nTimeoutMs) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  g_bNoShellOpen = true;
  g_bProfileReadOnly = true;  // the picture is no use of the program: recent files and placement stay
  AfxWinInit(argc, argv);
  // Nobody is there to answer: boxes are printed and answered with OK, dialogs cancelled.
  AfxSetModalHook([](AfxModalRequest& request) {
    if (request.kind != AfxModalRequest::Kind::MessageBox) return IDCANCEL;
    std::fprintf(stderr, "%s: %s\n", ProgramName(), static_cast<const char*>(request.strText));
    return IDOK;
  });
  CWinApp* pApp = AfxGetApp();
  if (pApp == nullptr || !pApp->StartInstance(args)) {
    std::fprintf(stderr, "%s: no window to take a picture of\n", ProgramName());
    vimo::platform::RemovePrivateFolder();
    AfxWinTerm();
    return 1;
  }
  AfxPumpMessagesUntil(isReady, nTimeoutMs);
  // Let the repaint that follows the image settle.
  AfxPumpMessagesUntil([] { return false; }, 100);
  const BOOL bSaved = AfxSaveWindowImage(pApp->m_pMainWnd, lpszPngPath);
  pApp->StopInstance();
  vimo::platform::RemovePrivateFolder();
  AfxWinTerm();
  if (!bSaved) std::fprintf(stderr, "%s: cannot write %s\n", ProgramName(), lpszPngPath);
  return bSaved ? 0 : 1;
}
