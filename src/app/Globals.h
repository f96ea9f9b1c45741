// State shared by the application, the document, the view and the frame that belongs to no
// one object. All of it is read and written on the user-interface thread only.
#pragma once

#include <climits>

#include "afx/afx.h"

// Image Gift mail settings; recipients and body hold lines joined by CR LF.
extern CString g_strServer;
extern CString g_strTo;
extern CString g_strFrom;
extern CString g_strSubject;
extern CString g_strBody;

extern int g_bSettingsChanged;  // the settings dialog ended with OK in this run
extern int g_bDragging;         // the view is dragging the shown image file out
extern int g_bPollQueue;        // the window waits for a converted image or an error

// Viewing preferences, kept in the profile's "View" section.
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

inline constexpr int kSortByName = 0;       // as a file manager lists it (and as the folder search gives it)
inline constexpr int kSortByDateTaken = 1;  // when the photo was taken (EXIF), else when the file was changed
inline constexpr int kSortByModified = 2;   // when the file was changed
inline constexpr int kSortBySize = 3;

// Full paths of "vimo.txt" and "vimolog.txt"; empty when the path would not fit.
extern char g_szSettingsPath[PATH_MAX];
extern char g_szLogPath[PATH_MAX];

// Image Gift state by full image path: 1 = stacked, not yet sent; 0 = sent.
extern CMapStringToPtr g_mapGiftState;
