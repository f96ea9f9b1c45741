// The main frame: menu, tool bar, status bar, the Open command and the private messages that
// show converted images (WM_USER+101) and fit the window to an image (WM_USER+100).
#pragma once

#include "frame/FilmStrip.h"
#include "frame/SDIRememberFrame.h"

class CVimoDoc;
class CGridView;
class CVimoView;

class CMainFrame : public CSDIRememberFrame {
  DECLARE_DYNCREATE(CMainFrame)

 protected:
  CMainFrame();

 public:
  ~CMainFrame() override;
  // The window starts 400 x 400. When the space the bars took at the last close is known, the
  // window starts without them: menu, tool and status bars come right after the first picture,
  // in the space kept blank for them, so the picture comes sooner and does not move.
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  void OnFirstPaint() override;

  CStatusBar m_wndStatusBar;
  CToolBar m_wndToolBar;
  CTextBar m_wndInfoBar;  // "画像の情報": the shown file's facts beside the image; hidden at first

  CFilmStrip m_wndFilmStrip;

  // The idle text says the zoom beside "ﾚﾃﾞｨ" while the image is not shown plainly 1:1, or the
  // notice shown last, until the next command.
  void GetMessageString(UINT nID, CString& rMessage) const override;
  // Says what a command did in the status bar, in place of the idle text, until the next command
  // or another image or view is shown.
  void ShowNotice(const CString& text);
  // Every command clears the notice of the one before.
  BOOL OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery = FALSE) override;
  // The first activation also brings the grid back when it was showing at the last close, unless
  // the start opened a file.
  void ActivateFrame(int nCmdShow = -1) override;

  // Shows the grid of the browsed images in place of the image (bShow), or the image again;
  // remembered in the profile.
  void ShowGrid(BOOL bShow);
  BOOL IsGridShown() const;
  // The grid's choice: the image at nIndex of the browse list is shown in its place.
  void ShowImageOf(int nIndex);
  // The grid of a folder's images; nothing is shown until one is chosen.
  void OpenFolder(const char* folder);

 protected:
  int OnCreate(LPCREATESTRUCT lpCreateStruct);
  // Full screen: the image alone, without menu, bars or frame; again (or Esc) back as it was.
  void OnViewFullScreen();
  void OnUpdateViewFullScreen(CCmdUI* pCmdUI);
  // Closing in full screen saves the bars as they were in the window.
  void OnClose();
  // The thumbnails' threads end with the window, before the libraries they use.
  void OnDestroy();
  void OnImageOpen();
  // The information panel shown or hidden; shown, it describes the image shown now.
  void OnViewInfo();
  // The view shows another image, or the shown file changed: the panel follows (at once while it
  // is shown, else when it is shown next).
  LRESULT OnImageShown(WPARAM wParam, LPARAM lParam);
  // The grid gives way to an image: the one at wParam in the browse list, or with kShownImage the
  // one shown before.
  LRESULT OnShowImage(WPARAM wParam, LPARAM lParam);
  // The browsed folder changed under the viewer: the document reads it again; a shown file that
  // another program removed is said in the status bar while the next image comes.
  LRESULT OnFolderChanged(WPARAM wParam, LPARAM lParam);
  void OnFileOpenFolder();
  // Enter: the grid, or in the grid the focused image.
  void OnViewGrid();
  void OnUpdateViewGrid(CCmdUI* pCmdUI);
  // The film strip, as the user wants it: shown with the image, hidden with the grid or full screen.
  void OnViewFilmStrip();
  // The status bar's second pane: in the grid the number of photos and of those chosen; with an
  // image its place in the browse list, its size in pixels, its file's size and when it was taken.
  void OnUpdateIndicatorPlace(CCmdUI* pCmdUI);
  // The shown file's size and date taken as the pane gives them, read once per file shown.
  static CString FileFacts(const char* path);
  CString m_strPlaceFile;
  CString m_strPlaceFacts;
  void OnUpdateViewFilmStrip(CCmdUI* pCmdUI);
  BOOL OnViewThumbnailSize(UINT nID);
  void OnUpdateViewThumbnailSize(CCmdUI* pCmdUI);
  // The grid's captions: the file's name or when the photo was taken (remembered).
  BOOL OnViewCaption(UINT nID);
  void OnUpdateViewCaption(CCmdUI* pCmdUI);
  // Makes the restored window 14 pixels wider and 136 taller than a wParam x lParam image.
  LRESULT OnFitImage(WPARAM wParam, LPARAM lParam);
  // Waits up to about 5 s for a converted image (shown at once) or an error (shown, read-ahead
  // advanced), woken by the worker's hand-over; re-arms the wait through g_bPollQueue when
  // neither came.
  LRESULT OnPollQueue(WPARAM wParam, LPARAM lParam);
  DECLARE_MESSAGE_MAP()

 private:
  CVimoDoc* GetVimoDocument() const;
  // The view that shows the image (the document's first), whether or not the grid is shown.
  CVimoView* GetImageView() const;
  // The tool bar, status bar and information panel; FALSE when one could not be made.
  BOOL MakeBars();
  void HideBarsForFullScreen();
  void ShowBarsAgain();
  CRect m_barSpace;  // the bars' space at the last close; null (all zero) when not known
  BOOL m_bBarsMade = FALSE;  // the tool bar, status bar and panel are made
  void DescribeShownImage();
  BOOL m_bToolBarShown = TRUE;    // the bars before full screen
  BOOL m_bStatusBarShown = TRUE;
  BOOL m_bInfoBarShown = FALSE;
  BOOL m_bInfoStale = TRUE;       // the panel does not describe the image shown now
  // Shows the film strip where it belongs now.
  void PlaceFilmStrip();
  // The film strip's bar, made the first time it is wanted: FALSE when it cannot be made.
  BOOL MakeFilmStrip();
  // Whether the bar state saved at the last close shows the film strip.
  BOOL IsFilmStripSaved() const;
  BOOL m_bFilmStripWanted = FALSE;  // the user's choice, whether or not it can be shown now
  BOOL m_bActivated = FALSE;
  CGridView* m_pGridView = nullptr;  // made the first time the grid is shown; the frame owns it
  CString m_strNotice;  // what the last command did, shown in place of the idle text
};
