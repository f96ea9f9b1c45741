// Fixture builders and independent decoders for the image conversion tests, and the file,
// environment and waiting helpers every test uses.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vimo::test {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

using Bytes = std::vector<std::uint8_t>;

// Little-endian integers of a byte layout: appended, or written over the bytes at `at`.
void AppendU16(Bytes& bytes, std::uint32_t value);
void AppendU32(Bytes& bytes, std::uint32_t value);
void PutU16(Bytes& bytes, std::size_t at, std::uint32_t value);
void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value);

// ---- GIF byte builder ----------------------------------------------------------------------

struct GifFrame {
  int width = 0;
  int height = 0;
  std::vector<Rgb> palette;            // local colour map (padded to a power of two)
  std::vector<std::uint8_t> indexes;   // width * height, row order
  bool interlaced = false;             // stored in the four interlace passes
  int transparentIndex = -1;           // >= 0: a graphic-control extension with the flag set
  // Damage: after this many pixels the stream holds an undefined code (-1: none).
  int invalidCodeAfter = -1;
  int left = 0;  // place on the logical screen
  int top = 0;
  int delay = 0;     // hundredths of a second; with disposal or transparency, a graphic-control extension
  int disposal = 0;
  int codeSize = 8;  // the LZW minimum code size; the codes are one bit wider throughout
};

// The logical screen and the NETSCAPE2.0 loop count (-1: no such extension).
struct GifScreen {
  int width = 1;
  int height = 1;
  int loopCount = -1;
};

// A GIF89a file with the given frames (each with its own colour map), LZW data written with
// fixed-width codes. The result can be cut short to test truncation.
Bytes MakeGif(const std::vector<GifFrame>& frames, const GifScreen& screen = {});

// A frame of one colour, and a frame of pseudo-random indexes over a palette of 256 colours.
GifFrame FlatFrame(int width, int height, Rgb colour);
GifFrame NoiseFrame(int width, int height, unsigned seed);

// ---- BMP reader, written from the format description ----------------------------------------

struct BmpImage {
  std::size_t offset = 0;  // where this image starts in the file
  Bytes bytes;             // the image's stored bytes: size field's worth from offset
  std::uint32_t U32(std::size_t at) const;
  std::uint16_t U16(std::size_t at) const;
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  int compression = 0;
  std::vector<Rgb> colourTable;  // 256 entries for 8 bits per pixel
  std::vector<std::uint8_t> indexes;  // 8 bits per pixel: decoded, top row first
  std::vector<Rgb> pixels;            // decoded colours, top row first
  std::string rleError;               // empty when the RLE stream obeyed the rules
};

// Splits a file of BMP images stored back to back (by each image's size field) and decodes them.
// Fails the current test (ADD_FAILURE) on anything malformed.
std::vector<BmpImage> ReadBmpFile(const std::filesystem::path& path);

// ---- reference decoding and files --------------------------------------------------------

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // top row first
};

// ImageMagick's own decoding of a file ("JPEG:path", "GIF:path", "PCD:path"...), JPEG with the
// floating-point inverse DCT, every frame, converted to sRGB, 8 bits per sample.
std::vector<DecodedImage> DecodeWithMagick(const std::string& name);

// A fresh, empty directory for one test, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFile(const std::filesystem::path& path);
// The same for text: a file's whole content as bytes ("" when it cannot be read); a file
// written whole.
std::string TextOfFile(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, std::string_view text);
// A text cut into its lines (each without its '\n'); cut at every separator, the last piece
// kept even when empty.
std::vector<std::string> LinesOf(const std::string& text);
std::vector<std::string> Split(const std::string& text, const std::string& separator);

// The process's private temporary folder (GetTempPathA), ending with '/'; the mail job files
// (VIM*) the viewer left in it, as full paths.
std::string TempFolder();
std::vector<std::string> JobFilesInTempFolder();

// Checks the condition every few milliseconds until it holds (another thread or process makes
// it true); false after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);

// An environment variable set (nullptr: unset) for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

// While it lives, files of this process cannot grow beyond maxBytes: a write past that fails
// (EFBIG) as on a full disk, also for root. The process's own limit comes back at the end.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t maxBytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  std::uint64_t m_previous = 0;
  void (*m_previousHandler)(int) = nullptr;
};

// A file system of its own (tmpfs, mount options such as "size=1m") on folder while it lives.
// Mounting needs root, as on CI, where a failure fails the test; elsewhere Mounted() is false.
struct ScopedTmpfs {
  ScopedTmpfs(const std::filesystem::path& folder, const std::string& options);
  ~ScopedTmpfs();
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  bool Mounted() const { return m_bMounted; }
  const std::filesystem::path m_folder;
  bool m_bMounted = false;
};

// The JPEG with its frame header declaring width x height instead; the data stays as it was.
Bytes WithJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height);

// The JPEG with an EXIF block after its JFIF block that records orientation value, in Intel or
// (bigEndian) Motorola byte order.
Bytes WithExifOrientation(Bytes jpeg, int value, bool bigEndian = false);

// An EXIF block made by tests/support/exif-block from its entries ("0:0x010F:ascii:Vimo",
// "gps:2:rational:35/1,39/1,29/1", see there) and, when given, the thumbnail JPEG at that path.
Bytes MakeExifBlock(const std::vector<std::string>& entries, const std::string& thumbnail = "");
// The JPEG with the block as an APP1 segment after its JFIF segment.
Bytes WithExifBlock(Bytes jpeg, const Bytes& block);

// The JPEG with an ICC profile in an APP2 ICC_PROFILE marker (one chunk) right after its start.
Bytes WithIccProfile(const Bytes& jpeg, const Bytes& profile);
// The JPEG with an EXIF block after its JFIF block that records when the photo was taken
// (DateTimeOriginal, "YYYY:MM:DD HH:MM:SS"), in Intel byte order.
Bytes WithExifDateTaken(Bytes jpeg, const std::string& dateTime);

// Runs `vimo --convert` with these words; returns its exit code and leaves its stderr in errors.
int RunConvertCommand(std::vector<std::string> words, std::string& errors);

// Runs ImageMagick's command-line converter with the given arguments; fails the test when it fails.
void RunConvert(const std::string& arguments);

// The first page of a PDF as poppler's pdftoppm renders it at dpi (white where nothing is printed).
DecodedImage RenderPdfPage(const std::filesystem::path& pdf, int dpi);

// A path as a file: URL carries it: every byte percent-encoded but letters, digits and "-._~/".
std::string FileUrlOf(const std::string& path);

// A JPEG (quality 100) of width x height in four flat quadrants: a b over c d.
void MakeQuadrantJpeg(const std::filesystem::path& path, int width, int height, Rgb a, Rgb b, Rgb c, Rgb d);

}  // namespace vimo::test
