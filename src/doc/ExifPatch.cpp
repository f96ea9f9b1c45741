#include "doc/ExifPatch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kExifHeaderSize = 6;  // "Exif\0\0", before the TIFF structure
constexpr std::size_t kEntrySize = 12;
constexpr std::uint32_t kTagOrientation = 0x0112;
constexpr std::uint32_t kTagExifDirectory = 0x8769;
constexpr std::uint32_t kTagPixelWidth = 0xA002;
constexpr std::uint32_t kTagPixelHeight = 0xA003;
constexpr std::uint32_t kTypeShort = 3;
constexpr std::uint32_t kTypeLong = 4;
constexpr std::uint32_t kTypeDirectory = 13;

// The TIFF structure of a block: numbers in its byte order, every read checked against its end.
class CTiff {
 public:
  CTiff(BYTE* pBytes, std::size_t nSize) : m_pBytes(pBytes), m_nSize(nSize) {}

  // Reads the byte order from the header; false when the header is no TIFF header.
  bool ReadHeader() {
    if (m_nSize < 8 || m_pBytes[0] != m_pBytes[1] || (m_pBytes[0] != 'I' && m_pBytes[0] != 'M')) return false;
    m_bBigEndian = m_pBytes[0] == 'M';
    std::uint32_t magic = 0;
    return Get(2, 2, magic) && magic == 42;
  }
  std::size_t Size() const { return m_nSize; }

  // The number of `width` bytes (2 or 4) at `at`; false when it does not lie in the block.
  bool Get(std::uint64_t at, int width, std::uint32_t& value) const {
    if (at > m_nSize || m_nSize - at < static_cast<std::size_t>(width)) return false;
    value = 0;
    for (int i = 0; i < width; ++i) {
      const BYTE byte = m_pBytes[at + static_cast<std::size_t>(m_bBigEndian ? i : width - 1 - i)];
      value = value << 8 | byte;
    }
    return true;
  }
  // Writes a number whose place Get has read.
  void Put(std::size_t at, int width, std::uint32_t value) {
    for (int i = 0; i < width; ++i) {
      m_pBytes[at + static_cast<std::size_t>(m_bBigEndian ? width - 1 - i : i)] = static_cast<BYTE>(value);
      value >>= 8;
    }
  }

 private:
  BYTE* m_pBytes;
  std::size_t m_nSize;
  bool m_bBigEndian = false;
};

// One number to write: where, how many bytes, what.
struct Edit {
  std::size_t at = 0;
  int width = 0;
  std::uint32_t value = 0;
};

// A directory (IFD): where it starts and how many entries it has, all of them inside the block
// with the offset of the next directory after them.
struct Directory {
  std::size_t at = 0;
  std::uint32_t count = 0;
  std::size_t Entry(std::uint32_t index) const { return at + 2 + kEntrySize * index; }
  std::size_t Next() const { return Entry(count); }
};

// The directory at offset; false when it does not lie whole in the block, lies in the header or
// starts where one already read starts (a loop).
bool ReadDirectory(const CTiff& tiff, std::uint32_t offset, std::vector<std::uint32_t>& seen, Directory& directory) {
  std::uint32_t count = 0;
  if (offset < 8 || !tiff.Get(offset, 2, count) || std::find(seen.begin(), seen.end(), offset) != seen.end()) return false;
  std::uint32_t next = 0;
  directory = Directory{offset, count};
  if (!tiff.Get(directory.Next(), 4, next)) return false;
  seen.push_back(offset);
  return true;
}

// Where the first value of the entry at `entry` lies, and its width, when it is a SHORT or a
// LONG: in the entry itself when all its values fit there, else where the entry points.
bool FirstValue(const CTiff& tiff, std::size_t entry, std::size_t& at, int& width) {
  std::uint32_t type = 0;
  std::uint32_t count = 0;
  if (!tiff.Get(entry + 2, 2, type) || !tiff.Get(entry + 4, 4, count) || count == 0) return false;
  if (type != kTypeShort && type != kTypeLong) return false;
  width = type == kTypeShort ? 2 : 4;
  at = entry + 8;
  if (std::uint64_t{count} * static_cast<std::uint64_t>(width) > 4) {
    std::uint32_t offset = 0;
    if (!tiff.Get(at, 4, offset)) return false;
    at = offset;
  }
  std::uint32_t ignored = 0;
  return tiff.Get(at, width, ignored);
}

// The edit that sets the entry's first value, when its form can hold the value.
bool SetFirstValue(const CTiff& tiff, std::size_t entry, std::uint32_t value, std::vector<Edit>& edits) {
  Edit edit;
  edit.value = value;
  if (!FirstValue(tiff, entry, edit.at, edit.width) || (edit.width == 2 && value > 0xFFFF)) return false;
  edits.push_back(edit);
  return true;
}

}  // namespace

BOOL CExifPatch::IsExifBlock(const BYTE* pBlock, std::size_t nSize) {
  return nSize >= kExifHeaderSize && std::memcmp(pBlock, "Exif\0\0", kExifHeaderSize) == 0 ? TRUE : FALSE;
}

BOOL CExifPatch::Upright(BYTE* pBlock, std::size_t nSize, unsigned nWidth, unsigned nHeight) {
  if (!IsExifBlock(pBlock, nSize)) return FALSE;
  CTiff tiff(pBlock + kExifHeaderSize, nSize - kExifHeaderSize);
  std::uint32_t firstOffset = 0;
  std::vector<std::uint32_t> seen;
  Directory first;
  if (!tiff.ReadHeader() || !tiff.Get(4, 4, firstOffset) || !ReadDirectory(tiff, firstOffset, seen, first)) return FALSE;
  // Every edit is known to be possible before the first is made.
  std::vector<Edit> edits;
  std::vector<std::uint32_t> exifOffsets;
  for (std::uint32_t i = 0; i < first.count; ++i) {
    std::uint32_t tag = 0;
    (void)tiff.Get(first.Entry(i), 2, tag);
    if (tag == kTagOrientation && !SetFirstValue(tiff, first.Entry(i), 1, edits)) return FALSE;
    if (tag != kTagExifDirectory) continue;
    std::uint32_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t offset = 0;
    (void)tiff.Get(first.Entry(i) + 2, 2, type);
    (void)tiff.Get(first.Entry(i) + 4, 4, count);
    (void)tiff.Get(first.Entry(i) + 8, 4, offset);
    if ((type != kTypeLong && type != kTypeDirectory) || count != 1) return FALSE;
    exifOffsets.push_back(offset);
  }
  for (const std::uint32_t offset : exifOffsets) {
    Directory exif;
    if (!ReadDirectory(tiff, offset, seen, exif)) return FALSE;
    for (std::uint32_t i = 0; i < exif.count; ++i) {
      std::uint32_t tag = 0;
      (void)tiff.Get(exif.Entry(i), 2, tag);
      if (tag == kTagPixelWidth && !SetFirstValue(tiff, exif.Entry(i), nWidth, edits)) return FALSE;
      if (tag == kTagPixelHeight && !SetFirstValue(tiff, exif.Entry(i), nHeight, edits)) return FALSE;
    }
  }
  // The thumbnail's directory is the one after the first: the chain ends before it. Its bytes
  // stay where they are, unread, since a maker note may point into them too.
  edits.push_back(Edit{first.Next(), 4, 0});
  for (const Edit& edit : edits) tiff.Put(edit.at, edit.width, edit.value);
  return TRUE;
}
