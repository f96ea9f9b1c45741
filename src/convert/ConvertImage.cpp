#include "convert/ConvertImage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <string>
#include <string_view>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/ColourTransform.h"
#include "convert/GifReader.h"
#include "convert/GifStream.h"
#include "convert/ImageFormat.h"
#include "convert/JpegStream.h"
#include "convert/MagickLibrary.h"
#include "convert/PhotoCdReader.h"
#include "convert/PictureFormats.h"
#include "convert/PictureReader.h"
#include "convert/ReadThroughLibrary.h"
#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

constexpr std::size_t kFileNameBufferSize = 2048;  // paths of at most 2047 bytes
constexpr std::size_t kExaminedBytes = 2048;
constexpr const char* kColorsOption = "colors";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

using Reader = ImageReader;

// The choice of SetConvertOtherFormats: kReadOtherFormats with the background's 24 bits, one
// value so that a conversion never sees half of a change.
constexpr std::uint32_t kReadOtherFormats = 0x01000000;
std::atomic<std::uint32_t> g_otherFormats{0};

struct OtherFormats {
  bool read = false;
  std::uint32_t background = 0;  // 0x00BBGGRR
};

OtherFormats CurrentOtherFormats() {
  const std::uint32_t choice = g_otherFormats.load();
  return {(choice & kReadOtherFormats) != 0, choice & 0xFFFFFF};
}

// The choice of SetViewingColours, guarded by g_viewingLock: whether colours are managed, the
// target profile as it comes, and the target once it has come (made once per choice).
std::mutex g_viewingLock;
bool g_viewingManaged = false;
std::shared_future<IccBytes> g_viewingProfile;
std::shared_ptr<const IccBytes> g_viewingTarget;
unsigned g_viewingChoice = 0;  // raised by each SetViewingColours

// The target profile, null while colours are not managed. The first conversion after a choice
// waits for the profile (outside the lock) when it is still being read.
std::shared_ptr<const IccBytes> ViewingTarget() {
  std::shared_future<IccBytes> profile;
  unsigned choice = 0;
  {
    const std::lock_guard<std::mutex> lock(g_viewingLock);
    if (!g_viewingManaged) return nullptr;
    if (g_viewingTarget) return g_viewingTarget;
    profile = g_viewingProfile;
    choice = g_viewingChoice;
  }
  auto target = std::make_shared<const IccBytes>(profile.valid() ? profile.get() : IccBytes{});
  const std::lock_guard<std::mutex> lock(g_viewingLock);
  if (g_viewingChoice == choice) g_viewingTarget = target;
  return target;
}

// The format of an ISO media file by the brands of its 'ftyp' box: HEIC for the HEVC brands of
// HEIF, AVIF for AV1's (also a general HEIF brand listing AVIF as compatible), CR3 for Canon's
// RAW files; empty for any other.
std::string IsoMediaFormat(const unsigned char* bytes, std::size_t length) {
  if (length < 12 || std::memcmp(bytes + 4, "ftyp", 4) != 0) return {};
  const std::size_t boxSize = std::min<std::size_t>(length, (std::size_t{bytes[0]} << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]);
  const auto hasBrand = [&](const char* brand) {
    if (std::memcmp(bytes + 8, brand, 4) == 0) return true;
    for (std::size_t at = 16; at + 4 <= boxSize; at += 4) {
      if (std::memcmp(bytes + at, brand, 4) == 0) return true;
    }
    return false;
  };
  if (std::memcmp(bytes + 8, "crx ", 4) == 0) return "CR3";
  if (std::memcmp(bytes + 8, "avif", 4) == 0 || std::memcmp(bytes + 8, "avis", 4) == 0) return "AVIF";
  for (const char* known : {"heic", "heix", "hevc", "hevx"}) {
    if (std::memcmp(bytes + 8, known, 4) == 0) return "HEIC";
  }
  if (std::memcmp(bytes + 8, "mif1", 4) != 0 && std::memcmp(bytes + 8, "msf1", 4) != 0) return {};
  return hasBrand("avif") || hasBrand("avis") ? "AVIF" : "HEIC";
}

bool IsKnownFormat(const std::string& name, ExceptionInfo* exception) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) return false;  // no wildcards, no paths
  }
  // Asking starts the library; a caller that has not started it yet passes no exception.
  EnsureImageLibrary();
  ExceptionInfoPtr own;
  if (exception == nullptr) {
    own.reset(AcquireExceptionInfo());
    exception = own.get();
  }
  return exception != nullptr && GetMagickInfo(name.c_str(), exception) != nullptr;
}

// The format name a file name gives: the text after its last '.', a final ".gz" or ".Z" passed
// over, upper-cased up to the next '.'; empty unless the library knows the name.
std::string FormatFromName(const char* fileName, ExceptionInfo* exception) {
  const std::string name(fileName);
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  const std::string last = name.substr(dot);
  if (last == ".gz" || last == ".Z") {
    if (dot == 0) return {};
    dot = name.rfind('.', dot - 1);
    if (dot == std::string::npos) return {};
  }
  const std::size_t end = name.find('.', dot + 1);
  std::string format = name.substr(dot + 1, end == std::string::npos ? std::string::npos : end - dot - 1);
  for (char& c : format) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return IsKnownFormat(format, exception) ? format : std::string{};
}

// Replaces format with the one the file's signature names, if any. The first 2048 bytes are
// examined, or the next 2048 when the file begins with 0xFF 0xFF (where Photo CD keeps "PCD_").
// With other formats, their signatures count too.
void FormatFromContent(std::FILE* file, std::string& format, bool otherFormats) {
  std::array<unsigned char, kExaminedBytes> block{};
  std::size_t length = std::fread(block.data(), 1, block.size(), file);
  if (length >= 2 && block[0] == 0xFF && block[1] == 0xFF) length = std::fread(block.data(), 1, block.size(), file);
  const unsigned char* bytes = block.data();
  if (length >= 4 && std::memcmp(bytes, "GIF8", 4) == 0) format = "GIF";
  if (length >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) format = "JPEG";
  if (length >= 4 && std::memcmp(bytes, "PCD_", 4) == 0) format = "PCD";
  if (!otherFormats) return;
  if (length >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1A\n", 8) == 0) format = "PNG";
  if (length >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0) format = "WEBP";
  for (const char* tiff : {"II*\0", "MM\0*", "II+\0", "MM\0+"}) {  // classic and big TIFF, both byte orders
    if (length >= 4 && std::memcmp(bytes, tiff, 4) == 0) format = "TIFF";
  }
  if (const std::string iso = IsoMediaFormat(bytes, length); !iso.empty()) format = iso;
  // JPEG XL: a bare codestream, or the container's signature box.
  if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0x0A) format = "JXL";
  if (length >= 12 && std::memcmp(bytes, "\0\0\0\x0CJXL \r\n\x87\n", 12) == 0) format = "JXL";
  // Cameras' RAW files with signatures of their own; the TIFF-based ones go by their names.
  if (length >= 10 && std::memcmp(bytes, "II*\0", 4) == 0 && std::memcmp(bytes + 8, "CR", 2) == 0) format = "CR2";
  if (length >= 4 && (std::memcmp(bytes, "IIRO", 4) == 0 || std::memcmp(bytes, "IIRS", 4) == 0 || std::memcmp(bytes, "MMOR", 4) == 0))
    format = "ORF";
  if (length >= 4 && std::memcmp(bytes, "IIU\0", 4) == 0) format = "RW2";
  if (length >= 15 && std::memcmp(bytes, "FUJIFILMCCD-RAW", 15) == 0) format = "RAF";
}

// BMP files are copied by the worker, never read here.
Reader ReaderFor(const std::string& format, bool otherFormats) {
  const Reader reader = ImageReaderOfFormat(format, otherFormats);
  return reader == Reader::kCopy ? Reader::kNone : reader;
}

bool IsColourMapped(const Image* image) { return image->storage_class == PseudoClass; }

// Drops the colour-map entries no pixel uses, keeping the others in their order.
void CompactColourMap(Image* image, ExceptionInfo* exception) {
  std::vector<bool> used(image->colors, false);
  const std::size_t width = image->columns;
  for (std::size_t y = 0; y < image->rows; ++y) {
    if (GetVirtualPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception) == nullptr) return;
    const IndexPacket* indexes = GetVirtualIndexQueue(image);
    if (indexes == nullptr) return;
    for (std::size_t x = 0; x < width; ++x) {
      const std::size_t index = GetPixelIndex(indexes + x);
      if (index < used.size()) used[index] = true;
    }
  }
  std::vector<std::size_t> remap(image->colors, 0);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < image->colors; ++i) {
    if (!used[i]) continue;
    remap[i] = kept;
    image->colormap[kept++] = image->colormap[i];
  }
  if (kept == image->colors || kept == 0) return;
  for (std::size_t y = 0; y < image->rows; ++y) {
    if (GetAuthenticPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception) == nullptr) return;
    IndexPacket* indexes = GetAuthenticIndexQueue(image);
    if (indexes == nullptr) return;
    for (std::size_t x = 0; x < width; ++x) {
      const std::size_t index = GetPixelIndex(indexes + x);
      SetPixelIndex(indexes + x, index < remap.size() ? remap[index] : 0);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return;
  }
  image->colors = kept;
}

// Brings every image read into RGB (CMYK JPEG, Photo CD's YCC) and trims colour maps to the
// colours in use (a greyscale JPEG's 256-level ramp).
void NormaliseImages(Image* images, ExceptionInfo* exception) {
  for (Image* image = images; image != nullptr; image = GetNextImageInList(image)) {
    const ColorspaceType space = image->colorspace;
    if (space != sRGBColorspace && space != RGBColorspace && space != GRAYColorspace)
      (void)TransformImageColorspace(image, sRGBColorspace);
    if (IsColourMapped(image)) CompactColourMap(image, exception);
  }
}

// Turns every image's colours from its own profile (sRGB without one) into target's: the
// entries of a colour map, or the pixels row by row.
void ManageColours(Image* images, const IccBytes& target, ExceptionInfo* exception) {
  static_assert(sizeof(Quantum) == 2 && MAGICK_PIXEL_BGRA, "pixel packets are 16-bit blue, green, red, opacity");
  for (Image* image = images; image != nullptr; image = GetNextImageInList(image)) {
    const StringInfo* embedded = GetImageProfile(image, "icc");
    IccBytes profile;
    if (embedded != nullptr) profile.assign(GetStringInfoDatum(embedded), GetStringInfoDatum(embedded) + GetStringInfoLength(embedded));
    const auto transform = CColourTransform::Create(profile, CColourTransform::Pixels::kPackets, target);
    if (!transform) continue;
    // Grey levels become colours of the target.
    if (image->colorspace == GRAYColorspace) (void)SetImageColorspace(image, sRGBColorspace);
    if (IsColourMapped(image)) {
      transform->Rows(image->colormap, 0, image->colormap, 0, image->colors, 1);
      (void)SyncImage(image);
      continue;
    }
    for (std::size_t y = 0; y < image->rows; ++y) {
      PixelPacket* pixels = GetAuthenticPixels(image, 0, static_cast<ssize_t>(y), image->columns, 1, exception);
      if (pixels == nullptr) break;
      transform->Rows(pixels, 0, pixels, 0, image->columns, 1);
      if (SyncAuthenticPixels(image, exception) == MagickFalse) break;
    }
  }
}

// The reader for a file: by its name, then by its content (the content wins); format is the
// format name it goes by.
Reader DetectReader(const char* fileName, std::FILE* file, ExceptionInfo* exception, bool otherFormats,
                    std::string& format) {
  // A signature decides; the name is asked of the library only for a file without one.
  format.clear();
  FormatFromContent(file, format, otherFormats);
  if (otherFormats) format = FormatOfFile(format, fileName);
  if (format.empty()) format = FormatFromName(fileName, exception);
  return ReaderFor(format, otherFormats);
}

// Lays every image with transparency on background (0x00BBGGRR), so that its transparent parts
// show the colour the window shows around it.
void LayOnBackground(Image* images, std::uint32_t background, ExceptionInfo* exception) {
  const double red = CharToQuantum(background & 0xFF);
  const double green = CharToQuantum((background >> 8) & 0xFF);
  const double blue = CharToQuantum((background >> 16) & 0xFF);
  for (Image* image = images; image != nullptr; image = GetNextImageInList(image)) {
    if (image->matte == MagickFalse) continue;
    // The new colours are colours: neither a colour map's entries nor grey levels.
    if (SetImageStorageClass(image, DirectClass) == MagickFalse) continue;
    if (image->colorspace == GRAYColorspace) (void)TransformImageColorspace(image, sRGBColorspace);
    for (std::size_t y = 0; y < image->rows; ++y) {
      PixelPacket* pixel = GetAuthenticPixels(image, 0, static_cast<ssize_t>(y), image->columns, 1, exception);
      if (pixel == nullptr) break;
      for (std::size_t x = 0; x < image->columns; ++x, ++pixel) {
        const double alpha = QuantumScale * (QuantumRange - GetPixelOpacity(pixel));
        SetPixelRed(pixel, ClampToQuantum(alpha * GetPixelRed(pixel) + (1.0 - alpha) * red));
        SetPixelGreen(pixel, ClampToQuantum(alpha * GetPixelGreen(pixel) + (1.0 - alpha) * green));
        SetPixelBlue(pixel, ClampToQuantum(alpha * GetPixelBlue(pixel) + (1.0 - alpha) * blue));
        SetPixelOpacity(pixel, OpaqueOpacity);
      }
      if (SyncAuthenticPixels(image, exception) == MagickFalse) break;
    }
    image->matte = MagickFalse;
  }
}

// The JPEG reader reports a fatal decoder error as an error (a decoder warning, such as data
// ending early, only as a warning) but may still hand back what it had; a fatal error means no
// image. An error in the middle of the rows goes only into the image's own record, and the rows
// not decoded then hold whatever the pixel cache's memory held.
Image* ReadJpeg(std::FILE* file, const ImageInfo* info) {
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  ImageListPtr images(ReadThroughLibrary("JPEG", file, info, exception.get()));
  if (exception->severity >= ErrorException) return nullptr;
  if (images && images->exception.severity >= ErrorException) return nullptr;
  return images.release();
}

// Removes images without pixels (the library's readers can return a 0 x 0 image after an error).
Image* DropEmptyImages(Image* images) {
  Image* image = images;
  while (image != nullptr) {
    Image* next = GetNextImageInList(image);
    if (image->columns == 0 || image->rows == 0) {
      Image* list = image;
      DeleteImageFromList(&list);
      if (image == images) images = next;
    }
    image = next;
  }
  return images;
}

// Reads one input file with the reader its name and content select; nullptr when none (and
// then why in failure, when the reader knows more than that no image could be read).
Image* ReadInputOrThrow(const char* fileName, const ImageInfo* info, ExceptionInfo* exception,
                        const OtherFormats& otherFormats, const ConvertOptions& options, ConvertOutcome& failure) {
  FilePtr file(vimo::platform::OpenRegularFile(fileName));
  if (!file) return nullptr;
  Image* images = nullptr;
  std::string format;
  const Reader reader = DetectReader(fileName, file.get(), exception, otherFormats.read, format);
  switch (reader) {
    case Reader::kGif:
      images = ReadGifImages(file.get(), info, exception, &failure);
      break;
    case Reader::kJpeg:
      images = ReadJpeg(file.get(), info);
      break;
    case Reader::kPhotoCd:
      images = ReadPhotoCdImages(file.get(), info, exception);
      break;
    case Reader::kLibrary:
      images = ReadThroughLibrary(format.c_str(), file.get(), info, exception);
      break;
    case Reader::kPng:
      if (HasPngChunkPastTheEnd(file.get())) {
        failure = picture::Undecodable("a chunk runs past the end of the file");
        break;
      }
      images = IsAnimatedPng(file.get()) ? ReadPictureImages(reader, file.get(), info, failure)
                                         : ReadThroughLibrary(format.c_str(), file.get(), info, exception);
      break;
    case Reader::kHeif:
    case Reader::kJxl:
    case Reader::kWebp:
    case Reader::kRaw:
      images = ReadPictureImages(reader, file.get(), info, failure);
      break;
    case Reader::kNone:
    case Reader::kCopy:
      return nullptr;
  }
  images = DropEmptyImages(images);
  if (images != nullptr) NormaliseImages(images, exception);
  // Colours are managed before transparent parts are laid on the window's colour, which is
  // the monitor's already.
  if (images != nullptr && options.colourTarget) ManageColours(images, *options.colourTarget, exception);
  if (images != nullptr && (reader == Reader::kLibrary || IsPictureReader(reader)))
    LayOnBackground(images, otherFormats.background, exception);
  return images;
}

// Memory running out while reading (the program's own buffers) means no image.
Image* ReadInput(const char* fileName, const ImageInfo* info, ExceptionInfo* exception, const OtherFormats& otherFormats,
                 const ConvertOptions& options, ConvertOutcome& failure) {
  try {
    return ReadInputOrThrow(fileName, info, exception, otherFormats, options, failure);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool IsColorsOption(const char* entry) { return entry[0] == '-' && std::strcmp(entry + 1, kColorsOption) == 0; }

bool IsInputEntry(const char* entry) {
  return std::strlen(entry) < 2 || (entry[0] != '-' && entry[0] != '+');
}

// Reduces one image to at most colours colours with the library's quantizer and dithering, in
// non-linear sRGB (the library's "RGB" is linear light, which would shift the colours of
// images that already have few of them).
void ReduceColours(Image* image, std::size_t colours) {
  if (IsColourMapped(image) && image->colors <= colours) return;
  if (image->matte != MagickFalse) (void)SetImageAlphaChannel(image, DeactivateAlphaChannel);  // dropped on writing anyway
  QuantizeInfo quantize;
  GetQuantizeInfo(&quantize);
  quantize.number_colors = colours;
  quantize.dither = MagickTrue;
  quantize.colorspace = sRGBColorspace;
  (void)QuantizeImage(&quantize, image);
}

// Applies the options standing before the input at position input to every image just read.
// "-colors" is the only option the list can hold; its last occurrence counts.
void ApplyOptions(const std::vector<const char*>& args, std::size_t input, Image* images) {
  int colours = 0;
  for (std::size_t i = 1; i + 1 < input; ++i) {
    if (IsColorsOption(args[i])) colours = std::atoi(args[i + 1]);
  }
  if (colours <= 0) return;  // no reduction; negative counts are treated as none
  for (Image* image = images; image != nullptr; image = GetNextImageInList(image))
    ReduceColours(image, static_cast<std::size_t>(colours));
}

// Whether the destination's name gives a format beginning with 'B' (".bmp" in any case).
bool IsBmpDestination(const char* destination, ExceptionInfo* exception) {
  const std::string_view name(destination);
  const std::string_view bmp(".bmp");
  const auto sameLetter = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  if (name.size() > bmp.size() && std::equal(bmp.begin(), bmp.end(), name.end() - bmp.size(), sameLetter))
    return true;  // no need to ask the library
  const std::string format = FormatFromName(destination, exception);
  return !format.empty() && format[0] == 'B';
}

// Where a conversion writes: a fresh file beside the destination (beside the file a symlink
// names: that file is replaced, the link stays), renamed over it only once written whole, so that
// a failure leaves the destination, and any link to it, as they were.
class CFreshDestination {
 public:
  explicit CFreshDestination(const char* destination) : m_destination(destination) {}
  ~CFreshDestination() {
    if (!m_fresh.empty()) (void)std::remove(m_fresh.c_str());
  }
  CFreshDestination(const CFreshDestination&) = delete;
  CFreshDestination& operator=(const CFreshDestination&) = delete;

  // Makes the fresh file; false (Failure says why) when none can be made.
  bool Begin() {
    errno = 0;
    m_target = vimo::platform::FollowLinks(m_destination);
    if (!m_target.empty()) m_fresh = vimo::platform::CreateFreshFileFor(m_target);
    m_error = errno != 0 ? errno : EIO;
    return !m_fresh.empty();
  }
  ConvertOutcome Failure() const { return {ConvertStatus::kWriteFailed, 0, 0, m_error}; }
  const char* Path() const { return m_fresh.c_str(); }
  // The writer's outcome; a file written whole is renamed into place.
  ConvertOutcome Finish(ConvertOutcome outcome) {
    if (outcome.status != ConvertStatus::kWritten) return outcome;
    if (std::rename(m_fresh.c_str(), m_target.c_str()) != 0) return {ConvertStatus::kWriteFailed, 0, 0, errno};
    m_fresh.clear();
    return outcome;
  }

 private:
  const char* m_destination;
  std::string m_target;
  std::string m_fresh;  // removed unless renamed into place
  int m_error = 0;
};

// Writes the list when the destination's name selects the BMP writer.
ConvertOutcome WriteOutput(const char* destination, const Image* images, ExceptionInfo* exception) {
  if (!IsBmpDestination(destination, exception)) return {ConvertStatus::kWritten};
  CFreshDestination fresh(destination);
  if (!fresh.Begin()) return fresh.Failure();
  errno = 0;
  FilePtr file(std::fopen(fresh.Path(), "wb"));
  if (!file) return {ConvertStatus::kWriteFailed, 0, 0, errno != 0 ? errno : EIO};
  ConvertOutcome outcome;
  try {
    outcome = WriteBmpImages(file.get(), images, exception, vimo::platform::FreeBytesAt(fresh.Path()));
  } catch (const std::bad_alloc&) {
    outcome = {ConvertStatus::kWriteFailed, 0, 0, ENOMEM};
  }
  errno = 0;
  if (std::fclose(file.release()) != 0 && outcome.status == ConvertStatus::kWritten)
    outcome = {ConvertStatus::kWriteFailed, 0, 0, errno != 0 ? errno : EIO};
  return fresh.Finish(outcome);
}

// The worker's case (one source, no colour reduction, a BMP destination) for a colour JPEG
// and for a GIF: decoded straight into the BMP file, without the library's pixel cache.
// Streaming writes the destination while the source is still being read: a file converted onto
// itself (a JPEG named .bmp) takes the general path, which reads it whole first.
bool IsSameFile(const char* source, const char* destination) {
  std::error_code error;
  return std::filesystem::equivalent(source, destination, error);
}

// nullopt when the general path is to decide. exception may be NULL: one is made if the library
// has to be asked.
std::optional<ConvertOutcome> TryStreaming(const char* source, const char* destination, ExceptionInfo* exception,
                                           const OtherFormats& otherFormats, const ConvertOptions& options) {
  if (!IsInputEntry(source) || !IsBmpDestination(destination, exception)) return std::nullopt;
  if (IsSameFile(source, destination)) return std::nullopt;
  FilePtr file(vimo::platform::OpenRegularFile(source));
  std::string format;
  const Reader reader = file ? DetectReader(source, file.get(), exception, otherFormats.read, format) : Reader::kNone;
  if (reader != Reader::kJpeg && reader != Reader::kGif && !IsPictureReader(reader)) return std::nullopt;
  CFreshDestination fresh(destination);
  if (!fresh.Begin()) return fresh.Failure();
  try {
    if (reader == Reader::kGif) return fresh.Finish(StreamGifToBmp(file.get(), fresh.Path(), options));
    const std::optional<ConvertOutcome> streamed =
        reader == Reader::kJpeg ? StreamJpegToBmp(file.get(), fresh.Path(), options.colourTarget.get())
                                : StreamPictureToBmp(reader, file.get(), fresh.Path(), options, otherFormats.background);
    if (streamed) return fresh.Finish(*streamed);
    return std::nullopt;  // not one the stream reads (a grey JPEG, a still PNG): the general path decides
  } catch (const std::bad_alloc&) {
    if (reader == Reader::kGif) return ConvertOutcome{ConvertStatus::kWriteFailed, 0, 0, ENOMEM};
    return std::nullopt;  // the general path decides
  }
}

}  // namespace

// Read with the settings of a conversion: the float inverse DCT of the JPEG reader.
Image* ReadSourceImages(const char* src, ExceptionInfo* exception) {
  const ImageInfoPtr info(AcquireImageInfo());
  if (!info || std::strlen(src) >= kFileNameBufferSize) return nullptr;
  (void)SetImageOption(info.get(), "jpeg:dct-method", "float");
  ConvertOutcome failure;
  return ReadInput(src, info.get(), exception, CurrentOtherFormats(), ConvertOptions{}, failure);
}

}  // namespace vimo::convert

void SetConvertOtherFormats(bool read, std::uint32_t background) {
  using namespace vimo::convert;
  g_otherFormats = (read ? kReadOtherFormats : 0) | (background & 0xFFFFFF);
}

bool IsConvertingOtherFormats() { return vimo::convert::CurrentOtherFormats().read; }

void SetViewingColours(bool managed, std::shared_future<std::vector<std::uint8_t>> monitorProfile) {
  using namespace vimo::convert;
  const std::lock_guard<std::mutex> lock(g_viewingLock);
  g_viewingManaged = managed;
  g_viewingProfile = std::move(monitorProfile);
  g_viewingTarget.reset();
  ++g_viewingChoice;
}

void SetViewingColours(bool managed, std::vector<std::uint8_t> monitorProfile) {
  std::promise<std::vector<std::uint8_t>> known;
  known.set_value(std::move(monitorProfile));
  SetViewingColours(managed, known.get_future().share());
}

std::string ImageFormatOf(std::FILE* file) {
  std::string format;
  std::rewind(file);
  vimo::convert::FormatFromContent(file, format, true);
  std::rewind(file);
  return format;
}

int ConvertImage(const char* src, const char* dst, int colours) {
  return ConvertImageEx(src, dst, colours).status == ConvertStatus::kWritten ? 1 : 0;
}

int ConvertForViewing(const char* src, const char* dst, int colours) {
  ConvertOptions options;
  options.colourTarget = vimo::convert::ViewingTarget();
  options.forViewing = true;
  return ConvertImageEx(src, dst, colours, options).status == ConvertStatus::kWritten ? 1 : 0;
}

std::shared_ptr<const std::vector<std::uint8_t>> ViewingColourTarget() { return vimo::convert::ViewingTarget(); }

bool WritesBmp(const char* dst) { return vimo::convert::IsBmpDestination(dst, nullptr); }

ConvertOutcome ConvertImageEx(const char* src, const char* dst, int colours, const ConvertOptions& options) {
  using namespace vimo::convert;
  const OtherFormats otherFormats = CurrentOtherFormats();
  // The converter's argument list: program slot, ["-colors", number,] source, destination.
  std::array<char, 16> number{};
  std::vector<const char*> args{""};
  if (colours != 0) {
    _itoa(colours, number.data(), 10);
    args.push_back("-colors");
    args.push_back(number.data());
  }
  args.push_back(src);
  args.push_back(dst);

  // A colour JPEG or a GIF is streamed by libjpeg or the GIF parser without the image library,
  // which starts only for what needs it (grey and CMYK JPEGs, colour reduction, other formats).
  if (colours == 0 && std::strlen(src) < kFileNameBufferSize && std::strlen(dst) < kFileNameBufferSize) {
    const std::optional<ConvertOutcome> streamed = TryStreaming(src, dst, nullptr, otherFormats, options);
    if (streamed) return *streamed;
  }
  EnsureImageLibrary();
  const ImageInfoPtr info(AcquireImageInfo());
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  if (!info || !exception) return {ConvertStatus::kNoImage};
  info->adjoin = MagickTrue;
  info->compression = RLECompression;
  info->dither = MagickTrue;
  (void)SetImageOption(info.get(), "jpeg:dct-method", "float");

  ImageListPtr list;
  ConvertOutcome failure{ConvertStatus::kNoImage};
  for (std::size_t i = 1; i + 1 < args.size(); ++i) {
    const char* entry = args[i];
    if (IsInputEntry(entry)) {
      if (std::strlen(entry) >= kFileNameBufferSize) continue;  // longer than a path may be
      Image* images = ReadInput(entry, info.get(), exception.get(), otherFormats, options, failure);
      if (images == nullptr) continue;
      ApplyOptions(args, i, images);
      Image* head = list.release();
      AppendImageToList(&head, images);
      list.reset(head);
      continue;
    }
    if (IsColorsOption(entry)) ++i;  // its value is not an input
  }
  if (!list) return failure;
  if (std::strlen(dst) >= kFileNameBufferSize) return {ConvertStatus::kWriteFailed, 0, 0, ENAMETOOLONG};
  return WriteOutput(dst, list.get(), exception.get());
}

std::string ContentFormatOf(std::FILE* file, bool otherFormats) {
  std::string format;
  vimo::convert::FormatFromContent(file, format, otherFormats);
  return format;
}
