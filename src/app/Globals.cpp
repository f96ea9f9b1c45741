#include "app/Globals.h"

CString g_strServer;
CString g_strTo;
CString g_strFrom;
CString g_strSubject;
CString g_strBody;

int g_bSettingsChanged = 0;
int g_bDragging = 0;

char g_szSettingsPath[PATH_MAX] = "";
char g_szLogPath[PATH_MAX] = "";

CMapStringToPtr g_mapGiftState(10);
