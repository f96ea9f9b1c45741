#include "doc/GifAnimation.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "win32/DibLayout.h"

using vimo::convert::GifFrameTiming;
using vimo::convert::GifTiming;

namespace {

constexpr std::size_t kFileHeaderSize = sizeof(BITMAPFILEHEADER);
// The headers of an image: file header, information header, and bit-field masks when there are.
constexpr std::size_t kHeadersSize = kFileHeaderSize + sizeof(BITMAPINFOHEADER) + 12;

std::uint32_t ReadU32(const BYTE* p) {
  std::uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

std::uint32_t Rgb(BYTE red, BYTE green, BYTE blue) { return (std::uint32_t{red} << 16) | (std::uint32_t{green} << 8) | blue; }

std::uint32_t ToCanvasColour(COLORREF colour) { return Rgb(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

// What the converter writes for a frame: 8 bits (run-length or not), 24 bits, or 32 bits with
// alpha, bottom-up.
bool IsFrameLayout(const vimo::platform::DibLayout& layout) {
  if (layout.kind != vimo::platform::DibHeaderKind::kInfo || layout.width <= 0 || layout.height <= 0) return false;
  if (layout.bitCount == 24 || layout.bitCount == 32) return layout.compression == BI_RGB;
  return layout.bitCount == 8 && (layout.compression == BI_RGB || layout.compression == BI_RLE8);
}

// The record of how the frames play that ends the file; its size, 0 when there is none.
std::size_t ReadRecord(const vimo::platform::MappedFile& file, GifTiming& timing) {
  const std::uint64_t fileSize = file.offset() + file.size();
  BYTE tail[vimo::convert::kGifTimingTailSize] = {};
  if (fileSize < sizeof(tail) || file.ReadAt(fileSize - sizeof(tail), tail, sizeof(tail)) != sizeof(tail)) return 0;
  const std::size_t size = vimo::convert::GifTimingSize(tail);
  if (size < sizeof(tail) || size > fileSize) return 0;
  std::vector<BYTE> record(size);
  if (file.ReadAt(fileSize - size, record.data(), size) != size) return 0;
  return vimo::convert::DecodeGifTiming(record.data(), size, timing);
}

}  // namespace

std::vector<CGifAnimation::Frame> CGifAnimation::ListFrames(const vimo::platform::MappedFile& file, std::uint64_t fileSize) {
  std::vector<Frame> frames;
  for (std::uint64_t at = 0; at < fileSize;) {
    BYTE headers[kHeadersSize] = {};
    const std::size_t got = file.ReadAt(at, headers, sizeof(headers));
    const std::uint32_t size = got >= kFileHeaderSize ? ReadU32(headers + 2) : 0;
    if (got < kFileHeaderSize + sizeof(BITMAPINFOHEADER) || headers[0] != 'B' || headers[1] != 'M' ||
        size < kFileHeaderSize + sizeof(BITMAPINFOHEADER) || size > fileSize - at)
      return {};
    const vimo::platform::DibLayout layout =
        vimo::platform::ReadDibLayout(headers + kFileHeaderSize, std::min<std::size_t>(got, size) - kFileHeaderSize);
    if (!IsFrameLayout(layout)) return {};
    Frame frame;
    frame.offset = at;
    frame.size = size;
    frame.bAlpha = layout.bitCount == 32;
    frame.timing.width = layout.width;
    frame.timing.height = layout.height;
    frames.push_back(frame);
    at += size;
  }
  return frames;
}

std::unique_ptr<CGifAnimation> CGifAnimation::Create(const vimo::platform::MappedFile& file, COLORREF background) {
  GifTiming timing;
  const std::size_t recordSize = ReadRecord(file, timing);
  if (recordSize == 0) return nullptr;
  std::vector<Frame> frames = ListFrames(file, file.offset() + file.size() - recordSize);
  if (frames.empty() || timing.frames.size() != frames.size()) return nullptr;
  const bool bAlpha = std::any_of(frames.begin(), frames.end(), [](const Frame& frame) { return frame.bAlpha; });
  // The canvas is the GIF's screen, grown where a frame reaches beyond it, as browsers grow it.
  std::uint64_t width = static_cast<std::uint64_t>(std::max(timing.screenWidth, 0));
  std::uint64_t height = static_cast<std::uint64_t>(std::max(timing.screenHeight, 0));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const GifFrameTiming& gif = timing.frames[i];
    if (gif.width != frames[i].timing.width || gif.height != frames[i].timing.height) return nullptr;
    frames[i].timing = gif;
    width = std::max<std::uint64_t>(width, static_cast<std::uint64_t>(gif.left) + static_cast<std::uint64_t>(gif.width));
    height = std::max<std::uint64_t>(height, static_cast<std::uint64_t>(gif.top) + static_cast<std::uint64_t>(gif.height));
  }
  if (width * height > kMaxCanvasPixels) return nullptr;

  std::unique_ptr<CGifAnimation> pAnimation;
  try {
    pAnimation = std::make_unique<CGifAnimation>();
    pAnimation->m_canvas.resize(kHeaderWords + static_cast<std::size_t>(width * height));
    if (bAlpha) pAnimation->m_straight.resize(static_cast<std::size_t>(width * height));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  pAnimation->m_pFile = &file;
  pAnimation->m_frames = std::move(frames);
  pAnimation->m_nWidth = static_cast<int>(width);
  pAnimation->m_nHeight = static_cast<int>(height);
  pAnimation->m_background = ToCanvasColour(background);
  // Rounds after the first: as many as the loop count says, for ever for 0, none without one.
  pAnimation->m_nRoundsLeft = timing.loopCount == 0 ? -1 : std::max(timing.loopCount, 0);
  if (pAnimation->m_frames.size() == 1) pAnimation->m_nRoundsLeft = 0;  // a still picture
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = static_cast<LONG>(width);
  header.biHeight = static_cast<LONG>(height);
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(width * height * 4);
  std::memcpy(pAnimation->m_canvas.data(), &header, sizeof(header));
  pAnimation->Clear();
  pAnimation->Draw(0);
  return pAnimation;
}

UINT CGifAnimation::GetDelay() const {
  if (m_nFrame + 1 == m_frames.size() && m_nRoundsLeft == 0) return 0;
  const GifFrameTiming& timing = m_frames[m_nFrame].timing;
  const int delay = timing.delayMs;
  return delay < (timing.exactDelay ? 11 : 20) ? 100 : static_cast<UINT>(delay);
}

void CGifAnimation::Step() {
  if (GetDelay() == 0) return;
  Dispose(m_nFrame);
  if (++m_nFrame == m_frames.size()) {
    m_nFrame = 0;
    if (m_nRoundsLeft > 0) --m_nRoundsLeft;
    Clear();
  }
  Draw(m_nFrame);
}

void CGifAnimation::Clear() {
  std::fill(m_canvas.begin() + kHeaderWords, m_canvas.end(), Background());
  std::fill(m_straight.begin(), m_straight.end(), 0);
}

void CGifAnimation::Compose(const GifFrameTiming& rect) {
  const std::uint32_t under = m_background;
  for (int y = rect.top; y < rect.top + rect.height; ++y) {
    const std::uint32_t* in = StraightRow(y) + rect.left;
    std::uint32_t* out = Row(y) + rect.left;
    for (int x = 0; x < rect.width; ++x) {
      const std::uint32_t alpha = in[x] >> 24;
      if (alpha == 255) {
        out[x] = in[x] & 0xFFFFFF;
        continue;
      }
      std::uint32_t colour = 0;
      for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t mixed = (((in[x] >> shift) & 0xFF) * alpha + ((under >> shift) & 0xFF) * (255 - alpha) + 127) / 255;
        colour |= mixed << shift;
      }
      out[x] = colour | kBackgroundMark;  // the background shows through: recoloured with it
    }
  }
}

void CGifAnimation::SetBackground(COLORREF background) {
  m_background = ToCanvasColour(background);
  if (!m_straight.empty()) {
    Compose({0, 0, m_nWidth, m_nHeight});
    return;
  }
  const auto recolour = [this](std::uint32_t& pixel) {
    if ((pixel & kBackgroundMark) != 0) pixel = Background();
  };
  std::for_each(m_canvas.begin() + kHeaderWords, m_canvas.end(), recolour);
  std::for_each(m_saved.begin(), m_saved.end(), recolour);
}

void CGifAnimation::Draw(std::size_t nFrame) {
  const Frame& frame = m_frames[nFrame];
  const GifFrameTiming& rect = frame.timing;
  if (rect.disposal == 3) CopyRect(rect, true);
  Decode(frame);
  if (!m_straight.empty()) {
    // Every pixel replaces the canvas's: the converter put the frame together already.
    for (int y = 0; y < rect.height; ++y)
      std::copy_n(m_pixels.data() + static_cast<std::size_t>(y) * rect.width, rect.width, StraightRow(rect.top + y) + rect.left);
    Compose(rect);
    return;
  }
  for (int y = 0; y < rect.height; ++y) {
    std::uint32_t* row = Row(rect.top + y) + rect.left;
    const std::uint32_t* pixels = m_pixels.data() + static_cast<std::size_t>(y) * rect.width;
    for (int x = 0; x < rect.width; ++x) {
      if (pixels[x] != kSeeThrough) row[x] = pixels[x];
    }
  }
}

void CGifAnimation::Dispose(std::size_t nFrame) {
  const GifFrameTiming& rect = m_frames[nFrame].timing;
  if (rect.disposal == 3) {
    CopyRect(rect, false);
    return;
  }
  if (rect.disposal != 2) return;
  if (!m_straight.empty()) {
    for (int y = 0; y < rect.height; ++y) std::fill_n(StraightRow(rect.top + y) + rect.left, rect.width, 0);
    Compose(rect);
    return;
  }
  for (int y = 0; y < rect.height; ++y) std::fill_n(Row(rect.top + y) + rect.left, rect.width, Background());
}

void CGifAnimation::CopyRect(const GifFrameTiming& rect, bool save) {
  const auto width = static_cast<std::size_t>(rect.width);
  m_saved.resize(width * static_cast<std::size_t>(rect.height));
  for (int y = 0; y < rect.height; ++y) {
    std::uint32_t* canvas = (m_straight.empty() ? Row(rect.top + y) : StraightRow(rect.top + y)) + rect.left;
    std::uint32_t* saved = m_saved.data() + static_cast<std::size_t>(y) * width;
    if (save) std::copy_n(canvas, width, saved);
    else std::copy_n(saved, width, canvas);
  }
  if (!save && !m_straight.empty()) Compose(rect);
}

void CGifAnimation::Decode(const Frame& frame) {
  const GifFrameTiming& timing = frame.timing;
  const auto width = static_cast<std::size_t>(timing.width);
  const auto height = static_cast<std::size_t>(timing.height);
  const bool bAlpha = !m_straight.empty();
  m_pixels.assign(width * height, bAlpha ? 0 : kSeeThrough);  // where the file holds no more
  m_stored.resize(frame.size);
  const std::size_t stored = m_pFile->ReadAt(frame.offset, m_stored.data(), m_stored.size());
  if (stored < kFileHeaderSize) return;
  const BYTE* block = m_stored.data() + kFileHeaderSize;
  const std::size_t blockSize = stored - kFileHeaderSize;
  const vimo::platform::DibLayout layout = vimo::platform::ReadDibLayout(block, blockSize);
  if (!IsFrameLayout(layout) || layout.width != timing.width || layout.height != timing.height) return;
  std::uint32_t palette[256] = {};
  for (std::uint64_t i = 0; i < layout.PaletteEntries(); ++i) {
    const std::uint64_t at = layout.colorTableOffset + 4 * i;
    if (at + 4 > blockSize) break;
    palette[i] = Rgb(block[at + 2], block[at + 1], block[at]);
  }
  // A see-through index exists only in an 8-bit frame: by index, never by colour, so an opaque
  // pixel of the see-through colour stays opaque.
  const int seeThrough = layout.bitCount == 8 ? timing.transparentIndex : -1;
  const std::uint32_t opaque = bAlpha ? 0xFF000000u : 0;  // with alpha, 8 and 24 bits are opaque
  // Stored row `row` counts from the bottom; see-through pixels stay kSeeThrough.
  auto put = [&](std::size_t x, std::size_t row, std::uint32_t colour) {
    if (x < width && row < height) m_pixels[(height - 1 - row) * width + x] = colour;
  };
  auto putIndex = [&](std::size_t x, std::size_t row, BYTE index) {
    if (index != seeThrough) put(x, row, palette[index] | opaque);
  };
  const BYTE* bits = block + layout.bitsOffset;
  const BYTE* end = block + blockSize;
  if (layout.compression == BI_RLE8) {
    vimo::platform::DecodeRunLengthRows(bits, end, false, height, putIndex);
    return;
  }
  for (std::size_t row = 0; row < height; ++row) {
    const std::uint64_t at = layout.stride * row;
    if (at + layout.stride > static_cast<std::uint64_t>(end - bits)) return;  // the file holds no more
    const BYTE* p = bits + at;
    for (std::size_t x = 0; x < width; ++x) {
      if (layout.bitCount == 8) putIndex(x, row, p[x]);
      else if (layout.bitCount == 24) put(x, row, Rgb(p[3 * x + 2], p[3 * x + 1], p[3 * x]) | opaque);
      else put(x, row, Rgb(p[4 * x + 2], p[4 * x + 1], p[4 * x]) | (std::uint32_t{p[4 * x + 3]} << 24));
    }
  }
}
