// What Copy puts on the desktop's clipboard: the shown picture, upright as the user sees it and at
// its own size, together with its file, so that an image editor pastes the picture and a file
// manager the file; or the file's full path as text.
#pragma once

#include "afx/afxwin.h"

class CVimoDoc;

class CClipboardOffer {
 public:
  // The document's shown bitmap, the part rcSource of it (its own pixels, top row 0) turned by
  // nOrientation, and the file at path. FALSE, the clipboard as it was, when there is no memory
  // for the picture or nothing could be drawn.
  static BOOL CopyImage(CVimoDoc& doc, const RECT& rcSource, int nOrientation, const char* path);
  // The path's bytes as text.
  static BOOL CopyPath(const char* path);

 private:
  // The upright picture as a packed 32-bit bitmap, top row first; NULL when it cannot be made.
  static HGLOBAL DrawUpright(CVimoDoc& doc, const RECT& rcSource, int nOrientation);
};
