#include "convert/PictureWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "convert/BmpWriter.h"
#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

constexpr std::size_t kColourTableEntries = 256;

int BytesPerPixel(PixelOrder order) { return order == PixelOrder::kRgb ? 3 : 4; }

// Whether any pixel of the picture is not fully opaque.
bool HasSeeThrough(const PictureRows& rows) {
  if (!rows.HasAlpha()) return false;
  for (int y = 0; y < rows.height; ++y) {
    const std::uint8_t* pixel = rows.Row(y) + 3;
    for (int x = 0; x < rows.width; ++x, pixel += 4) {
      if (*pixel != 255) return true;
    }
  }
  return false;
}

// One sample laid on another by its alpha.
std::uint8_t Over(std::uint8_t sample, std::uint8_t alpha, std::uint8_t under) {
  return static_cast<std::uint8_t>((sample * alpha + under * (255 - alpha) + 127) / 255);
}

// The colours of packed blue, green, red pixels in order of first appearance and each pixel's
// index among them; false once there are more than a colour table holds.
bool IndexColours(const std::vector<std::uint8_t>& bgr, std::vector<Rgb>& colours, std::vector<std::uint8_t>& indexes) {
  std::unordered_map<std::uint32_t, std::uint8_t> known;
  indexes.resize(bgr.size() / 3);
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    const std::uint8_t* pixel = &bgr[3 * i];
    const std::uint32_t key = (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
    const auto found = known.find(key);
    if (found != known.end()) {
      indexes[i] = found->second;
      continue;
    }
    if (colours.size() == kColourTableEntries) return false;
    indexes[i] = static_cast<std::uint8_t>(colours.size());
    known.emplace(key, indexes[i]);
    colours.push_back({pixel[2], pixel[1], pixel[0]});
  }
  return true;
}

}  // namespace

CPictureWriter::CPictureWriter(const char* destination, const ConvertOptions& options, std::uint32_t background)
    : m_destination(destination), m_options(options), m_background(background) {}

CPictureWriter::~CPictureWriter() { Discard(); }

ConvertOutcome CPictureWriter::Begin(const PictureInfo& info) {
  m_info = info;
  if (m_options.colourTarget)
    m_transform = CColourTransform::Create(info.profile, CColourTransform::Pixels::kBgr, *m_options.colourTarget);
  m_bDeclined = info.animated && !m_options.forViewing;
  return {ConvertStatus::kWritten};
}

void CPictureWriter::ShownRows(const PictureRows& rows, const Rect& rect, std::vector<std::uint8_t>& bgr,
                               std::vector<std::uint8_t>& alpha) const {
  const auto width = static_cast<std::size_t>(rect.width);
  bgr.resize(width * static_cast<std::size_t>(rect.height) * 3);
  alpha.resize(width * static_cast<std::size_t>(rect.height));
  const int step = BytesPerPixel(rows.order);
  const int blue = rows.order == PixelOrder::kBgra ? 0 : 2;  // where blue and red are in a pixel
  std::uint8_t* out = bgr.data();
  std::uint8_t* opacity = alpha.data();
  for (int y = rect.top; y < rect.top + rect.height; ++y) {
    const std::uint8_t* in = rows.Row(y) + static_cast<std::size_t>(rect.left) * step;
    for (std::size_t x = 0; x < width; ++x, in += step, out += 3) {
      out[0] = in[blue];
      out[1] = in[1];
      out[2] = in[2 - blue];
    }
    if (step == 3) {
      opacity = std::fill_n(opacity, width, std::uint8_t{255});
      continue;
    }
    in = rows.Row(y) + static_cast<std::size_t>(rect.left) * step;
    for (std::size_t x = 0; x < width; ++x, in += step) *opacity++ = in[3];
  }
  if (m_transform) m_transform->Rows(bgr.data(), width * 3, bgr.data(), width * 3, width, static_cast<std::size_t>(rect.height));
}

ConvertOutcome CPictureWriter::StreamStill(const PictureRows& rows, bool layOnBackground) {
  m_bStill = true;
  const ConvertOutcome created = m_rows.Create(m_destination.c_str(), static_cast<std::size_t>(rows.width),
                                               static_cast<std::size_t>(rows.height));
  if (created.status != ConvertStatus::kWritten) return created;
  const std::uint8_t under[3] = {static_cast<std::uint8_t>(m_background >> 16), static_cast<std::uint8_t>(m_background >> 8),
                                 static_cast<std::uint8_t>(m_background)};
  std::vector<std::uint8_t> row(TrueColourStride(static_cast<std::size_t>(rows.width)), 0);
  std::vector<std::uint8_t> bgr;
  std::vector<std::uint8_t> alpha;
  for (int y = 0; y < rows.height && !m_rows.Failed(); ++y) {
    ShownRows(rows, {0, y, rows.width, 1}, bgr, alpha);
    for (std::size_t i = 0; layOnBackground && i < alpha.size(); ++i) {
      for (int c = 0; c < 3; ++c) bgr[3 * i + c] = Over(bgr[3 * i + c], alpha[i], under[c]);
    }
    std::copy(bgr.begin(), bgr.end(), row.begin());
    m_rows.PutRow(static_cast<std::size_t>(y), row.data());
  }
  return {ConvertStatus::kWritten};
}

ConvertOutcome CPictureWriter::Add(const PictureRows& rows, int delayMs) {
  if (m_bDeclined || m_bStill) return {ConvertStatus::kWritten};
  if (m_file != nullptr) return AddFrame(rows, delayMs);
  const bool fits = std::uint64_t(rows.width) * static_cast<std::uint64_t>(rows.height) <= kMaxAnimationPixels;
  if (m_options.forViewing && fits && (m_info.animated || HasSeeThrough(rows))) return AddFrame(rows, delayMs);
  return StreamStill(rows, rows.HasAlpha());
}

bool CPictureWriter::Write(const std::uint8_t* bytes, std::size_t size) {
  if (m_error != 0) return false;
  errno = 0;
  if (std::fwrite(bytes, 1, size, m_file) == size) return true;
  m_error = errno != 0 ? errno : EIO;
  return false;
}

ConvertOutcome CPictureWriter::AddFrame(const PictureRows& rows, int delayMs) {
  const std::size_t pixelBytes = static_cast<std::size_t>(BytesPerPixel(rows.order));
  const std::size_t rowBytes = static_cast<std::size_t>(rows.width) * pixelBytes;
  Rect changed{0, 0, rows.width, rows.height};
  if (m_file == nullptr) {
    errno = 0;
    m_file = std::fopen(m_destination.c_str(), "wb");
    if (m_file == nullptr) return {ConvertStatus::kWriteFailed, 0, 0, errno != 0 ? errno : EIO};
    // Asked once the file is truncated: an overwritten file's old blocks are free again.
    m_freeBytes = vimo::platform::FreeBytesAt(m_destination.c_str());
    m_timing.screenWidth = rows.width;
    m_timing.screenHeight = rows.height;
    m_timing.loopCount = m_info.loopCount;
  } else {
    if (rows.width != m_timing.screenWidth || rows.height != m_timing.screenHeight || m_previous.size() != rowBytes * rows.height)
      return {ConvertStatus::kUndecodable, 0, 0, 0, "its canvases are not of one size"};
    // The rectangle of the pixels that differ from the canvas before.
    int left = rows.width;
    int right = -1;
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < rows.height; ++y) {
      const std::uint8_t* now = rows.Row(y);
      const std::uint8_t* before = m_previous.data() + static_cast<std::size_t>(y) * rowBytes;
      if (std::memcmp(now, before, rowBytes) == 0) continue;
      if (top < 0) top = y;
      bottom = y;
      for (int x = 0; x < rows.width; ++x) {
        if (std::memcmp(now + x * pixelBytes, before + x * pixelBytes, pixelBytes) == 0) continue;
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
    if (top < 0) {
      // Nothing changed: the canvas shown stays that much longer.
      m_timing.frames.back().delayMs += delayMs;
      return {ConvertStatus::kWritten};
    }
    changed = {left, top, right - left + 1, bottom - top + 1};
  }
  const ConvertOutcome written = WriteFrame(rows, changed);
  if (written.status != ConvertStatus::kWritten) return written;
  GifFrameTiming frame;
  frame.left = changed.left;
  frame.top = changed.top;
  frame.width = changed.width;
  frame.height = changed.height;
  frame.delayMs = delayMs;
  frame.disposal = 1;
  frame.exactDelay = true;
  m_timing.frames.push_back(frame);
  if (!m_info.animated) return {ConvertStatus::kWritten};
  m_previous.resize(rowBytes * static_cast<std::size_t>(rows.height));
  for (int y = 0; y < rows.height; ++y) std::memcpy(m_previous.data() + static_cast<std::size_t>(y) * rowBytes, rows.Row(y), rowBytes);
  return {ConvertStatus::kWritten};
}

ConvertOutcome CPictureWriter::WriteFrame(const PictureRows& rows, const Rect& rect) {
  std::vector<std::uint8_t> bgr;
  std::vector<std::uint8_t> alpha;
  ShownRows(rows, rect, bgr, alpha);
  const auto width = static_cast<std::size_t>(rect.width);
  const auto height = static_cast<std::size_t>(rect.height);
  const bool seeThrough = std::any_of(alpha.begin(), alpha.end(), [](std::uint8_t a) { return a != 255; });
  std::vector<Rgb> colours;
  std::vector<std::uint8_t> indexes;
  if (!seeThrough && IndexColours(bgr, colours, indexes)) {
    // At most 256 colours: 8 bits per pixel, RLE8 by the run rule, as the BMP writer does.
    const std::uint32_t compression = 2 * CountRleRuns(indexes) < indexes.size() ? kBmpRle8 : 0;
    std::vector<std::uint8_t> data;
    for (std::size_t y = height; y-- > 0;) {
      if (compression != 0) AppendRle8Row(indexes.data() + y * width, width, data);
      else AppendPlainRow(indexes.data() + y * width, width, data);
    }
    if (compression != 0) data.insert(data.end(), {0, 1});
    const auto headers = BmpHeaders(width, height, 8, compression, data.size());
    std::vector<std::uint8_t> head(headers.begin(), headers.end());
    AppendBmpColourTable(colours, head);
    const ConvertOutcome room = ReserveBmp(head.size() + std::uint64_t{data.size()}, m_freeBytes);
    if (room.status != ConvertStatus::kWritten) return room;
    if (!Write(head.data(), head.size()) || !Write(data.data(), data.size())) return {ConvertStatus::kWriteFailed, 0, 0, m_error};
    return {ConvertStatus::kWritten};
  }
  const std::uint32_t bitsPerPixel = seeThrough ? 32 : 24;
  const std::size_t stride = seeThrough ? width * 4 : TrueColourStride(width);
  const ConvertOutcome room = ReserveBmp(BmpPixelDataOffset(bitsPerPixel) + std::uint64_t{stride} * height, m_freeBytes);
  if (room.status != ConvertStatus::kWritten) return room;
  const auto headers = BmpHeaders(width, height, bitsPerPixel, 0, std::uint64_t{stride} * height);
  if (!Write(headers.data(), headers.size())) return {ConvertStatus::kWriteFailed, 0, 0, m_error};
  std::vector<std::uint8_t> row(stride, 0);
  for (std::size_t y = height; y-- > 0;) {  // bottom row first
    std::uint8_t* out = row.data();
    for (std::size_t i = y * width; i < (y + 1) * width; ++i, out += bitsPerPixel / 8) {
      std::copy_n(&bgr[3 * i], 3, out);
      if (seeThrough) out[3] = alpha[i];
    }
    if (!Write(row.data(), stride)) return {ConvertStatus::kWriteFailed, 0, 0, m_error};
  }
  return {ConvertStatus::kWritten};
}

ConvertOutcome CPictureWriter::Finish() {
  if (m_bStill) return m_rows.Finish();
  if (m_file == nullptr || m_timing.frames.empty()) {
    Discard();
    return {ConvertStatus::kNoImage};
  }
  const std::vector<std::uint8_t> record = EncodeGifTiming(m_timing);
  const ConvertOutcome room = ReserveBmp(record.size(), m_freeBytes);
  if (room.status != ConvertStatus::kWritten) {
    Discard();
    return room;
  }
  (void)Write(record.data(), record.size());
  errno = 0;
  if (std::fclose(m_file) != 0 && m_error == 0) m_error = errno != 0 ? errno : EIO;
  m_file = nullptr;
  if (m_error == 0) return {ConvertStatus::kWritten};
  (void)std::remove(m_destination.c_str());
  return {ConvertStatus::kWriteFailed, 0, 0, m_error};
}

void CPictureWriter::Discard() {
  if (m_file == nullptr) return;
  std::fclose(m_file);
  m_file = nullptr;
  (void)std::remove(m_destination.c_str());
}

}  // namespace vimo::convert
