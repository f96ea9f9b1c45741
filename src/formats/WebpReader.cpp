#include "formats/WebpReader.h"

#include <webp/demux.h>

#include "convert/PictureLimits.h"

namespace vimo::convert {
namespace {

// The largest file read: a WebP's chunks are at most 4 GiB, a picture far less.
constexpr std::uint64_t kLargestFile = std::uint64_t{1} << 30;
// Bytes per pixel while an animation is decoded: the decoder's canvas and the one before it, the
// frame it decodes, and what the writer holds of each canvas.
constexpr std::uint64_t kDecodingBytesPerPixel = 4 + 4 + 4 + 8;

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

}  // namespace

void CWebpReader::DemuxDelete::operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }

CWebpReader::CWebpReader() = default;
CWebpReader::~CWebpReader() = default;

ConvertOutcome CWebpReader::Open(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_SET) != 0 || !picture::ReadRest(file, kLargestFile, m_bytes))
    return picture::Undecodable("it cannot be read whole (a WebP file here is at most 1 GiB)");
  const WebPData data = {reinterpret_cast<const std::uint8_t*>(m_bytes.data()), m_bytes.size()};
  m_demux.reset(WebPDemux(&data));
  if (!m_demux) return picture::Undecodable("not a whole WebP file (damaged or cut short)");
  return CheckPictureSize(WebPDemuxGetI(m_demux.get(), WEBP_FF_CANVAS_WIDTH), WebPDemuxGetI(m_demux.get(), WEBP_FF_CANVAS_HEIGHT),
                          kDecodingBytesPerPixel);
}

std::string CWebpReader::Chunk(const char* fourcc) const {
  WebPChunkIterator chunk;
  if (!WebPDemuxGetChunk(m_demux.get(), fourcc, 1, &chunk)) return {};
  std::string bytes(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
  WebPDemuxReleaseChunkIterator(&chunk);
  return bytes;
}

void CWebpReader::Describe(ImageFacts& facts) {
  const bool animated = (WebPDemuxGetI(m_demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) != 0;
  facts.format = "WEBP";
  facts.description = animated ? "WebP animation" : "WebP";
  facts.width = WebPDemuxGetI(m_demux.get(), WEBP_FF_CANVAS_WIDTH);
  facts.height = WebPDemuxGetI(m_demux.get(), WEBP_FF_CANVAS_HEIGHT);
  const std::string exif = Chunk("EXIF");
  facts.exif = picture::ExifBlockOf(reinterpret_cast<const std::uint8_t*>(exif.data()), exif.size());
}

IccBytes CWebpReader::Profile() {
  const std::string icc = Chunk("ICCP");
  return IccBytes(icc.begin(), icc.end());
}

ConvertOutcome CWebpReader::Decode(CPictureSink& sink) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return picture::Undecodable("libwebp's animation decoder is of another version");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data = {reinterpret_cast<const std::uint8_t*>(m_bytes.data()), m_bytes.size()};
  const std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(WebPAnimDecoderNew(&data, &options));
  WebPAnimInfo anim;
  if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &anim)) return picture::Undecodable("its frames cannot be decoded");
  PictureInfo info;
  info.width = static_cast<int>(anim.canvas_width);
  info.height = static_cast<int>(anim.canvas_height);
  info.animated = anim.frame_count > 1;
  // The file counts plays, 0 for ever.
  info.loopCount = anim.loop_count == 0 ? 0 : anim.loop_count == 1 ? -1 : static_cast<int>(anim.loop_count) - 1;
  info.alpha = info.animated || (WebPDemuxGetI(m_demux.get(), WEBP_FF_FORMAT_FLAGS) & ALPHA_FLAG) != 0;
  info.profile = Profile();
  const ConvertOutcome begun = sink.Begin(info);
  int before = 0;
  while (begun.status == ConvertStatus::kWritten && sink.WantsMore() && WebPAnimDecoderHasMoreFrames(decoder.get())) {
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;  // when the frame's time ends
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp)) return picture::Undecodable("a frame cannot be decoded");
    PictureRows rows;
    rows.width = info.width;
    rows.height = info.height;
    rows.pixels = canvas;
    rows.stride = static_cast<std::size_t>(info.width) * 4;
    rows.order = PixelOrder::kBgra;
    const ConvertOutcome added = sink.Add(rows, timestamp - before);
    if (added.status != ConvertStatus::kWritten) return added;
    before = timestamp;
  }
  return begun;
}

}  // namespace vimo::convert
