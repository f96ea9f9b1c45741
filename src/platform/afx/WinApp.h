// The application object, documents and the single-document template.
//
// The application's profile is $XDG_CONFIG_HOME/<profile name>.ini (else ~/.config/...), in
// Windows INI syntax through minIni. The recent-file list lives in section "Recent File List".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "afx/Collections.h"
#include "afx/ProfileFile.h"
#include "afx/ProfileWriter.h"
#include "afx/Wnd.h"

class AfxShellOpen;
class CSingleDocTemplate;

inline constexpr UINT ID_FILE_NEW = 0xE100;
inline constexpr UINT ID_FILE_OPEN = 0xE101;
inline constexpr UINT ID_FILE_SAVE = 0xE103;
inline constexpr UINT ID_FILE_MRU_FILE1 = 0xE110;
inline constexpr UINT ID_FILE_MRU_FILE16 = 0xE11F;
inline constexpr UINT ID_EDIT_COPY = 0xE122;
inline constexpr UINT ID_EDIT_CUT = 0xE123;
inline constexpr UINT ID_EDIT_PASTE = 0xE125;
inline constexpr UINT ID_EDIT_SELECT_ALL = 0xE12A;
inline constexpr UINT ID_EDIT_UNDO = 0xE12B;
inline constexpr UINT ID_APP_ABOUT = 0xE140;
inline constexpr UINT ID_APP_EXIT = 0xE141;
inline constexpr UINT ID_NEXT_PANE = 0xE150;
inline constexpr UINT ID_PREV_PANE = 0xE151;
inline constexpr UINT AFX_IDS_APP_TITLE = 0xE000;
inline constexpr UINT AFX_IDS_UNTITLED = 0xF000;
inline constexpr UINT AFX_IDS_OPENFILE = 0xF001;
inline constexpr UINT AFX_IDS_ALLFILTER = 0xF002;
inline constexpr UINT AFX_IDP_FAILED_TO_OPEN_DOC = 0xF003;
// The Categories of the desktop entry RegisterShellFileTypes writes ("Graphics;Viewer;").
inline constexpr UINT AFX_IDS_DESKTOP_CATEGORIES = 0xF004;
// The box of a profile that cannot be written: %1 its path, %2 the system's reason.
inline constexpr UINT AFX_IDP_FAILED_TO_WRITE_PROFILE = 0xF005;

// Put before the file in the Exec line of the desktop entries the program writes or installs: a
// start that carries it was asked for by the desktop (a file manager, a menu), not typed in a
// terminal, and has nobody reading its standard error.
inline constexpr char AFX_DESKTOP_START_OPTION[] = "--from-desktop";

// The text of string resource nID; empty when there is none.
CString AfxLoadString(UINT nID);
// lpszFormat with "%1" replaced by lpsz1 and "%2" by lpsz2 (NULL: nothing).
CString AfxFormatString(const char* lpszFormat, const char* lpsz1, const char* lpsz2 = nullptr);

class CArchive {
 public:
  explicit CArchive(BOOL bStoring) : m_bStoring(bStoring) {}
  BOOL IsStoring() const { return m_bStoring; }
  BOOL IsLoading() const { return !m_bStoring; }

 private:
  BOOL m_bStoring;
};

class CDocument : public CCmdTarget {
  DECLARE_DYNAMIC(CDocument)

 public:
  CDocument();
  ~CDocument() override;

  const CString& GetTitle() const { return m_strTitle; }
  // Stores the title and shows it in the caption of the frames of the document's views.
  virtual void SetTitle(const char* lpszTitle);
  const CString& GetPathName() const { return m_strPathName; }
  // Records the path, titles the document with its file name, adds it to the recent files.
  virtual void SetPathName(const char* lpszPathName, BOOL bAddToMRU = TRUE);

  virtual BOOL OnNewDocument();
  // Reads the file for the document's Serialize. The file is opened for reading only: a
  // document is never written by the framework. Reports a file that cannot be opened.
  virtual BOOL OnOpenDocument(const char* lpszPathName);
  virtual void OnCloseDocument();
  virtual void DeleteContents() {}
  virtual void Serialize(CArchive& ar);
  virtual BOOL SaveModified() { return TRUE; }
  BOOL IsModified() const { return m_bModified; }
  void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }

  void UpdateAllViews(CView* pSender, LPARAM lHint = 0, CObject* pHint = nullptr);
  POSITION GetFirstViewPosition() const;
  CView* GetNextView(POSITION& rPosition) const;
  void AddView(CView* pView);
  void RemoveView(CView* pView);

  CSingleDocTemplate* m_pDocTemplate = nullptr;

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  CString m_strTitle;
  CString m_strPathName;
  BOOL m_bModified = FALSE;
  std::vector<CView*> m_viewList;  // not owned: the frame owns its view
};

class CSingleDocTemplate : public CCmdTarget {
 public:
  CSingleDocTemplate(UINT nIDResource, const CRuntimeClass* pDocClass, const CRuntimeClass* pFrameClass,
                     const CRuntimeClass* pViewClass);
  ~CSingleDocTemplate() override;

  // Opens lpszPathName into the one document (creating document, frame and view the first
  // time), or a new empty document when the path is NULL. NULL when the open failed.
  CDocument* OpenDocumentFile(const char* lpszPathName, BOOL bMakeVisible = TRUE);
  void CloseAllDocuments();
  // Field nIndex of document string nIDResource ("\n"-separated).
  BOOL GetDocString(CString& rString, int nIndex) const;
  CDocument* GetDocument() const { return m_pOnlyDoc.get(); }
  CFrameWnd* GetFrame() const { return m_pFrame.get(); }
  // Called by the document when it closes: the frame goes, then the document is destroyed.
  void CloseDocument(CDocument* pDocument);

  enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

 private:
  void SetDefaultTitle(CDocument* pDocument);
  UINT m_nIDResource;
  const CRuntimeClass* m_pDocClass;
  const CRuntimeClass* m_pFrameClass;
  const CRuntimeClass* m_pViewClass;
  std::unique_ptr<CDocument> m_pOnlyDoc;
  std::unique_ptr<CFrameWnd> m_pFrame;
  std::vector<std::unique_ptr<CFrameWnd>> m_closedFrames;  // kept until the template goes
};

class CCommandLineInfo {
 public:
  enum { FileNew, FileOpen, FileNothing } m_nShellCommand = FileNew;
  CString m_strFileName;
};

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(const char* lpszAppName = nullptr);
  ~CWinApp() override;

  // Runs before the window system is set up (no Qt yet): what the start can begin at once,
  // while Qt loads and the window is built. FALSE ends the program there, with exit status 0:
  // the start has nothing left to do (its file went to the viewer already running).
  virtual BOOL InitApplication() { return TRUE; }
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance();
  // Called when the message queue has run dry (never while a modal box or dialog runs); nonzero
  // asks for another call. Files other starts handed over meanwhile are opened just before.
  virtual BOOL OnIdle(LONG lCount);
  virtual CDocument* OpenDocumentFile(const char* lpszFileName);

  BOOL Enable3dControls() { return TRUE; }
  void LoadStdProfileSettings(UINT nMaxMRU = 4);
  void AddDocTemplate(CSingleDocTemplate* pTemplate);  // takes ownership
  // Desktop opens of a running viewer: a start with a file hands the file to the viewer already
  // running for this user (over a local socket in $XDG_RUNTIME_DIR) and ends; a start without
  // one runs beside it and leaves its socket alone. Only a start that finds no live viewer
  // listens, and files handed to it arrive at OpenDocumentFile. Decided at the first call of a
  // run, which may come before the window system is set up (InitApplication); later calls keep
  // that decision.
  void EnableShellOpen();
  // TRUE once EnableShellOpen has handed this start's file to the viewer already running.
  BOOL HasHandedOver() const { return m_bHandedOver; }
  // Writes the desktop entry $XDG_DATA_HOME/applications/<m_pszExeName>.desktop that makes the
  // desktop open the document type's files with this program: its name is the window title,
  // its comment the file type's name, its MIME types those of the file dialog filter's patterns;
  // it starts the program with AFX_DESKTOP_START_OPTION before the file.
  void RegisterShellFileTypes(BOOL bCompat = FALSE);
  // Removes that entry when it is one RegisterShellFileTypes wrote, for this or another copy of
  // the program; an entry of other making stays.
  void UnregisterShellFileTypes();
  // Either of them is done on a thread of its own: this waits until it has ended.
  void WaitForShellFileTypes();
  void ParseCommandLine(CCommandLineInfo& rCmdInfo);
  BOOL ProcessShellCommand(CCommandLineInfo& rCmdInfo);
  void AddToRecentFileList(const char* lpszPathName);
  const std::vector<CString>& GetRecentFileList() const { return m_recentFiles; }

  UINT GetProfileInt(const char* lpszSection, const char* lpszEntry, int nDefault);
  CString GetProfileString(const char* lpszSection, const char* lpszEntry, const char* lpszDefault = nullptr);
  // A write is handed to the profile's writer, which replaces the file on a thread of its own:
  // reads see the value at once, and the file has it soon, and surely once ExitInstance
  // returns. TRUE once the value is on its way; FALSE when the profile's last write failed (the
  // first such failure of a run is said in a box; the write is tried again with the next one),
  // or for a value that cannot be stored (a line break in it, or a line too long), whose entry
  // is removed instead. Inside a CProfileWriteGroup, writes wait for the group's end and TRUE
  // says only that the value can be stored.
  BOOL WriteProfileInt(const char* lpszSection, const char* lpszEntry, int nValue);
  BOOL WriteProfileString(const char* lpszSection, const char* lpszEntry, const char* lpszValue);
  // While one lives, the profile writes made go out together when it ends, in one replacement
  // of the file: a save of many entries (the bars' state, the recent files) is never half in
  // the profile, and costs one write.
  class CProfileWriteGroup {
   public:
    explicit CProfileWriteGroup(CWinApp* pApp);
    ~CProfileWriteGroup();
    CProfileWriteGroup(const CProfileWriteGroup&) = delete;
    CProfileWriteGroup& operator=(const CProfileWriteGroup&) = delete;

   private:
    CWinApp* m_pApp;
  };
  // The profile's path.
  CString GetProfilePath() const;

  CSingleDocTemplate* GetDocTemplate() const { return m_templates.empty() ? nullptr : m_templates.front().get(); }
  // Closes the documents and their frames.
  void CloseAllDocuments();

  CWnd* m_pMainWnd = nullptr;  // the main frame, while it exists
  const char* m_pszAppName = nullptr;
  // The module's name and the profile's: the executable's name unless the program gives them
  // before InitInstance (its constructor).
  const char* m_pszExeName = nullptr;
  // The interface's language whatever the user's locale ("ja_JP": Qt's own dialogs and buttons
  // too) and the font family preferred for its texts where installed; nullptr: the user's.
  const char* m_pszInterfaceLocale = nullptr;
  const char* m_pszInterfaceFont = nullptr;
  const char* m_pszProfileName = nullptr;
  const char* m_pszHelpFilePath = nullptr;  // the executable's path with ".hlp" instead of its extension
  int m_nCmdShow = SW_SHOWNORMAL;

  // The message loop with idle processing, then ExitInstance. Returns the exit code.
  virtual int Run();
  // Starts the application as the program would, without entering the message loop
  // (InitApplication, then InitInstance with these arguments), and ends it (closes the main
  // window, ExitInstance). Start returns FALSE when either of them did; a run without a display
  // drives the loop itself.
  BOOL StartInstance(const std::vector<CString>& args);
  int StopInstance();

 protected:
  void OnFileNew();
  void OnFileOpen();
  void OnAppExit();
  BOOL OnOpenRecentFile(UINT nID);
  void OnUpdateRecentFileMenu(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  void SaveStdProfileSettings();
  // Hands the profile changes made outside a group over to the writer; FALSE when its last write
  // failed.
  BOOL PostProfileEdits();
  // Writes every profile change and waits until they are in the file, and ends the writer's
  // thread; FALSE when they could not be written (the first failure of a run is said).
  BOOL FlushProfile();
  // The newest change of the entry that may not be in the file yet.
  std::optional<vimo::platform::ProfileEdit> UnwrittenEdit(const char* lpszSection, const char* lpszEntry) const;
  // Says, once a run, that the profile cannot be written and why.
  void SayProfileFailure(int nError);
  std::vector<vimo::platform::ProfileEdit> m_profileEdits;  // made in a group still open
  int m_nProfileWriteGroups = 0;
  BOOL m_bProfileFailureSaid = FALSE;
  std::unique_ptr<vimo::platform::ProfileWriter> m_pProfileWriter;  // from the first write to ExitInstance
  // The desktop entry's update (RegisterShellFileTypes), running or ended.
  static constexpr int kShellFileTypesNiceness = 10;
  std::jthread m_shellFileTypes;
  void UpdateShellFileTypes(std::function<void()> update);
  void ResetForNextRun();
  // The two halves of a start: InitApplication with these arguments (which may start threads
  // before the window system exists), then InitInstance, which builds the windows. Each says
  // whether the program goes on; a failed InitInstance is ended (ExitInstance).
  BOOL StartApplication(const std::vector<CString>& args);
  BOOL StartWindows();
  // InitInstance, with the fonts loaded beside it.
  BOOL BuildWindows();
  friend int AfxWinMain(int argc, char** argv);
  friend struct AfxTestAccess;
  std::vector<std::unique_ptr<CSingleDocTemplate>> m_templates;
  std::vector<CString> m_recentFiles;
  UINT m_nMaxMRU = 0;
  BOOL m_bRecentChanged = FALSE;  // the list differs from the profile's
  CString m_strAppName;
  CString m_strExeName;
  CString m_strHelpPath;
  std::vector<CString> m_args;
  BOOL m_bRunning = FALSE;
  std::unique_ptr<AfxShellOpen> m_pShellOpen;  // listening for files handed over, when this viewer is the one
  BOOL m_bHandedOver = FALSE;
  BOOL m_bShellOpenDecided = FALSE;  // EnableShellOpen ran in this run
  // Opens the files that later starts handed over, as if the desktop had opened them here.
  void OpenHandedOverFiles();
  friend void AfxRunIdle();
  friend int AfxWinMain(int argc, char** argv);
  friend void AfxPostQuitMessage(int nExitCode);
};

// The program's main: Qt, InitInstance, the message loop, ExitInstance. Returns the exit code.
int AfxWinMain(int argc, char** argv);
// Ends the message loop of Run (the main window went).
void AfxPostQuitMessage(int nExitCode);

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
const char* AfxGetAppName();
BOOL AfxOleInit();

// Creates Qt's application for this process (the plain Unix event dispatcher, the application's
// interface language and font, the idle hook) once. Call before any window
// exists.
void AfxWinInit(int argc, char** argv);
// Ends Qt's application (after the last window went). Call before main returns.
void AfxWinTerm();
// Processes messages, with idle processing, until pred() holds or nTimeoutMs passed.
// Returns whether pred() held.
BOOL AfxPumpMessagesUntil(const std::function<bool()>& pred, DWORD nTimeoutMs);
// Runs the application without a display (unless QT_QPA_PLATFORM names one) on args until
// isReady() holds or nTimeoutMs passed, writes the main window as PNG, and ends it.
int AfxWinScreenshot(int argc, char** argv, const std::vector<CString>& args, const char* lpszPngPath,
                     const std::function<bool()>& isReady, DWORD nTimeoutMs);
// Writes the window as it is painted now into a PNG file.
BOOL AfxSaveWindowImage(CWnd* pWnd, const char* lpszPngPath);
