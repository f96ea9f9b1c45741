#include "frame/SDIRememberFrame.h"

#include <cstdlib>
#include <cstring>

IMPLEMENT_DYNCREATE(CSDIRememberFrame, CFrameWnd)

BEGIN_MESSAGE_MAP(CSDIRememberFrame, CFrameWnd)
  ON_WM_DESTROY()
  ON_WM_CLOSE()
END_MESSAGE_MAP()

RECT ParsePlacementRect(const char* text) {
  LONG values[4] = {0, 0, 0, 0};
  const std::size_t length = std::strlen(text);
  if (length <= 20) {
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t position = 5 * i;
      if (position < length) values[i] = std::atoi(text + position);
    }
  } else {
    const char* p = text;
    for (LONG& value : values) {
      char* end = nullptr;
      value = static_cast<LONG>(std::strtol(p, &end, 10));
      if (end == p) break;
      p = end;
    }
  }
  return RECT{values[0], values[1], values[2], values[3]};
}

CSDIRememberFrame::CSDIRememberFrame()
    : m_strSection("Window size"),
      m_strRectEntry("Rect"),
      m_strIconicEntry("iconized"),
      m_strMaximizedEntry("maximized"),
      m_bFirstTime(TRUE) {}

CSDIRememberFrame::~CSDIRememberFrame() = default;

void CSDIRememberFrame::ActivateFrame(int nCmdShow) {
  if (!m_bFirstTime) {
    CFrameWnd::ActivateFrame(nCmdShow);
    return;
  }
  CWinApp* pApp = AfxGetApp();
  LoadBarState(pApp->m_pszProfileName);
  m_bFirstTime = FALSE;

  const CString rectText = pApp->GetProfileString(m_strSection, m_strRectEntry, nullptr);
  if (rectText.IsEmpty()) {
    CFrameWnd::ActivateFrame(nCmdShow);
    return;
  }
  const RECT rect = ParsePlacementRect(rectText);
  const BOOL bIconic = pApp->GetProfileInt(m_strSection, m_strIconicEntry, 0) != 0;
  const BOOL bMaximized = pApp->GetProfileInt(m_strSection, m_strMaximizedEntry, 0) != 0;

  UINT flags = 0;
  UINT showCmd = SW_SHOWNORMAL;
  if (bIconic) {
    showCmd = SW_SHOWMINNOACTIVE;
    if (bMaximized) flags = WPF_RESTORETOMAXIMIZED;
  } else if (bMaximized) {
    showCmd = SW_SHOWMAXIMIZED;
    flags = WPF_RESTORETOMAXIMIZED;
  }
  WINDOWPLACEMENT wp;
  wp.length = sizeof(WINDOWPLACEMENT);
  wp.flags = flags;
  wp.showCmd = showCmd;
  wp.ptMinPosition = POINT{0, 0};
  wp.ptMaxPosition = POINT{-GetSystemMetrics(SM_CXBORDER), -GetSystemMetrics(SM_CYBORDER)};
  wp.rcNormalPosition = rect;
  SetWindowPlacement(&wp);
}

void CSDIRememberFrame::OnClose() {
  SaveBarState(AfxGetApp()->m_pszProfileName);
  CFrameWnd::OnClose();
}

void CSDIRememberFrame::OnDestroy() {
  WINDOWPLACEMENT wp;
  wp.length = sizeof(WINDOWPLACEMENT);
  // A frame that was never shown (a start whose file could not be opened) has no placement
  // the user chose; the saved one stays.
  if (!m_bFirstTime && GetWindowPlacement(&wp)) {
    int nIconic = 0;
    int nMaximized = 0;
    if (wp.showCmd == SW_SHOWMAXIMIZED) {
      nMaximized = 1;
    } else if (wp.showCmd == SW_SHOWMINIMIZED) {
      nIconic = 1;
      nMaximized = wp.flags != 0 ? 1 : 0;
    }
    // Formatted without a fixed buffer: coordinates beyond -999 .. 9999 make a longer text,
    // which ParsePlacementRect reads back by its blanks.
    CString rectText;
    rectText.Format("%04d %04d %04d %04d", static_cast<int>(wp.rcNormalPosition.left),
                    static_cast<int>(wp.rcNormalPosition.top), static_cast<int>(wp.rcNormalPosition.right),
                    static_cast<int>(wp.rcNormalPosition.bottom));
    CWinApp* pApp = AfxGetApp();
    pApp->WriteProfileString(m_strSection, m_strRectEntry, rectText);
    pApp->WriteProfileInt(m_strSection, m_strIconicEntry, nIconic);
    pApp->WriteProfileInt(m_strSection, m_strMaximizedEntry, nMaximized);
  }
  CFrameWnd::OnDestroy();
}
