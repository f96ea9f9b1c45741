// Resources as data: the layer reads the program's menus, accelerators, tool bars, dialog
// templates, icons and strings through these look-ups, which the program's resource module
// (src/res/) defines.
#pragma once

#include "win32/WinTypes.h"

enum class AfxMenuKind { Popup, Item, Separator, EndPopup, End };

struct AFX_MENU_ENTRY {
  AfxMenuKind kind;
  UINT nID;
  const char* lpszText;  // the text after a TAB is only shown beside the item
  BOOL bGrayed;
};

inline constexpr BYTE FVIRTKEY = 0x01;
inline constexpr BYTE FSHIFT = 0x04;
inline constexpr BYTE FCONTROL = 0x08;
inline constexpr BYTE FALT = 0x10;

struct AFX_ACCEL {
  BYTE fVirt;  // FVIRTKEY with FSHIFT, FCONTROL, FALT
  WORD key;    // virtual-key code
  WORD cmd;
};

// Artwork: rows of characters, each naming a colour of the palette ("c" + RRGGBB, '.' none).
struct AFX_IMAGE {
  int nWidth;
  int nHeight;
  const char* const* lpPalette;  // entries "X RRGGBB"; X is the character used in the rows
  const char* const* lpRows;
};

struct AFX_TOOLBAR {
  int nButtonWidth;
  int nButtonHeight;
  const UINT* lpIDs;  // ID_SEPARATOR (0) marks a separator
  int nCount;
  const AFX_IMAGE* lpBitmap;  // the buttons' images side by side, in button order
};

// Control styles used by the templates.
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_HSCROLL = 0x00100000;
inline constexpr DWORD ES_MULTILINE = 0x0004;
inline constexpr DWORD ES_AUTOVSCROLL = 0x0040;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080;
inline constexpr DWORD ES_WANTRETURN = 0x1000;
inline constexpr DWORD ES_READONLY = 0x0800;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
inline constexpr DWORD SS_NOPREFIX = 0x0080;
inline constexpr DWORD SS_ICON = 0x0003;

// Check: a check box (its text the label). ComboBox: a drop-down list whose items are the text's
// lines, the first chosen.
enum class AfxControl { Static, Icon, Edit, Button, Check, ComboBox };

struct AFX_DLGITEM {
  AfxControl kind;
  int nID;
  short x, y, cx, cy;  // dialog units
  DWORD dwStyle;
  const char* lpszText;  // for an icon: its resource number as text
};

struct AFX_DLGTEMPLATE {
  short cx, cy;  // dialog units
  const char* lpszCaption;
  const char* lpszFont;
  int nPointSize;
  const AFX_DLGITEM* lpItems;
  int nItems;
};

// Look-ups; NULL (or 0 entries) when the program has no such resource.
const char* AfxFindStringResource(UINT nID);
const AFX_MENU_ENTRY* AfxFindMenuResource(UINT nID);  // ends with an AfxMenuKind::End entry
const AFX_ACCEL* AfxFindAcceleratorResource(UINT nID, int* pnCount);
const AFX_TOOLBAR* AfxFindToolBarResource(UINT nID);
const AFX_DLGTEMPLATE* AfxFindDialogResource(UINT nID);
const AFX_IMAGE* AfxFindIconResource(UINT nID);
