#include "app/Globals.h"

CString g_strServer;
CString g_strTo;
CString g_strFrom;
CString g_strSubject;
CString g_strBody;

int g_bSettingsChanged = 0;
int g_bDragging = 0;
int g_bPollQueue = 0;
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

char g_szSettingsPath[PATH_MAX] = "";
char g_szLogPath[PATH_MAX] = "";

CMapStringToPtr g_mapGiftState(10);
