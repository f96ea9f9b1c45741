#include "win32/DibLayout.h"

#include <algorithm>
#include <cstring>

namespace vimo::platform {
namespace {

// Bit-field masks sit right after the 40 bytes of an information header.
constexpr std::uint64_t kMasksAt = sizeof(BITMAPINFOHEADER);
constexpr std::uint64_t kMasksSize = 12;
// From this header size on the header holds biClrUsed.
constexpr DWORD kClrUsedFrom = 36;

void ReadCore(const BYTE* pBlock, DibLayout& layout) {
  BITMAPCOREHEADER core;
  std::memcpy(&core, pBlock, sizeof(core));
  layout.kind = DibHeaderKind::kCore;
  layout.width = core.bcWidth;
  layout.height = core.bcHeight;
  layout.bitCount = core.bcBitCount;
  layout.colorEntrySize = 3;
  layout.colorEntries = layout.bitCount <= 8 ? 1ull << layout.bitCount : 0;
}

void ReadInfo(const BYTE* pBlock, std::size_t cbBlock, DibLayout& layout) {
  BITMAPINFOHEADER info;
  std::memcpy(&info, pBlock, sizeof(info));
  layout.kind = info.biSize >= sizeof(BITMAPINFOHEADER) ? DibHeaderKind::kInfo : DibHeaderKind::kOther;
  layout.width = info.biWidth;
  layout.height = info.biHeight;
  layout.bitCount = info.biBitCount;
  layout.compression = info.biCompression;
  layout.colorsUsed = info.biClrUsed;
  if (info.biSize >= kClrUsedFrom && info.biClrUsed != 0) layout.colorEntries = info.biClrUsed;
  else if (layout.bitCount <= 8) layout.colorEntries = 1ull << layout.bitCount;
  if (info.biCompression != BI_BITFIELDS || kMasksAt + kMasksSize > cbBlock) return;
  layout.hasMasks = true;
  std::memcpy(layout.masks, pBlock + kMasksAt, kMasksSize);
}

}  // namespace

std::uint64_t DibLayout::PaletteEntries() const {
  return bitCount <= 8 ? std::min<std::uint64_t>(colorEntries, 1ull << bitCount) : 0;
}

DibLayout ReadDibLayout(const BYTE* pBlock, std::size_t cbBlock) {
  DibLayout layout;
  layout.bitsOffset = cbBlock;
  if (pBlock == nullptr || cbBlock < sizeof(DWORD)) return layout;
  std::memcpy(&layout.headerSize, pBlock, sizeof(DWORD));
  if (layout.headerSize == sizeof(BITMAPCOREHEADER) && cbBlock >= sizeof(BITMAPCOREHEADER)) {
    ReadCore(pBlock, layout);
  } else if (layout.headerSize != sizeof(BITMAPCOREHEADER) && cbBlock >= sizeof(BITMAPINFOHEADER)) {
    ReadInfo(pBlock, cbBlock, layout);
  } else {
    return layout;
  }
  layout.bottomUp = layout.height > 0;
  layout.colorTableOffset = layout.headerSize;
  if (layout.width > 0)
    layout.stride = ((static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.bitCount) + 31) / 32) * 4;
  std::uint64_t offset = layout.colorTableOffset + layout.colorEntrySize * layout.colorEntries;
  const bool masked = layout.bitCount == 16 || layout.bitCount == 32;
  if (masked && layout.colorsUsed == 0 && layout.compression == BI_BITFIELDS && layout.headerSize == kMasksAt)
    offset += kMasksSize;
  layout.bitsOffset = static_cast<std::size_t>(std::min<std::uint64_t>(offset, cbBlock));
  return layout;
}

}  // namespace vimo::platform
