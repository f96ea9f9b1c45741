// The information panel's text about the shown file: its name, folder and size, and what the file
// says of its picture: format, pixel size, the camera's EXIF facts, the colour profile's name and
// where the photo was taken. The values come from the libraries that read them (libexif,
// ImageMagick, and the colour management's profile reader), never from the program's own parsing.
#pragma once

#include "afx/afxwin.h"

class CImageInfo {
 public:
  // Lines "caption\tvalue", a line for each fact the file has. A value that is not valid text
  // keeps its bytes (the panel shows them as \xNN); control characters become blanks, so that
  // no name or EXIF string can break the panel's lines. Empty when path names no regular file.
  static CString Describe(const char* folder, const char* name);
};
