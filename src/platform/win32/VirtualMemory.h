// Virtual memory: pages asked for in one piece, for buffers of megabytes kept a long time.
#pragma once

#include <cstddef>

#include "win32/WinTypes.h"

inline constexpr DWORD MEM_COMMIT = 0x00001000;
inline constexpr DWORD MEM_RESERVE = 0x00002000;
inline constexpr DWORD MEM_RELEASE = 0x00008000;
inline constexpr DWORD PAGE_READWRITE = 0x04;

// dwSize bytes of zeroed, readable and writable pages at an address of the system's choosing
// (lpAddress NULL, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), or NULL when there is no room.
// Committed pages are put in place at once, in one system call rather than a fault per page.
LPVOID VirtualAlloc(LPVOID lpAddress, std::size_t dwSize, DWORD flAllocationType, DWORD flProtect);
// Releases what VirtualAlloc returned (dwSize 0, MEM_RELEASE).
BOOL VirtualFree(LPVOID lpAddress, std::size_t dwSize, DWORD dwFreeType);
