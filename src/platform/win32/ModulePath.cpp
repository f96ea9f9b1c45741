// GetModuleFileNameA in a file of its own: the rest of the layer reaches the executable's path
// through it, as the program does. The loading of the program's own shared objects beside it.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "win32/Kernel.h"

DWORD GetModuleFileNameA(HMODULE /*hModule*/, LPSTR lpFilename, DWORD nSize) {
  if (lpFilename == nullptr || nSize == 0) return 0;
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= nSize) return 0;
  std::memcpy(lpFilename, buffer.data(), static_cast<std::size_t>(length));
  lpFilename[length] = '\0';
  return static_cast<DWORD>(length);
}

namespace {

thread_local std::string t_loadError;

void KeepLoadError(const char* fallback) {
  const char* reason = dlerror();
  t_loadError = reason != nullptr ? reason : fallback;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) return nullptr;
  void* handle = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) KeepLoadError("cannot be loaded");
  return handle;
}

void* GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (hModule == nullptr || lpProcName == nullptr) return nullptr;
  (void)dlerror();
  void* address = dlsym(hModule, lpProcName);
  if (address == nullptr) KeepLoadError("no such function");
  return address;
}

std::string vimo::platform::LastLoadError() { return t_loadError; }
