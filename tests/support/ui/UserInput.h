// Real keyboard and mouse input, delivered as the window system would: key presses reach the
// main window's accelerators before the focused window sees them.
#pragma once

#include <string>

#include "afx/Dialog.h"
#include "afx/afxwin.h"

class QWidget;

namespace vimo::test {

// Presses and releases a key (a Qt key code) with modifiers (Qt modifier flags) in the
// focused window of the main frame.
void PressKey(CFrameWnd* pFrame, int qtKey, int qtModifiers = 0);

// Presses the left mouse button at (x, y), client coordinates, in the view; with bRelease the
// button is released there too.
void ClickView(CView* pView, int x, int y, bool bRelease = true);
// Drags with the left button in the view from one client point to another, through a point
// half-way, and lets go there.
void DragInView(CView* pView, POINT from, POINT to);

// Edits the text of edit control nID in a dialog as a user would: selects all of it (or, with
// bAppend, goes to its end), then enters utf8Text through the input method, as a Japanese input
// method commits text, pressing Return for each "\n". TypeInEdit does the same in an edit widget.
void TypeInDialog(CDialog* pDialog, int nID, const std::string& utf8Text, bool bAppend = false);
void TypeInEdit(QWidget* pEdit, const std::string& utf8Text, bool bAppend);

}  // namespace vimo::test
