// A frame that reappears where the user left it: the restored rectangle, the minimized and
// maximized states and the control bars are kept in the application's profile.
#pragma once

#include "afx/afxwin.h"

class CSDIRememberFrame : public CFrameWnd {
  DECLARE_DYNCREATE(CSDIRememberFrame)

 protected:
  CSDIRememberFrame();

 public:
  ~CSDIRememberFrame() override;
  // The first activation restores the bars and, when one was saved, the placement.
  void ActivateFrame(int nCmdShow = -1) override;

 protected:
  void OnDestroy();
  void OnClose();

  CString m_strSection;
  CString m_strRectEntry;
  CString m_strIconicEntry;
  CString m_strMaximizedEntry;
  BOOL m_bFirstTime;

  DECLARE_MESSAGE_MAP()
};

// The four numbers of a "Rect" entry: positions 0, 5, 10 and 15 as written by "%04d %04d %04d
// %04d" (a blank at 5, 10 or 15 is skipped); longer texts, written for coordinates beyond -999 ..
// 9999, are read as four blank-separated numbers.
RECT ParsePlacementRect(const char* text);
