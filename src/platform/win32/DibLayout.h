// The layout of a packed device-independent bitmap (header, colour table, pixel rows), read from
// its bytes alone: the one reader of a loaded bitmap's header for the document, the view and
// DrawDib.
#pragma once

#include <algorithm>
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

// Decodes run-length rows, 8 bits a pixel or 4 when `four`, from bits up to end: encoded runs,
// end of row, end of image, moves and literal runs. Each pixel's colour index goes to
// put(x, row, index), row 0 first as stored; pixels beyond the image are the caller's to drop.
// Stops at the end of the image, at row `height`, or where the bytes end.
template <class Put>
void DecodeRunLengthRows(const BYTE* bits, const BYTE* end, bool four, std::size_t height, Put put) {
  const auto index = [four](BYTE pair, std::size_t i) -> BYTE { return !four ? pair : (i & 1) ? (pair & 0x0F) : (pair >> 4); };
  std::size_t x = 0;
  std::size_t row = 0;
  while (end - bits >= 2 && row < height) {
    const BYTE count = bits[0];
    const BYTE code = bits[1];
    bits += 2;
    if (count > 0) {
      for (std::size_t i = 0; i < count; ++i) put(x++, row, index(code, i));
    } else if (code == 0) {
      x = 0;
      ++row;
    } else if (code == 1) {
      break;
    } else if (code == 2) {
      if (end - bits < 2) break;
      x += bits[0];
      row += bits[1];
      bits += 2;
    } else {
      const auto available = static_cast<std::size_t>(end - bits);
      for (std::size_t i = 0; i < code && (four ? i / 2 : i) < available; ++i) put(x++, row, index(bits[four ? i / 2 : i], i));
      const std::size_t bytes = four ? (code + 1u) / 2u : code;
      bits += std::min<std::size_t>((bytes + 1u) & ~std::size_t{1}, available);
    }
  }
}

}  // namespace vimo::platform
