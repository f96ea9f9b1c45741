#include "win32/GlobalMemory.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

struct GlobalBlock {
  std::vector<BYTE> bytes;
  int locks = 0;
};

}  // namespace

HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes) {
  auto block = std::unique_ptr<GlobalBlock>(new (std::nothrow) GlobalBlock);
  if (!block) return nullptr;
  try {
    block->bytes.resize(dwBytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if ((uFlags & GMEM_ZEROINIT) == 0 && dwBytes > 0) std::memset(block->bytes.data(), 0xCD, dwBytes);
  return block.release();  // owned by the handle until GlobalFree
}

LPVOID GlobalLock(HGLOBAL hMem) {
  auto* block = static_cast<GlobalBlock*>(hMem);
  if (block == nullptr) return nullptr;
  ++block->locks;
  return block->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  auto* block = static_cast<GlobalBlock*>(hMem);
  if (block == nullptr || block->locks == 0) return FALSE;
  return --block->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL hMem) {
  const auto* block = static_cast<const GlobalBlock*>(hMem);
  return block != nullptr ? block->bytes.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  std::unique_ptr<GlobalBlock> block(static_cast<GlobalBlock*>(hMem));
  return nullptr;
}
