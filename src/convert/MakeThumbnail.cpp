#include "convert/MakeThumbnail.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/ConvertImage.h"
#include "convert/ExifBlock.h"
#include "convert/JpegDecoder.h"
#include "convert/MagickLibrary.h"
#include "convert/PictureFormats.h"
#include "convert/ReadThroughLibrary.h"

namespace vimo::convert {
namespace {

// A decode for a thumbnail may use this much memory: a progressive file holds its coefficients
// whole, a few bytes a pixel of the full image, however much the decode reduces it.
constexpr long kDecoderMemory = 256L << 20;
// Nor may its reduced picture be larger (a picture of a gigapixel, reduced to an eighth).
constexpr std::uint64_t kMostPixels = std::uint64_t{16} << 20;
// A file up to this size is read whole before it is decoded; a larger one is read as it goes.
constexpr std::uint64_t kMostReadWhole = 64 << 20;
// The camera's small picture stands in for the photo when its shape is the photo's, within this.
constexpr double kShapeTolerance = 0.02;

constexpr const char* kUnreadable = "not an image Vimo can read";
constexpr const char* kDamaged = "damaged or cut short";
constexpr const char* kTooLarge = "too large for a thumbnail";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// What one JPEG decode leaves behind. It lives in the caller's frame, so that a jump out of
// libjpeg leaves nothing in DecodeJpeg that would need destroying.
struct JpegPicture {
  UINT width = 0;  // of the picture decoded; of the whole image after a header-only read
  UINT height = 0;
  std::vector<BYTE> rgba;
  std::vector<JSAMPLE> cmykRow;
  bool tooLarge = false;
};

// The least a file of this image's size can hold: a bit for each 8 x 8 block of each component.
std::uint64_t LeastDataBytes(const jpeg_decompress_struct& info) {
  std::uint64_t blocks = 0;
  for (int i = 0; info.comp_info != nullptr && i < info.num_components; ++i)
    blocks += std::uint64_t{info.comp_info[i].width_in_blocks} * info.comp_info[i].height_in_blocks;
  return blocks / 8;
}

// One CMYK row (Adobe's files store the inks inverted) as RGBA.
void CmykToRgba(const JSAMPLE* cmyk, BYTE* rgba, UINT width, bool inverted) {
  for (UINT x = 0; x < width; ++x, cmyk += 4, rgba += 4) {
    const int k = inverted ? cmyk[3] : 255 - cmyk[3];
    for (int c = 0; c < 3; ++c) rgba[c] = static_cast<BYTE>((inverted ? cmyk[c] : 255 - cmyk[c]) * k / 255);
    rgba[3] = 255;
  }
}

// Every libjpeg call of one decode, under the recovery point set before the first of them (no
// object with a destructor lives in this frame). From file, or from size bytes at memory; reduced
// to the smallest eighth, quarter or half that still covers cx on the longer side, or, with
// headerOnly, only the image's size. False after a fatal error.
bool DecodeJpeg(CJpegDecoder& jpeg, std::FILE* file, const BYTE* memory, std::uint64_t size, UINT cx, bool headerOnly,
                JpegPicture& picture) {
  if (setjmp(jpeg.Recovery()) != 0) return false;
  jpeg_decompress_struct& info = jpeg.Info();
  jpeg_create_decompress(&info);
  jpeg.MarkCreated();
  info.progress = jpeg.Progress();
  if (file != nullptr) jpeg_stdio_src(&info, file);
  else jpeg_mem_src(&info, memory, static_cast<unsigned long>(size));
  (void)jpeg_read_header(&info, TRUE);
  if (headerOnly) {
    picture.width = info.image_width;
    picture.height = info.image_height;
    return true;
  }
  info.mem->max_memory_to_use = kDecoderMemory;
  const UINT longer = std::max(info.image_width, info.image_height);
  info.scale_num = 1;
  info.scale_denom = longer >= 8 * cx ? 8 : longer >= 4 * cx ? 4 : longer >= 2 * cx ? 2 : 1;
  info.dct_method = JDCT_IFAST;
  info.do_fancy_upsampling = FALSE;
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  jpeg_calc_output_dimensions(&info);
  // A file far too short for its size would decode to a grey picture of any size it names.
  if (size < LeastDataBytes(info)) return false;
  if (std::uint64_t{info.output_width} * info.output_height > kMostPixels) {
    picture.tooLarge = true;
    return false;
  }
  (void)jpeg_start_decompress(&info);
  picture.width = info.output_width;
  picture.height = info.output_height;
  picture.rgba.assign(std::size_t{picture.width} * picture.height * 4, 0);
  if (cmyk) picture.cmykRow.assign(std::size_t{picture.width} * 4, 0);
  while (info.output_scanline < info.output_height) {
    BYTE* target = picture.rgba.data() + std::size_t{info.output_scanline} * picture.width * 4;
    JSAMPROW row = cmyk ? picture.cmykRow.data() : target;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
    if (cmyk) CmykToRgba(picture.cmykRow.data(), target, picture.width, info.saw_Adobe_marker != FALSE);
  }
  return true;
}

void TakePicture(JpegPicture& picture, THUMBNAILPIXELS& pixels) {
  pixels.cx = picture.width;
  pixels.cy = picture.height;
  pixels.rgba = std::move(picture.rgba);
}

// The camera's small picture, when it covers cx and has the shape of the photo (some cameras pad
// it with black bars to their screen's shape).
bool TakeExifPicture(const CExifBlock& exif, std::FILE* file, UINT cx, THUMBNAILPIXELS& pixels) {
  std::size_t size = 0;
  const BYTE* data = exif.GetThumbnail(size);
  if (data == nullptr) return false;
  JpegPicture small;
  CJpegDecoder smallDecoder;
  if (!DecodeJpeg(smallDecoder, nullptr, data, size, cx, false, small) || std::max(small.width, small.height) < cx)
    return false;
  JpegPicture whole;
  CJpegDecoder wholeDecoder;
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  if (!DecodeJpeg(wholeDecoder, file, nullptr, 0, cx, true, whole) || whole.height == 0 || small.height == 0) return false;
  const double shape = static_cast<double>(whole.width) / whole.height;
  if (std::abs(static_cast<double>(small.width) / small.height - shape) > kShapeTolerance * shape) return false;
  TakePicture(small, pixels);
  return true;
}

std::uint64_t SizeOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long size = std::ftell(file);
  return std::fseek(file, 0, SEEK_SET) == 0 && size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

// FALSE with the reason set when libjpeg cannot decode the file: the library may still read it.
BOOL JpegThumbnail(const char* path, std::FILE* file, UINT cx, THUMBNAILPIXELS& pixels, CString& reason) {
  const CExifBlock exif(path);
  pixels.nOrientation = exif.GetOrientation();
  if (TakeExifPicture(exif, file, cx, pixels)) return TRUE;
  if (std::fseek(file, 0, SEEK_SET) != 0) return FALSE;
  // Decoded from memory where the file fits: libjpeg's quick path for the coded data needs a
  // good stretch of it at hand, which its file reader's small buffer seldom holds.
  const std::uint64_t size = SizeOf(file);
  std::vector<BYTE> bytes;
  if (size <= kMostReadWhole) {
    bytes.resize(static_cast<std::size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      bytes.clear();  // it changed under us: read it as it goes, from its start
      if (std::fseek(file, 0, SEEK_SET) != 0) return FALSE;
    }
  }
  JpegPicture picture;
  CJpegDecoder decoder;
  if (!DecodeJpeg(decoder, bytes.empty() ? file : nullptr, bytes.data(), size, cx, false, picture)) {
    reason = picture.tooLarge ? kTooLarge : kDamaged;
    return FALSE;
  }
  TakePicture(picture, pixels);
  return TRUE;
}

// The first image of the file through the image library, turned upright as its format records
// and reduced to cx on its longer side.
BOOL LibraryThumbnail(const char* path, std::FILE* file, bool bmp, UINT cx, THUMBNAILPIXELS& pixels, CString& reason) {
  EnsureImageLibrary();
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  const ImageInfoPtr info(AcquireImageInfo());
  if (!exception || !info) return FALSE;
  ImageListPtr images(bmp ? ReadThroughLibrary("BMP", file, info.get(), exception.get())
                          : ReadSourceImages(path, exception.get()));
  if (!images) {
    if (reason.IsEmpty()) reason = kUnreadable;
    return FALSE;
  }
  ImageListPtr upright;
  if (images->orientation > TopLeftOrientation) upright.reset(AutoOrientImage(images.get(), images->orientation, exception.get()));
  const Image* image = upright ? upright.get() : images.get();
  const double scale = std::min(1.0, static_cast<double>(cx) / std::max(image->columns, image->rows));
  const auto width = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(image->columns * scale)));
  const auto height = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(image->rows * scale)));
  ImageListPtr reduced(ThumbnailImage(image, width, height, exception.get()));
  if (!reduced) {
    reason = kTooLarge;
    return FALSE;
  }
  pixels.cx = static_cast<UINT>(reduced->columns);
  pixels.cy = static_cast<UINT>(reduced->rows);
  pixels.rgba.assign(std::size_t{pixels.cx} * pixels.cy * 4, 0);
  if (ExportImagePixels(reduced.get(), 0, 0, pixels.cx, pixels.cy, "RGBA", CharPixel, pixels.rgba.data(),
                        exception.get()) == MagickFalse) {
    reason = kUnreadable;
    return FALSE;
  }
  return TRUE;
}

}  // namespace
}  // namespace vimo::convert

BOOL MakeThumbnail(const char* path, UINT cx, THUMBNAILPIXELS& pixels, CString& reason) {
  using namespace vimo::convert;
  pixels = THUMBNAILPIXELS{};
  reason.Empty();
  errno = 0;
  const FilePtr file(vimo::platform::OpenRegularFile(path));
  if (!file) {
    reason = CString("cannot be opened (") + std::strerror(errno != 0 ? errno : EIO) + ")";
    return FALSE;
  }
  unsigned char head[3] = {};
  const std::size_t got = std::fread(head, 1, sizeof(head), file.get());
  const bool jpeg = got == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
  const bool bmp = got >= 2 && head[0] == 'B' && head[1] == 'M';
  try {
    if (jpeg && JpegThumbnail(path, file.get(), cx, pixels, reason)) return TRUE;
    // HEIF and AVIF, JPEG XL, WebP, animated PNG and RAW files through their own libraries.
    if (const PictureThumbnail made = MakePictureThumbnail(path, file.get(), cx, pixels, reason); made != PictureThumbnail::kOtherFormat)
      return made == PictureThumbnail::kMade ? TRUE : FALSE;
    pixels.nOrientation = 1;  // the library turns what it reads itself
    return LibraryThumbnail(path, file.get(), bmp, cx, pixels, reason);
  } catch (const std::bad_alloc&) {
    reason = kTooLarge;
    return FALSE;
  }
}
