#include "convert/StreamProgress.h"

namespace {

CCriticalSection g_lock;  // guards everything below
CStreamProgress::CState g_state;
bool g_bPosted = false;   // a message is on its way and the news not yet taken
HWND g_hWnd = nullptr;
UINT g_nMessage = 0;
CEvent* g_pWake = nullptr;

// Whether a conversion is watched on this thread: only its rows are news.
thread_local bool t_bWatched = false;

// Tells the window, once until it takes the news. Under g_lock.
void Tell() {
  if (g_bPosted || g_hWnd == nullptr) return;
  g_bPosted = true;
  PostMessageA(g_hWnd, g_nMessage, 0, 0);
  if (g_pWake != nullptr) g_pWake->SetEvent();
}

}  // namespace

CStreamProgress::CWatch::CWatch(const std::string& source) {
  t_bWatched = true;
  CSingleLock lock(&g_lock, TRUE);
  const unsigned nSerial = g_state.nSerial + 1;
  g_state = CState{nSerial, source, {}, 0, false};
  Tell();
}

CStreamProgress::CWatch::~CWatch() {
  t_bWatched = false;
  CSingleLock lock(&g_lock, TRUE);
  g_state.bEnded = true;
  Tell();
}

void CStreamProgress::Rows(const char* path, int nRows) {
  if (!t_bWatched) return;
  CSingleLock lock(&g_lock, TRUE);
  g_state.written = path;
  g_state.nRows = nRows;
  Tell();
}

void CStreamProgress::Listen(HWND hWnd, UINT nMessage, CEvent* pWake) {
  CSingleLock lock(&g_lock, TRUE);
  g_hWnd = hWnd;
  g_nMessage = nMessage;
  g_pWake = pWake;
  g_bPosted = false;
  if (g_state.nSerial != 0 && !g_state.bEnded) Tell();
}

CStreamProgress::CState CStreamProgress::Take() {
  CSingleLock lock(&g_lock, TRUE);
  g_bPosted = false;
  return g_state;
}
