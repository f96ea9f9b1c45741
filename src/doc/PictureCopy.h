// A cut or scaled copy of the shown picture in a file of its own: what the user sees (turned as
// shown), a part of it or all, at a size and in a format chosen. A JPEG part cut from a JPEG at
// its own size goes without loss (CLosslessTurn::SaveCrop); every other copy is decoded, cut,
// scaled with a Lanczos filter and encoded again. A JPEG source's EXIF block goes with the copy
// made upright, as a turn saved into the file leaves it (orientation 1, the copy's pixel size,
// no thumbnail of the old picture). The source is never written, unless it is the target the
// user chose and agreed to replace.
#pragma once

#include "afx/afxwin.h"

class CPictureCopy {
 public:
  enum class Format { kJpeg, kPng, kWebp };

  struct CChoice {
    CRect rcPart;                // of the picture as shown; empty: all of it
    CSize size;                  // the copy's pixels
    Format format = Format::kJpeg;
    int nQuality = 90;           // JPEG and WebP, 1 to 100
    BOOL bWithoutLoss = FALSE;   // cut from the JPEG's blocks: rcPart where SnapCrop leaves it, at its size
    CString strTarget;           // the copy's full path
    BOOL bReplace = FALSE;       // the user agreed to replace a file of that name
  };

  // Writes the copy of source, whose stored pixels the user sees turned by nTurn (1 to 8, as
  // DrawDibDraw takes it): a fresh file beside the target, renamed into place; a file of the
  // target's name stays unless choice.bReplace. FALSE with why in strError (short English, the
  // target's name and the system's reason where there is one); then no file was made or changed.
  static BOOL Write(const char* source, int nTurn, const CChoice& choice, CString& strError);
  // Whether rcPart of source as turned by nTurn can be cut without loss: source is a JPEG and a
  // place for the part exists on its block grid, which rcPart is moved to (its size kept).
  static BOOL SnapWithoutLoss(const char* source, int nTurn, CRect& rcPart);
  // A name for the copy beside source that no file has: its name without the extension, "-1"
  // (or the first number free), and the format's extension ("photo.jpg" -> "photo-1.jpg").
  static CString FreshName(const char* source, Format format);
  static const char* Extension(Format format);
};
