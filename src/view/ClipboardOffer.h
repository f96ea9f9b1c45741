// What Copy puts on the desktop's clipboard: the shown picture, upright as the user sees it and at
// its own size, together with its file, so that an image editor pastes the picture and a file
// manager the file; or the file's full path as text.
#pragma once

#include "afx/afxwin.h"

class CVimoDoc;

class CClipboardOffer {
 public:
  // The document's shown bitmap, the part rcSource of it (its own pixels, top row 0) turned by
  // nOrientation, and the file at path. The picture is offered as a PNG made only when another
  // program asks for it, from the bitmap's rows: those of the converted file, which the offer
  // keeps open (so browsing on does not change what is pasted), or a copy of an animation's
  // frame. No picture is held meanwhile, and no more than a band of it while it is made.
  // FALSE, the clipboard as it was and the reason in *pstrReason (when given), when no picture
  // is shown, memory runs out, or the picture is larger than a clipboard carries.
  static BOOL CopyImage(CVimoDoc& doc, const RECT& rcSource, int nOrientation, const char* path,
                        CString* pstrReason = nullptr);
  // The path's bytes as text.
  static BOOL CopyPath(const char* path);
};
