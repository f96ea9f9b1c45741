// Print and Print preview: the shown picture as the user sees it (upright, turned as shown, the
// colours as managed for the view), on one page whose orientation follows the picture's shape.
// Fitted to the page and centred unless the user chooses otherwise in the dialog: at its own
// size (a pixel for each 1/96 inch, as a 96-dpi screen shows it at 100 %) or filling the page.
#pragma once

#include "afx/PrintPicture.h"
#include "afx/afxwin.h"

class CVimoDoc;

class CPicturePrint {
 public:
  enum Fit { kFitPage = 0, kActualSize = 1, kFillPage = 2 };

  // The part rcSource of the document's shown bitmap turned by nOrientation, the file at path;
  // bPreview shows the print preview first. What goes wrong is said in a message box.
  void Print(CVimoDoc& doc, const RECT& rcSource, int nOrientation, const char* path, BOOL bPreview);

  // Where a picture of cxPicture x cyPicture pixels lies on a printable area of cxPage x cyPage
  // points for fit: centred, scaled to fit inside, to its own size, or to cover the area.
  static AFX_PRINT_RECT LayOut(int cxPicture, int cyPicture, double cxPage, double cyPage, int nFit);

 private:
  int m_nFit = kFitPage;  // the last choice, offered again for the next print
};
