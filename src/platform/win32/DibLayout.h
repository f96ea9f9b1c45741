// The layout of a packed device-independent bitmap (header, colour table, pixel rows), read from
// its bytes alone: the one reader of a loaded bitmap's header for the document, the view and
// DrawDib.
#pragma once

#include <cstddef>
#include <cstdint>

#include "win32/WinTypes.h"

namespace vimo::platform {

enum class DibHeaderKind {
  kNone,   // the block is shorter than the header it starts with
  kCore,   // the 12-byte core header: 16-bit sizes, 3-byte colour entries, no compression
  kInfo,   // an information header of 40 bytes or more
  kOther,  // any other size: its fields are read as an information header's, but not drawn
};

struct DibLayout {
  DibHeaderKind kind = DibHeaderKind::kNone;
  DWORD headerSize = 0;
  LONG width = 0;
  LONG height = 0;        // as stored: negative for rows stored top row first
  bool bottomUp = true;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  DWORD colorsUsed = 0;
  // The colour table follows the header; colorEntries is how many entries lie before the rows.
  std::uint64_t colorTableOffset = 0;
  std::uint64_t colorEntrySize = 4;
  std::uint64_t colorEntries = 0;
  // Red, green and blue masks of 16- and 32-bit pixels: 40 bytes into the block, after a
  // 40-byte header or inside a larger one. False when the block ends before them.
  bool hasMasks = false;
  DWORD masks[3] = {0, 0, 0};
  // Where the pixel rows start, never beyond the block, and the bytes of one stored row
  // (0 unless the width is positive).
  std::size_t bitsOffset = 0;
  std::uint64_t stride = 0;

  // Entries of the colour table that give pixels their colours (bit counts up to 8).
  std::uint64_t PaletteEntries() const;
};

// Reads the layout of the bitmap in the cbBlock bytes at pBlock. The rows start after the colour
// table: biClrUsed entries when the header has that field (biSize >= 36) and it is not 0, none for
// 24 bits, else 2^bits (3-byte entries after a core header); 16- and 32-bit bit fields after a
// 40-byte header move them 12 bytes further, unless biClrUsed is set.
DibLayout ReadDibLayout(const BYTE* pBlock, std::size_t cbBlock);

}  // namespace vimo::platform
