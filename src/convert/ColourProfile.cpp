#include "convert/ColourProfile.h"

#include <lcms2.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "convert/ConvertImage.h"
#include "convert/JpegStream.h"
#include "convert/MagickLibrary.h"
#include "convert/PictureFormats.h"
#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

ProfilePtr Open(const IccBytes& profile) {
  if (profile.empty() || profile.size() > UINT32_MAX) return nullptr;
  return ProfilePtr(cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
}

// The profile the image library finds in the file's header, read by its reader named format.
IccBytes PingProfile(const char* format, std::FILE* file) {
  EnsureImageLibrary();
  const ImageInfoPtr info(AcquireImageInfo());
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  if (!info || !exception) return {};
  info->file = file;  // the library reads from it and leaves closing it to the owner
  (void)std::snprintf(info->filename, MaxTextExtent, "%s:source", format);
  const ImageListPtr images(PingImage(info.get(), exception.get()));
  const StringInfo* icc = images ? GetImageProfile(images.get(), "icc") : nullptr;
  if (icc == nullptr) return {};
  return IccBytes(GetStringInfoDatum(icc), GetStringInfoDatum(icc) + GetStringInfoLength(icc));
}

}  // namespace

IccBytes ReadEmbeddedProfile(const char* path) {
  const std::unique_ptr<std::FILE, FileCloser> file(vimo::platform::OpenRegularFile(path));
  if (!file) return {};
  if (PictureReaderOfFile(path, file.get()) != ImageReader::kNone) return ReadPictureProfile(path);
  const std::string format = ImageFormatOf(file.get());
  if (format == "JPEG") return ReadJpegProfile(file.get());
  for (const char* other : {"PNG", "TIFF"}) {
    if (format == other) return PingProfile(other, file.get());
  }
  return {};
}

std::string DescribeProfile(const IccBytes& profile) {
  const ProfilePtr opened = Open(profile);
  if (!opened) return {};
  std::vector<char> text(cmsGetProfileInfoASCII(opened.get(), cmsInfoDescription, "en", "US", nullptr, 0) + 1, '\0');
  (void)cmsGetProfileInfoASCII(opened.get(), cmsInfoDescription, "en", "US", text.data(), static_cast<cmsUInt32Number>(text.size()));
  return text.data();
}

bool IsRgbTargetProfile(const IccBytes& profile) {
  const ProfilePtr opened = Open(profile);
  return opened && cmsGetColorSpace(opened.get()) == cmsSigRgbData &&
         cmsIsIntentSupported(opened.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT);
}

}  // namespace vimo::convert
