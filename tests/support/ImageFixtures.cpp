#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "convert/ConvertCommand.h"
#include "convert/MagickLibrary.h"
#include "win32/Kernel.h"

namespace vimo::test {
namespace {

// Packs codes of a fixed width into bytes, least significant bit first.
class CBitWriter {
 public:
  void Put(unsigned code, unsigned width) {
    m_buffer |= code << m_bits;
    m_bits += width;
    while (m_bits >= 8) {
      m_bytes.push_back(static_cast<std::uint8_t>(m_buffer));
      m_buffer >>= 8;
      m_bits -= 8;
    }
  }
  Bytes Finish() {
    if (m_bits > 0) m_bytes.push_back(static_cast<std::uint8_t>(m_buffer));
    return m_bytes;
  }

 private:
  unsigned m_buffer = 0;
  unsigned m_bits = 0;
  Bytes m_bytes;
};

// LZW with codes one bit wider than the minimum code size throughout: every pixel is a literal
// code, and a clear code comes often enough that the decoder's table never needs a wider one.
Bytes EncodeLzw(const std::vector<std::uint8_t>& indexes, int invalidCodeAfter, int codeSize) {
  const unsigned kClear = 1u << codeSize, kEnd = kClear + 1, kWidth = static_cast<unsigned>(codeSize) + 1;
  CBitWriter writer;
  writer.Put(kClear, kWidth);
  int sinceClear = 0;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (static_cast<int>(i) == invalidCodeAfter) {
      writer.Put((1u << kWidth) - 1, kWidth);  // far beyond the next free table entry
      break;
    }
    if (sinceClear == 200) {
      writer.Put(kClear, kWidth);
      sinceClear = 0;
    }
    writer.Put(indexes[i], kWidth);
    ++sinceClear;
  }
  writer.Put(kEnd, kWidth);
  return writer.Finish();
}

std::vector<std::uint8_t> InterlaceOrder(const GifFrame& frame) {
  std::vector<std::uint8_t> stored;
  const int starts[] = {0, 4, 2, 1};
  const int steps[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = starts[pass]; y < frame.height; y += steps[pass]) {
      const auto row = frame.indexes.begin() + static_cast<std::ptrdiff_t>(y) * frame.width;
      stored.insert(stored.end(), row, row + frame.width);
    }
  }
  return stored;
}

}  // namespace

Bytes MakeGif(const std::vector<GifFrame>& frames, const GifScreen& screen) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  AppendU16(out, static_cast<unsigned>(screen.width));
  AppendU16(out, static_cast<unsigned>(screen.height));
  out.insert(out.end(), {0x00, 0x00, 0x00});  // no global colour map
  if (screen.loopCount >= 0) {
    const std::string application = "\x21\xFF\x0BNETSCAPE2.0\x03\x01";
    out.insert(out.end(), application.begin(), application.end());
    AppendU16(out, static_cast<unsigned>(screen.loopCount));
    out.push_back(0);
  }
  for (const GifFrame& frame : frames) {
    if (frame.transparentIndex >= 0 || frame.delay != 0 || frame.disposal != 0) {
      const auto flags = static_cast<std::uint8_t>((frame.disposal << 2) | (frame.transparentIndex >= 0 ? 1 : 0));
      out.insert(out.end(), {0x21, 0xF9, 0x04, flags});
      AppendU16(out, static_cast<unsigned>(frame.delay));
      out.insert(out.end(), {static_cast<std::uint8_t>(std::max(frame.transparentIndex, 0)), 0x00});
    }
    out.push_back(0x2C);
    AppendU16(out, static_cast<unsigned>(frame.left));
    AppendU16(out, static_cast<unsigned>(frame.top));
    AppendU16(out, static_cast<unsigned>(frame.width));
    AppendU16(out, static_cast<unsigned>(frame.height));
    unsigned sizeBits = 1;
    while ((1u << sizeBits) < frame.palette.size()) ++sizeBits;
    out.push_back(static_cast<std::uint8_t>(0x80 | (frame.interlaced ? 0x40 : 0) | (sizeBits - 1)));
    for (unsigned i = 0; i < (1u << sizeBits); ++i) {
      const Rgb colour = i < frame.palette.size() ? frame.palette[i] : Rgb{};
      out.insert(out.end(), {colour.red, colour.green, colour.blue});
    }
    out.push_back(static_cast<std::uint8_t>(frame.codeSize));
    const Bytes data = EncodeLzw(frame.interlaced ? InterlaceOrder(frame) : frame.indexes, frame.invalidCodeAfter, frame.codeSize);
    for (std::size_t at = 0; at < data.size(); at += 255) {
      const std::size_t length = std::min<std::size_t>(255, data.size() - at);
      out.push_back(static_cast<std::uint8_t>(length));
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    out.push_back(0);
  }
  out.push_back(0x3B);
  return out;
}

GifFrame FlatFrame(int width, int height, Rgb colour) {
  GifFrame frame;
  frame.width = width;
  frame.height = height;
  frame.palette = {colour, {1, 2, 3}};
  frame.indexes.assign(static_cast<std::size_t>(width) * height, 0);
  return frame;
}

GifFrame NoiseFrame(int width, int height, unsigned seed) {
  GifFrame frame;
  frame.width = width;
  frame.height = height;
  for (int i = 0; i < 256; ++i)
    frame.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 7)});
  std::mt19937 random(seed);
  for (int i = 0; i < width * height; ++i) frame.indexes.push_back(static_cast<std::uint8_t>(random() & 0xFF));
  return frame;
}

std::uint32_t BmpImage::U32(std::size_t at) const {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}
std::uint16_t BmpImage::U16(std::size_t at) const { return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8)); }

namespace {

// Decodes RLE8 as the format describes it, insisting on the viewer's subset: encoded runs only,
// no run across a row end, every row closed by 0 0, the bitmap by 0 1, nothing after it.
std::string DecodeRle8(const BmpImage& image, std::size_t begin, std::size_t end, std::vector<std::uint8_t>& bottomUp) {
  const auto width = static_cast<std::size_t>(image.width);
  std::size_t at = begin;
  for (int row = 0; row < image.height; ++row) {
    std::size_t filled = 0;
    for (;;) {
      if (at + 2 > end) return "data ends inside row " + std::to_string(row);
      const std::uint8_t count = image.bytes[at];
      const std::uint8_t value = image.bytes[at + 1];
      at += 2;
      if (count == 0) {
        if (value != 0) return "escape " + std::to_string(value) + " in row " + std::to_string(row);
        break;
      }
      if (filled + count > width) return "run crosses the end of row " + std::to_string(row);
      bottomUp.insert(bottomUp.end(), count, value);
      filled += count;
    }
    if (filled != width) return "row " + std::to_string(row) + " holds " + std::to_string(filled) + " pixels";
  }
  if (at + 2 != end || image.bytes[at] != 0 || image.bytes[at + 1] != 1) return "no 0 1 at the end of the bitmap";
  return {};
}

void DecodePixels(BmpImage& image) {
  const std::size_t offset = image.U32(10);
  const std::size_t dataSize = image.U32(34);
  const auto width = static_cast<std::size_t>(image.width);
  const auto height = static_cast<std::size_t>(image.height);
  ASSERT_LE(offset + dataSize, image.bytes.size());
  if (image.bitsPerPixel == 8) {
    for (int i = 0; i < 256; ++i) {
      const std::size_t at = 54 + 4 * static_cast<std::size_t>(i);
      image.colourTable.push_back({image.bytes[at + 2], image.bytes[at + 1], image.bytes[at]});
    }
    std::vector<std::uint8_t> bottomUp;
    if (image.compression == 1) {
      image.rleError = DecodeRle8(image, offset, offset + dataSize, bottomUp);
      if (!image.rleError.empty()) return;
    } else {
      const std::size_t stride = (width * 8 + 31) / 32 * 4;
      ASSERT_EQ(dataSize, stride * height);
      for (std::size_t y = 0; y < height; ++y) {
        const auto row = image.bytes.begin() + static_cast<std::ptrdiff_t>(offset + y * stride);
        bottomUp.insert(bottomUp.end(), row, row + static_cast<std::ptrdiff_t>(width));
      }
    }
    for (std::size_t y = height; y-- > 0;) {
      const auto row = bottomUp.begin() + static_cast<std::ptrdiff_t>(y * width);
      image.indexes.insert(image.indexes.end(), row, row + static_cast<std::ptrdiff_t>(width));
    }
    for (const std::uint8_t index : image.indexes) image.pixels.push_back(image.colourTable[index]);
    return;
  }
  ASSERT_EQ(image.bitsPerPixel, 24);
  const std::size_t stride = (width * 24 + 31) / 32 * 4;
  ASSERT_EQ(dataSize, stride * height);
  for (std::size_t y = height; y-- > 0;) {
    const std::size_t row = offset + y * stride;
    for (std::size_t x = 0; x < width; ++x) {
      const std::size_t at = row + 3 * x;
      image.pixels.push_back({image.bytes[at + 2], image.bytes[at + 1], image.bytes[at]});
    }
  }
}

}  // namespace

std::vector<BmpImage> ReadBmpFile(const std::filesystem::path& path) {
  const Bytes file = ReadFile(path);
  std::vector<BmpImage> images;
  std::size_t at = 0;
  while (at < file.size()) {
    if (file.size() - at < 54) {
      ADD_FAILURE() << "trailing " << file.size() - at << " bytes at " << at;
      break;
    }
    BmpImage image;
    image.offset = at;
    image.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 54));
    const std::size_t size = image.U32(2);
    if (size < 54 || size > file.size() - at) {
      ADD_FAILURE() << "size field " << size << " at " << at << " does not fit the file";
      break;
    }
    image.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + size));
    image.width = static_cast<int>(image.U32(18));
    image.height = static_cast<int>(image.U32(22));
    image.bitsPerPixel = image.U16(28);
    image.compression = static_cast<int>(image.U32(30));
    DecodePixels(image);
    images.push_back(std::move(image));
    at += size;
  }
  return images;
}

std::vector<DecodedImage> DecodeWithMagick(const std::string& name) {
  using namespace vimo::convert;
  EnsureImageLibrary();
  const ImageInfoPtr info(AcquireImageInfo());
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  (void)SetImageOption(info.get(), "jpeg:dct-method", "float");
  (void)CopyMagickString(info->filename, name.c_str(), MaxTextExtent);
  const ImageListPtr images(ReadImage(info.get(), exception.get()));
  std::vector<DecodedImage> decoded;
  for (Image* image = images.get(); image != nullptr; image = GetNextImageInList(image)) {
    if (image->colorspace != sRGBColorspace && image->colorspace != GRAYColorspace)
      (void)TransformImageColorspace(image, sRGBColorspace);
    DecodedImage out;
    out.width = static_cast<int>(image->columns);
    out.height = static_cast<int>(image->rows);
    std::vector<std::uint8_t> samples(image->columns * image->rows * 3);
    (void)ExportImagePixels(image, 0, 0, image->columns, image->rows, "RGB", CharPixel, samples.data(), exception.get());
    for (std::size_t i = 0; i < samples.size(); i += 3) out.pixels.push_back({samples[i], samples[i + 1], samples[i + 2]});
    decoded.push_back(std::move(out));
  }
  return decoded;
}

FileSizeLimit::FileSizeLimit(std::uint64_t maxBytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  m_previous = limit.rlim_cur;
  // Without this the kernel ends the process instead of failing the write.
  m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = maxBytes;
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = m_previous;
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, m_previousHandler);
}

ScopedTmpfs::ScopedTmpfs(const std::filesystem::path& folder, const std::string& options) : m_folder(folder) {
  std::filesystem::create_directories(folder);
  m_bMounted = mount("vimo-test", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (!m_bMounted && geteuid() == 0) ADD_FAILURE() << "cannot mount a tmpfs on " << folder << ": " << std::strerror(errno);
}

ScopedTmpfs::~ScopedTmpfs() {
  if (m_bMounted) umount2(m_folder.c_str(), MNT_DETACH);
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  m_path = std::filesystem::temp_directory_path() /
           ("vimo-convert-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes WithJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height) {
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || (jpeg[i + 1] != 0xC0 && jpeg[i + 1] != 0xC2)) continue;
    const std::uint8_t size[] = {std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8), std::uint8_t(width)};
    std::copy(std::begin(size), std::end(size), jpeg.begin() + static_cast<std::ptrdiff_t>(i + 5));
    return jpeg;
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

Bytes WithExifDateTaken(Bytes jpeg, const std::string& dateTime) {
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I'};
  AppendU16(exif, 42), AppendU32(exif, 8);                             // IFD 0 at offset 8
  AppendU16(exif, 1), AppendU16(exif, 0x8769), AppendU16(exif, 4);     // one entry: the EXIF IFD,
  AppendU32(exif, 1), AppendU32(exif, 26), AppendU32(exif, 0);         // at offset 26; no next IFD
  AppendU16(exif, 1), AppendU16(exif, 0x9003), AppendU16(exif, 2);     // one entry: DateTimeOriginal,
  AppendU32(exif, 20), AppendU32(exif, 44), AppendU32(exif, 0);        // 20 ASCII bytes at offset 44
  exif.insert(exif.end(), dateTime.begin(), dateTime.end());
  exif.resize(6 + 44 + 20, 0);
  return WithExifBlock(std::move(jpeg), exif);
}

Bytes WithIccProfile(const Bytes& jpeg, const Bytes& profile) {
  Bytes marker = {0xFF, 0xE2};
  AppendU16(marker, 0);
  const std::string tag("ICC_PROFILE\0\x01\x01", 14);
  marker.insert(marker.end(), tag.begin(), tag.end());
  marker.insert(marker.end(), profile.begin(), profile.end());
  const std::size_t length = marker.size() - 2;
  marker[2] = static_cast<std::uint8_t>(length >> 8);
  marker[3] = static_cast<std::uint8_t>(length);
  Bytes out = marker;
  out.insert(out.begin(), jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

Bytes WithExifOrientation(Bytes jpeg, int value, bool bigEndian) {
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
  const auto put = [&exif, bigEndian](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) exif.push_back(std::uint8_t(v >> 8 * (bigEndian ? bytes - 1 - i : i)));
  };
  exif.insert(exif.end(), {std::uint8_t(bigEndian ? 'M' : 'I'), std::uint8_t(bigEndian ? 'M' : 'I')});
  put(42, 2), put(8, 4);                                // the TIFF header; IFD 0 at offset 8
  put(1, 2), put(0x0112, 2), put(3, 2), put(1, 4);      // one entry: orientation, 1 SHORT
  put(static_cast<std::uint32_t>(value), 2), put(0, 2), put(0, 4);  // its value; no next IFD
  return WithExifBlock(std::move(jpeg), exif);
}

Bytes MakeExifBlock(const std::vector<std::string>& entries, const std::string& thumbnail) {
  // Each word single-quoted for the shell, so that any bytes (a line break, Shift_JIS) pass.
  const auto quoted = [](const std::string& word) {
    std::string text = "'";
    for (const char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
  };
  const TempDir dir;
  std::string command = "python3 " + quoted(VIMO_SOURCE_DIR "/tests/support/exif-block") + " " + quoted((dir / "exif").string());
  if (!thumbnail.empty()) command += " --thumbnail " + quoted(thumbnail);
  for (const std::string& entry : entries) command += " " + quoted(entry);
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadFile(dir / "exif");
}

Bytes WithExifBlock(Bytes jpeg, const Bytes& block) {
  Bytes segment = {0xFF, 0xE1, std::uint8_t((block.size() + 2) >> 8), std::uint8_t(block.size() + 2)};
  segment.insert(segment.end(), block.begin(), block.end());
  std::size_t at = 2;
  if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) at = 4 + (std::size_t{jpeg[4]} << 8 | jpeg[5]);
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), segment.begin(), segment.end());
  return jpeg;
}

int RunConvertCommand(std::vector<std::string> words, std::string& errors) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  ::testing::internal::CaptureStderr();
  const int exitCode = ConvertCommandMain(static_cast<int>(argv.size()), argv.data());
  errors = ::testing::internal::GetCapturedStderr();
  return exitCode;
}

void AppendU16(Bytes& bytes, std::uint32_t value) {
  bytes.insert(bytes.end(), {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
}

void AppendU32(Bytes& bytes, std::uint32_t value) {
  AppendU16(bytes, value & 0xFFFF);
  AppendU16(bytes, value >> 16);
}

void PutU16(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 2; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string TextOfFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string TempFolder() {
  char folder[MAX_PATH] = "";
  const DWORD length = GetTempPathA(sizeof(folder), folder);
  EXPECT_TRUE(length > 0 && length < sizeof(folder));
  return folder;
}

std::vector<std::string> JobFilesInTempFolder() {
  std::vector<std::string> jobs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(TempFolder(), error)) {
    if (entry.path().filename().string().rfind("VIM", 0) == 0) jobs.push_back(entry.path().string());
  }
  return jobs;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
  if (const char* old = std::getenv(name)) m_old = old;
  if (value != nullptr) setenv(name, value, 1);
  else unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (m_old) setenv(m_name, m_old->c_str(), 1);
  else unsetenv(m_name);
}

void RunConvert(const std::string& arguments) {
  const std::string command = "convert-im6.q16 " + arguments + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

DecodedImage RenderPdfPage(const std::filesystem::path& pdf, int dpi) {
  const std::string page = pdf.string() + "-page";
  const std::string command = "pdftoppm -singlefile -png -r " + std::to_string(dpi) + " '" + pdf.string() + "' '" + page + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<DecodedImage> images = DecodeWithMagick("PNG:" + page + ".png");
  return images.empty() ? DecodedImage{} : images.front();
}

void MakeQuadrantJpeg(const std::filesystem::path& path, int width, int height, Rgb a, Rgb b, Rgb c, Rgb d) {
  const auto hex = [](Rgb rgb) {
    char text[16];
    std::snprintf(text, sizeof(text), "'#%02x%02x%02x'", rgb.red, rgb.green, rgb.blue);
    return std::string(text);
  };
  const auto rectangle = [](int x0, int y0, int x1, int y1) {
    return " -draw 'rectangle " + std::to_string(x0) + "," + std::to_string(y0) + " " + std::to_string(x1) + "," + std::to_string(y1) + "'";
  };
  const int w = width / 2, h = height / 2;
  RunConvert("-size " + std::to_string(width) + "x" + std::to_string(height) + " xc:" + hex(a) + " -fill " + hex(b) +
             rectangle(w, 0, width - 1, h - 1) + " -fill " + hex(c) + rectangle(0, h, w - 1, height - 1) + " -fill " + hex(d) +
             rectangle(w, h, width - 1, height - 1) + " -quality 100 JPEG:" + path.string());
}

std::string FileUrlOf(const std::string& path) {
  std::string url = "file://";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("-._~/", c) != nullptr) url += static_cast<char>(c);
    else url += "%" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789ABCDEF"[c & 15];
  }
  return url;
}

}  // namespace vimo::test
