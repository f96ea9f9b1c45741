// Message maps, command routing and command-state objects.
//
// A class that handles commands or window messages lists them in a static table built in its own
// .cpp between BEGIN_MESSAGE_MAP and END_MESSAGE_MAP, in the order it lists them, with the base
// class's table behind it. Each entry carries a small generated function that calls the named
// handler with the message's arguments, so the table stays type-checked.
#pragma once

#include "afx/Object.h"
#include "afx/String.h"

class CCmdTarget;
class CCmdUI;

// Window messages the program's classes handle.
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;  // lParam: the new client width and height (device pixels)
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SETFOCUS = 0x0007;
// A control tells its parent what happened: wParam the control's ID, lParam its NMHDR.
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
// The mouse in a view: wParam the buttons held (MK_LBUTTON, MK_MBUTTON) and keys, lParam the
// pointer in client coordinates. Moves come only while a button is held.
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
// wParam: the window; lParam: the pointer in screen coordinates, or -1 (both halves 0xFFFF) when
// the menu was asked for from the keyboard.
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
// wParam: the key flags (MK_CONTROL, MK_SHIFT) and, in the high word, the signed turn (120 a
// notch); lParam: the pointer in client coordinates (unlike Windows, which gives the screen's).
inline constexpr UINT WM_MOUSEWHEEL = 0x020A;
inline constexpr UINT WM_USER = 0x0400;

// The header of every WM_NOTIFY: which control (its window and ID) and what happened.
struct HWND__;
struct NMHDR {
  HWND__* hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};

// Codes of a WM_COMMAND entry: the command itself, or the request for its state.
inline constexpr UINT CN_COMMAND = 0;
inline constexpr UINT CN_UPDATE_COMMAND_UI = 0xFFFFFFFFu;

struct AFX_MSGARGS {
  UINT nMessage;
  WPARAM wParam;
  LPARAM lParam;
  void* pExtra;  // the CCmdUI of an update request
};
using AFX_PMSGFN = LRESULT (*)(CCmdTarget* pTarget, const AFX_MSGARGS& args);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // WM_COMMAND for commands and update requests
  UINT nCode;     // CN_COMMAND or CN_UPDATE_COMMAND_UI for WM_COMMAND entries; a WM_NOTIFY's code
  UINT nID;       // first command (control) ID
  UINT nLastID;   // last command (control) ID (equal to nID for one)
  AFX_PMSGFN pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

// The enabled and checked state of one command, as its update handler leaves it.
class CCmdUI {
 public:
  explicit CCmdUI(UINT nID) : m_nID(nID) {}
  virtual ~CCmdUI() = default;

  virtual void Enable(BOOL bOn = TRUE);
  virtual void SetCheck(int nCheck = 1);
  // A status-bar pane's text (its indicator's update handler says it).
  virtual void SetText(const char* lpszText);

  // Asks pTarget's routing for the state. Without an update handler the command is enabled
  // exactly when some handler would run it.
  void DoUpdate(CCmdTarget* pTarget);

  UINT m_nID;
  BOOL m_bEnabled = TRUE;
  int m_nCheck = -1;  // -1: the handler did not say
  CString m_strText;
  BOOL m_bTextSet = FALSE;
  BOOL m_bHandled = FALSE;
};

class CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)

 public:
  CCmdTarget() = default;
  ~CCmdTarget() override = default;

  // Looks for a handler of command nID (nCode CN_COMMAND) or of its update request
  // (CN_UPDATE_COMMAND_UI, pExtra the CCmdUI) in this object's maps and runs it. With bQuery
  // the handler is only found, not run. Returns TRUE when a handler was found.
  virtual BOOL OnCmdMsg(UINT nID, UINT nCode, void* pExtra, BOOL bQuery = FALSE);

  // Runs command nID through the full routing, after its update handler has allowed it.
  // Returns TRUE when the command ran.
  BOOL ExecuteCommand(UINT nID);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;

  // The first entry for the message (and for WM_COMMAND and WM_NOTIFY, code and ID) along the
  // map chain.
  const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const;
};

#define DECLARE_MESSAGE_MAP()                        \
 protected:                                          \
  static const AFX_MSGMAP* GetThisMessageMap();      \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                              \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }         \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                         \
    using ThisClass [[maybe_unused]] = theClass;                                            \
    using TheBaseClass = baseClass;                                                         \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                   \
  { 0, 0, 0, 0, nullptr }                                                                   \
  }                                                                                         \
  ;                                                                                         \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                                       \
  }

#define AFX_HANDLER_(body) \
  [](CCmdTarget* pTarget_, [[maybe_unused]] const AFX_MSGARGS& a_) -> LRESULT { body }
#define AFX_THIS_ static_cast<ThisClass*>(pTarget_)

#define ON_COMMAND(id, memberFxn) \
  {WM_COMMAND, CN_COMMAND, (id), (id), AFX_HANDLER_(AFX_THIS_->memberFxn(); return 0;)},
#define ON_UPDATE_COMMAND_UI(id, memberFxn)                  \
  {WM_COMMAND, CN_UPDATE_COMMAND_UI, (id), (id),             \
   AFX_HANDLER_(AFX_THIS_->memberFxn(static_cast<CCmdUI*>(a_.pExtra)); return 0;)},
// Handler given the command ID; returns TRUE when it handled the command.
#define ON_COMMAND_EX_RANGE(id, idLast, memberFxn) \
  {WM_COMMAND, CN_COMMAND, (id), (idLast),         \
   AFX_HANDLER_(return AFX_THIS_->memberFxn(static_cast<UINT>(a_.wParam));)},
#define ON_UPDATE_COMMAND_UI_RANGE(id, idLast, memberFxn) \
  {WM_COMMAND, CN_UPDATE_COMMAND_UI, (id), (idLast),      \
   AFX_HANDLER_(AFX_THIS_->memberFxn(static_cast<CCmdUI*>(a_.pExtra)); return 0;)},
#define ON_COMMAND_EX(id, memberFxn) ON_COMMAND_EX_RANGE(id, id, memberFxn)
// Handler given the notification's header and where its result goes.
#define ON_NOTIFY(code, id, memberFxn)                                                                 \
  {WM_NOTIFY, static_cast<UINT>(code), (id), (id),                                                     \
   AFX_HANDLER_(LRESULT result_ = 0;                                                                   \
                AFX_THIS_->memberFxn(reinterpret_cast<NMHDR*>(a_.lParam), &result_); return result_;)},
#define ON_MESSAGE(message, memberFxn) \
  {(message), 0, 0, 0, AFX_HANDLER_(return AFX_THIS_->memberFxn(a_.wParam, a_.lParam);)},
#define ON_WM_CREATE() \
  {WM_CREATE, 0, 0, 0, AFX_HANDLER_(return AFX_THIS_->OnCreate(reinterpret_cast<LPCREATESTRUCT>(a_.lParam));)},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, 0, AFX_HANDLER_(AFX_THIS_->OnDestroy(); return 0;)},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, 0, AFX_HANDLER_(AFX_THIS_->OnClose(); return 0;)},
#define ON_WM_ERASEBKGND() \
  {WM_ERASEBKGND, 0, 0, 0, AFX_HANDLER_(return AFX_THIS_->OnEraseBkgnd(reinterpret_cast<CDC*>(a_.wParam));)},
#define ON_WM_KEYDOWN()                                                                          \
  {WM_KEYDOWN, 0, 0, 0,                                                                          \
   AFX_HANDLER_(AFX_THIS_->OnKeyDown(static_cast<UINT>(a_.wParam), LOWORD(static_cast<std::uintptr_t>(a_.lParam)), \
                                     HIWORD(static_cast<std::uintptr_t>(a_.lParam)));           \
                return 0;)},
#define ON_WM_SIZE()                                                                      \
  {WM_SIZE, 0, 0, 0,                                                                      \
   AFX_HANDLER_(AFX_THIS_->OnSize(static_cast<UINT>(a_.wParam), LOWORD(static_cast<std::uintptr_t>(a_.lParam)), \
                                  HIWORD(static_cast<std::uintptr_t>(a_.lParam)));       \
                return 0;)},
// The handler returns TRUE when it used the wheel; FALSE leaves it to the window's own scrolling.
#define ON_WM_MOUSEWHEEL()                                                                \
  {WM_MOUSEWHEEL, 0, 0, 0,                                                                \
   AFX_HANDLER_(return AFX_THIS_->OnMouseWheel(LOWORD(static_cast<std::uintptr_t>(a_.wParam)),                 \
                                               static_cast<short>(HIWORD(static_cast<std::uintptr_t>(a_.wParam))), \
                                               CPoint(a_.lParam));)},
// Handler given the timer's ID (wParam of WM_TIMER).
#define ON_WM_TIMER() \
  {WM_TIMER, 0, 0, 0, AFX_HANDLER_(AFX_THIS_->OnTimer(static_cast<UINT_PTR>(a_.wParam)); return 0;)},
#define ON_WM_LBUTTONDOWN()                                                                   \
  {WM_LBUTTONDOWN, 0, 0, 0,                                                                   \
   AFX_HANDLER_(AFX_THIS_->OnLButtonDown(static_cast<UINT>(a_.wParam), CPoint(a_.lParam)); return 0;)},
#define ON_WM_MOUSEMOVE()                                                                     \
  {WM_MOUSEMOVE, 0, 0, 0,                                                                     \
   AFX_HANDLER_(AFX_THIS_->OnMouseMove(static_cast<UINT>(a_.wParam), CPoint(a_.lParam)); return 0;)},
#define ON_WM_LBUTTONDBLCLK()                                                                 \
  {WM_LBUTTONDBLCLK, 0, 0, 0,                                                                 \
   AFX_HANDLER_(AFX_THIS_->OnLButtonDblClk(static_cast<UINT>(a_.wParam), CPoint(a_.lParam)); return 0;)},
#define ON_WM_MBUTTONDOWN()                                                                   \
  {WM_MBUTTONDOWN, 0, 0, 0,                                                                   \
   AFX_HANDLER_(AFX_THIS_->OnMButtonDown(static_cast<UINT>(a_.wParam), CPoint(a_.lParam)); return 0;)},
#define ON_WM_MBUTTONUP()                                                                     \
  {WM_MBUTTONUP, 0, 0, 0,                                                                     \
   AFX_HANDLER_(AFX_THIS_->OnMButtonUp(static_cast<UINT>(a_.wParam), CPoint(a_.lParam)); return 0;)},
#define ON_WM_CONTEXTMENU()                                                                   \
  {WM_CONTEXTMENU, 0, 0, 0,                                                                   \
   AFX_HANDLER_(AFX_THIS_->OnContextMenu(CWnd::FromHandle(reinterpret_cast<HWND>(a_.wParam)), CPoint(a_.lParam)); return 0;)},
#define ON_WM_LBUTTONUP()                                                                     \
  {WM_LBUTTONUP, 0, 0, 0,                                                                     \
   AFX_HANDLER_(AFX_THIS_->OnLButtonUp(static_cast<UINT>(a_.wParam), CPoint(a_.lParam)); return 0;)},
