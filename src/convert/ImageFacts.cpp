#include "convert/ImageFacts.h"

#include <cstdio>
#include <memory>

#include "convert/ConvertImage.h"
#include "convert/MagickLibrary.h"
#include "convert/PictureFormats.h"
#include "convert/ReadThroughLibrary.h"
#include "win32/Kernel.h"

namespace {

std::string ProfileBytes(const Image* image, const char* name) {
  const StringInfo* profile = GetImageProfile(image, name);
  if (profile == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(GetStringInfoDatum(profile)), GetStringInfoLength(profile));
}

}  // namespace

ImageFacts ReadImageFacts(const char* path) {
  using namespace vimo::convert;
  ImageFacts facts;
  // HEIF and AVIF, JPEG XL, WebP, animated PNG and RAW files by their own libraries.
  if (ReadPictureFacts(path, facts)) return facts;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  if (!file) return facts;
  const std::string format = ContentFormatOf(file.get(), true);
  if (format.empty()) return facts;
  EnsureImageLibrary();
  const ImageInfoPtr info(AcquireImageInfo());
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  if (!info || !exception) return facts;
  const ImageListPtr image(PingThroughLibrary(format.c_str(), file.get(), info.get(), exception.get()));
  if (!image) return facts;
  facts.format = format;
  if (const MagickInfo* magick = GetMagickInfo(format.c_str(), exception.get()); magick != nullptr && magick->description != nullptr)
    facts.description = magick->description;
  facts.width = image->columns;
  facts.height = image->rows;
  facts.exif = ProfileBytes(image.get(), "exif");
  // Some containers (PNG's eXIf chunk) hold the block without the header a JPEG's carries.
  if (!facts.exif.empty() && facts.exif.compare(0, 6, std::string("Exif\0\0", 6)) != 0)
    facts.exif.insert(0, std::string("Exif\0\0", 6));
  return facts;
}
