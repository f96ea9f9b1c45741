#include "convert/ScaledCopy.h"

#include <cstring>
#include <new>

#include "convert/ConvertImage.h"
#include "convert/MagickLibrary.h"

namespace vimo::convert {
namespace {

struct BlobRelease {
  void operator()(void* blob) const { RelinquishMagickMemory(blob); }
};
struct StringInfoRelease {
  void operator()(StringInfo* info) const { DestroyStringInfo(info); }
};

// The picture turned as a photo's EXIF orientation says; null when the library fails.
Image* Turned(const Image* image, int orientation, ExceptionInfo* exception) {
  switch (orientation) {
    case 2: return FlopImage(image, exception);
    case 3: return RotateImage(image, 180, exception);
    case 4: return FlipImage(image, exception);
    case 5: return TransposeImage(image, exception);
    case 6: return RotateImage(image, 90, exception);
    case 7: return TransverseImage(image, exception);
    case 8: return RotateImage(image, 270, exception);
    default: return CloneImage(image, 0, 0, MagickTrue, exception);
  }
}

bool Replace(ImageListPtr& image, Image* made, std::string& reason, const char* what) {
  if (made == nullptr) {
    reason = std::string("cannot ") + what + " the picture, out of memory";
    return false;
  }
  image.reset(made);
  return true;
}

bool Encode(const char* src, const ScaledCopyRequest& request, std::string& bytes, std::string& reason) {
  EnsureImageLibrary();
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  ImageListPtr images(ReadSourceImages(src, exception.get()));
  if (!images) {
    reason = "cannot read the picture";
    return false;
  }
  ImageListPtr image;
  if (!Replace(image, Turned(images.get(), request.orientation, exception.get()), reason, "turn")) return false;
  images.reset();
  if (request.width > 0 && request.height > 0) {
    if (request.left < 0 || request.top < 0 || static_cast<std::size_t>(request.left) + request.width > image->columns ||
        static_cast<std::size_t>(request.top) + request.height > image->rows) {
      reason = "the part to copy lies outside the picture";
      return false;
    }
    const RectangleInfo part{static_cast<std::size_t>(request.width), static_cast<std::size_t>(request.height), request.left,
                             request.top};
    if (!Replace(image, CropImage(image.get(), &part, exception.get()), reason, "cut")) return false;
  }
  image->page = RectangleInfo{};  // no offset written into the copy (PNG's oFFs)
  if (request.outWidth == 0 || request.outHeight == 0) {
    reason = "the copy has no pixels";
    return false;
  }
  if (request.outWidth != image->columns || request.outHeight != image->rows) {
    if (!Replace(image, ResizeImage(image.get(), request.outWidth, request.outHeight, LanczosFilter, 1.0, exception.get()), reason,
                 "scale"))
      return false;
  }
  image->orientation = TopLeftOrientation;
  (void)DeleteImageProfile(image.get(), "exif");
  if (!request.exif.empty()) {
    const std::unique_ptr<StringInfo, StringInfoRelease> exif(AcquireStringInfo(request.exif.size()));
    std::memcpy(GetStringInfoDatum(exif.get()), request.exif.data(), request.exif.size());
    (void)SetImageProfile(image.get(), "exif", exif.get());
  }
  const ImageInfoPtr info(AcquireImageInfo());
  (void)CopyMagickString(info->magick, request.format.c_str(), MaxTextExtent);
  (void)CopyMagickString(image->magick, request.format.c_str(), MaxTextExtent);
  info->quality = request.quality;
  image->quality = request.quality;
  std::size_t length = 0;
  const std::unique_ptr<void, BlobRelease> blob(ImageToBlob(info.get(), image.get(), &length, exception.get()));
  if (!blob || length == 0) {
    reason = "cannot encode the copy as " + request.format;
    return false;
  }
  bytes.assign(static_cast<const char*>(blob.get()), length);
  return true;
}

}  // namespace

bool EncodeScaledCopy(const char* src, const ScaledCopyRequest& request, std::string& bytes, std::string& reason) {
  bytes.clear();
  try {
    return Encode(src, request, bytes, reason);
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
    return false;
  }
}

}  // namespace vimo::convert
