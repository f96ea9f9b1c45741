#include "convert/BmpWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kColourTableEntries = 256;
constexpr std::uint32_t kColourTableSize = kColourTableEntries * 4;
constexpr std::uint32_t kPixelsPerMetre = 2925;
constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::size_t kLongestCountedRun = 256;  // the run rule's counting
constexpr std::size_t kLongestEncodedRun = 255;  // what one count byte holds

}  // namespace

namespace {

Rgb ToRgb(const PixelPacket& pixel) {
  return {ScaleQuantumToChar(GetPixelRed(&pixel)), ScaleQuantumToChar(GetPixelGreen(&pixel)),
          ScaleQuantumToChar(GetPixelBlue(&pixel))};
}

std::uint32_t Pack(Rgb colour) {
  return (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue;
}

void Put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

}  // namespace

// One row in RLE8 with encoded runs only, ended by 0 0.
void AppendRle8Row(const std::uint8_t* row, std::size_t width, std::vector<std::uint8_t>& out) {
  std::size_t x = 0;
  while (x < width) {
    std::size_t length = 1;
    while (x + length < width && length < kLongestEncodedRun && row[x + length] == row[x]) ++length;
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(row[x]);
    x += length;
  }
  out.push_back(0);
  out.push_back(0);
}

// One row uncompressed, padded with zeros to a multiple of 4 bytes.
void AppendPlainRow(const std::uint8_t* row, std::size_t width, std::vector<std::uint8_t>& out) {
  out.insert(out.end(), row, row + width);
  out.resize(out.size() + (width * 8 + 31) / 32 * 4 - width, 0);
}

// 256 entries of blue, green, red, 0; the entries past the image's colours all zero.
void AppendBmpColourTable(const std::vector<Rgb>& colours, std::vector<std::uint8_t>& out) {
  std::array<std::uint8_t, kColourTableSize> table{};
  for (std::size_t i = 0; i < colours.size() && i < kColourTableEntries; ++i) {
    table[i * 4] = colours[i].blue;
    table[i * 4 + 1] = colours[i].green;
    table[i * 4 + 2] = colours[i].red;
  }
  out.insert(out.end(), table.begin(), table.end());
}

std::uint32_t BmpPixelDataOffset(std::uint32_t bitsPerPixel) {
  return kFileHeaderSize + kInfoHeaderSize + (bitsPerPixel == 8 ? kColourTableSize : 0);
}

// Claims the room for a BMP image of this stored size: refused when its size fields cannot say
// it, or when the free bytes left cannot hold it.
ConvertOutcome ReserveBmp(std::uint64_t bytes, std::uint64_t& freeBytes) {
  if (bytes > std::numeric_limits<std::uint32_t>::max()) return {ConvertStatus::kTooLarge, bytes};
  if (bytes > freeBytes) return {ConvertStatus::kNoSpace, bytes, freeBytes};
  freeBytes -= bytes;
  return {ConvertStatus::kWritten};
}

ConvertOutcome WriteFailed() { return {ConvertStatus::kWriteFailed, 0, 0, errno != 0 ? errno : EIO}; }

// The file and information headers; the caller has reserved their image's size.
std::array<std::uint8_t, kBmpHeadersSize> BmpHeaders(std::size_t width, std::size_t height,
                                                                    std::uint32_t bitsPerPixel, std::uint32_t compression,
                                                                    std::uint64_t pixelDataSize) {
  std::array<std::uint8_t, kBmpHeadersSize> header{};
  header[0] = 'B';
  header[1] = 'M';
  Put32(&header[2], static_cast<std::uint32_t>(BmpPixelDataOffset(bitsPerPixel) + pixelDataSize));
  Put32(&header[10], BmpPixelDataOffset(bitsPerPixel));
  Put32(&header[14], kInfoHeaderSize);
  Put32(&header[18], static_cast<std::uint32_t>(width));
  Put32(&header[22], static_cast<std::uint32_t>(height));
  Put16(&header[26], 1);
  Put16(&header[28], bitsPerPixel);
  Put32(&header[30], compression);
  Put32(&header[34], static_cast<std::uint32_t>(pixelDataSize));
  Put32(&header[38], kPixelsPerMetre);
  Put32(&header[42], kPixelsPerMetre);
  Put32(&header[46], bitsPerPixel == 8 ? kColourTableEntries : 0);
  Put32(&header[50], bitsPerPixel == 8 ? kColourTableEntries : 0);
  return header;
}


// The distinct colours of a true-colour image in order of first appearance, counted up to one
// more than a colour table holds.
class CColourCounter {
 public:
  // Returns the colour's table index, or -1 once the colours no longer fit a colour table.
  int IndexOf(Rgb colour) {
    const std::uint32_t key = Pack(colour) | kUsed;
    std::size_t slot = (key * 2654435761u) >> (32 - kSlotBits);
    while (m_slots[slot].key != 0) {
      if (m_slots[slot].key == key) return m_slots[slot].index;
      slot = (slot + 1) & (kSlotCount - 1);
    }
    if (m_colours.size() == kColourTableEntries) return -1;
    m_slots[slot] = {key, static_cast<int>(m_colours.size())};
    m_colours.push_back(colour);
    return m_slots[slot].index;
  }
  const std::vector<Rgb>& Colours() const { return m_colours; }

 private:
  static constexpr std::uint32_t kUsed = 0x1000000;
  static constexpr unsigned kSlotBits = 10;
  static constexpr std::size_t kSlotCount = std::size_t{1} << kSlotBits;
  struct Slot {
    std::uint32_t key;
    int index;
  };
  std::array<Slot, kSlotCount> m_slots{};
  std::vector<Rgb> m_colours;
};

namespace {

// An 8-bit image ready for writing: its colour table and one index per pixel, top row first.
struct IndexedImage {
  std::vector<Rgb> colours;
  std::vector<std::uint8_t> indexes;
};

bool ReadColourMapped(const Image* image, IndexedImage& out, ExceptionInfo* exception) {
  const std::size_t width = image->columns;
  out.colours.clear();
  for (std::size_t i = 0; i < image->colors; ++i) out.colours.push_back(ToRgb(image->colormap[i]));
  out.indexes.resize(width * image->rows);
  for (std::size_t y = 0; y < image->rows; ++y) {
    if (GetVirtualPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception) == nullptr) return false;
    const IndexPacket* indexes = GetVirtualIndexQueue(image);
    if (indexes == nullptr) return false;
    std::uint8_t* row = out.indexes.data() + y * width;
    for (std::size_t x = 0; x < width; ++x) {
      const std::size_t index = GetPixelIndex(indexes + x);
      row[x] = static_cast<std::uint8_t>(index < out.colours.size() ? index : 0);
    }
  }
  return true;
}

// Turns a true-colour image into an 8-bit one when it has at most 256 distinct colours.
// Returns false when it has more (or its pixels cannot be read). The first pass only counts, so
// a photograph is rejected after a few pixels without touching an index buffer.
bool TryIndexTrueColour(const Image* image, IndexedImage& out, ExceptionInfo* exception) {
  const std::size_t width = image->columns;
  CColourCounter counter;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) out.indexes.resize(width * image->rows);
    for (std::size_t y = 0; y < image->rows; ++y) {
      const PixelPacket* pixels = GetVirtualPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
      if (pixels == nullptr) return false;
      for (std::size_t x = 0; x < width; ++x) {
        const int index = counter.IndexOf(ToRgb(pixels[x]));
        if (index < 0) return false;
        if (pass == 1) out.indexes[y * width + x] = static_cast<std::uint8_t>(index);
      }
    }
  }
  out.colours = counter.Colours();
  return true;
}

// The pixel data of an 8-bit image, bottom row first; RLE8 ends the bitmap with 0 1.
std::vector<std::uint8_t> EncodePixelData(const std::vector<std::uint8_t>& indexes, std::size_t width,
                                          std::size_t height, bool compressed) {
  std::vector<std::uint8_t> out;
  for (std::size_t y = height; y-- > 0;) {
    if (compressed) AppendRle8Row(indexes.data() + y * width, width, out);
    else AppendPlainRow(indexes.data() + y * width, width, out);
  }
  if (compressed) out.insert(out.end(), {0, 1});
  return out;
}

bool Write(std::FILE* file, const std::uint8_t* bytes, std::size_t size) {
  errno = 0;
  return std::fwrite(bytes, 1, size, file) == size;
}

ConvertOutcome WriteIndexed(std::FILE* file, std::size_t width, std::size_t height, const IndexedImage& indexed,
                            std::uint64_t& freeBytes) {
  const bool compressed = 2 * CountRleRuns(indexed.indexes) < indexed.indexes.size();
  const std::vector<std::uint8_t> pixelData = EncodePixelData(indexed.indexes, width, height, compressed);
  const ConvertOutcome room = ReserveBmp(BmpPixelDataOffset(8) + std::uint64_t{pixelData.size()}, freeBytes);
  if (room.status != ConvertStatus::kWritten) return room;
  const auto header = BmpHeaders(width, height, 8, compressed ? kCompressionRle8 : kCompressionNone, pixelData.size());
  std::vector<std::uint8_t> table;
  AppendBmpColourTable(indexed.colours, table);
  if (!Write(file, header.data(), header.size()) || !Write(file, table.data(), table.size()) ||
      !Write(file, pixelData.data(), pixelData.size()))
    return WriteFailed();
  return room;
}

// 24 bits per pixel, streamed row by row out of the library's pixel cache.
ConvertOutcome WriteTrueColour(std::FILE* file, const Image* image, ExceptionInfo* exception, std::uint64_t& freeBytes) {
  const std::size_t width = image->columns;
  const std::size_t height = image->rows;
  const std::size_t stride = TrueColourStride(width);
  const ConvertOutcome room = ReserveBmp(BmpPixelDataOffset(24) + std::uint64_t{stride} * height, freeBytes);
  if (room.status != ConvertStatus::kWritten) return room;
  const auto header = BmpHeaders(width, height, 24, kCompressionNone, std::uint64_t{stride} * height);
  if (!Write(file, header.data(), header.size())) return WriteFailed();
  std::vector<std::uint8_t> row(stride, 0);
  for (std::size_t y = height; y-- > 0;) {
    const PixelPacket* pixels = GetVirtualPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    if (pixels == nullptr) return {ConvertStatus::kWriteFailed, 0, 0, EIO};
    std::uint8_t* out = row.data();
    for (std::size_t x = 0; x < width; ++x) {
      *out++ = ScaleQuantumToChar(GetPixelBlue(pixels + x));
      *out++ = ScaleQuantumToChar(GetPixelGreen(pixels + x));
      *out++ = ScaleQuantumToChar(GetPixelRed(pixels + x));
    }
    if (!Write(file, row.data(), stride)) return WriteFailed();
  }
  return room;
}

ConvertOutcome WriteOneImage(std::FILE* file, const Image* image, ExceptionInfo* exception, std::uint64_t& freeBytes) {
  IndexedImage indexed;
  if (image->storage_class == PseudoClass && image->colors <= kColourTableEntries) {
    if (!ReadColourMapped(image, indexed, exception)) return {ConvertStatus::kWriteFailed, 0, 0, EIO};
    return WriteIndexed(file, image->columns, image->rows, indexed, freeBytes);
  }
  if (image->matte == MagickFalse && TryIndexTrueColour(image, indexed, exception))
    return WriteIndexed(file, image->columns, image->rows, indexed, freeBytes);
  return WriteTrueColour(file, image, exception, freeBytes);
}

std::uint32_t PackBgr(const std::uint8_t* bgr) {
  return (std::uint32_t{bgr[2]} << 16) | (std::uint32_t{bgr[1]} << 8) | bgr[0];
}

}  // namespace

std::size_t TrueColourStride(std::size_t width) { return (width * 24 + 31) / 32 * 4; }

CBmpRowWriter::CBmpRowWriter() = default;

CBmpRowWriter::~CBmpRowWriter() { Discard(); }

ConvertOutcome CBmpRowWriter::Create(const char* path, std::size_t width, std::size_t height) {
  Discard();
  errno = 0;
  m_file = std::fopen(path, "w+b");
  if (m_file == nullptr) return WriteFailed();
  m_path = path;
  m_width = width;
  m_height = height;
  m_stride = TrueColourStride(width);
  m_error = 0;
  m_colours = std::make_unique<CColourCounter>();
  m_runs = 0;
  m_runLength = 0;
  // Each row goes out in one write at its own offset; a stream buffer would only add a copy.
  (void)std::setvbuf(m_file, nullptr, _IONBF, 0);
  // Asked once the file is truncated: an overwritten file's old blocks are free again.
  std::uint64_t freeBytes = vimo::platform::FreeBytesAt(path);
  const std::uint64_t pixelDataSize = std::uint64_t{m_stride} * height;
  ConvertOutcome outcome = ReserveBmp(BmpPixelDataOffset(24) + pixelDataSize, freeBytes);
  const auto header = BmpHeaders(width, height, 24, kCompressionNone, pixelDataSize);
  if (outcome.status == ConvertStatus::kWritten && !WriteAt(0, header.data(), header.size())) outcome = WriteFailed();
  if (outcome.status != ConvertStatus::kWritten) Discard();
  return outcome;
}

void CBmpRowWriter::Fail() {
  if (m_error == 0) m_error = errno != 0 ? errno : EIO;
}

bool CBmpRowWriter::WriteAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
  errno = 0;
  if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) == 0 && std::fwrite(bytes, 1, size, m_file) == size)
    return true;
  Fail();
  return false;
}

// The run rule's runs over the pixels in reading order, rows joined.
void CBmpRowWriter::CountRuns(const std::uint8_t* row) {
  for (std::size_t x = 0; x < m_width; ++x) {
    const std::uint32_t colour = PackBgr(row + 3 * x);
    if (m_runLength != 0 && colour == m_runColour && m_runLength < kLongestCountedRun) {
      ++m_runLength;
      continue;
    }
    ++m_runs;
    m_runColour = colour;
    m_runLength = 1;
  }
}

void CBmpRowWriter::PutRow(std::size_t y, const std::uint8_t* row) {
  if (m_file == nullptr || Failed()) return;
  if (m_colours) {
    for (std::size_t x = 0; x < m_width; ++x) {
      if (m_colours->IndexOf({row[3 * x + 2], row[3 * x + 1], row[3 * x]}) >= 0) continue;
      m_colours.reset();  // a 257th colour: the image stays at 24 bits per pixel
      break;
    }
  }
  if (m_colours) CountRuns(row);
  (void)WriteAt(BmpPixelDataOffset(24) + std::uint64_t{m_height - 1 - y} * m_stride, row, m_stride);
}

ConvertOutcome CBmpRowWriter::Finish() {
  if (m_file == nullptr) return {ConvertStatus::kWriteFailed, 0, 0, EBADF};
  if (!Failed() && m_colours) (void)ReencodeAsIndexed();
  errno = 0;
  if (std::fclose(m_file) != 0) Fail();
  m_file = nullptr;
  if (!Failed()) return {ConvertStatus::kWritten};
  (void)std::remove(m_path.c_str());
  return {ConvertStatus::kWriteFailed, 0, 0, m_error};
}

void CBmpRowWriter::Discard() {
  if (m_file == nullptr) return;
  std::fclose(m_file);
  m_file = nullptr;
  (void)std::remove(m_path.c_str());
}

// Reads the 24-bit rows back in file order (bottom row first) and writes the 8-bit form over
// them from the start of the file. An 8-bit row is never longer than the 24-bit row it comes
// from, so the new bytes, held back until the old bytes beneath them have been read, are never
// more than the colour table and a row ahead of the reading. The headers go last, when the
// pixel data's size is known.
bool CBmpRowWriter::ReencodeAsIndexed() {
  const bool compressed = 2 * m_runs < std::uint64_t{m_width} * m_height;
  std::vector<std::uint8_t> row(m_stride);
  std::vector<std::uint8_t> indexes(m_width);
  std::vector<std::uint8_t> pending(kFileHeaderSize + kInfoHeaderSize, 0);
  AppendBmpColourTable(m_colours->Colours(), pending);
  std::uint64_t written = 0;
  for (std::size_t k = 0; k < m_height; ++k) {
    const std::uint64_t offset = BmpPixelDataOffset(24) + std::uint64_t{k} * m_stride;
    errno = 0;
    if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(row.data(), 1, m_stride, m_file) != m_stride) {
      Fail();
      return false;
    }
    for (std::size_t x = 0; x < m_width; ++x)
      indexes[x] = static_cast<std::uint8_t>(m_colours->IndexOf({row[3 * x + 2], row[3 * x + 1], row[3 * x]}));
    if (compressed) AppendRle8Row(indexes.data(), m_width, pending);
    else AppendPlainRow(indexes.data(), m_width, pending);
    const std::size_t ready = static_cast<std::size_t>(std::min<std::uint64_t>(pending.size(), offset + m_stride - written));
    if (!WriteAt(written, pending.data(), ready)) return false;
    written += ready;
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(ready));
  }
  if (compressed) pending.insert(pending.end(), {0, 1});
  if (!WriteAt(written, pending.data(), pending.size())) return false;
  written += pending.size();
  const auto header =
      BmpHeaders(m_width, m_height, 8, compressed ? kCompressionRle8 : kCompressionNone, written - BmpPixelDataOffset(8));
  if (!WriteAt(0, header.data(), header.size())) return false;
  // The 8-bit form is shorter than the 24-bit one but for tiny images: the rest goes.
  std::error_code error;
  std::filesystem::resize_file(m_path, written, error);
  if (!error) return true;
  m_error = error.value();
  return false;
}

ConvertOutcome WriteBmpImages(std::FILE* file, const Image* images, ExceptionInfo* exception, std::uint64_t freeBytes) {
  for (const Image* image = images; image != nullptr; image = GetNextImageInList(image)) {
    const ConvertOutcome outcome = WriteOneImage(file, image, exception, freeBytes);
    if (outcome.status != ConvertStatus::kWritten) return outcome;
  }
  errno = 0;
  if (std::fflush(file) != 0) return WriteFailed();
  return {ConvertStatus::kWritten};
}

std::size_t CountRleRuns(const std::vector<std::uint8_t>& indexes) {
  std::size_t runs = 0;
  std::size_t length = 0;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (length != 0 && indexes[i] == indexes[i - 1] && length < kLongestCountedRun) {
      ++length;
      continue;
    }
    ++runs;
    length = 1;
  }
  return runs;
}

}  // namespace vimo::convert
