// Printing a picture through the desktop's print system (CUPS), with its print dialog and
// preview. The program says where the picture lies on the page; the layer asks the printer for
// the page and draws.
#pragma once

#include <functional>
#include <vector>

#include "afx/afx.h"
#include "win32/WinTypes.h"

// A rectangle in points (1/72 inch), from the top-left corner of the page's printable area.
struct AFX_PRINT_RECT {
  double x = 0;
  double y = 0;
  double cx = 0;
  double cy = 0;
};

struct AFX_PRINT_PICTURE {
  CString strDocName;  // the job's name in the printer's queue
  int nWidth = 0;      // the picture's pixels, as printed (upright)
  int nHeight = 0;
  int nBytesPerPixel = 3;  // 3 or 4, blue first
  // Rows nFirst .. nFirst + nRows - 1 (top first) into pRows, nStride bytes from row to row.
  std::function<void(int nFirst, int nRows, BYTE* pRows, std::size_t nStride)> fillRows;
  // Ways the picture may lie on the page, offered in the dialogs (under strChoiceLabel, in the
  // print dialog's options tab strChoiceTab); nChoice is the one chosen, and the one the user
  // chose when the dialog closes.
  CString strChoiceTab;
  CString strChoiceLabel;
  std::vector<CString> choices;
  int nChoice = 0;
  // Where the picture lies for choice nChoice on a printable area of cx x cy points; parts
  // beyond the area are cut off.
  std::function<AFX_PRINT_RECT(double cx, double cy, int nChoice)> layOut;
  BOOL bLandscape = FALSE;  // the page the dialog starts with is turned
};

// Shows the print dialog (bPreview: the print preview, whose print button goes on to the print
// dialog) and prints the picture on one page. IDOK when the page went to the printer, IDCANCEL
// when the user cancelled; -1 with the reason in rReason when it could not be printed (memory,
// the printer or its file).
int AfxPrintPicture(AFX_PRINT_PICTURE& picture, BOOL bPreview, CString& rReason);
