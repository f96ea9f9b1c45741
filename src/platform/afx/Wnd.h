// Windows, painting, bars, frames and views on Qt Widgets.
//
// Each window object owns one Qt widget, created by its Create function and destroyed with the
// object or by DestroyWindow. Qt events become window messages that run through the object's
// message map; what a map does not handle gets the default processing of DefWindowProc.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "afx/CmdTarget.h"
#include "win32/User.h"

class QImage;
class QMenu;
class QPoint;
class QWidget;
class QPainter;
class QTimer;
class CDocument;
class CFrameWnd;
class CView;
class CDataExchange;
struct AfxWidgetLink;

struct CPoint : POINT {
  CPoint() : POINT{0, 0} {}
  CPoint(int x0, int y0) : POINT{x0, y0} {}
  // From a message's lParam: x in the low 16 bits, y in the high 16 bits, both signed.
  explicit CPoint(LPARAM lParam)
      : POINT{static_cast<std::int16_t>(lParam & 0xFFFF), static_cast<std::int16_t>((lParam >> 16) & 0xFFFF)} {}
};

struct CSize : SIZE {
  CSize() : SIZE{0, 0} {}
  CSize(int cx0, int cy0) : SIZE{cx0, cy0} {}
  CSize(const SIZE& s) : SIZE(s) {}  // NOLINT(google-explicit-constructor)
};

struct CRect : RECT {
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool IsRectEmpty() const { return right <= left || bottom <= top; }
  // Inside: the left and top edges are, the right and bottom ones are not.
  bool PtInRect(POINT point) const { return point.x >= left && point.x < right && point.y >= top && point.y < bottom; }
};

// A solid brush. Deleting the brush object releases it.
class CBrush {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF crColor) : m_crColor(crColor) {}
  BOOL CreateSolidBrush(COLORREF crColor) {
    m_crColor = crColor;
    return TRUE;
  }
  COLORREF GetColor() const { return m_crColor; }

 private:
  COLORREF m_crColor = 0;
};

// A picture in memory (afx/Bitmap.h), which a memory device context paints into.
class CBitmap;

// A device context: paints through a Qt painter. Its defaults are those of a fresh device
// context: the system font, black text on an opaque white background.
//
// Its units are device pixels: on a scaled screen (a device pixel ratio above 1) one unit is one
// pixel of the screen, not one of Qt's device-independent pixels, so that a bitmap drawn 1:1 is
// sharp. Text keeps the size the user's scale gives it, so that it stays legible.
class CDC {
 public:
  explicit CDC(QPainter* pPainter);
  // A memory device context, once CreateCompatibleDC made it: it paints into the bitmap selected.
  CDC();
  ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;
  BOOL CreateCompatibleDC(CDC* pDC);
  // Paints into pBitmap from now on (NULL: into nothing); returns the bitmap selected before.
  CBitmap* SelectObject(CBitmap* pBitmap);
  QPainter* GetPainter() const { return m_pPainter; }

  void FillRect(const RECT* lpRect, CBrush* pBrush);
  BOOL TextOut(int x, int y, const char* lpszString, int nCount);
  BOOL TextOut(int x, int y, const CString& str) { return TextOut(x, y, str, str.GetLength()); }

  // Logical point (0, 0) lands on device point (x, y).
  void SetViewportOrg(int x, int y);
  CPoint GetViewportOrg() const { return m_ptViewportOrg; }

 private:
  QPainter* m_pPainter = nullptr;
  CPoint m_ptViewportOrg;
  double m_dDeviceRatio = 1.0;  // device pixels per Qt pixel of the painted window
  std::unique_ptr<QPainter> m_pMemoryPainter;  // a memory context's, painting into m_pSelected
  CBitmap* m_pSelected = nullptr;
};

// TRUE where the compositor alone places windows (Wayland): a program can neither read nor set
// where its top-level windows are. A window's position is then taken to be the one last set, so
// that a placement read back and saved again keeps what the user had on a desktop that allows it.
BOOL AfxCompositorPlacesWindows();

// Pixel units. Inside a view (its client rectangle, painting, scroll sizes and positions, mouse
// points) one unit is one device pixel, so that an image shown 1:1 covers as many screen pixels
// as it has. Window geometry (placement, frame and bar sizes) is in Qt's device-independent
// pixels, as the desktop sizes windows, so a remembered window keeps its size on the user's scale.
class CWnd : public CCmdTarget {
  DECLARE_DYNAMIC(CWnd)

 public:
  CWnd();
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;  // names this object while its window exists

  // The window object of a handle, or NULL when the window no longer exists.
  static CWnd* FromHandle(HWND hWnd);
  // The widget behind this window (the layer's own use, tests and screenshots).
  QWidget* GetWidget() const { return m_pWidget; }

  virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
  virtual BOOL DestroyWindow();

  // Runs the message through the message map now.
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // Sends WM_TIMER (wParam nIDEvent) to the window every nElapse milliseconds until KillTimer or
  // the window's end; a timer of the same ID is restarted with the new period. With lpfnTimer,
  // calls lpfnTimer(m_hWnd, WM_TIMER, nIDEvent, 0) on the window's thread instead, so that a
  // helper of the window can keep a timer on it without a handler of its own there. Returns
  // nIDEvent, 0 without a window. A window with no timer costs no wake-ups.
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
  BOOL KillTimer(UINT_PTR nIDEvent);

  BOOL ShowWindow(int nCmdShow);
  // Gives the window the keyboard focus.
  void SetFocus();
  BOOL IsWindowVisible() const;
  BOOL IsIconic() const;
  void GetClientRect(RECT* lpRect) const;
  void Invalidate(BOOL bErase = TRUE);
  void InvalidateRect(const RECT* lpRect, BOOL bErase = TRUE);
  void UpdateWindow();
  // FALSE: nothing of the window is painted until TRUE again, which repaints it whole.
  void SetRedraw(BOOL bRedraw = TRUE);
  void SetWindowText(const char* lpszString);
  CString GetWindowText() const;
  BOOL GetWindowPlacement(WINDOWPLACEMENT* lpwndpl) const;
  BOOL SetWindowPlacement(const WINDOWPLACEMENT* lpwndpl);
  void DragAcceptFiles(BOOL bAccept = TRUE);
  CFrameWnd* GetParentFrame() const;
  // A point of the client area (its units) in screen coordinates, as menus are placed.
  void ClientToScreen(POINT* lpPoint) const;

  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  virtual void DoDataExchange(CDataExchange* pDX);

  // Remembers the window's rectangle while it is neither minimized nor maximized: the restored
  // rectangle that GetWindowPlacement reports (the layer's frame widget calls it).
  void NoteRestoredRect();

  // The layer's entry for every message: the map's handler, else DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // The default processing of a message.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The default processing of the message being handled.
  LRESULT Default();

  // Default handlers that derived classes call by name.
  int OnCreate(LPCREATESTRUCT lpCreateStruct);
  void OnDestroy();
  void OnClose();

  // Takes the widget: this object owns it from now on, and m_hWnd names the window.
  void AttachWidget(QWidget* pWidget, AfxWidgetLink* pLink);
  // Hides the widget and lets Qt delete it once the current event is done.
  void ReleaseWidget();
  // The top-left corner of a top-level window; where the compositor alone places windows
  // (Wayland), the position last set.
  QPoint WindowPosition() const;
  // While set, moves and resizes are not the user's: the restored rectangle stays.
  bool m_bHoldRestored = false;

  DECLARE_MESSAGE_MAP()

 private:
  friend struct AfxWidgetLink;
  QWidget* m_pWidget = nullptr;  // owned; see AttachWidget
  AfxWidgetLink* m_pLink = nullptr;
  const AFX_MSGARGS* m_pCurrentMessage = nullptr;
  RECT m_rcRestored = {0, 0, 0, 0};
  bool m_bHasRestored = false;
  std::map<UINT_PTR, QTimer*> m_timers;  // by ID, owned by the widget; a killed one stays, stopped
};

// Control-bar styles.
inline constexpr DWORD CBRS_ALIGN_LEFT = 0x1000;
inline constexpr DWORD CBRS_ALIGN_TOP = 0x2000;
inline constexpr DWORD CBRS_ALIGN_RIGHT = 0x4000;
inline constexpr DWORD CBRS_ALIGN_BOTTOM = 0x8000;
inline constexpr DWORD CBRS_ALIGN_ANY = 0xF000;
inline constexpr DWORD CBRS_TOOLTIPS = 0x0010;
inline constexpr DWORD CBRS_FLYBY = 0x0020;
inline constexpr DWORD CBRS_SIZE_DYNAMIC = 0x0004;
inline constexpr DWORD CBRS_TOP = CBRS_ALIGN_TOP | 0x0200;
inline constexpr DWORD CBRS_BOTTOM = CBRS_ALIGN_BOTTOM | 0x0100;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr UINT AFX_IDW_TOOLBAR = 0xE800;
inline constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT AFX_IDW_DOCKBAR_TOP = 0xE81B;
inline constexpr UINT AFX_IDW_DOCKBAR_LEFT = 0xE81C;
inline constexpr UINT AFX_IDW_DOCKBAR_RIGHT = 0xE81D;
inline constexpr UINT AFX_IDW_DOCKBAR_BOTTOM = 0xE81E;

class CControlBar : public CWnd {
  DECLARE_DYNAMIC(CControlBar)

 public:
  // A bar of the program's own along the side of the frame that dwStyle names (CBRS_TOP or
  // CBRS_BOTTOM), nHeight pixels high, whose client area holds the bar's child windows; shown
  // with WS_VISIBLE. Its visibility is kept with the frame's bar state, as the tool bar's is.
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID, int nHeight);
  // Asked at idle time while the bar is shown (as the tool bar asks its buttons' update
  // handlers), so that the bar brings what it shows up to date.
  virtual void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler);

  DWORD GetBarStyle() const { return m_dwStyle; }
  virtual void SetBarStyle(DWORD dwStyle);
  void EnableDocking(DWORD dwDockStyle);
  UINT GetDlgCtrlID() const { return m_nID; }
  BOOL IsVisible() const;
  // Where the bar is docked: CBRS_ALIGN_TOP, _BOTTOM, _LEFT, _RIGHT, or 0 while it floats.
  DWORD GetDockSide() const;

 protected:
  friend class CFrameWnd;
  BOOL CreateBar(CWnd* pParentWnd, DWORD dwStyle, UINT nID, QWidget* pWidget);
  CFrameWnd* m_pDockSite = nullptr;
  DWORD m_dwStyle = 0;
  DWORD m_dwDockStyle = 0;
  UINT m_nID = 0;
};

class CToolBar : public CControlBar {
  DECLARE_DYNAMIC(CToolBar)

 public:
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_TOP, UINT nID = AFX_IDW_TOOLBAR);
  // Buttons, separators and artwork of tool-bar resource nIDResource.
  BOOL LoadToolBar(UINT nIDResource);
  void SetBarStyle(DWORD dwStyle) override;
  int GetCount() const { return static_cast<int>(m_nIDs.size()); }
  UINT GetItemID(int nIndex) const { return m_nIDs[static_cast<size_t>(nIndex)]; }
  // Asks each button's update handler through the frame and applies the answer.
  void UpdateButtons();

 private:
  void ApplyTexts();
  std::vector<UINT> m_nIDs;
};

class CStatusBar : public CControlBar {
  DECLARE_DYNAMIC(CStatusBar)

 public:
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, UINT nID = AFX_IDW_STATUS_BAR);
  BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);
  CString GetPaneText(int nIndex) const;
  void SetPaneText(int nIndex, const char* lpszNewText);
  // At idle time: each pane after the first shows what its indicator's update handler says.
  void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) override;

 private:
  std::vector<QWidget*> m_panes;  // owned by the bar's widget
  std::vector<UINT> m_nIDs;       // the panes' indicators
};

// A bar that shows text the user can select and copy but not change: a read-only text view in a
// bar that docks beside the view (or floats), titled, with a button that hides it. Each line
// "caption\tvalue" shows its value in a column after the widest caption; long lines wrap.
class CTextBar : public CControlBar {
  DECLARE_DYNAMIC(CTextBar)

 public:
  // Docked at the side dwStyle names (CBRS_ALIGN_LEFT or CBRS_ALIGN_RIGHT), visible with
  // WS_VISIBLE, titled lpszTitle.
  BOOL Create(CWnd* pParentWnd, const char* lpszTitle, DWORD dwStyle, UINT nID);
  // The text as bytes; what is not UTF-8 shows as \xNN, so no name can break the view.
  void SetText(const char* lpszText);
  CString GetText() const;

 private:
  CString m_strText;
};

// A menu of the resources, shown where the user asks for it. Its commands are the frame's: the
// update handlers decide which are enabled and checked, and the one chosen runs through the
// frame's routing after the menu has closed, as from the menu bar.
class CMenu {
 public:
  CMenu();
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;
  ~CMenu();

  BOOL LoadMenu(UINT nIDResource);
  // An empty popup menu that AppendMenu fills (items of MF_STRING, or MF_SEPARATOR): for lists
  // only known when the menu is shown. Its texts are shown as given ('&' marks a mnemonic).
  BOOL CreatePopupMenu();
  BOOL AppendMenu(UINT nFlags, UINT nIDNewItem = 0, const char* lpszNewItem = nullptr);
  // The nPos-th menu of the resource (NULL when it has none).
  CMenu* GetSubMenu(int nPos);
  // Shows this menu at (x, y), screen coordinates, for the frame of pWnd, and waits until it
  // closes. TRUE when a command was chosen (it has run then). With TPM_RETURNCMD the command
  // chosen is returned instead (0 for none) and not run, and every item is enabled.
  BOOL TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd);

 private:
  const struct AFX_MENU_ENTRY* m_pEntries = nullptr;  // this menu's first item, or the resource
  std::vector<struct AFX_MENU_ENTRY> m_appended;        // a created menu's items, End last
  std::vector<std::unique_ptr<std::string>> m_appendedTexts;
  std::vector<std::unique_ptr<CMenu>> m_subMenus;
};
inline constexpr UINT TPM_LEFTALIGN = 0x0000;
inline constexpr UINT TPM_RIGHTBUTTON = 0x0002;
inline constexpr UINT TPM_RETURNCMD = 0x0100;
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;

struct CCreateContext {
  const CRuntimeClass* m_pNewViewClass = nullptr;
  CDocument* m_pCurrentDoc = nullptr;
};

inline constexpr UINT ID_VIEW_TOOLBAR = 0xE800;
inline constexpr UINT ID_VIEW_STATUS_BAR = 0xE801;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 0xE001;
inline constexpr DWORD AFX_MBS_VISIBLE = 0x01;
inline constexpr DWORD AFX_MBS_HIDDEN = 0x02;

class CFrameWnd : public CWnd {
  DECLARE_DYNCREATE(CFrameWnd)

 public:
  CFrameWnd();
  ~CFrameWnd() override;

  // Creates the window with menu, accelerators and caption of resource nIDResource, runs
  // WM_CREATE (which creates the view of pContext). FALSE when the window could not be made.
  // A PreCreateWindow that sets cs.hMenu to 0 makes the window without its menu bar.
  BOOL LoadFrame(UINT nIDResource, CCreateContext* pContext);
  // The menu bar of resource nIDResource, for a window made without one.
  void LoadMenuBar(UINT nIDResource);
  // Keeps the space (left, top, right, bottom) blank around the view, where bars made later
  // will be; a null rectangle gives it back to the view.
  void ReserveBarSpace(const CRect& space);
  // The space the menu bar and control bars take around the view now, as they are laid out, in
  // the units ReserveBarSpace takes.
  CRect GetBarSpace() const;
  virtual void ActivateFrame(int nCmdShow = -1);
  // Once, after the window's first frame has been drawn and handed to the screen.
  virtual void OnFirstPaint();
  void InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible);
  void OnUpdateFrameTitle(BOOL bAddToTitle);

  // The view that shows the document and gets the commands: the one the frame was created with,
  // or another the program made active.
  CView* GetActiveView() const { return m_pActiveView; }
  CDocument* GetActiveDocument() const;
  // Creates another view of the context's class on the context's document, owned by the frame;
  // its window stays hidden until it is made active. NULL when it could not be made.
  CView* CreateView(CCreateContext* pContext, UINT nID = 0);
  // Shows pViewNew in the frame in place of the active view (hidden, kept) and gives it the
  // keyboard focus; commands go to it from now on.
  void SetActiveView(CView* pViewNew, BOOL bNotify = TRUE);

  void EnableDocking(DWORD dwDockStyle);
  // Docks the bar on the side nDockBarID names (AFX_IDW_DOCKBAR_TOP when 0), floating or not.
  void DockControlBar(CControlBar* pBar, UINT nDockBarID = 0);
  // Undocks the bar (one that may dock) and puts it at point, in desktop coordinates.
  void FloatControlBar(CControlBar* pBar, CPoint point);
  void ShowControlBar(CControlBar* pBar, BOOL bShow, BOOL bDelay);
  CControlBar* GetControlBar(UINT nID) const;
  // Control bars as readable profile sections "<name>-Bar<n>" with BarID, Visible, Docking
  // (Top, Bottom, Left, Right or Floating) and, for a floating bar, its place XPos, YPos.
  void SaveBarState(const char* lpszProfileName) const;
  void LoadBarState(const char* lpszProfileName);

  // The status bar's message pane.
  void SetMessageText(const char* lpszText);
  // The text of string nID that the status bar shows for it: the part before a line break. The
  // idle text (AFX_IDS_IDLEMESSAGE) is asked again at idle time while no prompt is shown.
  virtual void GetMessageString(UINT nID, CString& rMessage) const;

  // The window over the whole screen, without the window manager's frame; FALSE again returns it
  // to the state and place it had.
  void SetFullScreen(BOOL bFullScreen);
  BOOL IsFullScreen() const;
  // The menu bar shown (AFX_MBS_VISIBLE) or not (AFX_MBS_HIDDEN); its menus' keys stay.
  void SetMenuBarState(DWORD nState);
  DWORD GetMenuBarState() const;

  // Routes a command: the active view (and its document), this frame, the application.
  BOOL OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery = FALSE) override;
  BOOL DestroyWindow() override;

  // Asks the tool bars' update handlers (at idle time).
  void RefreshCommandStates();
  // TRUE while a modal box, dialog or popup menu of the program is open.
  BOOL InModalState() const;

  CString m_strTitle;  // the window title after the document's title

 protected:
  int OnCreate(LPCREATESTRUCT lpCreateStruct);
  void OnClose();
  void OnDestroy();
  BOOL OnBarCheck(UINT nID);
  void OnUpdateControlBarMenu(CCmdUI* pCmdUI);
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  DECLARE_MESSAGE_MAP()

 private:
  friend class CControlBar;
  friend struct AfxFrameWidget;
  friend struct AfxTestAccess;  // tests run menus through UpdateMenu as a user's click would
  void BuildMenu(UINT nIDResource);
  void BuildAccelerators(UINT nIDResource);
  // Asks the update handlers of top-level menu nMenu and its submenus (and lists the recent
  // files in it).
  void UpdateMenu(int nMenu);
  void UpdateMenuItems(QMenu* pMenu);
  void ShowStatusPrompt(const CString& prompt);
  void OnDropFiles(const std::vector<CString>& paths);
  std::vector<CView*> AllViews() const;

  std::unique_ptr<CView> m_pView;             // the view created by WM_CREATE
  std::vector<std::unique_ptr<CView>> m_otherViews;  // views created later (CreateView)
  CView* m_pActiveView = nullptr;
  std::vector<CControlBar*> m_listControlBars;  // bars created on this frame (owned by their creators)
  CCreateContext* m_pCreateContext = nullptr;
  UINT m_nIDResource = 0;
  BOOL m_bPromptShown = FALSE;  // the status bar shows a command's prompt, not the idle text
  // The window's own area (without the window manager's frame) when it went full screen;
  // empty before it ever did.
  RECT m_rcBeforeFullScreen = {0, 0, 0, 0};
  bool m_bSizeAfterFullScreen = false;  // its size is to come back once full screen has ended
  BOOL m_bDropFiles = FALSE;
  struct MenuState;
  std::unique_ptr<MenuState> m_pMenus;
};

class CView : public CWnd {
  DECLARE_DYNAMIC(CView)

 public:
  CView();
  ~CView() override;

  CDocument* GetDocument() const { return m_pDocument; }
  virtual BOOL Create(CFrameWnd* pParentWnd, CCreateContext* pContext);
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  virtual void OnInitialUpdate();
  virtual void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint);
  virtual void OnDraw(CDC* pDC) = 0;
  virtual void OnPrepareDC(CDC* pDC);
  BOOL OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery = FALSE) override;

  // Paints the view into pPainter as the window system would: erase if asked, then draw.
  void PaintView(QPainter* pPainter, BOOL bErase);

 protected:
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  virtual void OnViewportResized() {}
  virtual void OnScrollPositionChanged() {}

 private:
  friend class CDocument;
  friend struct AfxViewWidget;
  CDocument* m_pDocument = nullptr;  // set while the document lists this view
};

inline constexpr int MM_TEXT = 1;
inline constexpr UINT SB_LINEUP = 0;
inline constexpr UINT SB_LINEDOWN = 1;
inline constexpr UINT SB_PAGEUP = 2;
inline constexpr UINT SB_PAGEDOWN = 3;
inline constexpr UINT SB_THUMBTRACK = 5;
inline constexpr UINT SB_TOP = 6;
inline constexpr UINT SB_BOTTOM = 7;
inline constexpr UINT SB_HORZ = 0;
inline constexpr UINT SB_VERT = 1;
inline constexpr UINT SB_BOTH = 3;

class CScrollView : public CView {
  DECLARE_DYNAMIC(CScrollView)

 public:
  static const SIZE sizeDefault;  // 0 x 0: one tenth of the total (page) or of the page (line)

  void SetScrollSizes(int nMapMode, SIZE sizeTotal, const SIZE& sizePage = sizeDefault,
                      const SIZE& sizeLine = sizeDefault);
  void GetScrollSizes(int& nMapMode, SIZE& sizeTotal, SIZE& sizePage, SIZE& sizeLine) const;
  CSize GetTotalSize() const { return m_totalDev; }
  CPoint GetScrollPosition() const;
  void ScrollToPosition(POINT pt);
  // bShow FALSE: the bars nBar names (SB_HORZ, SB_VERT, SB_BOTH) are not shown, whatever the
  // sizes; the view still scrolls over the whole total size (ScrollToPosition, OnScroll).
  void ShowScrollBar(UINT nBar, BOOL bShow = TRUE);
  // Fills the part of the client area outside the total size.
  void FillOutsideRect(CDC* pDC, CBrush* pBrush);
  // nScrollCode: low byte the horizontal request, high byte the vertical one, 0xFF none.
  virtual BOOL OnScroll(UINT nScrollCode, UINT nPos, BOOL bDoScroll = TRUE);
  void OnPrepareDC(CDC* pDC) override;

 protected:
  void OnViewportResized() override;
  void OnScrollPositionChanged() override;

 private:
  void UpdateBars();
  // Device pixels per Qt pixel of the view's client area.
  double DeviceRatio() const;
  int m_nMapMode = 0;
  CSize m_totalDev;
  CSize m_pageDev;
  CSize m_lineDev;
  BOOL m_bHorzShown = TRUE;  // ShowScrollBar's choice
  BOOL m_bVertShown = TRUE;
};
