// The framework's window half: message maps, windows, frames, views, dialogs, the application
// and its documents, with the user-interface and drawing stand-ins they are used with.
#pragma once

#include "afx/Bitmap.h"
#include "afx/CmdTarget.h"
#include "afx/Dialog.h"
#include "afx/WinApp.h"
#include "afx/Wnd.h"
#include "afx/afx.h"
#include "win32/DrawDib.h"
#include "win32/User.h"
