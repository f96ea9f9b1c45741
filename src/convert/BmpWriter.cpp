#include "convert/BmpWriter.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

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

struct Rgb {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};

namespace {

Rgb ToRgb(const PixelPacket& pixel) {
  return {ScaleQuantumToChar(GetPixelRed(&pixel)), ScaleQuantumToChar(GetPixelGreen(&pixel)),
          ScaleQuantumToChar(GetPixelBlue(&pixel))};
}

std::uint32_t Pack(Rgb colour) {
  return (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue;
}

}  // namespace

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

// Runs of identical pixels in reading order (rows joined), each at most 256 pixels.
std::size_t CountRuns(const std::vector<std::uint8_t>& indexes) {
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

// RLE8 with encoded runs only, bottom row first; each row ends with 0 0, the bitmap with 0 1.
std::vector<std::uint8_t> EncodeRle8(const std::vector<std::uint8_t>& indexes, std::size_t width,
                                     std::size_t height) {
  std::vector<std::uint8_t> out;
  for (std::size_t y = height; y-- > 0;) {
    const std::uint8_t* row = indexes.data() + y * width;
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
  out.push_back(0);
  out.push_back(1);
  return out;
}

void Put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

bool WriteHeaders(std::FILE* file, std::size_t width, std::size_t height, std::uint32_t bitsPerPixel,
                  std::uint32_t compression, std::uint64_t pixelDataSize) {
  const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize + (bitsPerPixel == 8 ? kColourTableSize : 0);
  const std::uint64_t total = offset + pixelDataSize;
  if (total > std::numeric_limits<std::uint32_t>::max()) return false;  // beyond what the format can say
  std::array<std::uint8_t, kFileHeaderSize + kInfoHeaderSize> header{};
  header[0] = 'B';
  header[1] = 'M';
  Put32(&header[2], static_cast<std::uint32_t>(total));
  Put32(&header[10], offset);
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
  return std::fwrite(header.data(), 1, header.size(), file) == header.size();
}

bool WriteIndexed(std::FILE* file, std::size_t width, std::size_t height, const IndexedImage& indexed) {
  const std::size_t runs = CountRuns(indexed.indexes);
  const bool compressed = 2 * runs < indexed.indexes.size();
  std::vector<std::uint8_t> pixelData;
  if (compressed) {
    pixelData = EncodeRle8(indexed.indexes, width, height);
  } else {
    const std::size_t stride = (width * 8 + 31) / 32 * 4;
    pixelData.assign(stride * height, 0);
    for (std::size_t y = 0; y < height; ++y)
      std::memcpy(pixelData.data() + (height - 1 - y) * stride, indexed.indexes.data() + y * width, width);
  }
  if (!WriteHeaders(file, width, height, 8, compressed ? kCompressionRle8 : kCompressionNone, pixelData.size())) return false;
  std::array<std::uint8_t, kColourTableSize> table{};
  for (std::size_t i = 0; i < indexed.colours.size() && i < kColourTableEntries; ++i) {
    table[i * 4] = indexed.colours[i].blue;
    table[i * 4 + 1] = indexed.colours[i].green;
    table[i * 4 + 2] = indexed.colours[i].red;
  }
  if (std::fwrite(table.data(), 1, table.size(), file) != table.size()) return false;
  return std::fwrite(pixelData.data(), 1, pixelData.size(), file) == pixelData.size();
}

// 24 bits per pixel, streamed row by row out of the library's pixel cache.
bool WriteTrueColour(std::FILE* file, const Image* image, ExceptionInfo* exception) {
  const std::size_t width = image->columns;
  const std::size_t height = image->rows;
  const std::size_t stride = (width * 24 + 31) / 32 * 4;
  if (!WriteHeaders(file, width, height, 24, kCompressionNone, std::uint64_t{stride} * height)) return false;
  std::vector<std::uint8_t> row(stride, 0);
  for (std::size_t y = height; y-- > 0;) {
    const PixelPacket* pixels = GetVirtualPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    if (pixels == nullptr) return false;
    std::uint8_t* out = row.data();
    for (std::size_t x = 0; x < width; ++x) {
      *out++ = ScaleQuantumToChar(GetPixelBlue(pixels + x));
      *out++ = ScaleQuantumToChar(GetPixelGreen(pixels + x));
      *out++ = ScaleQuantumToChar(GetPixelRed(pixels + x));
    }
    if (std::fwrite(row.data(), 1, stride, file) != stride) return false;
  }
  return true;
}

bool WriteOneImage(std::FILE* file, const Image* image, ExceptionInfo* exception) {
  IndexedImage indexed;
  if (image->storage_class == PseudoClass && image->colors <= kColourTableEntries) {
    if (!ReadColourMapped(image, indexed, exception)) return false;
    return WriteIndexed(file, image->columns, image->rows, indexed);
  }
  if (image->matte == MagickFalse && TryIndexTrueColour(image, indexed, exception))
    return WriteIndexed(file, image->columns, image->rows, indexed);
  return WriteTrueColour(file, image, exception);
}

}  // namespace

std::size_t TrueColourStride(std::size_t width) { return (width * 24 + 31) / 32 * 4; }

CBmpRowWriter::CBmpRowWriter(const char* path, std::size_t width, std::size_t height)
    : m_path(path),
      m_file(std::fopen(path, "w+b")),
      m_width(width),
      m_height(height),
      m_stride(TrueColourStride(width)),
      m_colours(std::make_unique<CColourCounter>()) {
  if (m_file == nullptr) return;
  // Each row goes out in one write at its own offset; a stream buffer would only add a copy.
  (void)std::setvbuf(m_file, nullptr, _IONBF, 0);
  m_failed = !WriteHeaders(m_file, width, height, 24, kCompressionNone, std::uint64_t{m_stride} * height);
}

CBmpRowWriter::~CBmpRowWriter() {
  if (m_file != nullptr) std::fclose(m_file);
}

void CBmpRowWriter::PutRow(std::size_t y, const std::uint8_t* row) {
  if (m_colours) {
    for (std::size_t x = 0; x < m_width; ++x) {
      if (m_colours->IndexOf({row[3 * x + 2], row[3 * x + 1], row[3 * x]}) >= 0) continue;
      m_colours.reset();  // a 257th colour: the image stays at 24 bits per pixel
      break;
    }
  }
  if (m_file == nullptr || m_failed) return;
  const std::uint64_t offset = kFileHeaderSize + kInfoHeaderSize + std::uint64_t{m_height - 1 - y} * m_stride;
  m_failed = std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0 ||
             std::fwrite(row, 1, m_stride, m_file) != m_stride;
}

bool CBmpRowWriter::Finish() {
  if (m_file == nullptr) return false;
  bool written = !m_failed && (!m_colours || ReencodeAsIndexed());
  if (m_file != nullptr && std::fclose(m_file) != 0) written = false;
  m_file = nullptr;
  return written;
}

void CBmpRowWriter::Discard() {
  if (m_file == nullptr) return;
  std::fclose(m_file);
  m_file = nullptr;
  (void)std::remove(m_path.c_str());
}

// Reads the 24-bit rows back (top row first, so the colour table keeps the order in which the
// colours first appeared) and writes the file again in the 8-bit form. The indexes take one
// byte per pixel; when memory runs out for them the complete 24-bit file is kept.
bool CBmpRowWriter::ReencodeAsIndexed() {
  IndexedImage indexed;
  std::vector<std::uint8_t> row(m_stride);
  try {
    indexed.indexes.resize(m_width * m_height);
  } catch (const std::bad_alloc&) {
    return true;
  }
  for (std::size_t y = 0; y < m_height; ++y) {
    const std::uint64_t offset = kFileHeaderSize + kInfoHeaderSize + std::uint64_t{m_height - 1 - y} * m_stride;
    if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(row.data(), 1, m_stride, m_file) != m_stride)
      return false;
    std::uint8_t* out = indexed.indexes.data() + y * m_width;
    for (std::size_t x = 0; x < m_width; ++x)
      out[x] = static_cast<std::uint8_t>(m_colours->IndexOf({row[3 * x + 2], row[3 * x + 1], row[3 * x]}));
  }
  indexed.colours = m_colours->Colours();
  // Reopened by name: the 8-bit form can be shorter than the 24-bit one, and only a fresh
  // truncation drops the rest.
  m_file = std::freopen(m_path.c_str(), "wb", m_file);
  if (m_file == nullptr) return false;
  return WriteIndexed(m_file, m_width, m_height, indexed) && std::fflush(m_file) == 0;
}

bool WriteBmpImages(std::FILE* file, const Image* images, ExceptionInfo* exception) {
  for (const Image* image = images; image != nullptr; image = GetNextImageInList(image)) {
    if (!WriteOneImage(file, image, exception)) return false;
  }
  return std::fflush(file) == 0;
}

}  // namespace vimo::convert
