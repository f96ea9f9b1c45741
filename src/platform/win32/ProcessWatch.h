// Starting a program and hearing of its end: the window half of the process stand-ins, since
// the end is reported as a posted message.
#pragma once

#include "win32/User.h"
#include "win32/WinTypes.h"

// Starts a program as WinExec does and watches it without blocking the caller: when it ends,
// nMsg is posted to hWnd with wParam = its exit status (128 + the signal's number when a signal
// ended it) and lParam as given. Nothing is posted when the window is gone by then. Returns 33
// when the program was started, 2 when it was not found or could not be started (and then
// nothing is ever posted). Call it on the user-interface thread.
UINT WinExecNotify(LPCSTR lpCmdLine, UINT uCmdShow, HWND hWnd, UINT nMsg, LPARAM lParam);
