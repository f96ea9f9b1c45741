// WebP files through libwebp's demux and animation decoder: a still picture, or each canvas of
// an animation blended and disposed as browsers play it (its background colour ignored, as they
// ignore it), with each frame's time; the ICCP and EXIF chunks.
#pragma once

#include <memory>
#include <string>

#include "convert/PictureReader.h"

struct WebPDemuxer;

namespace vimo::convert {

class CWebpReader : public CPictureReader {
 public:
  CWebpReader();
  ~CWebpReader() override;

  // Reads the whole file: the animation decoder takes it in one piece.
  ConvertOutcome Open(std::FILE* file) override;
  void Describe(ImageFacts& facts) override;
  IccBytes Profile() override;
  ConvertOutcome Decode(CPictureSink& sink) override;

 private:
  struct DemuxDelete {
    void operator()(WebPDemuxer* demux) const;
  };
  std::string Chunk(const char* fourcc) const;

  std::string m_bytes;
  std::unique_ptr<WebPDemuxer, DemuxDelete> m_demux;  // over m_bytes
};

}  // namespace vimo::convert
