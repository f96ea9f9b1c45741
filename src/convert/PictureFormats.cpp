#include "convert/PictureFormats.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>

#include "convert/ApngReader.h"
#include "convert/JpegStream.h"
#include "convert/PictureImages.h"
#include "convert/PictureReader.h"
#include "convert/PictureWriter.h"
#include "convert/RawReader.h"
#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The preview of a RAW file, in raw's buffer; kWritten, or why there is none.
ConvertOutcome ReadRawPreview(std::FILE* file, CRawReader& raw, std::string_view& jpeg) {
  const ConvertOutcome opened = raw.Open(file);
  if (opened.status != ConvertStatus::kWritten) return opened;
  return raw.ReadPreview(jpeg);
}

// The JPEG bytes as the image library's image; with cx, decoded reduced to at least cx.
Image* ReadJpegBytes(std::string_view jpeg, const ImageInfo* info, UINT cx, ConvertOutcome& failure) {
  EnsureImageLibrary();
  const ImageInfoPtr readInfo(CloneImageInfo(info));
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  if (!readInfo || !exception) return nullptr;
  (void)CopyMagickString(readInfo->magick, "JPEG", MaxTextExtent);
  (void)CopyMagickString(readInfo->filename, "JPEG:preview", MaxTextExtent);
  if (cx > 0) {
    const std::string size = std::to_string(cx) + "x" + std::to_string(cx);
    (void)SetImageOption(readInfo.get(), "jpeg:size", size.c_str());
  }
  Image* image = BlobToImage(readInfo.get(), jpeg.data(), jpeg.size(), exception.get());
  if (image == nullptr) failure = picture::Undecodable("its JPEG preview cannot be decoded");
  return image;
}

std::string ThumbnailReason(const ConvertOutcome& outcome) {
  switch (outcome.status) {
    case ConvertStatus::kTooManyPixels:
    case ConvertStatus::kPictureMemory:
      return "too large for a thumbnail";
    case ConvertStatus::kUndecodable:
      return outcome.reason;
    default:
      return "not an image Vimo can read";
  }
}

// The image reduced to cx on its longer side, as the thumbnail's RGBA pixels.
bool ReducedPixels(const Image* image, UINT cx, THUMBNAILPIXELS& pixels) {
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  if (!exception) return false;
  const double scale = std::min(1.0, static_cast<double>(cx) / std::max(image->columns, image->rows));
  const auto width = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(image->columns * scale)));
  const auto height = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(image->rows * scale)));
  const ImageListPtr reduced(ThumbnailImage(image, width, height, exception.get()));
  if (!reduced) return false;
  pixels.cx = static_cast<UINT>(reduced->columns);
  pixels.cy = static_cast<UINT>(reduced->rows);
  pixels.rgba.assign(std::size_t{pixels.cx} * pixels.cy * 4, 0);
  return ExportImagePixels(reduced.get(), 0, 0, pixels.cx, pixels.cy, "RGBA", CharPixel, pixels.rgba.data(), exception.get()) !=
         MagickFalse;
}

}  // namespace

bool IsPictureReader(ImageReader reader) {
  return reader == ImageReader::kHeif || reader == ImageReader::kJxl || reader == ImageReader::kWebp ||
         reader == ImageReader::kPng || reader == ImageReader::kRaw;
}

bool IsAnimatedPng(std::FILE* file) { return CApngReader::IsAnimated(file); }

bool HasPngChunkPastTheEnd(std::FILE* file) { return CApngReader::HasChunkPastTheEnd(file); }

std::optional<ConvertOutcome> StreamPictureToBmp(ImageReader reader, std::FILE* file, const char* destination,
                                                 const ConvertOptions& options, std::uint32_t background) {
  if (reader == ImageReader::kRaw) {
    const std::unique_ptr<CRawReader> raw = CRawReader::Create();
    std::string_view jpeg;
    const ConvertOutcome preview = ReadRawPreview(file, *raw, jpeg);
    if (preview.status != ConvertStatus::kWritten) return preview;
    // A grey or CMYK preview (seldom) takes the general path, as such a JPEG does.
    return StreamJpegBytesToBmp(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), destination,
                                options.colourTarget.get());
  }
  if (reader == ImageReader::kPng && !IsAnimatedPng(file)) return std::nullopt;
  const std::unique_ptr<CPictureReader> pictures = CPictureReader::Create(reader);
  if (!pictures) return std::nullopt;
  const ConvertOutcome opened = pictures->Open(file);
  if (opened.status != ConvertStatus::kWritten) return opened;
  CPictureWriter writer(destination, options, background);
  const ConvertOutcome decoded = pictures->Decode(writer);
  if (writer.Declined()) return std::nullopt;
  // An animation that breaks off keeps the canvases before the break, as a GIF's frames do.
  if (decoded.status != ConvertStatus::kWritten && !(decoded.status == ConvertStatus::kUndecodable && writer.HasFrames()))
    return decoded;
  return writer.Finish();
}

Image* ReadPictureImages(ImageReader reader, std::FILE* file, const ImageInfo* info, ConvertOutcome& failure) {
  if (reader == ImageReader::kRaw) {
    const std::unique_ptr<CRawReader> raw = CRawReader::Create();
    std::string_view jpeg;
    failure = ReadRawPreview(file, *raw, jpeg);
    return failure.status == ConvertStatus::kWritten ? ReadJpegBytes(jpeg, info, 0, failure) : nullptr;
  }
  const std::unique_ptr<CPictureReader> pictures = CPictureReader::Create(reader);
  if (!pictures) return nullptr;
  const ConvertOutcome opened = pictures->Open(file);
  if (opened.status != ConvertStatus::kWritten) {
    failure = opened;
    return nullptr;
  }
  CPictureImages images(info, false);
  const ConvertOutcome decoded = pictures->Decode(images);
  Image* list = images.Release();
  if (list == nullptr && decoded.status != ConvertStatus::kWritten) failure = decoded;
  return list;
}

ImageReader PictureReaderOfFile(const char* path, std::FILE* file) {
  std::string format;
  return PictureReaderOfFile(path, file, format);
}

ImageReader PictureReaderOfFile(const char* path, std::FILE* file, std::string& format) {
  std::rewind(file);
  format = FormatOfFile(ContentFormatOf(file, true), path);
  std::rewind(file);
  const ImageReader reader = ImageReaderOfFormat(format, true);
  if (!IsPictureReader(reader) || (reader == ImageReader::kPng && !IsAnimatedPng(file))) return ImageReader::kNone;
  return reader;
}

bool ReadPictureFacts(const char* path, ImageFacts& facts, ImageReader* pReader) {
  const FilePtr file(vimo::platform::OpenRegularFile(path));
  std::string format;
  const ImageReader reader = file ? PictureReaderOfFile(path, file.get(), format) : ImageReader::kNone;
  if (pReader != nullptr) *pReader = reader;
  if (reader == ImageReader::kNone) return false;
  if (reader == ImageReader::kRaw) {
    const std::unique_ptr<CRawReader> raw = CRawReader::Create();
    if (raw->Open(file.get()).status != ConvertStatus::kWritten) return true;
    facts.format = format;
    raw->Describe(facts);
    return true;
  }
  const std::unique_ptr<CPictureReader> pictures = CPictureReader::Create(reader);
  if (pictures && pictures->Open(file.get()).status == ConvertStatus::kWritten) pictures->Describe(facts);
  return true;
}

IccBytes ReadPictureProfile(const char* path) {
  const FilePtr file(vimo::platform::OpenRegularFile(path));
  const ImageReader reader = file ? PictureReaderOfFile(path, file.get()) : ImageReader::kNone;
  if (reader == ImageReader::kRaw) {
    const std::unique_ptr<CRawReader> raw = CRawReader::Create();
    std::string_view jpeg;
    if (ReadRawPreview(file.get(), *raw, jpeg).status != ConvertStatus::kWritten) return {};
    return ReadJpegBytesProfile(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size());
  }
  const std::unique_ptr<CPictureReader> pictures = CPictureReader::Create(reader);
  if (!pictures || pictures->Open(file.get()).status != ConvertStatus::kWritten) return {};
  return pictures->Profile();
}

std::string ReadPictureExif(const char* path, bool& turnedByExif) {
  ImageFacts facts;
  ImageReader reader = ImageReader::kNone;
  (void)ReadPictureFacts(path, facts, &reader);
  turnedByExif = reader == ImageReader::kRaw;
  return facts.exif;
}

int ReadPictureOrientation(const char* path) {
  const FilePtr file(vimo::platform::OpenRegularFile(path));
  const ImageReader reader = file ? PictureReaderOfFile(path, file.get()) : ImageReader::kNone;
  if (reader != ImageReader::kRaw) return reader == ImageReader::kNone ? 0 : 1;
  const std::unique_ptr<CRawReader> raw = CRawReader::Create();
  return raw->Open(file.get()).status == ConvertStatus::kWritten ? raw->GetOrientation() : 1;
}

PictureThumbnail MakePictureThumbnail(const char* path, std::FILE* file, UINT cx, THUMBNAILPIXELS& pixels, CString& reason) {
  const ImageReader reader = PictureReaderOfFile(path, file);
  if (reader == ImageReader::kNone) return PictureThumbnail::kOtherFormat;
  EnsureImageLibrary();
  const ImageInfoPtr info(AcquireImageInfo());
  if (!info) return PictureThumbnail::kNone;
  ConvertOutcome failure{ConvertStatus::kNoImage};
  ImageListPtr image;
  pixels.nOrientation = 1;
  if (reader == ImageReader::kRaw) {
    const std::unique_ptr<CRawReader> raw = CRawReader::Create();
    std::string_view jpeg;
    failure = ReadRawPreview(file, *raw, jpeg);
    if (failure.status == ConvertStatus::kWritten) {
      image.reset(ReadJpegBytes(jpeg, info.get(), cx, failure));
      pixels.nOrientation = raw->GetOrientation();
    }
  } else {
    const std::unique_ptr<CPictureReader> pictures = CPictureReader::Create(reader);
    failure = pictures->Open(file);
    CPictureImages images(info.get(), true);
    if (failure.status == ConvertStatus::kWritten) failure = pictures->DecodeForThumbnail(images, cx);
    image.reset(images.Release());
  }
  if (image && ReducedPixels(image.get(), cx, pixels)) return PictureThumbnail::kMade;
  reason = ThumbnailReason(failure).c_str();
  return PictureThumbnail::kNone;
}

}  // namespace vimo::convert
