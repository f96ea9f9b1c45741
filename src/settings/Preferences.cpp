#include "settings/Preferences.h"

#include "afx/afxwin.h"

int g_bFitToWindow = 0;
int g_bPhotosUpright = 1;
int g_bOtherFormats = 0;
int g_bColourManaged = 1;
int g_bBrowseFromOpened = 0;
int g_bKeepZoom = 0;
int g_nSlideshowSeconds = 5;
int g_nThumbnailSize = 128;
int g_nSortOrder = kSortByName;
int g_bSortReverse = 0;
int g_bCaptionTaken = 0;

namespace {

constexpr char kViewSection[] = "View";

int ReadSwitch(const char* lpszEntry, int nDefault) {
  return AfxGetApp()->GetProfileInt(kViewSection, lpszEntry, nDefault) != 0 ? 1 : 0;
}

}  // namespace

void ReadViewPreferences() {
  g_bOtherFormats = ReadSwitch("OtherFormats", 0);
  g_bBrowseFromOpened = ReadSwitch("BrowseFromOpened", 0);
  g_bFitToWindow = ReadSwitch("FitToWindow", 0);
  g_bPhotosUpright = ReadSwitch("PhotosUpright", 1);
  g_bKeepZoom = ReadSwitch("KeepZoom", 0);
  g_bColourManaged = ReadSwitch("ColourManaged", 1);
  g_bSortReverse = ReadSwitch("SortReverse", 0);
  g_bCaptionTaken = ReadSwitch("CaptionTaken", 0);
  CWinApp* pApp = AfxGetApp();
  g_nSlideshowSeconds = SlideshowSecondsOf(pApp->GetProfileInt(kViewSection, "SlideshowSeconds", 5));
  g_nThumbnailSize = pApp->GetProfileInt(kViewSection, "ThumbnailSize", 128) >= 256 ? 256 : 128;
  const UINT nOrder = pApp->GetProfileInt(kViewSection, "SortOrder", kSortByName);
  g_nSortOrder = nOrder <= kSortBySize ? static_cast<int>(nOrder) : kSortByName;
}

void WriteViewPreference(const char* lpszEntry, int nValue) { AfxGetApp()->WriteProfileInt(kViewSection, lpszEntry, nValue); }

int SlideshowSecondsOf(int nSeconds) {
  for (const int nChoice : {2, 3, 5, 10}) {
    if (nSeconds == nChoice) return nSeconds;
  }
  return 5;
}
