// The entry of the module of the format libraries (convert/FormatModule.h).
#include "convert/FormatModule.h"

#include <atomic>

#include "convert/PictureLimits.h"
#include "convert/RawReader.h"
#include "formats/HeifReader.h"
#include "formats/JxlReader.h"
#include "formats/WebpReader.h"

namespace vimo::convert {

std::unique_ptr<CRawReader> CreateLibRawReader();

namespace {

std::atomic<CheckPictureSizeCall> g_checkPictureSize{nullptr};

CPictureReader* CreatePicture(ImageReader reader) {
  switch (reader) {
    case ImageReader::kHeif:
      return new CHeifReader();
    case ImageReader::kJxl:
      return new CJxlReader();
    case ImageReader::kWebp:
      return new CWebpReader();
    default:
      return nullptr;
  }
}

CRawReader* CreateRaw() { return CreateLibRawReader().release(); }

constexpr FormatModule kModule{kFormatModuleVersion, &CreatePicture, &CreateRaw};

}  // namespace

ConvertOutcome CheckPictureSize(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel) {
  const CheckPictureSizeCall check = g_checkPictureSize.load();
  if (check == nullptr) return {ConvertStatus::kPictureMemory, 0, 0, 0, "no picture limits"};
  return check(width, height, bytesPerPixel);
}

}  // namespace vimo::convert

extern "C" __attribute__((visibility("default"))) const vimo::convert::FormatModule* vimo_format_module(
    unsigned version, vimo::convert::CheckPictureSizeCall check) {
  if (version != vimo::convert::kFormatModuleVersion || check == nullptr) return nullptr;
  vimo::convert::g_checkPictureSize.store(check);
  return &vimo::convert::kModule;
}
