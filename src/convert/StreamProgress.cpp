#include "convert/StreamProgress.h"

#include "afx/afx.h"

namespace {

CCriticalSection g_lock;  // guards everything below
CStreamProgress::CState g_state;
bool g_bPosted = false;   // the window was told and has not taken the news yet
std::function<void()> g_tell;

// Whether a conversion is watched on this thread: only its rows are news.
thread_local bool t_bWatched = false;

// Tells the window, once until it takes the news. Under g_lock.
void Tell() {
  if (g_bPosted || !g_tell) return;
  g_bPosted = true;
  g_tell();
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

bool CStreamProgress::Watching() { return t_bWatched; }

void CStreamProgress::Rows(const char* path, int nRows) {
  CSingleLock lock(&g_lock, TRUE);
  g_state.written = path;
  g_state.nRows = nRows;
  Tell();
}

void CStreamProgress::Listen(std::function<void()> tell) {
  CSingleLock lock(&g_lock, TRUE);
  g_tell = std::move(tell);
  g_bPosted = false;
  if (g_state.nSerial != 0 && !g_state.bEnded) Tell();
}

CStreamProgress::CState CStreamProgress::Take() {
  CSingleLock lock(&g_lock, TRUE);
  g_bPosted = false;
  return g_state;
}
