// The viewing preferences: the choices of the View menu that outlive a run, kept in the
// profile's "View" section. The document, the views, the frame and the application read them
// from the globals below and change them through WriteViewPreference; none of them needs
// another to reach the profile.
#pragma once

// Read from the profile at start (ReadViewPreferences), changed by the View menu.
extern int g_bFitToWindow;        // images are shown whole, reduced to the window and centred
extern int g_bPhotosUpright;      // a photo is turned as its EXIF orientation says
extern int g_bOtherFormats;       // PNG, WebP, TIFF, HEIC and AVIF files are opened and browsed too
extern int g_bBrowseFromOpened;   // browsing goes on from the opened file in name order, wrapping
extern int g_bKeepZoom;           // the next image is shown at the zoom the user chose for this one
extern int g_nSlideshowSeconds;   // the slideshow's interval: 2, 3, 5 or 10
extern int g_bColourManaged;      // images are shown in their own colours, through the monitor's profile
extern int g_nThumbnailSize;      // the grid's thumbnails: 128 or 256 pixels a side
extern int g_nSortOrder;          // the browse order of a folder: kSortBy...
extern int g_bSortReverse;        // ... and the other way round
extern int g_bCaptionTaken;       // the grid's captions say when each photo was taken, not its name

inline constexpr int kSortByName = 0;       // as a file manager lists it (and as the folder search gives it)
inline constexpr int kSortByDateTaken = 1;  // when the photo was taken (EXIF), else when the file was changed
inline constexpr int kSortByModified = 2;   // when the file was changed
inline constexpr int kSortBySize = 3;

// Reads every viewing preference from the profile into its global; a value missing or out of
// range gives the default. Before anything decides on a file, the command line's check included.
void ReadViewPreferences();
// Stores one (entry FitToWindow, PhotosUpright, GridShown, ...) in the profile's "View" section.
void WriteViewPreference(const char* lpszEntry, int nValue);
// The slideshow interval nSeconds when it is one of the menu's (2, 3, 5, 10), else 5.
int SlideshowSecondsOf(int nSeconds);
