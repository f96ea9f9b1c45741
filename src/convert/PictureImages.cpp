#include "convert/PictureImages.h"

#include <string>

namespace vimo::convert {
namespace {

// The library refuses a picture beyond its policy's limits (its width and height among them) or
// when memory runs out.
ConvertOutcome Refused(const PictureRows& rows) {
  return {ConvertStatus::kUndecodable, 0, 0, 0,
          "the image library's limits refuse its " + std::to_string(rows.width) + " x " + std::to_string(rows.height) + " picture"};
}

}  // namespace

CPictureImages::CPictureImages(const ImageInfo* info, bool firstOnly) : m_pInfo(info), m_bFirstOnly(firstOnly) {}

ConvertOutcome CPictureImages::Begin(const PictureInfo& info) {
  m_info = info;
  return {ConvertStatus::kWritten};
}

ConvertOutcome CPictureImages::Add(const PictureRows& rows, int /*delayMs*/) {
  if (!WantsMore()) return {ConvertStatus::kWritten};
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  ImageListPtr image(AcquireImage(m_pInfo));
  if (!exception || !image ||
      SetImageExtent(image.get(), static_cast<std::size_t>(rows.width), static_cast<std::size_t>(rows.height)) == MagickFalse)
    return Refused(rows);
  const char* map = rows.order == PixelOrder::kRgb ? "RGB" : rows.order == PixelOrder::kRgba ? "RGBA" : "BGRA";
  image->matte = rows.HasAlpha() ? MagickTrue : MagickFalse;
  for (int y = 0; y < rows.height; ++y) {
    if (ImportImagePixels(image.get(), 0, y, static_cast<std::size_t>(rows.width), 1, map, CharPixel, rows.Row(y)) == MagickFalse)
      return Refused(rows);
  }
  if (!m_info.profile.empty()) {
    StringInfo* profile = AcquireStringInfo(m_info.profile.size());
    SetStringInfoDatum(profile, m_info.profile.data());
    (void)SetImageProfile(image.get(), "icc", profile);
    profile = DestroyStringInfo(profile);
  }
  // The list may hold only what the library may keep.
  if (!m_images.Append(std::move(image))) return Refused(rows);
  return {ConvertStatus::kWritten};
}

}  // namespace vimo::convert
