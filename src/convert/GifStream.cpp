#include "convert/GifStream.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/ColourTransform.h"
#include "convert/GifParser.h"
#include "convert/GifTiming.h"
#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

constexpr std::uint64_t kLongestCountedRun = 256;  // the run rule's counting
constexpr std::uint64_t kLongestEncodedRun = 255;  // what one RLE8 count byte holds

// The destination, written at given offsets; the first failure is kept.
class CPlacedWrites {
 public:
  explicit CPlacedWrites(const char* path) : m_path(path) {
    errno = 0;
    m_file = std::fopen(path, "wb");
    if (m_file == nullptr) m_error = errno != 0 ? errno : EIO;
    else (void)std::setvbuf(m_file, nullptr, _IONBF, 0);  // each piece goes out in one write
  }
  ~CPlacedWrites() { Discard(); }
  CPlacedWrites(const CPlacedWrites&) = delete;
  CPlacedWrites& operator=(const CPlacedWrites&) = delete;

  bool Open() const { return m_file != nullptr; }
  int Error() const { return m_error; }
  void At(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (m_error != 0) return;
    errno = 0;
    if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0 || std::fwrite(bytes, 1, size, m_file) != size)
      m_error = errno != 0 ? errno : EIO;
  }
  // Closes the file; false (and the file removed) after any failure.
  bool Close() {
    if (m_file == nullptr) return false;
    errno = 0;
    if (std::fclose(m_file) != 0 && m_error == 0) m_error = errno != 0 ? errno : EIO;
    m_file = nullptr;
    if (m_error == 0) return true;
    (void)std::remove(m_path);
    return false;
  }
  void Discard() {
    if (m_file == nullptr) return;
    std::fclose(m_file);
    m_file = nullptr;
    (void)std::remove(m_path);
  }

 private:
  const char* m_path;
  std::FILE* m_file = nullptr;
  int m_error = 0;
};

// What one row says about the runs of its pixels (maximal runs of one index).
struct RowRuns {
  std::uint8_t first = 0;
  std::uint8_t last = 0;
  std::uint32_t firstLength = 0;
  std::uint32_t lastLength = 0;
  std::uint64_t innerRuns = 0;  // the run rule's runs of the runs between the first and the last
  bool single = false;          // the whole row is one run
  std::uint32_t rleBytes = 0;   // the row in RLE8, its 0 0 included
};

std::uint64_t RunRuleRuns(std::uint64_t length) { return (length + kLongestCountedRun - 1) / kLongestCountedRun; }

RowRuns RunsOf(const std::uint8_t* row, std::size_t width) {
  RowRuns runs;
  runs.rleBytes = 2;
  std::size_t x = 0;
  bool firstRun = true;
  while (x < width) {
    std::size_t length = 1;
    while (x + length < width && row[x + length] == row[x]) ++length;
    runs.rleBytes += static_cast<std::uint32_t>(2 * ((length + kLongestEncodedRun - 1) / kLongestEncodedRun));
    if (firstRun) {
      runs.first = row[x];
      runs.firstLength = static_cast<std::uint32_t>(length);
      firstRun = false;
    } else if (x + length < width) {
      runs.innerRuns += RunRuleRuns(length);
    }
    runs.last = row[x];
    runs.lastLength = static_cast<std::uint32_t>(length);
    x += length;
  }
  runs.single = runs.firstLength == width;
  return runs;
}

// The run rule's runs over the frame's pixels in reading order, rows joined.
std::uint64_t CountRuns(const std::vector<RowRuns>& rows) {
  std::uint64_t runs = 0;
  std::uint8_t open = 0;       // the index of the run that goes on into the next row
  std::uint64_t openLength = 0;
  for (const RowRuns& row : rows) {
    if (openLength != 0 && open == row.first) {
      openLength += row.firstLength;
    } else {
      runs += RunRuleRuns(openLength);
      open = row.first;
      openLength = row.firstLength;
    }
    if (row.single) continue;
    runs += RunRuleRuns(openLength) + row.innerRuns;
    open = row.last;
    openLength = row.lastLength;
  }
  return runs + RunRuleRuns(openLength);
}

// The colours as the BMP shows them: through the colour transform when colours are managed.
std::vector<Rgb> ShownColours(std::vector<Rgb> colours, const CColourTransform* transform) {
  if (transform == nullptr || colours.empty()) return colours;
  std::vector<std::uint8_t> bgr;
  for (const Rgb& colour : colours) bgr.insert(bgr.end(), {colour.blue, colour.green, colour.red});
  transform->Rows(bgr.data(), 0, bgr.data(), 0, colours.size(), 1);
  for (std::size_t i = 0; i < colours.size(); ++i) colours[i] = {bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]};
  return colours;
}

struct FrameWritten {
  ConvertOutcome outcome{ConvertStatus::kWritten};
  CGifParser::Decoded decoded = CGifParser::Decoded::kWhole;
  std::uint64_t size = 0;  // the stored bytes of its BMP image
  int transparentIndex = -1;  // in the written colour table
};

// A frame whose see-through colour is dropped: 24 bits per pixel, the colour-map colours.
FrameWritten WriteTrueColour(CGifParser& parser, const GifFrame& frame, const CColourTransform* transform,
                             std::uint64_t at, std::uint64_t& freeBytes, CPlacedWrites& out) {
  FrameWritten written;
  const auto width = static_cast<std::size_t>(frame.width);
  const auto height = static_cast<std::size_t>(frame.height);
  const std::size_t stride = TrueColourStride(width);
  written.size = BmpPixelDataOffset(24) + std::uint64_t{stride} * height;
  written.outcome = ReserveBmp(written.size, freeBytes);
  if (written.outcome.status != ConvertStatus::kWritten) return written;
  const auto headers = BmpHeaders(width, height, 24, 0, std::uint64_t{stride} * height);
  out.At(at, headers.data(), headers.size());
  const std::vector<Rgb> colours = ShownColours(frame.colours, transform);
  std::vector<std::uint8_t> bgr(stride, 0);
  bool blankRow = false;  // bgr holds a blank row already
  written.decoded = parser.Decode(frame, [&](std::size_t y, const std::uint8_t* indexes, bool blank) {
    const bool ready = blank && blankRow;
    blankRow = blank;
    for (std::size_t x = 0; x < width && !ready; ++x) {
      const Rgb& colour = colours[indexes[x]];
      bgr[3 * x] = colour.blue;
      bgr[3 * x + 1] = colour.green;
      bgr[3 * x + 2] = colour.red;
    }
    out.At(at + BmpPixelDataOffset(24) + std::uint64_t{height - 1 - y} * stride, bgr.data(), stride);
  });
  return written;
}

// A frame at 8 bits per pixel: the used entries of its colour map in map order, RLE8 by the run
// rule. The see-through index, when kept, is named by its written index.
FrameWritten WriteIndexed(CGifParser& parser, const GifFrame& frame, bool keepSeeThrough, const CColourTransform* transform,
                          std::uint64_t at, std::uint64_t& freeBytes, CPlacedWrites& out) {
  FrameWritten written;
  const auto width = static_cast<std::size_t>(frame.width);
  const auto height = static_cast<std::size_t>(frame.height);
  std::array<bool, 256> used{};
  std::vector<RowRuns> rows(height);
  std::optional<RowRuns> blankRuns;
  written.decoded = parser.Decode(frame, [&](std::size_t y, const std::uint8_t* indexes, bool blank) {
    if (blank && blankRuns) {
      rows[y] = *blankRuns;
      return;
    }
    for (std::size_t x = 0; x < width; ++x) used[indexes[x]] = true;
    rows[y] = RunsOf(indexes, width);
    if (blank) blankRuns = rows[y];
  });
  if (written.decoded == CGifParser::Decoded::kUndecodable) return written;
  std::array<std::uint8_t, 256> remap{};
  std::vector<Rgb> kept;
  for (std::size_t i = 0; i < frame.colours.size(); ++i) {
    if (!used[i]) continue;
    remap[i] = static_cast<std::uint8_t>(kept.size());
    kept.push_back(frame.colours[i]);
  }
  if (keepSeeThrough && frame.transparentIndex >= 0 && used[static_cast<std::size_t>(frame.transparentIndex)])
    written.transparentIndex = remap[static_cast<std::size_t>(frame.transparentIndex)];
  const bool compressed = 2 * CountRuns(rows) < std::uint64_t{width} * height;
  const std::size_t plainStride = (width * 8 + 31) / 32 * 4;
  std::uint64_t pixelDataSize = compressed ? 2 : std::uint64_t{plainStride} * height;
  if (compressed) {
    for (const RowRuns& row : rows) pixelDataSize += row.rleBytes;
  }
  written.size = BmpPixelDataOffset(8) + pixelDataSize;
  written.outcome = ReserveBmp(written.size, freeBytes);
  if (written.outcome.status != ConvertStatus::kWritten) return written;
  // Where each row goes: stored bottom row first.
  std::vector<std::uint64_t> rowAt(height);
  std::uint64_t next = at + BmpPixelDataOffset(8);
  for (std::size_t y = height; y-- > 0;) {
    rowAt[y] = next;
    next += compressed ? rows[y].rleBytes : plainStride;
  }
  const auto headers = BmpHeaders(width, height, 8, compressed ? kBmpRle8 : 0, pixelDataSize);
  std::vector<std::uint8_t> head(headers.begin(), headers.end());
  AppendBmpColourTable(ShownColours(kept, transform), head);
  out.At(at, head.data(), head.size());
  rows.clear();
  rows.shrink_to_fit();
  std::vector<std::uint8_t> mapped(width);
  std::vector<std::uint8_t> encoded;
  bool blankRow = false;  // encoded holds a blank row already
  (void)parser.Decode(frame, [&](std::size_t y, const std::uint8_t* indexes, bool blank) {
    if (!(blank && blankRow)) {
      for (std::size_t x = 0; x < width; ++x) mapped[x] = remap[indexes[x]];
      encoded.clear();
      if (compressed) AppendRle8Row(mapped.data(), width, encoded);
      else AppendPlainRow(mapped.data(), width, encoded);
    }
    blankRow = blank;
    out.At(rowAt[y], encoded.data(), encoded.size());
  });
  if (compressed) {
    static constexpr std::array<std::uint8_t, 2> kEnd{0, 1};
    out.At(next, kEnd.data(), kEnd.size());
  }
  return written;
}

}  // namespace

ConvertOutcome StreamGifToBmp(std::FILE* source, const char* destination, const ConvertOptions& options) {
  CGifParser parser;
  if (!parser.Open(source)) return {ConvertStatus::kNoImage};
  CPlacedWrites out(destination);
  if (!out.Open()) return {ConvertStatus::kWriteFailed, 0, 0, out.Error()};
  // Asked once the file is truncated: an overwritten file's old blocks are free again.
  std::uint64_t freeBytes = vimo::platform::FreeBytesAt(destination);
  const std::unique_ptr<CColourTransform> transform =
      options.colourTarget ? CColourTransform::Create({}, CColourTransform::Pixels::kBgr, *options.colourTarget) : nullptr;
  GifTiming timing;
  std::uint64_t at = 0;
  GifFrame frame;
  while (parser.NextFrame(frame)) {
    if (frame.width <= 0 || frame.height <= 0) break;
    if (!CGifParser::IsDecodable(frame)) {
      if (timing.frames.empty())
        return {ConvertStatus::kGifCodeSize, static_cast<std::uint64_t>(frame.codeSize), CGifParser::kLargestCodeSize};
      break;  // the frames before it stay
    }
    const bool trueColour = frame.transparentIndex >= 0 && !options.forViewing;
    const FrameWritten written = trueColour ? WriteTrueColour(parser, frame, transform.get(), at, freeBytes, out)
                                            : WriteIndexed(parser, frame, options.forViewing, transform.get(), at, freeBytes, out);
    if (written.outcome.status != ConvertStatus::kWritten) return written.outcome;
    if (out.Error() != 0) break;
    timing.frames.push_back({frame.left, frame.top, frame.width, frame.height, frame.delayMs, frame.disposal,
                             written.transparentIndex});
    at += written.size;
    if (written.decoded != CGifParser::Decoded::kWhole) break;  // reading stops after a broken frame
  }
  if (timing.frames.empty() && out.Error() == 0) return {ConvertStatus::kNoImage};
  // For viewing, an animation plays from the record, and so is a still frame with a see-through
  // colour shown: the player lays its see-through parts on the background.
  const bool seeThrough = timing.frames.size() == 1 && timing.frames[0].transparentIndex >= 0;
  if (options.forViewing && (timing.frames.size() >= 2 || seeThrough)) {
    timing.screenWidth = parser.ScreenWidth();
    timing.screenHeight = parser.ScreenHeight();
    timing.loopCount = parser.LoopCount();
    const std::vector<std::uint8_t> record = EncodeGifTiming(timing);
    out.At(at, record.data(), record.size());
  }
  if (!out.Close()) return {ConvertStatus::kWriteFailed, 0, 0, out.Error()};
  return {ConvertStatus::kWritten};
}

}  // namespace vimo::convert
