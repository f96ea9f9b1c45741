#include "convert/ApngReader.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "convert/PictureLimits.h"

namespace vimo::convert {
namespace {

constexpr char kSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1A', '\n'};
// Bytes per pixel while an animation is decoded: the frame, the canvas, the part kept for a
// frame that goes back to what it covered, and what the writer holds of each canvas.
constexpr std::uint64_t kDecodingBytesPerPixel = 4 + 4 + 4 + 8;
constexpr std::uint32_t kLongestChunk = 0x7FFFFFFF;
constexpr std::uint32_t kLongestWrittenChunk = 1u << 30;
constexpr std::size_t kLargestProfile = 16u << 20;

std::uint32_t BigEndian(const char* at) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(at);
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

void AppendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

// A chunk of type with data, its CRC computed.
void AppendChunk(std::string& out, const char* type, const char* data, std::size_t size) {
  AppendBigEndian(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.append(type, 4);
  out.append(data, size);
  const auto* covered = reinterpret_cast<const Bytef*>(out.data() + start);
  AppendBigEndian(out, static_cast<std::uint32_t>(crc32(0, covered, static_cast<uInt>(size + 4))));
}

// What an fcTL chunk says of its frame.
struct FrameControl {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t left = 0;
  std::uint32_t top = 0;
  int delayMs = 0;
  int dispose = 0;  // 0 none, 1 cleared to transparent, 2 back to what it covered
  int blend = 0;    // 0 replaces, 1 laid over
};

bool ParseFrameControl(const std::string& data, FrameControl& control) {
  if (data.size() != 26) return false;
  control.width = BigEndian(&data[4]);
  control.height = BigEndian(&data[8]);
  control.left = BigEndian(&data[12]);
  control.top = BigEndian(&data[16]);
  const unsigned numerator = (static_cast<unsigned char>(data[20]) << 8) | static_cast<unsigned char>(data[21]);
  const unsigned denominator = (static_cast<unsigned char>(data[22]) << 8) | static_cast<unsigned char>(data[23]);
  control.delayMs = static_cast<int>(numerator * 1000u / (denominator == 0 ? 100u : denominator));
  control.dispose = static_cast<unsigned char>(data[24]);
  control.blend = static_cast<unsigned char>(data[25]);
  return control.dispose <= 2 && control.blend <= 1;
}

// libpng's reading of one frame's stream from memory; its errors jump back to the decode.
struct MemoryInput {
  const std::string* stream;
  std::size_t at = 0;
  char error[160] = "";
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* input = static_cast<MemoryInput*>(png_get_error_ptr(png));
  std::snprintf(input->error, sizeof(input->error), "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t size) {
  auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (size > input->stream->size() - input->at) png_error(png, "the frame's data is cut short");
  std::memcpy(out, input->stream->data() + input->at, size);
  input->at += size;
}

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngRead() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

// Every libpng call of one frame under the recovery point set before the first of them (no
// object with a destructor lives in this frame): the rows as 8-bit RGBA. False after an error.
bool DecodeStream(PngRead& read, MemoryInput& input, png_uint_32 width, png_uint_32 height, png_bytep* rows) {
  if (setjmp(png_jmpbuf(read.png)) != 0) return false;
  png_set_read_fn(read.png, &input, ReadFromMemory);
  png_read_info(read.png, read.info);
  if (png_get_image_width(read.png, read.info) != width || png_get_image_height(read.png, read.info) != height)
    png_error(read.png, "a frame of another size than its control says");
  png_set_expand(read.png);
  png_set_scale_16(read.png);
  png_set_gray_to_rgb(read.png);
  png_set_add_alpha(read.png, 0xFF, PNG_FILLER_AFTER);
  (void)png_set_interlace_handling(read.png);
  png_read_update_info(read.png, read.info);
  if (png_get_rowbytes(read.png, read.info) != std::size_t{width} * 4) png_error(read.png, "an unexpected pixel layout");
  png_read_image(read.png, rows);
  return true;
}

// The canvas the frames are put on, as browsers put them.
class CCanvas {
 public:
  CCanvas(std::uint32_t width, std::uint32_t height)
      : m_width(width), m_pixels(std::size_t{width} * height * 4, 0) {}

  // Puts a decoded frame (RGBA rows, its control's size) on the canvas, after what the frame
  // before asked to be done with its rectangle.
  void Put(const FrameControl& control, const std::vector<std::uint8_t>& frame, bool first) {
    Dispose();
    m_last = control;
    // A first frame that goes back to what it covered goes back to the cleared canvas.
    if (first && m_last.dispose == 2) m_last.dispose = 1;
    if (m_last.dispose == 2) Copy(m_saved, true);
    const std::size_t rowBytes = std::size_t{control.width} * 4;
    for (std::uint32_t y = 0; y < control.height; ++y) {
      std::uint8_t* out = Pixel(control.left, control.top + y);
      const std::uint8_t* in = frame.data() + y * rowBytes;
      if (control.blend == 0) {
        std::memcpy(out, in, rowBytes);
        continue;
      }
      for (std::uint32_t x = 0; x < control.width; ++x, in += 4, out += 4) Over(in, out);
    }
  }
  PictureRows Rows() const {
    PictureRows rows;
    rows.width = static_cast<int>(m_width);
    rows.height = static_cast<int>(m_pixels.size() / 4 / std::max<std::size_t>(m_width, 1));
    rows.pixels = m_pixels.data();
    rows.stride = std::size_t{m_width} * 4;
    rows.order = PixelOrder::kRgba;
    return rows;
  }

 private:
  std::uint8_t* Pixel(std::uint32_t x, std::uint32_t y) { return m_pixels.data() + (std::size_t{y} * m_width + x) * 4; }
  // A straight-alpha pixel laid over another.
  static void Over(const std::uint8_t* in, std::uint8_t* out) {
    const unsigned alpha = in[3];
    if (alpha == 255 || out[3] == 0) {
      std::memcpy(out, in, 4);
      return;
    }
    if (alpha == 0) return;
    const unsigned under = out[3] * (255 - alpha) / 255;
    const unsigned total = alpha + under;
    for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((in[c] * alpha + out[c] * under + total / 2) / total);
    out[3] = static_cast<std::uint8_t>(total);
  }
  // The last frame's rectangle copied to (save) or from the saved pixels.
  void Copy(std::vector<std::uint8_t>& saved, bool save) {
    const std::size_t rowBytes = std::size_t{m_last.width} * 4;
    saved.resize(rowBytes * m_last.height);
    for (std::uint32_t y = 0; y < m_last.height; ++y) {
      std::uint8_t* canvas = Pixel(m_last.left, m_last.top + y);
      std::uint8_t* kept = saved.data() + y * rowBytes;
      if (save) std::memcpy(kept, canvas, rowBytes);
      else std::memcpy(canvas, kept, rowBytes);
    }
  }
  void Dispose() {
    if (m_last.width == 0) return;
    if (m_last.dispose == 2) Copy(m_saved, false);
    if (m_last.dispose != 1) return;
    for (std::uint32_t y = 0; y < m_last.height; ++y) std::memset(Pixel(m_last.left, m_last.top + y), 0, std::size_t{m_last.width} * 4);
  }

  std::uint32_t m_width;
  std::vector<std::uint8_t> m_pixels;
  FrameControl m_last;
  std::vector<std::uint8_t> m_saved;
};

}  // namespace

bool CApngReader::ReadChunk(Chunk& chunk) {
  std::array<char, 8> head{};
  const std::size_t got = std::fread(head.data(), 1, head.size(), m_file);
  if (got == 0 && std::feof(m_file) != 0) return false;
  const long at = std::ftell(m_file);
  const std::uint32_t length = got == head.size() ? BigEndian(head.data()) : 0;
  if (got != head.size() || at < 0 || length > kLongestChunk || std::uint64_t{length} + 4 > m_fileSize - static_cast<std::uint64_t>(at)) {
    m_error = "cut short";
    return false;
  }
  std::memcpy(chunk.type, head.data() + 4, 4);
  chunk.data.resize(length);
  std::array<char, 4> crc{};
  if (std::fread(chunk.data.data(), 1, length, m_file) != length || std::fread(crc.data(), 1, crc.size(), m_file) != crc.size()) {
    m_error = "cut short";
    return false;
  }
  const uLong computed = crc32(crc32(0, reinterpret_cast<const Bytef*>(chunk.type), 4), reinterpret_cast<const Bytef*>(chunk.data.data()),
                               static_cast<uInt>(length));
  if (computed != BigEndian(crc.data())) {
    m_error = std::string("its ") + chunk.type + " chunk is damaged";
    return false;
  }
  chunk.whole.assign(head.data(), head.size());
  chunk.whole += chunk.data;
  chunk.whole.append(crc.data(), crc.size());
  return true;
}

bool CApngReader::IsAnimated(std::FILE* file) {
  std::array<char, 8> head{};
  if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(head.data(), 1, head.size(), file) != head.size() ||
      std::memcmp(head.data(), kSignature, sizeof(kSignature)) != 0)
    return false;
  // Chunk headers only, up to the image data.
  while (std::fread(head.data(), 1, head.size(), file) == head.size()) {
    if (std::memcmp(head.data() + 4, "acTL", 4) == 0) return true;
    if (std::memcmp(head.data() + 4, "IDAT", 4) == 0) return false;
    if (std::fseek(file, static_cast<long>(BigEndian(head.data())) + 4, SEEK_CUR) != 0) return false;
  }
  return false;
}

bool CApngReader::HasChunkPastTheEnd(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file);
  std::array<char, 8> head{};
  if (size < 8 || std::fseek(file, 8, SEEK_SET) != 0) return false;
  long at = 8;
  while (std::fread(head.data(), 1, head.size(), file) == head.size()) {
    const long length = static_cast<long>(BigEndian(head.data()));
    if (length > size - at - 12)
      return std::memcmp(head.data() + 4, "IDAT", 4) != 0 && std::memcmp(head.data() + 4, "fdAT", 4) != 0;
    at += 12 + length;
    if (std::fseek(file, at, SEEK_SET) != 0) return false;
  }
  return false;
}

ConvertOutcome CApngReader::Open(std::FILE* file) {
  m_file = file;
  std::array<char, 8> signature{};
  if (std::fseek(file, 0, SEEK_END) != 0 || std::ftell(file) < 0) return picture::Undecodable("it cannot be read");
  m_fileSize = static_cast<std::uint64_t>(std::ftell(file));
  if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(signature.data(), 1, 8, file) != 8 ||
      std::memcmp(signature.data(), kSignature, sizeof(kSignature)) != 0)
    return picture::Undecodable("not a PNG file");
  Chunk chunk;
  if (!ReadChunk(chunk) || std::strcmp(chunk.type, "IHDR") != 0 || chunk.data.size() != 13)
    return picture::Undecodable("it does not start with its header chunk");
  m_ihdr = chunk.data;
  m_width = BigEndian(&m_ihdr[0]);
  m_height = BigEndian(&m_ihdr[4]);
  for (;;) {
    const long at = std::ftell(file);
    if (!ReadChunk(chunk)) return picture::Undecodable(m_error.empty() ? "it holds no image data" : m_error);
    const std::string type = chunk.type;
    if (type == "IDAT") {
      m_dataOffset = at;
      break;
    }
    if (type == "acTL" && chunk.data.size() == 8) {
      m_frames = BigEndian(&chunk.data[0]);
      m_plays = BigEndian(&chunk.data[4]);
    } else if (type == "fcTL") {
      m_bDefaultIsFrame = true;
      m_defaultControl = chunk.data;
    } else if (type == "iCCP") {
      m_iccp = chunk.data;
    } else if (type == "eXIf") {
      m_exif = chunk.data;
    }
    if (type != "acTL" && type != "fcTL" && type != "fdAT" && type != "IEND") m_headerChunks += chunk.whole;
  }
  if (m_frames == 0) return picture::Undecodable("its animation control counts no frames");
  return CheckPictureSize(m_width, m_height, kDecodingBytesPerPixel);
}

void CApngReader::Describe(ImageFacts& facts) {
  facts.format = "PNG";
  facts.description = "animated PNG, " + std::to_string(m_frames) + (m_frames == 1 ? " frame" : " frames");
  facts.width = m_width;
  facts.height = m_height;
  facts.exif = picture::ExifBlockOf(reinterpret_cast<const std::uint8_t*>(m_exif.data()), m_exif.size());
}

IccBytes CApngReader::Profile() {
  // iCCP: a name of 1 to 79 bytes, its NUL, the compression method (0), the zlib stream.
  const std::size_t name = m_iccp.find('\0');
  if (name == std::string::npos || name == 0 || name + 2 > m_iccp.size() || m_iccp[name + 1] != 0) return {};
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return {};
  IccBytes profile;
  std::array<Bytef, 1 << 16> block{};
  stream.next_in = reinterpret_cast<Bytef*>(m_iccp.data() + name + 2);
  stream.avail_in = static_cast<uInt>(m_iccp.size() - name - 2);
  int status = Z_OK;
  while (status == Z_OK && profile.size() <= kLargestProfile) {
    stream.next_out = block.data();
    stream.avail_out = static_cast<uInt>(block.size());
    status = inflate(&stream, Z_NO_FLUSH);
    profile.insert(profile.end(), block.data(), block.data() + (block.size() - stream.avail_out));
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END ? profile : IccBytes{};
}

ConvertOutcome CApngReader::Decode(CPictureSink& sink) {
  PictureInfo info;
  info.width = static_cast<int>(m_width);
  info.height = static_cast<int>(m_height);
  info.animated = m_frames > 1;
  info.loopCount = m_plays == 0 ? 0 : m_plays == 1 ? -1 : static_cast<int>(std::min<std::uint32_t>(m_plays - 1, INT32_MAX));
  info.alpha = true;  // the canvas starts transparent
  info.profile = Profile();
  const ConvertOutcome begun = sink.Begin(info);
  if (begun.status != ConvertStatus::kWritten || !sink.WantsMore()) return begun;
  CCanvas canvas(m_width, m_height);
  FrameControl control;
  // control's frame is being collected: from the start when the image data is the first frame.
  bool pending = m_bDefaultIsFrame;
  if (pending && !ParseFrameControl(m_defaultControl, control)) return picture::Undecodable("a frame control is damaged");
  bool first = true;
  std::string data;
  // Puts the frame collected on the canvas and hands the canvas over.
  const auto render = [&]() -> ConvertOutcome {
    pending = false;
    if (control.width == 0 || control.height == 0 || control.left > m_width || control.width > m_width - control.left ||
        control.top > m_height || control.height > m_height - control.top)
      return picture::Undecodable("a frame lies outside the picture");
    std::string stream(kSignature, sizeof(kSignature));
    std::string header = m_ihdr;
    for (int i = 0; i < 4; ++i) {
      header[i] = static_cast<char>(control.width >> (24 - 8 * i));
      header[4 + i] = static_cast<char>(control.height >> (24 - 8 * i));
    }
    AppendChunk(stream, "IHDR", header.data(), header.size());
    stream += m_headerChunks;
    for (std::size_t at = 0; at < data.size(); at += kLongestWrittenChunk)
      AppendChunk(stream, "IDAT", data.data() + at, std::min<std::size_t>(kLongestWrittenChunk, data.size() - at));
    AppendChunk(stream, "IEND", nullptr, 0);
    data.clear();
    std::vector<std::uint8_t> frame(std::size_t{control.width} * control.height * 4);
    std::vector<png_bytep> rows(control.height);
    for (std::uint32_t y = 0; y < control.height; ++y) rows[y] = frame.data() + std::size_t{y} * control.width * 4;
    MemoryInput input{&stream};
    PngRead read;
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &input, OnPngError, OnPngWarning);
    read.info = read.png != nullptr ? png_create_info_struct(read.png) : nullptr;
    if (read.info == nullptr) return picture::Undecodable("out of memory");
    if (!DecodeStream(read, input, control.width, control.height, rows.data())) return picture::Undecodable(input.error);
    canvas.Put(control, frame, first);
    first = false;
    return sink.Add(canvas.Rows(), control.delayMs);
  };
  if (std::fseek(m_file, m_dataOffset, SEEK_SET) != 0) return picture::Undecodable("it cannot be read");
  Chunk chunk;
  while (sink.WantsMore() && ReadChunk(chunk)) {
    const std::string type = chunk.type;
    if (type == "IEND") break;
    if (type == "IDAT" && m_bDefaultIsFrame && first) {
      data += chunk.data;
    } else if (type == "fcTL") {
      if (pending) {
        const ConvertOutcome rendered = render();
        if (rendered.status != ConvertStatus::kWritten) return rendered;
      }
      if (!ParseFrameControl(chunk.data, control)) return picture::Undecodable("a frame control is damaged");
      pending = true;
    } else if (type == "fdAT" && pending && chunk.data.size() >= 4) {
      data.append(chunk.data, 4);
    }
  }
  // A file cut short shows the frames before the cut (the dispatcher keeps them).
  const ConvertOutcome rendered = pending && sink.WantsMore() ? render() : ConvertOutcome{ConvertStatus::kWritten};
  if (!m_error.empty()) return picture::Undecodable(m_error);
  if (first && rendered.status == ConvertStatus::kWritten) return picture::Undecodable("it holds no frame");
  return rendered;
}

}  // namespace vimo::convert
