// Global memory blocks, as handed to the drag-and-drop data source.
#pragma once

#include "win32/WinTypes.h"

inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A block of dwBytes bytes (zero-filled with GMEM_ZEROINIT), or NULL when memory runs out.
// Whoever holds the handle frees it with GlobalFree, unless it hands it over to an owner.
HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
std::size_t GlobalSize(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);  // NULL on success
