// Resource numbers and command IDs of the program: menus, accelerators, tool bar, dialogs,
// icons and strings share the numbers below.
#pragma once

#include "afx/afxwin.h"

inline constexpr UINT IDR_MAINFRAME = 128;  // menu, accelerators, tool bar, icon, document string
inline constexpr UINT IDI_DOCUMENT = 129;   // the document icon
inline constexpr UINT IDD_ABOUTBOX = 100;
inline constexpr UINT IDD_GIFT_SETTINGS = 130;
inline constexpr UINT IDD_KEYS = 131;        // the keys and mouse gestures at a glance
inline constexpr UINT IDD_COPY = 132;        // a cut or scaled copy: its size, format and name
inline constexpr UINT IDD_RENAME = 133;      // a file's new name

inline constexpr int IDC_GIFT_TO = 1000;
inline constexpr int IDC_GIFT_FROM = 1001;
inline constexpr int IDC_GIFT_SUBJECT = 1002;
inline constexpr int IDC_GIFT_COMMENT = 1003;
inline constexpr int IDC_GIFT_SERVER = 1004;
inline constexpr int IDC_KEYS_LIST = 1010;
inline constexpr int IDC_COPY_PART = 1020;
inline constexpr int IDC_COPY_WIDTH = 1021;
inline constexpr int IDC_COPY_HEIGHT = 1022;
inline constexpr int IDC_COPY_UNIT = 1023;
inline constexpr int IDC_COPY_FORMAT = 1024;
inline constexpr int IDC_COPY_QUALITY = 1025;
inline constexpr int IDC_COPY_WITHOUT_LOSS = 1026;
inline constexpr int IDC_COPY_NAME = 1027;
inline constexpr int IDC_RENAME_NAME = 1030;

inline constexpr UINT ID_GO_PREV = 0xE105;
inline constexpr UINT ID_GO_NEXT = 0xE106;
inline constexpr UINT ID_IMAGE_DELETE = 0xE108;
inline constexpr UINT ID_IMAGE_OPEN = 0xE109;
inline constexpr UINT ID_IMAGE_SAVE_AS = 0xE10A;
inline constexpr UINT ID_GIFT_SETTINGS = 0xE10B;
inline constexpr UINT ID_GIFT_STACK = 0xE10C;
inline constexpr UINT ID_GIFT_SEND = 0xE10D;

// The view menu's ways of showing the image.
inline constexpr UINT ID_VIEW_FIT = 0x8001;           // fit to the window, centred (remembered)
inline constexpr UINT ID_VIEW_ZOOM_IN = 0x8002;
inline constexpr UINT ID_VIEW_ZOOM_OUT = 0x8003;
inline constexpr UINT ID_VIEW_ZOOM_ACTUAL = 0x8004;   // 1:1
inline constexpr UINT ID_VIEW_FULL_SCREEN = 0x8005;
inline constexpr UINT ID_VIEW_UPRIGHT = 0x8006;       // photos upright by their EXIF orientation (remembered)
inline constexpr UINT ID_VIEW_ROTATE_RIGHT = 0x8007;  // this image a quarter clockwise
inline constexpr UINT ID_VIEW_ROTATE_LEFT = 0x8008;

// Check items of the view menu, each remembered in the profile's "View" section.
inline constexpr UINT ID_VIEW_OTHER_FORMATS = 0x8009;  // also open PNG, WebP, TIFF, HEIC and AVIF
inline constexpr UINT ID_VIEW_BROWSE_ON = 0x800A;      // browse on from the opened file, wrapping
inline constexpr UINT ID_VIEW_COLOUR_MANAGED = 0x8020;  // show colours through the photo's ICC profile and the monitor's

// The photo's facts, the clipboard, the slideshow, turns saved into the file, the mouse.
inline constexpr UINT ID_VIEW_INFO = 0x8040;           // the information panel beside the image (a bar, same ID)
inline constexpr UINT ID_EDIT_COPY_PATH = 0x8041;      // the shown file's full path as text
inline constexpr UINT ID_VIEW_SLIDESHOW = 0x8042;
inline constexpr UINT ID_VIEW_SLIDESHOW_2S = 0x8043;   // the slideshow's interval, remembered
inline constexpr UINT ID_VIEW_SLIDESHOW_3S = 0x8044;
inline constexpr UINT ID_VIEW_SLIDESHOW_5S = 0x8045;
inline constexpr UINT ID_VIEW_SLIDESHOW_10S = 0x8046;
inline constexpr UINT ID_IMAGE_SAVE_TURN = 0x8047;     // the shown turn written into the JPEG, without loss
inline constexpr UINT ID_VIEW_KEEP_ZOOM = 0x8048;      // the next image keeps the zoom (remembered)
inline constexpr UINT ID_INDICATOR_PLACE = 0x8051;     // the status bar's pane of where the user is
inline constexpr UINT ID_HELP_KEYS = 0x8050;           // every key and mouse gesture, grouped (F1)
inline constexpr UINT IDR_IMAGE_CONTEXT = 0x804F;      // the view's context menu
inline constexpr UINT IDR_GRID_CONTEXT = 0x806F;       // the grid's context menu, for the images chosen
// Copies of the shown picture, cut or scaled, in files of their own; the crop mode's commands.
inline constexpr UINT ID_IMAGE_CROP = 0x8070;          // draw the part to cut on the view, then the copy's dialog
inline constexpr UINT ID_IMAGE_RESIZE = 0x8071;        // the copy's dialog for the whole picture
inline constexpr UINT ID_CROP_ACCEPT = 0x8072;         // the part drawn (or the whole picture) to the copy's dialog
inline constexpr UINT ID_CROP_CANCEL = 0x8073;
inline constexpr UINT ID_CROP_ASPECT_PICTURE = 0x8074; // the shape the part keeps: the picture's own,
inline constexpr UINT ID_CROP_ASPECT_1X1 = 0x8075;     // 1:1, 3:2, 4:3, 16:9 (turned as the picture is),
inline constexpr UINT ID_CROP_ASPECT_3X2 = 0x8076;
inline constexpr UINT ID_CROP_ASPECT_4X3 = 0x8077;
inline constexpr UINT ID_CROP_ASPECT_16X9 = 0x8078;
inline constexpr UINT ID_CROP_ASPECT_FREE = 0x8079;    // or none
inline constexpr UINT IDR_CROP_CONTEXT = 0x807A;       // the view's context menu while cropping
// Putting a photo to use: on paper, on the desktop.
inline constexpr UINT ID_IMAGE_PRINT = 0x8090;         // the print dialog (Ctrl+P)
inline constexpr UINT ID_IMAGE_PRINT_PREVIEW = 0x8091; // the print preview
inline constexpr UINT ID_IMAGE_WALLPAPER = 0x8092;     // the desktop's background
// The thumbnail grid, the film strip, the browse order and folders.
inline constexpr UINT ID_VIEW_GRID = 0x8030;          // the grid of the folder's images, and back (Enter)
inline constexpr UINT ID_VIEW_FILM_STRIP = 0x8031;    // the film strip along the window's bottom (its bar's ID too)
inline constexpr UINT ID_VIEW_THUMB_128 = 0x8032;     // the grid's thumbnail size (remembered)
inline constexpr UINT ID_VIEW_THUMB_256 = 0x8033;
inline constexpr UINT ID_VIEW_SORT_NAME = 0x8034;     // the browse order (remembered): by name,
inline constexpr UINT ID_VIEW_SORT_TAKEN = 0x8035;    // when the photo was taken,
inline constexpr UINT ID_VIEW_SORT_MODIFIED = 0x8036; // when the file was changed,
inline constexpr UINT ID_VIEW_SORT_SIZE = 0x8037;     // its size;
inline constexpr UINT ID_VIEW_SORT_REVERSE = 0x8038;  // and the other way round
inline constexpr UINT ID_FILE_OPEN_FOLDER = 0x8039;   // the grid of a folder chosen in a dialog
inline constexpr UINT ID_VIEW_CAPTION_NAME = 0x80C0;  // the grid's captions (remembered): the file's name,
inline constexpr UINT ID_VIEW_CAPTION_TAKEN = 0x80C1; // or when the photo was taken
inline constexpr int IDC_GRID_LIST = 0x803A;          // the grid's list control
inline constexpr int IDC_FILM_STRIP_LIST = 0x803B;    // the film strip's list control

// Managing the files: rename, copy or move to a folder, open with another application.
inline constexpr UINT ID_FILE_RENAME = 0x8060;        // F2
inline constexpr UINT ID_FILE_COPY_TO = 0x8061;       // the shown or chosen files copied to a folder
inline constexpr UINT ID_FILE_MOVE_TO = 0x8062;       // and moved there
inline constexpr UINT ID_FILE_OPEN_WITH = 0x8063;     // the desktop's applications for the file's type
// The items of the menus these show: the last folders and "another folder...", the applications
// and "another program...".
inline constexpr UINT ID_FOLDER_RECENT_FIRST = 0x8100;
inline constexpr int kRecentFolders = 5;
inline constexpr UINT ID_FOLDER_CHOOSE = 0x8108;
inline constexpr UINT ID_OPEN_WITH_OTHER = 0x8109;
inline constexpr UINT ID_OPEN_WITH_FIRST = 0x8110;
inline constexpr int kOpenWithItems = 128;

// Private messages of the main frame.
inline constexpr UINT WM_FIT_IMAGE = WM_USER + 100;   // 0x464: fit the window to an image
inline constexpr UINT WM_POLL_QUEUE = WM_USER + 101;  // 0x465: pick up a converted image
// The view shows another image, or the shown file changed; wParam TRUE: the file itself was
// rewritten (a turn saved into it), so its thumbnails are made again.
inline constexpr UINT WM_IMAGE_SHOWN = WM_USER + 140;
// From the grid: the grid gives way to an image; wParam its place in the browse list, or
// kShownImage for the image shown before.
inline constexpr UINT WM_SHOW_IMAGE = WM_USER + 141;
inline constexpr WPARAM kShownImage = static_cast<WPARAM>(-1);
// The browsed folder's entries changed (another program added, removed or renamed files).
inline constexpr UINT WM_FOLDER_CHANGED = WM_USER + 142;
// To the grid and the film strip: thumbnails they asked for are ready to be taken.
inline constexpr UINT WM_THUMBNAILS_READY = WM_USER + 0x130;
