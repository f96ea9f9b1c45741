// GetModuleFileNameA in a file of its own: the rest of the layer reaches the executable's path
// through it, as the program does.
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
