// Set as wallpaper: the photo is copied into the user's own data folder (a wallpaper that points
// into a folder that gets cleaned up vanishes with it), then handed to the desktop through the
// XDG desktop portal, or, where no portal sets wallpapers, through the desktop's own setting.
#pragma once

#include "afx/afxwin.h"

class CWallpaper {
 public:
  // Starts setting the file at path as the desktop's background and returns at once; a failure
  // is said in a message box when it is known. Success shows on the desktop itself.
  static void Set(const char* path);

  // Where the copies live: $XDG_DATA_HOME/vimo/wallpaper.
  static CString Folder();

 private:
  // The copy of path in Folder(), written beside its place and renamed into it; empty, with the
  // reason in rReason, when it could not be made. Two places are used in turn, so that the
  // desktop sees a new name each time (it passes over a setting that did not change) and the
  // folder never holds more than the copies of the last two photos.
  static CString Copy(const char* path, CString& rReason);
  // After the desktop took the copy of set nSet: the older copies go, unless a later set began
  // meanwhile (its copy may be one of them).
  static void RemoveOthers(const CString& copy, unsigned nSet);
  // The desktop's own setting, chosen by XDG_CURRENT_DESKTOP; the portal did not answer.
  static void SetThroughDesktop(const CString& copy, const CString& path, unsigned nSet);
  static void Report(const CString& path, const CString& reason);

  static int s_nPlace;             // the place of the last copy made (1 or 2), 0 before the first
  static unsigned s_nLatestSet;    // the number of the last set begun
};
