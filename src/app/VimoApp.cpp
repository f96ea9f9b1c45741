#include "app/VimoApp.h"

#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "app/GiftSettingsFile.h"
#include "app/Globals.h"
#include "app/InstalledCopy.h"
#include "convert/ColourProfile.h"
#include "convert/ConvertImage.h"
#include "convert/ImageFormat.h"
#include "doc/VimoDoc.h"
#include "frame/MainFrm.h"
#include "res/Resource.h"
#include "settings/Preferences.h"
#include "view/KeysDlg.h"
#include "view/VimoView.h"
#include "win32/MonitorProfile.h"

// The About box: template 100, no members, no data exchange.
class CAboutDlg : public CDialog {
 public:
  CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CVimoApp theApp;

BEGIN_MESSAGE_MAP(CVimoApp, CWinApp)
  ON_COMMAND(ID_APP_ABOUT, OnAppAbout)
  ON_COMMAND(ID_HELP_KEYS, OnHelpKeys)
  ON_COMMAND(ID_FILE_NEW, CWinApp::OnFileNew)
  ON_COMMAND(ID_FILE_OPEN, CWinApp::OnFileOpen)
  ON_COMMAND(ID_VIEW_OTHER_FORMATS, OnViewOtherFormats)
  ON_UPDATE_COMMAND_UI(ID_VIEW_OTHER_FORMATS, OnUpdateViewOtherFormats)
  ON_COMMAND(ID_VIEW_BROWSE_ON, OnViewBrowseOn)
  ON_UPDATE_COMMAND_UI(ID_VIEW_BROWSE_ON, OnUpdateViewBrowseOn)
  ON_COMMAND(ID_VIEW_COLOUR_MANAGED, OnViewColourManaged)
  ON_UPDATE_COMMAND_UI(ID_VIEW_COLOUR_MANAGED, OnUpdateViewColourManaged)
END_MESSAGE_MAP()

namespace {

// folder + name, when it fits the buffer; an empty buffer otherwise.
void BuildInFolder(char* buffer, size_t size, const std::string& folder, const char* name) {
  buffer[0] = '\0';
  if (folder.empty() || folder.size() + std::strlen(name) + 1 > size) return;
  std::memcpy(buffer, folder.data(), folder.size());
  std::strcpy(buffer + folder.size(), name);
}

bool IsFolder(const char* path) {
  struct _stat status {};
  return _stat(path, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR;
}

// The folder's path ending with one '/'.
CString AsFolder(const CString& folder) {
  return folder.GetLength() > 0 && folder.GetAt(folder.GetLength() - 1) == PATH_SEPARATOR ? folder : folder + PATH_SEPARATOR;
}

// Tells the conversion whether it reads the other formats, and lays their transparent parts on
// the window's colour.
void ApplyOtherFormats() { SetConvertOtherFormats(g_bOtherFormats != 0, GetSysColor(COLOR_WINDOW)); }

// The monitor's profile, taken by the first conversion that manages colours (empty: sRGB).
std::shared_future<std::vector<std::uint8_t>> g_monitorProfile;

// Tells the conversion whether it manages colours, and into which profile.
void ApplyColourManagement() { SetViewingColours(g_bColourManaged != 0, g_monitorProfile); }

}  // namespace

BOOL IsAcceptedExtension(const char* path) {
  size_t position = std::strlen(path);
  while (position > 0 && path[position] != '.') --position;
  CString extension(path + position);
  extension.MakeLower();
  // A substring test on the formats opened now: ".jp" and a lone "." pass too.
  const std::string accepted = JoinedImageExtensions(g_bOtherFormats != 0, "", "");
  return std::strstr(accepted.c_str(), extension) != nullptr ? TRUE : FALSE;
}

// The program goes by "vimo" whatever its executable is called: its profile vimo.ini, its
// desktop entry vimo.desktop. Its interface is Japanese whatever the user's locale, in IPA's
// proportional Gothic where that is installed.
CVimoApp::CVimoApp() {
  m_pszExeName = "vimo";
  m_pszProfileName = "vimo";
  m_pszInterfaceLocale = "ja_JP";
  m_pszInterfaceFont = "IPAPGothic";
}

CVimoApp::~CVimoApp() = default;

BOOL CVimoApp::InitApplication() {
  // A start with a file for the viewer already running hands it over and ends here, before the
  // window system is loaded.
  EnableShellOpen();
  if (HasHandedOver()) return FALSE;
  // Before the command line's file meets the extension filter.
  ReadViewPreferences();
  // The monitor's profile, as the X server publishes it (a profile colours cannot be turned into
  // counts as none: sRGB), is asked for once the window system is up, and its answer taken by
  // the first conversion that manages colours, on the conversion's thread: a round trip to the
  // server holds up neither the start nor the window.
  g_monitorProfile = std::async(std::launch::deferred, [] {
                       std::vector<std::uint8_t> profile = vimo::platform::TakeMonitorProfile();
                       if (!vimo::convert::IsRgbTargetProfile(profile)) profile.clear();
                       return profile;
                     }).share();
  ApplyColourManagement();
  // The file to show is converted, and its folder listed, while the window is being built.
  // (Some other formats lay transparent parts on the window's colour, which needs the window
  // system: those starts convert once the window exists.)
  CCommandLineInfo cmdInfo;
  ParseCommandLine(cmdInfo);
  const CString& path = cmdInfo.m_strFileName;
  if (cmdInfo.m_nShellCommand != CCommandLineInfo::FileOpen || path.GetLength() >= PATH_MAX) return TRUE;
  // A folder is listed for its grid while the window is being built.
  if (IsFolder(path)) {
    vimo::platform::ListFolderAhead(AsFolder(path) + "*.*");
    return TRUE;
  }
  if (!IsAcceptedExtension(path)) return TRUE;
  if (g_bOtherFormats) {
    // What the image library reads of the other formats (PNG, TIFF) is laid on the window's
    // colour, which only the window system knows: those wait for it. The formats with libraries
    // of their own keep their see-through parts for the view and convert at once.
    const ImageFormat* format = ImageFormatOfName(path, true);
    if (format == nullptr || format->reader == ImageReader::kLibrary || format->reader == ImageReader::kPng) return TRUE;
    SetConvertOtherFormats(true, RGB(255, 255, 255));
  }
  CMultiThread::ConvertAhead(path);
  vimo::platform::ListFolderAhead(path.Left(path.ReverseFind(PATH_SEPARATOR) + 1) + "*.*");
  return TRUE;
}

namespace {

// Milliseconds: about what a second paint of the whole window costs.
constexpr DWORD kFirstPaintWait = 40;

}  // namespace

BOOL CVimoApp::InitInstance() {
  AfxOleInit();
  Enable3dControls();
  LoadStdProfileSettings(16);
  ApplyOtherFormats();

  AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, RUNTIME_CLASS(CVimoDoc), RUNTIME_CLASS(CMainFrame),
                                        RUNTIME_CLASS(CVimoView)));

  EnableShellOpen();
  // An installed copy is registered by the entry its install put in place, which an entry that
  // a build or portable copy wrote would hide.
  if (IsInstalledCopy()) UnregisterShellFileTypes();
  else RegisterShellFileTypes(TRUE);

  CCommandLineInfo cmdInfo;
  ParseCommandLine(cmdInfo);
  if (!ProcessShellCommand(cmdInfo)) return FALSE;

  m_pMainWnd->DragAcceptFiles(TRUE);

  // The executable's folder, or for an installed copy the user's configuration folder.
  const std::string folder = SettingsFolder();
  BuildInFolder(g_szSettingsPath, sizeof(g_szSettingsPath), folder, "vimo.txt");
  BuildInFolder(g_szLogPath, sizeof(g_szLogPath), folder, "vimolog.txt");
  if (g_szSettingsPath[0] != '\0') ReadGiftSettings(g_szSettingsPath);
  // The file converted while the window was built, when its conversion ends after the document
  // opened: in the window's first paint rather than in a second one at the first idle moment.
  // Its conversion is waited for as long as that second paint takes (the X server copying a
  // whole fresh window), no longer: a large photo's rows come in their own time.
  auto* pFrame = DYNAMIC_DOWNCAST(CFrameWnd, m_pMainWnd);
  if (auto* pDoc = pFrame != nullptr ? DYNAMIC_DOWNCAST(CVimoDoc, pFrame->GetActiveDocument()) : nullptr; pDoc != nullptr) {
    if (g_bPollQueue && !pDoc->m_queue.CanNext() && pDoc->m_queue.IsNextComing()) (void)pDoc->m_queue.WaitForWorker(kFirstPaintWait);
    ShowReadyImage(pDoc);
  }
  return TRUE;
}

CDocument* CVimoApp::OpenDocumentFile(const char* lpszFileName) {
  if (g_bDragging) return nullptr;
  if (lpszFileName != nullptr && IsFolder(lpszFileName)) return OpenFolder(lpszFileName);
  if (lpszFileName == nullptr || !IsAcceptedExtension(lpszFileName)) return nullptr;
  // An image opened in a running viewer is shown, whatever the window showed; so is the image of
  // a start, whose window does not bring back the grid of the last close (CMainFrame).
  auto* pRunning = DYNAMIC_DOWNCAST(CMainFrame, m_pMainWnd);
  CDocument* pDocument = CWinApp::OpenDocumentFile(lpszFileName);
  auto* pVimoDoc = DYNAMIC_DOWNCAST(CVimoDoc, pDocument);
  if (pVimoDoc == nullptr) return pDocument;
  if (pRunning != nullptr) pRunning->ShowGrid(FALSE);
  pVimoDoc->OpenImages(lpszFileName);
  ShowReadyImage(pVimoDoc);
  return pDocument;
}

void CVimoApp::ShowReadyImage(CVimoDoc* pDoc) {
  // Shown now, as the idle moment would show it, so that the window's next paint has it: the
  // start ends in the same state whichever was ready first.
  if (g_bPollQueue && pDoc != nullptr && pDoc->m_queue.CanNext() && m_pMainWnd != nullptr) {
    g_bPollQueue = 0;
    m_pMainWnd->SendMessage(WM_POLL_QUEUE);
  } else if (pDoc != nullptr) {
    // Still converting: what shows of it early (a reduced picture for a fitted window) is begun now.
    POSITION pos = pDoc->GetFirstViewPosition();
    if (auto* pView = DYNAMIC_DOWNCAST(CVimoView, pDoc->GetNextView(pos))) (void)pView->FollowConversion(TRUE);
  }
}

CDocument* CVimoApp::OpenFolder(const char* lpszFolder) {
  CSingleDocTemplate* pTemplate = GetDocTemplate();
  // The one document (made with its window on a start with a folder), its content the folder's.
  CDocument* pDocument = pTemplate != nullptr && pTemplate->GetDocument() != nullptr ? pTemplate->GetDocument()
                         : pTemplate != nullptr                                    ? pTemplate->OpenDocumentFile(nullptr)
                                                                                   : nullptr;
  auto* pFrame = DYNAMIC_DOWNCAST(CMainFrame, m_pMainWnd);
  if (pDocument == nullptr || pFrame == nullptr) return pDocument;
  pFrame->OpenFolder(lpszFolder);
  AddToRecentFileList(lpszFolder);
  return pDocument;
}

BOOL CVimoApp::OnIdle(LONG lCount) {
  if (g_bPollQueue && m_pMainWnd != nullptr && IsWindow(m_pMainWnd->m_hWnd)) {
    PostMessageA(m_pMainWnd->m_hWnd, WM_POLL_QUEUE, 0, 0);
    g_bPollQueue = 0;
  }
  return CWinApp::OnIdle(lCount);
}

int CVimoApp::ExitInstance() {
  // A start whose file was never opened leaves its conversion behind.
  CMultiThread::DropConvertedAhead();
  if (g_bSettingsChanged && g_szSettingsPath[0] != '\0') WriteGiftSettings(g_szSettingsPath);
  return CWinApp::ExitInstance();
}

void CVimoApp::OnAppAbout() {
  CAboutDlg aboutDlg;
  aboutDlg.DoModal();
}

void CVimoApp::OnHelpKeys() {
  CKeysDlg keysDlg;
  keysDlg.DoModal();
}

void CVimoApp::OnViewOtherFormats() {
  g_bOtherFormats = g_bOtherFormats ? 0 : 1;
  WriteViewPreference("OtherFormats", g_bOtherFormats);
  ApplyOtherFormats();
}

void CVimoApp::OnUpdateViewOtherFormats(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bOtherFormats); }

void CVimoApp::OnViewBrowseOn() {
  g_bBrowseFromOpened = g_bBrowseFromOpened ? 0 : 1;
  WriteViewPreference("BrowseFromOpened", g_bBrowseFromOpened);
}

void CVimoApp::OnUpdateViewBrowseOn(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bBrowseFromOpened); }

void CVimoApp::OnViewColourManaged() {
  g_bColourManaged = g_bColourManaged ? 0 : 1;
  WriteViewPreference("ColourManaged", g_bColourManaged);
  ApplyColourManagement();
  CSingleDocTemplate* pTemplate = GetDocTemplate();
  if (auto* pDocument = pTemplate != nullptr ? DYNAMIC_DOWNCAST(CVimoDoc, pTemplate->GetDocument()) : nullptr)
    pDocument->ConvertAgain();
}

void CVimoApp::OnUpdateViewColourManaged(CCmdUI* pCmdUI) { pCmdUI->SetCheck(g_bColourManaged); }

BOOL CVimoApp::IsImageShown() const {
  CSingleDocTemplate* pTemplate = GetDocTemplate();
  auto* pDocument = pTemplate != nullptr ? DYNAMIC_DOWNCAST(CVimoDoc, pTemplate->GetDocument()) : nullptr;
  return pDocument != nullptr && pDocument->m_pDib != nullptr ? TRUE : FALSE;
}

int RunScreenshot(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: vimo --screenshot PNG [FILE]\n", stderr);
    return 2;
  }
  const char* pngPath = argv[2];
  std::vector<CString> args;
  for (int i = 3; i < argc; ++i) args.emplace_back(argv[i]);
  return AfxWinScreenshot(argc, argv, args, pngPath, [] { return theApp.IsImageShown() != FALSE; }, 8000);
}
