// CListCtrl: the list-view control in its icon view, for lists whose items the parent keeps
// (owner data, LVS_OWNERDATA): the control keeps only their number, which are selected and which
// has the focus, and asks its parent for what to show (LVN_GETDISPINFO) as it paints.
//
// Items are cells of the image list's picture size with the item's text under it, laid out in
// rows across the control that scroll up and down; with LVS_ALIGNLEFT in columns that scroll
// sideways (a control one cell high is one row that scrolls sideways). It behaves as users
// expect of it: a click selects an item, Ctrl+click adds or removes one, Shift+click selects from
// the anchor; the arrows, Home, End, Page Up and Page Down move the focus and the selection (with
// Shift they extend it from the anchor, with Ctrl they move the focus alone, Ctrl+Space selects
// or deselects the focused item); a double-click activates the item (LVN_ITEMACTIVATE), and with
// LVS_EX_ONECLICKACTIVATE a click does; pressing the button on a selected item and moving
// begins a drag (LVN_BEGINDRAG). Keys it does not use go to the parent (LVN_KEYDOWN). The parent
// hears which items are on screen (LVN_ODCACHEHINT) before they are painted, and is asked for an
// item's tool tip (LVN_GETINFOTIP). An item whose state names a state image (LVIF_STATE,
// INDEXTOSTATEIMAGEMASK) carries that picture of the state image list (LVSIL_STATE) over the top
// left corner of its picture.
#pragma once

#include "afx/ImageList.h"

// Styles.
inline constexpr DWORD LVS_ICON = 0x0000;
inline constexpr DWORD LVS_SINGLESEL = 0x0004;
inline constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
inline constexpr DWORD LVS_ALIGNLEFT = 0x0800;
inline constexpr DWORD LVS_OWNERDATA = 0x1000;
inline constexpr DWORD LVS_EX_ONECLICKACTIVATE = 0x0040;
// An item's text too long for its cell keeps its end and loses its start ("…0001.jpg"), where
// names alike but for their last characters differ; without it the middle goes.
inline constexpr DWORD LVS_EX_ELIDESTART = 0x01000000;

// Item states and the searches of GetNextItem.
inline constexpr UINT LVIS_FOCUSED = 0x0001;
inline constexpr UINT LVIS_SELECTED = 0x0002;
inline constexpr UINT LVIS_STATEIMAGEMASK = 0xF000;
// State image i (1 to 15) is place i - 1 of the state image list; 0 is none.
constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }
inline constexpr UINT LVNI_ALL = 0x0000;
inline constexpr UINT LVNI_FOCUSED = 0x0001;
inline constexpr UINT LVNI_SELECTED = 0x0002;

// What LVN_GETDISPINFO asks for, and the pictures it can answer beside an image's place.
inline constexpr UINT LVIF_TEXT = 0x0001;
inline constexpr UINT LVIF_IMAGE = 0x0002;
inline constexpr UINT LVIF_STATE = 0x0008;  // the parent answers state for the bits in stateMask
inline constexpr int I_IMAGECALLBACK = -1;  // no picture yet: the cell shows only its text
inline constexpr int I_IMAGENONE = -2;      // no picture at all: the cell shows an empty frame
inline constexpr UINT LVSIL_NORMAL = 0;
inline constexpr UINT LVSIL_STATE = 2;
inline constexpr UINT LVIR_BOUNDS = 0;

// Notifications (WM_NOTIFY codes).
inline constexpr UINT LVN_FIRST = 0u - 100u;
inline constexpr UINT LVN_BEGINDRAG = LVN_FIRST - 9;
inline constexpr UINT LVN_ODCACHEHINT = LVN_FIRST - 13;
inline constexpr UINT LVN_ITEMACTIVATE = LVN_FIRST - 14;
inline constexpr UINT LVN_GETDISPINFO = LVN_FIRST - 50;
inline constexpr UINT LVN_KEYDOWN = LVN_FIRST - 55;
inline constexpr UINT LVN_GETINFOTIP = LVN_FIRST - 57;

struct LVITEM {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPSTR pszText;  // the parent writes the item's text here, NUL-terminated
  int cchTextMax;
  int iImage;     // the parent answers a place of the image list, I_IMAGECALLBACK or I_IMAGENONE
  LPARAM lParam;
};

struct NMLVDISPINFO {
  NMHDR hdr;
  LVITEM item;
};

struct NMLVCACHEHINT {
  NMHDR hdr;
  int iFrom;  // the first and last item on screen (or partly on it)
  int iTo;
};

struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
  UINT uKeyFlags;
};

struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
};

struct NMLVKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};

struct NMLVGETINFOTIP {
  NMHDR hdr;
  DWORD dwFlags;
  LPSTR pszText;  // the parent writes the tip here, NUL-terminated
  int cchTextMax;
  int iItem;
  int iSubItem;
  LPARAM lParam;
};

class CListCtrl : public CWnd {
  DECLARE_DYNAMIC(CListCtrl)

 public:
  CListCtrl();
  ~CListCtrl() override;

  // The control as a child of pParentWnd, filling it (rect is taken as its parent's whole area),
  // which hears its notifications with nID.
  BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  void SetExtendedStyle(DWORD dwExStyle);
  // The pictures drawn (LVSIL_NORMAL) or the state pictures (LVSIL_STATE); the list stays the
  // caller's.
  CImageList* SetImageList(CImageList* pImageList, int nImageListType);

  // How many items there are (owner data); selection and focus beyond the new end go.
  BOOL SetItemCountEx(int iCount, DWORD dwFlags = 0);
  int GetItemCount() const;
  UINT GetItemState(int nItem, UINT nMask) const;
  // Sets the states of nMask to those of nState, for one item or (nItem -1) for all of them.
  BOOL SetItemState(int nItem, UINT nState, UINT nMask);
  // The next item after nItem (-1: from the start) with the state flags asked; -1 when none.
  int GetNextItem(int nItem, int nFlags) const;
  UINT GetSelectedCount() const;
  // The item whose selection Shift extends from.
  int GetSelectionMark() const;
  int SetSelectionMark(int iIndex);

  // Scrolls as little as it takes to show the item whole.
  BOOL EnsureVisible(int nItem, BOOL bPartialOK);
  // Scrolls the contents by size (pixels; positive moves on to later items).
  BOOL Scroll(CSize size);
  // Where the item's cell lies in the control's client area.
  BOOL GetItemRect(int nItem, RECT* lpRect, UINT nCode) const;
  // The item under the point (client coordinates), or -1.
  int HitTest(CPoint pt) const;
  int GetTopIndex() const;
  int GetCountPerPage() const;
  // Paints the items again (their text and pictures asked anew).
  BOOL RedrawItems(int nFirst, int nLast);
  BOOL Update(int nItem) { return RedrawItems(nItem, nItem); }

  // Moves the control within its parent (client coordinates of the parent).
  void MoveWindow(int x, int y, int nWidth, int nHeight);

 private:
  friend struct AfxListWidget;
  friend struct AfxTestAccess;  // tests read an item's text as its cell shows it
  // Item nItem's text as its cell shows it, cut to the cell's width.
  CString CaptionOf(int nItem) const;
  struct CItems;
  std::unique_ptr<CItems> m_pItems;
};
