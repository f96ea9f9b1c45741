// The pictures a reader hands over (CPictureSink) as the image library's images, for what needs
// the library's own: a colour reduction, a conversion not for viewing of an animation (each
// canvas an image), a thumbnail.
#pragma once

#include "convert/MagickLibrary.h"
#include "convert/PictureSink.h"

namespace vimo::convert {

class CPictureImages : public CPictureSink {
 public:
  // With firstOnly, only the first picture is taken. The image library must be started.
  CPictureImages(const ImageInfo* info, bool firstOnly);

  ConvertOutcome Begin(const PictureInfo& info) override;
  // The picture as an RGB image (with alpha when it carries some), tagged with the pictures'
  // ICC profile.
  ConvertOutcome Add(const PictureRows& rows, int delayMs) override;
  bool WantsMore() const override { return !m_bFirstOnly || m_images.Empty(); }
  // The images taken, now the caller's; nullptr when none.
  Image* Release() { return m_images.Release(); }

 private:
  const ImageInfo* m_pInfo;
  bool m_bFirstOnly;
  PictureInfo m_info;
  ImageListBuilder m_images;
};

}  // namespace vimo::convert
