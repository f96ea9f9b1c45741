// The application: start-up, the extension filter for every opened path, idle polling of the
// conversion worker, and shutdown.
#pragma once

#include "afx/afxwin.h"

class CVimoDoc;

class CVimoApp : public CWinApp {
 public:
  CVimoApp();
  ~CVimoApp() override;

  // Hands the command line's file to the viewer already running (FALSE: nothing left to do), or
  // begins converting it and listing its folder before the window system is set up.
  BOOL InitApplication() override;
  BOOL InitInstance() override;
  // Turns g_bPollQueue into the frame's WM_USER+101 while the main window exists.
  BOOL OnIdle(LONG lCount) override;
  int ExitInstance() override;
  // Opens only paths that IsAcceptedExtension accepts, and nothing while the view drags its own
  // image out; then starts browsing from the path. A folder opens in the grid.
  CDocument* OpenDocumentFile(const char* lpszFileName) override;

  // Opens a folder in the grid; the document.
  CDocument* OpenFolder(const char* lpszFolder);

  // TRUE once the document shows an image (for the screenshot mode).
  BOOL IsImageShown() const;

 protected:
  // Shows the image the worker has ready for the document's browsing, when the window waits for one.
  void ShowReadyImage(CVimoDoc* pDoc);
  void OnAppAbout();
  // The keys and mouse gestures at a glance.
  void OnHelpKeys();
  // The view menu's preferences: each toggles its global and writes it to the profile.
  void OnViewOtherFormats();
  void OnUpdateViewOtherFormats(CCmdUI* pCmdUI);
  void OnViewBrowseOn();
  void OnUpdateViewBrowseOn(CCmdUI* pCmdUI);
  // Colour management: the converted images are converted again under the new choice.
  void OnViewColourManaged();
  void OnUpdateViewColourManaged(CCmdUI* pCmdUI);
  DECLARE_MESSAGE_MAP()
};

extern CVimoApp theApp;

// TRUE when the lower-cased extension of path (from its last '.') occurs in the extensions of
// the formats opened now (ImageFormat: ".bmp.gif.jpg.jpeg.jpe.pcd", with g_bOtherFormats the
// others too): a substring test, so ".jp" and a lone "." pass.
BOOL IsAcceptedExtension(const char* path);

// `vimo --screenshot PNG [FILE]`: runs the viewer without a display until the first image is
// shown (or a few seconds passed), writes the window as PNG. Returns the exit code.
int RunScreenshot(int argc, char** argv);
