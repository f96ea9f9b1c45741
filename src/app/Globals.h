// State shared by the application, the views and the frame that belongs to no one object, with
// the viewing preferences (settings/Preferences.h). All of it is read and written on the
// user-interface thread only.
#pragma once

#include <climits>

#include "afx/afx.h"
#include "settings/Preferences.h"

// Image Gift mail settings; recipients and body hold lines joined by CR LF.
extern CString g_strServer;
extern CString g_strTo;
extern CString g_strFrom;
extern CString g_strSubject;
extern CString g_strBody;

extern int g_bSettingsChanged;  // the settings dialog ended with OK in this run
extern int g_bDragging;         // the view is dragging the shown image file out

// Full paths of "vimo.txt" and "vimolog.txt"; empty when the path would not fit.
extern char g_szSettingsPath[PATH_MAX];
extern char g_szLogPath[PATH_MAX];

// Image Gift state by full image path: 1 = stacked, not yet sent; 0 = sent.
extern CMapStringToPtr g_mapGiftState;
