#include "doc/LosslessTurn.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "doc/ExifPatch.h"
#include "win32/SafeFiles.h"

namespace {

struct TransformRelease {
  void operator()(void* handle) const { tjDestroy(handle); }
};
struct JpegBufferRelease {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

// The transform that shows stored pixels as EXIF orientation nOrientation says.
TJXOP TransformOf(int nOrientation) {
  switch (nOrientation) {
    case 2: return TJXOP_HFLIP;
    case 3: return TJXOP_ROT180;
    case 4: return TJXOP_VFLIP;
    case 5: return TJXOP_TRANSPOSE;
    case 6: return TJXOP_ROT90;
    case 7: return TJXOP_TRANSVERSE;
    case 8: return TJXOP_ROT270;
    default: return TJXOP_NONE;
  }
}

// Partial blocks can stay only where they end up on the right or at the bottom again: these
// transforms move the stored right edge, respectively the bottom edge, elsewhere.
bool MovesRightEdge(TJXOP op) { return op == TJXOP_HFLIP || op == TJXOP_ROT180 || op == TJXOP_TRANSVERSE || op == TJXOP_ROT270; }
bool MovesBottomEdge(TJXOP op) { return op == TJXOP_VFLIP || op == TJXOP_ROT180 || op == TJXOP_TRANSVERSE || op == TJXOP_ROT90; }

}  // namespace

std::vector<CLosslessTurn::Segment> CLosslessTurn::HeaderSegments(const std::string& jpeg) {
  std::vector<Segment> segments;
  const auto byte = [&jpeg](std::size_t at) { return static_cast<unsigned char>(jpeg[at]); };
  for (std::size_t at = 2; at + 4 <= jpeg.size() && byte(at) == 0xFF;) {
    const unsigned char marker = byte(at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;
    const std::size_t length = 2 + (std::size_t{byte(at + 2)} << 8 | byte(at + 3));
    if (length < 4 || at + length > jpeg.size()) break;
    segments.push_back(Segment{at, length, marker});
    at += length;
  }
  return segments;
}

BOOL CLosslessTurn::Load(const char* path) {
  m_strPath = path;
  m_bytes.clear();
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  if (!file) return FALSE;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0;) m_bytes.append(buffer, got);
  if (std::ferror(file.get())) return FALSE;
  const std::unique_ptr<void, TransformRelease> handle(tjInitTransform());
  int colourspace = 0;
  if (!handle || m_bytes.size() < 3 || m_bytes.compare(0, 3, "\xFF\xD8\xFF") != 0 ||
      tjDecompressHeader3(handle.get(), reinterpret_cast<const unsigned char*>(m_bytes.data()), m_bytes.size(), &m_nWidth,
                          &m_nHeight, &m_nSubsampling, &colourspace) != 0 ||
      m_nSubsampling < 0 || m_nSubsampling >= TJ_NUMSAMP)
    return FALSE;
  m_bProgressive = FALSE;
  for (const Segment& segment : HeaderSegments(m_bytes)) m_bProgressive |= segment.marker == 0xC2;
  return TRUE;
}

BOOL CLosslessTurn::IsWhole(int nOrientation, int& nKeptWidth, int& nKeptHeight) const {
  const TJXOP op = TransformOf(nOrientation);
  const int nBlockWidth = tjMCUWidth[m_nSubsampling];
  const int nBlockHeight = tjMCUHeight[m_nSubsampling];
  nKeptWidth = MovesRightEdge(op) ? m_nWidth / nBlockWidth * nBlockWidth : m_nWidth;
  nKeptHeight = MovesBottomEdge(op) ? m_nHeight / nBlockHeight * nBlockHeight : m_nHeight;
  return nKeptWidth == m_nWidth && nKeptHeight == m_nHeight ? TRUE : FALSE;
}

CLosslessTurn::Result CLosslessTurn::Save(int nOrientation, BOOL bTrim) {
  m_nError = 0;
  int nKeptWidth = 0;
  int nKeptHeight = 0;
  const BOOL bWhole = IsWhole(nOrientation, nKeptWidth, nKeptHeight);
  if (!bWhole && !bTrim) return Result::kNeedsTrim;
  // A picture whose every block would be cut has nothing left to write.
  if (nKeptWidth == 0 || nKeptHeight == 0) return Result::kUnreadable;
  const std::unique_ptr<void, TransformRelease> handle(tjInitTransform());
  if (!handle) return Result::kUnreadable;
  tjtransform transform{};
  transform.op = TransformOf(nOrientation);
  // Markers are copied (no TJXOPT_COPYNONE); a damaged file stops the transform instead of
  // giving a picture with grey blocks.
  transform.options = (bWhole ? TJXOPT_PERFECT : TJXOPT_TRIM) | (m_bProgressive ? TJXOPT_PROGRESSIVE : 0);
  unsigned char* pTurned = nullptr;
  unsigned long nTurned = 0;
  const int nResult = tjTransform(handle.get(), reinterpret_cast<const unsigned char*>(m_bytes.data()), m_bytes.size(), 1,
                                  &pTurned, &nTurned, &transform, TJFLAG_STOPONWARNING);
  const std::unique_ptr<unsigned char, JpegBufferRelease> turned(pTurned);
  if (nResult != 0 || !turned) return Result::kUnreadable;
  std::string bytes(reinterpret_cast<const char*>(turned.get()), nTurned);
  const bool bSideways = nOrientation >= 5;
  if (!UprightExif(bytes, bSideways ? nKeptHeight : nKeptWidth, bSideways ? nKeptWidth : nKeptHeight))
    return Result::kExifUnreadable;
  if (!vimo::platform::RewriteFileAtomically(m_strPath, bytes)) {
    m_nError = errno;
    return Result::kNotWritten;
  }
  return Result::kDone;
}

CRect CLosslessTurn::KeptShown(int nOrientation) const {
  int nKeptWidth = 0;
  int nKeptHeight = 0;
  IsWhole(nOrientation, nKeptWidth, nKeptHeight);
  // The turn shows stored point (x, y) at these coordinates; the cut blocks lie right and below.
  const auto shown = [this, nOrientation](int x, int y) {
    const int w = m_nWidth;
    const int h = m_nHeight;
    switch (nOrientation) {
      case 2: return CPoint(w - x, y);
      case 3: return CPoint(w - x, h - y);
      case 4: return CPoint(x, h - y);
      case 5: return CPoint(y, x);
      case 6: return CPoint(h - y, x);
      case 7: return CPoint(h - y, w - x);
      case 8: return CPoint(y, w - x);
      default: return CPoint(x, y);
    }
  };
  const CPoint a = shown(0, 0);
  const CPoint b = shown(nKeptWidth, nKeptHeight);
  return CRect(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y));
}

CSize CLosslessTurn::CropGrid(int nOrientation) const {
  // libjpeg-turbo checks the corner against the stored picture's blocks, the transform against the
  // turned picture's: a corner on both grids satisfies both (the sizes are powers of two).
  const int nBlockWidth = tjMCUWidth[m_nSubsampling];
  const int nBlockHeight = tjMCUHeight[m_nSubsampling];
  if (nOrientation < 5) return CSize(nBlockWidth, nBlockHeight);
  const int nBoth = std::max(nBlockWidth, nBlockHeight);
  return CSize(nBoth, nBoth);
}

BOOL CLosslessTurn::SnapCrop(int nOrientation, CRect& rcShown) const {
  const CRect kept = KeptShown(nOrientation);
  const CSize grid = CropGrid(nOrientation);
  const int nWidth = rcShown.Width();
  const int nHeight = rcShown.Height();
  if (nWidth <= 0 || nHeight <= 0 || nWidth > kept.Width() || nHeight > kept.Height()) return FALSE;
  // The corner in the kept picture, moved inside it, then onto the grid (up and left stays inside).
  int x = std::clamp<int>(rcShown.left, kept.left, kept.right - nWidth) - kept.left;
  int y = std::clamp<int>(rcShown.top, kept.top, kept.bottom - nHeight) - kept.top;
  x -= x % grid.cx;
  y -= y % grid.cy;
  rcShown = CRect(kept.left + x, kept.top + y, kept.left + x + nWidth, kept.top + y + nHeight);
  return TRUE;
}

CLosslessTurn::Result CLosslessTurn::SaveCrop(int nOrientation, const CRect& rcShown, const char* target, BOOL bReplace) {
  m_nError = 0;
  CRect snapped = rcShown;
  if (!SnapCrop(nOrientation, snapped) || snapped.left != rcShown.left || snapped.top != rcShown.top) return Result::kNeedsTrim;
  const std::unique_ptr<void, TransformRelease> handle(tjInitTransform());
  if (!handle) return Result::kUnreadable;
  const CRect kept = KeptShown(nOrientation);
  tjtransform transform{};
  transform.op = TransformOf(nOrientation);
  transform.r = tjregion{static_cast<int>(rcShown.left - kept.left), static_cast<int>(rcShown.top - kept.top),
                         static_cast<int>(rcShown.Width()), static_cast<int>(rcShown.Height())};
  int nKeptWidth = 0;
  int nKeptHeight = 0;
  const BOOL bWhole = IsWhole(nOrientation, nKeptWidth, nKeptHeight);
  transform.options = TJXOPT_CROP | (bWhole ? 0 : TJXOPT_TRIM) | (m_bProgressive ? TJXOPT_PROGRESSIVE : 0);
  unsigned char* pCut = nullptr;
  unsigned long nCut = 0;
  const int nResult = tjTransform(handle.get(), reinterpret_cast<const unsigned char*>(m_bytes.data()), m_bytes.size(), 1,
                                  &pCut, &nCut, &transform, TJFLAG_STOPONWARNING);
  const std::unique_ptr<unsigned char, JpegBufferRelease> cut(pCut);
  if (nResult != 0 || !cut) return Result::kUnreadable;
  std::string bytes(reinterpret_cast<const char*>(cut.get()), nCut);
  if (!UprightExif(bytes, rcShown.Width(), rcShown.Height())) return Result::kExifUnreadable;
  vimo::platform::ReplaceOptions options;
  options.bNoReplace = !bReplace;
  if (!vimo::platform::ReplaceFileAtomically(target, bytes, 0666, options)) {
    m_nError = errno;
    return Result::kNotWritten;
  }
  return Result::kDone;
}

BOOL CLosslessTurn::UprightExif(std::string& jpeg, int nWidth, int nHeight) {
  // Every EXIF block is edited in place (a reader may take any of them); without one nothing
  // says another orientation.
  for (const Segment& segment : HeaderSegments(jpeg)) {
    BYTE* pBody = reinterpret_cast<BYTE*>(jpeg.data()) + segment.at + 4;
    if (segment.marker != 0xE1 || !CExifPatch::IsExifBlock(pBody, segment.length - 4)) continue;
    if (!CExifPatch::Upright(pBody, segment.length - 4, static_cast<unsigned>(nWidth), static_cast<unsigned>(nHeight)))
      return FALSE;
  }
  return TRUE;
}
