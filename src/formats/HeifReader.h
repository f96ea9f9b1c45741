// HEIF (HEIC, HEVC-coded) and AVIF (AV1-coded) files through libheif: the primary image, its
// rotation, mirroring and cropping applied once (libheif's), grids of tiles put together,
// 10- and 12-bit images brought to 8 bits; its ICC profile, or a profile made of its nclx colour
// description; its EXIF block; the thumbnail it carries.
#pragma once

#include <memory>

#include "convert/PictureReader.h"

struct heif_context;
struct heif_image_handle;

namespace vimo::convert {

class CHeifReader : public CPictureReader {
 public:
  CHeifReader();
  ~CHeifReader() override;

  ConvertOutcome Open(std::FILE* file) override;
  void Describe(ImageFacts& facts) override;
  IccBytes Profile() override;
  ConvertOutcome Decode(CPictureSink& sink) override;
  // The largest thumbnail the file carries, when its longer side is at least cx and it has the
  // primary image's shape; the primary image otherwise.
  ConvertOutcome DecodeForThumbnail(CPictureSink& sink, unsigned cx) override;

 private:
  struct ContextFree {
    void operator()(heif_context* context) const;
  };
  struct HandleRelease {
    void operator()(heif_image_handle* handle) const;
  };
  using HandlePtr = std::unique_ptr<heif_image_handle, HandleRelease>;
  ConvertOutcome DecodeImage(const heif_image_handle* handle, CPictureSink& sink);

  std::FILE* m_file = nullptr;  // the caller's
  std::unique_ptr<heif_context, ContextFree> m_context;
  HandlePtr m_primary;
};

}  // namespace vimo::convert
