#include "convert/GifReader.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vimo::convert {
namespace {

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

int ReadFromFile(GifFileType* gif, GifByteType* buffer, int length) {
  auto* file = static_cast<std::FILE*>(gif->UserData);
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(length), file));
}

struct Colour {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};

// The frame's colour map: its local map, else the global one, else a grey ramp.
std::vector<Colour> FrameColours(const GifFileType* gif) {
  const ColorMapObject* map = gif->Image.ColorMap != nullptr ? gif->Image.ColorMap : gif->SColorMap;
  std::vector<Colour> colours;
  if (map == nullptr || map->ColorCount <= 0) {
    for (int level = 0; level < 256; ++level) {
      const auto grey = static_cast<std::uint8_t>(level);
      colours.push_back({grey, grey, grey});
    }
    return colours;
  }
  for (int i = 0; i < map->ColorCount; ++i)
    colours.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
  return colours;
}

void SetColour(PixelPacket* pixel, const Colour& colour) {
  SetPixelRed(pixel, CharToQuantum(colour.red));
  SetPixelGreen(pixel, CharToQuantum(colour.green));
  SetPixelBlue(pixel, CharToQuantum(colour.blue));
  SetPixelOpacity(pixel, OpaqueOpacity);
}

// The frame's compressed data, gathered from its sub-blocks. Returns false when the stream ends
// (or is unreadable) before the frame's block terminator.
bool ReadFrameData(GifFileType* gif, int& codeSize, std::vector<std::uint8_t>& data) {
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    data.insert(data.end(), block + 1, block + 1 + block[0]);
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// A strict LZW decoder: it stops at the first code that the table cannot hold yet (giflib's own
// decoder turns such a code into some pixel and carries on), so the damaged part stays entry 0.
class CLzwDecoder {
 public:
  CLzwDecoder(int minimumCodeSize, const std::vector<std::uint8_t>& data)
      : m_clear(1u << minimumCodeSize), m_rootWidth(static_cast<unsigned>(minimumCodeSize) + 1), m_data(data) {
    Reset();
  }

  // Decodes into out (stored order). Returns true when out was filled completely.
  bool Decode(std::vector<std::uint8_t>& out) {
    std::size_t filled = 0;
    std::array<std::uint8_t, kTableSize + 1> stack{};
    while (filled < out.size()) {
      unsigned code = 0;
      if (!NextCode(code)) return false;
      if (code == m_clear) {
        Reset();
        continue;
      }
      if (code == m_clear + 1) return false;  // end of information before the last pixel
      if (m_previous == kNone) {
        if (code > m_clear) return false;  // the first code after a clear must be a root
        out[filled++] = static_cast<std::uint8_t>(code);
        m_previous = code;
        continue;
      }
      if (code > m_next) return false;  // neither in the table nor the entry about to be made
      const bool aboutToBeMade = code == m_next;
      std::size_t depth = 0;
      unsigned walk = aboutToBeMade ? m_previous : code;
      while (walk >= m_clear) {
        stack[depth++] = m_suffix[walk];
        walk = m_prefix[walk];
      }
      const auto first = static_cast<std::uint8_t>(walk);
      stack[depth++] = first;
      while (depth > 0 && filled < out.size()) out[filled++] = stack[--depth];
      if (aboutToBeMade && filled < out.size()) out[filled++] = first;
      if (m_next < kTableSize) {
        m_prefix[m_next] = static_cast<std::uint16_t>(m_previous);
        m_suffix[m_next] = first;
        ++m_next;
        if (m_next == (1u << m_width) && m_width < 12) ++m_width;
      }
      m_previous = code;
    }
    return true;
  }

 private:
  static constexpr unsigned kTableSize = 4096;
  static constexpr unsigned kNone = 0xFFFF;

  void Reset() {
    m_width = m_rootWidth;
    m_next = m_clear + 2;
    m_previous = kNone;
  }

  bool NextCode(unsigned& code) {
    while (m_bitCount < m_width) {
      if (m_position >= m_data.size()) return false;
      m_bits |= static_cast<std::uint32_t>(m_data[m_position++]) << m_bitCount;
      m_bitCount += 8;
    }
    code = m_bits & ((1u << m_width) - 1);
    m_bits >>= m_width;
    m_bitCount -= m_width;
    return true;
  }

  const unsigned m_clear;
  const unsigned m_rootWidth;
  const std::vector<std::uint8_t>& m_data;
  std::size_t m_position = 0;
  std::uint32_t m_bits = 0;
  unsigned m_bitCount = 0;
  unsigned m_width = 0;
  unsigned m_next = 0;
  unsigned m_previous = kNone;
  std::array<std::uint16_t, kTableSize> m_prefix{};
  std::array<std::uint8_t, kTableSize> m_suffix{};
};

// Decodes the frame's pixels into indexes (one byte per pixel, row order). Returns false when
// the data ended early or held an invalid code; the pixels not decoded then stay 0.
// A frame whose data is missing altogether (withData false) is all entry 0.
bool DecodeFrame(GifFileType* gif, bool withData, std::size_t width, std::size_t height,
                 std::vector<std::uint8_t>& indexes) {
  std::vector<std::uint8_t> data;
  int codeSize = 0;
  const bool wholeStream = withData && ReadFrameData(gif, codeSize, data);
  std::vector<std::uint8_t> stored(width * height, 0);
  bool complete = false;
  if (codeSize >= 2 && codeSize <= 8) {
    CLzwDecoder decoder(codeSize, data);
    complete = decoder.Decode(stored);
  }
  if (!gif->Image.Interlace) {
    indexes = std::move(stored);
    return complete && wholeStream;
  }
  indexes.assign(width * height, 0);
  static constexpr std::array<std::size_t, 4> kPassStart{0, 4, 2, 1};
  static constexpr std::array<std::size_t, 4> kPassStep{8, 8, 4, 2};
  std::size_t from = 0;
  for (std::size_t pass = 0; pass < 4; ++pass) {
    for (std::size_t y = kPassStart[pass]; y < height; y += kPassStep[pass]) {
      std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(from), width, indexes.begin() + static_cast<std::ptrdiff_t>(y * width));
      from += width;
    }
  }
  return complete && wholeStream;
}

// Fills a colour-mapped frame holding only the used entries of colours, in their map order.
bool FillColourMapped(Image* image, const std::vector<Colour>& colours, const std::vector<std::uint8_t>& indexes,
                      ExceptionInfo* exception) {
  std::array<bool, 256> used{};
  for (const std::uint8_t index : indexes) used[index < colours.size() ? index : 0] = true;
  std::array<std::uint8_t, 256> remap{};
  std::vector<Colour> kept;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    if (!used[i]) continue;
    remap[i] = static_cast<std::uint8_t>(kept.size());
    kept.push_back(colours[i]);
  }
  if (AcquireImageColormap(image, kept.size()) == MagickFalse) return false;
  for (std::size_t i = 0; i < kept.size(); ++i) SetColour(image->colormap + i, kept[i]);
  const std::size_t width = image->columns;
  for (std::size_t y = 0; y < image->rows; ++y) {
    PixelPacket* pixels = QueueAuthenticPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    IndexPacket* out = GetAuthenticIndexQueue(image);
    if (pixels == nullptr || out == nullptr) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t index = indexes[y * width + x];
      const std::uint8_t entry = remap[index < colours.size() ? index : 0];
      SetPixelIndex(out + x, entry);
      SetColour(pixels + x, kept[entry]);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return false;
  }
  return true;
}

// Fills a true-colour frame with transparency: the colour-map colours, the transparent index see-through.
bool FillTransparent(Image* image, const std::vector<Colour>& colours, const std::vector<std::uint8_t>& indexes,
                     int transparentIndex, ExceptionInfo* exception) {
  image->storage_class = DirectClass;
  image->matte = MagickTrue;
  const std::size_t width = image->columns;
  for (std::size_t y = 0; y < image->rows; ++y) {
    PixelPacket* pixels = QueueAuthenticPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    if (pixels == nullptr) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t index = indexes[y * width + x];
      SetColour(pixels + x, colours[index < colours.size() ? index : 0]);
      if (index == transparentIndex) SetPixelOpacity(pixels + x, TransparentOpacity);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return false;
  }
  return true;
}

enum class FrameResult { kComplete, kBroken, kRefused };

// Reads the frame whose descriptor giflib has just read and appends it to images.
FrameResult ReadFrame(GifFileType* gif, bool withData, int transparentIndex, const ImageInfo* info, ImageListBuilder& images,
                      ExceptionInfo* exception) {
  const auto width = static_cast<std::size_t>(gif->Image.Width);
  const auto height = static_cast<std::size_t>(gif->Image.Height);
  if (gif->Image.Width <= 0 || gif->Image.Height <= 0) return FrameResult::kBroken;
  ImageListPtr image(AcquireImage(info));
  if (!image || SetImageExtent(image.get(), width, height) == MagickFalse) return FrameResult::kRefused;
  std::vector<std::uint8_t> indexes;
  const bool complete = DecodeFrame(gif, withData, width, height, indexes);
  const std::vector<Colour> colours = FrameColours(gif);
  const bool filled = transparentIndex >= 0
                          ? FillTransparent(image.get(), colours, indexes, transparentIndex, exception)
                          : FillColourMapped(image.get(), colours, indexes, exception);
  if (!filled) return FrameResult::kRefused;
  if (!images.Append(std::move(image))) return FrameResult::kRefused;  // memory runs out
  return complete ? FrameResult::kComplete : FrameResult::kBroken;
}

// The transparent index a graphic-control extension sets for the next frame, or -1.
int TransparentIndexOf(const GifByteType* block) {
  if (block[0] < 4 || (block[1] & 0x01) == 0) return -1;
  return block[4];
}

// Whether the image descriptor starting at start, its local colour map included, lies wholly
// in what giflib has read so far (up to the file's position; giflib reads nothing ahead).
bool DescriptorIsComplete(std::FILE* file, long start) {
  constexpr long kDescriptorSize = 9;  // after the ',' that introduces it
  const long end = std::ftell(file);
  std::array<std::uint8_t, kDescriptorSize> descriptor{};
  if (start < 0 || end - start < kDescriptorSize || std::fseek(file, start, SEEK_SET) != 0) return false;
  const bool read = std::fread(descriptor.data(), 1, descriptor.size(), file) == descriptor.size();
  if (std::fseek(file, end, SEEK_SET) != 0 || !read) return false;
  const std::uint8_t flags = descriptor[8];
  const long mapSize = (flags & 0x80) != 0 ? 3L << ((flags & 0x07) + 1) : 0;
  return end - start >= kDescriptorSize + mapSize;
}

bool HasGifHeader(std::FILE* file) {
  std::rewind(file);
  std::array<char, 6> header{};
  const bool ok = std::fread(header.data(), 1, 6, file) == 6 &&
                  (std::memcmp(header.data(), "GIF87", 5) == 0 || std::memcmp(header.data(), "GIF89", 5) == 0);
  std::rewind(file);
  return ok;
}

}  // namespace

Image* ReadGifImages(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception) {
  if (!HasGifHeader(file)) return nullptr;
  int error = 0;
  GifPtr gif(DGifOpen(file, ReadFromFile, &error));
  if (!gif) return nullptr;
  ImageListBuilder images;
  int transparentIndex = -1;
  MagickSizeType frames = 0;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) break;
    if (record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) transparentIndex = TransparentIndexOf(block);
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return images.Release();
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) break;
    // giflib reads the LZW code size with the descriptor and fails the whole descriptor when that
    // byte is missing (or out of range): a frame whose data ends before it has begun.
    const long descriptorStart = std::ftell(file);
    const bool withData = DGifGetImageDesc(gif.get()) != GIF_ERROR;
    if (!withData && !DescriptorIsComplete(file, descriptorStart)) break;
    if (++frames > GetMagickResourceLimit(ListLengthResource)) return nullptr;  // the policy's "list-length"
    const FrameResult result = ReadFrame(gif.get(), withData, transparentIndex, info, images, exception);
    if (result == FrameResult::kRefused) return nullptr;  // the frames so far are freed on the way out
    if (result == FrameResult::kBroken) break;
    transparentIndex = -1;  // a graphic-control extension governs only the next frame
  }
  return images.Release();
}

}  // namespace vimo::convert
