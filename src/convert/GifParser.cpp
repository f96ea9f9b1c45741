#include "convert/GifParser.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace vimo::convert {
namespace {

constexpr long kDescriptorSize = 9;  // after the ',' that introduces it

int ReadFromFile(GifFileType* gif, GifByteType* buffer, int length) {
  auto* file = static_cast<std::FILE*>(gif->UserData);
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(length), file));
}

bool HasGifHeader(std::FILE* file) {
  std::rewind(file);
  std::array<char, 6> header{};
  const bool ok = std::fread(header.data(), 1, header.size(), file) == header.size() &&
                  (std::memcmp(header.data(), "GIF87", 5) == 0 || std::memcmp(header.data(), "GIF89", 5) == 0);
  std::rewind(file);
  return ok;
}

std::vector<Rgb> GreyRamp() {
  std::vector<Rgb> colours;
  for (int level = 0; level < 256; ++level) {
    const auto grey = static_cast<std::uint8_t>(level);
    colours.push_back({grey, grey, grey});
  }
  return colours;
}

bool IsLoopBlock(const GifByteType* block) {
  return block[0] == 11 &&
         (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

// Reads past a frame's sub-blocks; true when they end with the block terminator.
bool SkipSubBlocks(std::FILE* file) {
  std::array<std::uint8_t, 255> block{};
  for (;;) {
    const int length = std::fgetc(file);
    if (length == EOF) return false;
    if (length == 0) return true;
    if (std::fread(block.data(), 1, static_cast<std::size_t>(length), file) != static_cast<std::size_t>(length)) return false;
  }
}

// The bytes of a frame's image data, sub-block after sub-block, read as they are needed.
class CSubBlocks {
 public:
  explicit CSubBlocks(std::FILE* file) : m_file(file) {}
  bool Next(std::uint8_t& byte) {
    if (m_left == 0) {
      if (m_ended) return false;
      const int length = std::fgetc(m_file);
      m_ended = length == EOF || length == 0;
      m_broken = length == EOF;
      if (m_ended) return false;
      m_left = static_cast<std::size_t>(length);
    }
    const int value = std::fgetc(m_file);
    if (value == EOF) {
      m_ended = m_broken = true;
      m_left = 0;
      return false;
    }
    --m_left;
    byte = static_cast<std::uint8_t>(value);
    return true;
  }
  bool Broken() const { return m_broken; }

 private:
  std::FILE* m_file;
  std::size_t m_left = 0;
  bool m_ended = false;
  bool m_broken = false;
};

// A strict LZW decoder that hands out pixels as they are asked for.
class CLzwDecoder {
 public:
  CLzwDecoder(int minimumCodeSize, CSubBlocks& data)
      : m_clear(1u << minimumCodeSize), m_rootWidth(static_cast<unsigned>(minimumCodeSize) + 1), m_data(data) {
    Reset();
  }

  // Fills out with the next count pixels; fewer (the number returned) when the data ends or
  // holds an invalid code first.
  std::size_t Fill(std::uint8_t* out, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count) {
      if (m_depth > 0) {
        out[filled++] = m_stack[--m_depth];
        continue;
      }
      if (!DecodeCode()) break;
    }
    return filled;
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
      std::uint8_t byte = 0;
      if (!m_data.Next(byte)) return false;
      m_bits |= static_cast<std::uint32_t>(byte) << m_bitCount;
      m_bitCount += 8;
    }
    code = m_bits & ((1u << m_width) - 1);
    m_bits >>= m_width;
    m_bitCount -= m_width;
    return true;
  }

  // Decodes one code onto the stack (its pixels last to first). False at the end of the data,
  // at the end-of-information code and at a code the table cannot hold yet.
  bool DecodeCode() {
    unsigned code = 0;
    do {
      if (!NextCode(code)) return false;
      if (code == m_clear) Reset();
    } while (code == m_clear);
    if (code == m_clear + 1) return false;  // end of information before the last pixel
    if (m_previous == kNone) {
      if (code > m_clear) return false;  // the first code after a clear must be a root
      m_stack[m_depth++] = static_cast<std::uint8_t>(code);
      m_previous = code;
      return true;
    }
    if (code > m_next) return false;  // neither in the table nor the entry about to be made
    const bool aboutToBeMade = code == m_next;
    unsigned walk = aboutToBeMade ? m_previous : code;
    if (aboutToBeMade) m_depth = 1;  // its last pixel, the first of its string, goes in below
    while (walk >= m_clear) {
      m_stack[m_depth++] = m_suffix[walk];
      walk = m_prefix[walk];
    }
    const auto first = static_cast<std::uint8_t>(walk);
    m_stack[m_depth++] = first;
    if (aboutToBeMade) m_stack[0] = first;
    if (m_next < kTableSize) {
      m_prefix[m_next] = static_cast<std::uint16_t>(m_previous);
      m_suffix[m_next] = first;
      ++m_next;
      if (m_next == (1u << m_width) && m_width < 12) ++m_width;
    }
    m_previous = code;
    return true;
  }

  const unsigned m_clear;
  const unsigned m_rootWidth;
  CSubBlocks& m_data;
  std::uint32_t m_bits = 0;
  unsigned m_bitCount = 0;
  unsigned m_width = 0;
  unsigned m_next = 0;
  unsigned m_previous = kNone;
  std::array<std::uint16_t, kTableSize> m_prefix{};
  std::array<std::uint8_t, kTableSize> m_suffix{};
  std::array<std::uint8_t, kTableSize + 1> m_stack{};
  std::size_t m_depth = 0;
};

// The row that stored row `stored` of an interlaced frame of this height is.
std::size_t InterlacedRow(std::size_t stored, std::size_t height) {
  static constexpr std::array<std::size_t, 4> kPassStart{0, 4, 2, 1};
  static constexpr std::array<std::size_t, 4> kPassStep{8, 8, 4, 2};
  for (std::size_t pass = 0; pass < 4; ++pass) {
    const std::size_t rows = kPassStart[pass] < height ? (height - kPassStart[pass] + kPassStep[pass] - 1) / kPassStep[pass] : 0;
    if (stored < rows) return kPassStart[pass] + stored * kPassStep[pass];
    stored -= rows;
  }
  return 0;
}

}  // namespace

void CGifParser::GifCloser::operator()(GifFileType* gif) const {
  int error = 0;
  DGifCloseFile(gif, &error);
}

CGifParser::CGifParser() = default;
CGifParser::~CGifParser() = default;

bool CGifParser::Open(std::FILE* file) {
  m_gif.reset();
  m_file = file;
  m_loopCount = -1;
  m_ended = false;
  if (!HasGifHeader(file)) return false;
  int error = 0;
  m_gif.reset(DGifOpen(file, ReadFromFile, &error));
  return m_gif != nullptr;
}

int CGifParser::ScreenWidth() const { return m_gif ? m_gif->SWidth : 0; }
int CGifParser::ScreenHeight() const { return m_gif ? m_gif->SHeight : 0; }

bool CGifParser::NextFrame(GifFrame& frame) {
  GifFrame next;  // a graphic-control extension governs only the frame after it
  while (!m_ended && m_gif) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(m_gif.get(), &record) == GIF_ERROR || record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      if (!ReadExtension(next)) break;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) break;
    frame = std::move(next);
    if (!ReadDescriptor(frame)) break;
    return true;
  }
  m_ended = true;
  return false;
}

bool CGifParser::ReadExtension(GifFrame& next) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(m_gif.get(), &code, &block) == GIF_ERROR) return false;
  if (block == nullptr) return true;
  if (code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4) {
    next.disposal = (block[1] >> 2) & 0x07;
    next.delayMs = (block[2] | (block[3] << 8)) * 10;
    next.transparentIndex = (block[1] & 0x01) != 0 ? block[4] : -1;
  }
  const bool looping = code == APPLICATION_EXT_FUNC_CODE && IsLoopBlock(block);
  while (block != nullptr) {
    if (DGifGetExtensionNext(m_gif.get(), &block) == GIF_ERROR) return false;
    if (looping && block != nullptr && block[0] >= 3 && block[1] == 1 && m_loopCount < 0)
      m_loopCount = block[2] | (block[3] << 8);
  }
  return true;
}

// The descriptor and colour map are read here, not by giflib, which refuses a whole frame whose
// code size it does not take and reads nothing of a frame whose data is missing.
bool CGifParser::ReadDescriptor(GifFrame& frame) {
  std::array<std::uint8_t, kDescriptorSize> descriptor{};
  if (std::fread(descriptor.data(), 1, descriptor.size(), m_file) != descriptor.size()) return false;
  const auto word = [&descriptor](std::size_t at) { return descriptor[at] | (descriptor[at + 1] << 8); };
  frame.left = word(0);
  frame.top = word(2);
  frame.width = word(4);
  frame.height = word(6);
  const std::uint8_t flags = descriptor[8];
  frame.interlaced = (flags & 0x40) != 0;
  frame.colours.clear();
  if ((flags & 0x80) != 0) {
    std::vector<std::uint8_t> map(std::size_t{3} << ((flags & 0x07) + 1));
    if (std::fread(map.data(), 1, map.size(), m_file) != map.size()) return false;
    for (std::size_t i = 0; i < map.size(); i += 3) frame.colours.push_back({map[i], map[i + 1], map[i + 2]});
  } else if (const ColorMapObject* global = m_gif->SColorMap; global != nullptr && global->ColorCount > 0) {
    for (int i = 0; i < global->ColorCount; ++i)
      frame.colours.push_back({global->Colors[i].Red, global->Colors[i].Green, global->Colors[i].Blue});
  } else {
    frame.colours = GreyRamp();
  }
  const int codeSize = std::fgetc(m_file);
  frame.codeSize = codeSize == EOF ? -1 : codeSize;
  frame.dataOffset = std::ftell(m_file);
  frame.dataComplete = codeSize != EOF && SkipSubBlocks(m_file);
  // A frame whose data breaks off is the last: nothing after it can be found.
  if (!frame.dataComplete) m_ended = true;
  return true;
}

CGifParser::Decoded CGifParser::Decode(const GifFrame& frame, const RowHandler& row) {
  if (!IsDecodable(frame)) return Decoded::kUndecodable;
  const bool withData = frame.codeSize >= 0;
  const auto width = static_cast<std::size_t>(frame.width);
  const auto height = static_cast<std::size_t>(frame.height);
  const long resume = std::ftell(m_file);
  std::vector<std::uint8_t> indexes(width, 0);
  bool decoding = withData && std::fseek(m_file, frame.dataOffset, SEEK_SET) == 0;
  bool whole = decoding && frame.dataComplete;
  {
    CSubBlocks data(m_file);
    CLzwDecoder decoder(withData ? frame.codeSize : 2, data);
    bool blank = false;  // the data ran out before this row: it stays entry 0 throughout
    for (std::size_t stored = 0; stored < height; ++stored) {
      if (!blank) {
        const std::size_t decoded = decoding ? decoder.Fill(indexes.data(), width) : 0;
        if (decoded < width) {
          decoding = whole = false;
          std::fill(indexes.begin() + static_cast<std::ptrdiff_t>(decoded), indexes.end(), 0);  // the damaged rest is entry 0
        }
        for (std::uint8_t& index : indexes) {
          if (index >= frame.colours.size()) index = 0;
        }
      }
      row(frame.interlaced ? InterlacedRow(stored, height) : stored, indexes.data(), blank);
      if (!decoding) {
        blank = true;
        std::fill(indexes.begin(), indexes.end(), 0);
      }
    }
  }
  (void)std::fseek(m_file, resume, SEEK_SET);
  return whole ? Decoded::kWhole : Decoded::kBroken;
}

}  // namespace vimo::convert
