#include "win32/VirtualMemory.h"

#include <sys/mman.h>

#include <map>
#include <mutex>

namespace {

// The size of each region handed out, which releasing it needs.
std::mutex g_regionsMutex;
std::map<void*, std::size_t> g_regions;

}  // namespace

LPVOID VirtualAlloc(LPVOID lpAddress, std::size_t dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (lpAddress != nullptr || dwSize == 0 || (flAllocationType & MEM_COMMIT) == 0 || flProtect != PAGE_READWRITE) return nullptr;
  void* p = mmap(nullptr, dwSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  try {
    const std::lock_guard<std::mutex> guard(g_regionsMutex);
    g_regions[p] = dwSize;
  } catch (...) {
    munmap(p, dwSize);
    return nullptr;
  }
  return p;
}

BOOL VirtualFree(LPVOID lpAddress, std::size_t dwSize, DWORD dwFreeType) {
  if (lpAddress == nullptr || dwSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
  std::size_t size = 0;
  {
    const std::lock_guard<std::mutex> guard(g_regionsMutex);
    const auto region = g_regions.find(lpAddress);
    if (region == g_regions.end()) return FALSE;
    size = region->second;
    g_regions.erase(region);
  }
  return munmap(lpAddress, size) == 0 ? TRUE : FALSE;
}
