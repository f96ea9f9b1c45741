#include "support/TestAccess.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "convert/ConvertImage.h"
#include "convert/MultiThread.h"

// The real functions behind the wrapped names, and the wrappers the program's calls reach
// (tests/CMakeLists.txt links every test program so).
extern "C" int __real__Z17ConvertForViewingPKcS0_i(const char* src, const char* dst, int colours);
extern "C" int __wrap__Z17ConvertForViewingPKcS0_i(const char* src, const char* dst, int colours);
extern "C" void __real__ZN15CStreamProgress4RowsEPKci(const char* path, int nRows);
extern "C" void __wrap__ZN15CStreamProgress4RowsEPKci(const char* path, int nRows);
extern "C" DWORD __real__Z18GetModuleFileNameAPvPcj(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
extern "C" DWORD __wrap__Z18GetModuleFileNameAPvPcj(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

#if defined(__SANITIZE_ADDRESS__)
// In the address sanitizer's builds a library loaded at run time stays to the end (Mesa's driver,
// which EGL loads for Qt's Wayland windows and unloads before the program ends): the leak report
// then names the library a leak comes from, as tests/lsan.supp must, not "<unknown module>".
extern "C" int dlclose(void* /*handle*/) { return 0; }
#endif

namespace {

std::atomic<AfxTestAccess::ConvertFunction> g_pfnConvert{nullptr};
thread_local bool g_bInStandIn = false;  // a stand-in's own ConvertForViewing is the real one

std::mutex g_exePathMutex;
std::string g_exePath;  // empty: the real executable

CEvent g_conversionsReleased(TRUE, TRUE);

int HeldConvert(const char* src, const char* dst, int colours) {
  CSingleLock wait(&g_conversionsReleased, TRUE);
  return ConvertForViewing(src, dst, colours);
}

std::atomic<int> g_nHoldRows{0};
CEvent g_rowsReleased(TRUE, TRUE);

}  // namespace

extern "C" void __wrap__ZN15CStreamProgress4RowsEPKci(const char* path, int nRows) {
  __real__ZN15CStreamProgress4RowsEPKci(path, nRows);
  int hold = g_nHoldRows.load();
  if (hold > 0 && nRows >= hold && g_nHoldRows.compare_exchange_strong(hold, 0)) CSingleLock wait(&g_rowsReleased, TRUE);
}

extern "C" int __wrap__Z17ConvertForViewingPKcS0_i(const char* src, const char* dst, int colours) {
  const AfxTestAccess::ConvertFunction function = g_pfnConvert.load();
  if (function == nullptr || g_bInStandIn) return __real__Z17ConvertForViewingPKcS0_i(src, dst, colours);
  g_bInStandIn = true;
  const int result = function(src, dst, colours);
  g_bInStandIn = false;
  return result;
}

extern "C" DWORD __wrap__Z18GetModuleFileNameAPvPcj(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  {
    const std::lock_guard<std::mutex> guard(g_exePathMutex);
    path = g_exePath;
  }
  if (path.empty()) return __real__Z18GetModuleFileNameAPvPcj(hModule, lpFilename, nSize);
  if (lpFilename == nullptr || path.size() >= nSize) return 0;
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

void AfxTestAccess::SetConvertFunction(ConvertFunction function) { g_pfnConvert = function; }

void AfxTestAccess::HoldConversions(BOOL bHold) {
  if (!bHold) {
    g_conversionsReleased.SetEvent();
    return;
  }
  g_conversionsReleased.ResetEvent();
  SetConvertFunction(&HeldConvert);
}

void AfxTestAccess::HoldStreamedRows(int nRows) {
  if (nRows <= 0) {
    g_nHoldRows = 0;
    g_rowsReleased.SetEvent();
    return;
  }
  g_rowsReleased.ResetEvent();
  g_nHoldRows = nRows;
}

void AfxTestAccess::SetWaitClock(BOOL (*clock)(DWORD dwTimeout)) { CEvent::s_pfnWaitClock = clock; }

void AfxTestAccess::WaitForConversionAhead() {
  CSingleLock guard(&CMultiThread::s_aheadLock, TRUE);
  if (CMultiThread::s_pAhead) CMultiThread::s_pAhead->ended.Lock();
}

void AfxTestAccess::SetExecutablePath(const char* path) {
  const std::lock_guard<std::mutex> guard(g_exePathMutex);
  g_exePath = path != nullptr ? path : "";
}
