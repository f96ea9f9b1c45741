#include "formats/JxlReader.h"

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "convert/PictureLimits.h"

namespace vimo::convert {
namespace {

constexpr std::size_t kReadBlock = 1 << 20;

// Bytes per pixel while a picture is decoded: the decoder's own planes (floats), the 8-bit
// result, and what the writer holds of a picture with alpha or of an animation.
std::uint64_t DecodingBytesPerPixel(bool alphaOrAnimated) { return 12 + 4 + (alphaOrAnimated ? 8 : 0); }

struct DecoderDestroy {
  void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDestroy {
  void operator()(void* runner) const { JxlResizableParallelRunnerDestroy(runner); }
};

// Feeds a decoder the file block by block, keeping what it has not taken yet.
class CInput {
 public:
  explicit CInput(std::FILE* file) : m_file(file) {}
  // Hands the decoder more of the file; false when there is no more (the input is closed then,
  // once, so that the decoder can tell a file cut short).
  bool More(JxlDecoder* decoder) {
    const std::size_t kept = m_size == 0 ? 0 : JxlDecoderReleaseInput(decoder);
    if (kept > 0) std::memmove(m_buffer.data(), m_buffer.data() + (m_size - kept), kept);
    m_size = kept;
    if (m_buffer.size() < m_size + kReadBlock) m_buffer.resize(m_size + kReadBlock);
    const std::size_t got = std::fread(m_buffer.data() + m_size, 1, kReadBlock, m_file);
    m_size += got;
    if (got == 0 && m_bClosed) return false;
    if (JxlDecoderSetInput(decoder, m_buffer.data(), m_size) != JXL_DEC_SUCCESS) return false;
    if (got == 0) {
      m_bClosed = true;
      JxlDecoderCloseInput(decoder);
    }
    return true;
  }

 private:
  std::FILE* m_file;
  std::vector<std::uint8_t> m_buffer;
  std::size_t m_size = 0;
  bool m_bClosed = false;
};

}  // namespace

ConvertOutcome CJxlReader::Run(int events, bool decompressBoxes, const EventHandler& handle) {
  if (std::fseek(m_file, 0, SEEK_SET) != 0) return picture::Undecodable("it cannot be read");
  const std::unique_ptr<JxlDecoder, DecoderDestroy> decoder(JxlDecoderCreate(nullptr));
  const std::unique_ptr<void, RunnerDestroy> runner(JxlResizableParallelRunnerCreate(nullptr));
  if (!decoder || !runner || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
      JxlDecoderSetParallelRunner(decoder.get(), JxlResizableParallelRunner, runner.get()) != JXL_DEC_SUCCESS)
    return picture::Undecodable("out of memory");
  (void)JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE);
  if (decompressBoxes) (void)JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE);
  CInput input(m_file);
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
    if (status == JXL_DEC_SUCCESS) {
      bool stop = true;
      (void)handle(decoder.get(), status, stop);  // the last box ends here
      return {ConvertStatus::kWritten};
    }
    if (status == JXL_DEC_ERROR) return picture::Undecodable("the JPEG XL decoder finds it damaged");
    if (status == JXL_DEC_NEED_MORE_INPUT) {
      if (!input.More(decoder.get())) return picture::Undecodable("cut short");
      continue;
    }
    if (status == JXL_DEC_BASIC_INFO) {
      JxlBasicInfo info;
      if (JxlDecoderGetBasicInfo(decoder.get(), &info) == JXL_DEC_SUCCESS)
        JxlResizableParallelRunnerSetThreads(runner.get(), JxlResizableParallelRunnerSuggestThreads(info.xsize, info.ysize));
    }
    bool stop = false;
    const ConvertOutcome handled = handle(decoder.get(), status, stop);
    if (handled.status != ConvertStatus::kWritten || stop) return handled;
  }
}

ConvertOutcome CJxlReader::ChooseColours(JxlDecoder* decoder) {
  JxlBasicInfo info;
  if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS) return picture::Undecodable("no picture header");
  // Pixels kept in the decoder's own colour space (lossy files) may be decoded into any space:
  // the original one where the file names it, sRGB where it gives only an ICC profile.
  if (info.uses_original_profile == JXL_FALSE) {
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &encoding) != JXL_DEC_SUCCESS)
      JxlColorEncodingSetToSRGB(&encoding, info.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
    (void)JxlDecoderSetPreferredColorProfile(decoder, &encoding);
  }
  std::size_t size = 0;
  m_profile.clear();
  if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) == JXL_DEC_SUCCESS && size > 0) {
    m_profile.resize(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, m_profile.data(), size) != JXL_DEC_SUCCESS)
      m_profile.clear();
  }
  return {ConvertStatus::kWritten};
}

ConvertOutcome CJxlReader::Open(std::FILE* file) {
  m_file = file;
  return Run(JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING, false, [this](JxlDecoder* decoder, int event, bool& stop) {
    if (event == JXL_DEC_COLOR_ENCODING) {
      stop = true;
      return ChooseColours(decoder);
    }
    JxlBasicInfo info;
    if (event != JXL_DEC_BASIC_INFO || JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS)
      return ConvertOutcome{ConvertStatus::kWritten};
    const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;  // 5 to 8 turn a quarter
    m_width = static_cast<int>(std::min<std::uint32_t>(turned ? info.ysize : info.xsize, INT32_MAX));
    m_height = static_cast<int>(std::min<std::uint32_t>(turned ? info.xsize : info.ysize, INT32_MAX));
    m_bAlpha = info.alpha_bits > 0;
    m_bAnimated = info.have_animation == JXL_TRUE;
    // The file counts plays, 0 for ever.
    const std::uint32_t loops = info.animation.num_loops;
    m_loopCount = loops == 0 ? 0 : loops == 1 ? -1 : static_cast<int>(std::min<std::uint32_t>(loops - 1, INT32_MAX));
    m_msPerTick = info.animation.tps_numerator == 0 ? 0 : 1000.0 * info.animation.tps_denominator / info.animation.tps_numerator;
    return CheckPictureSize(static_cast<std::uint64_t>(m_width), static_cast<std::uint64_t>(m_height),
                            DecodingBytesPerPixel(m_bAlpha || m_bAnimated));
  });
}

void CJxlReader::Describe(ImageFacts& facts) {
  facts.format = "JXL";
  facts.description = m_bAnimated ? "JPEG XL animation" : "JPEG XL";
  facts.width = static_cast<unsigned long>(m_width);
  facts.height = static_cast<unsigned long>(m_height);
  // A bare codestream has no boxes.
  std::uint8_t head[2] = {};
  if (std::fseek(m_file, 0, SEEK_SET) != 0 || std::fread(head, 1, 2, m_file) != 2 || (head[0] == 0xFF && head[1] == 0x0A)) return;
  std::vector<std::uint8_t> box;
  bool exif = false;
  // The EXIF box holds the TIFF header's offset after its first four bytes, then the block.
  (void)Run(JXL_DEC_BOX, true, [&](JxlDecoder* decoder, int event, bool& stop) {
    if (exif && (event == JXL_DEC_BOX || event == JXL_DEC_BOX_NEED_MORE_OUTPUT || event == JXL_DEC_SUCCESS)) {
      const std::size_t unused = JxlDecoderReleaseBoxBuffer(decoder);
      if (event != JXL_DEC_BOX_NEED_MORE_OUTPUT) {
        box.resize(box.size() - unused);
        stop = true;
        return ConvertOutcome{ConvertStatus::kWritten};
      }
      const std::size_t used = box.size() - unused;
      box.resize(box.size() * 2);
      (void)JxlDecoderSetBoxBuffer(decoder, box.data() + used, box.size() - used);
      return ConvertOutcome{ConvertStatus::kWritten};
    }
    JxlBoxType type = {};
    if (event != JXL_DEC_BOX || JxlDecoderGetBoxType(decoder, type, JXL_TRUE) != JXL_DEC_SUCCESS ||
        std::memcmp(type, "Exif", 4) != 0)
      return ConvertOutcome{ConvertStatus::kWritten};
    exif = true;
    box.resize(1 << 16);
    (void)JxlDecoderSetBoxBuffer(decoder, box.data(), box.size());
    return ConvertOutcome{ConvertStatus::kWritten};
  });
  if (!exif || box.size() < 4) return;
  const std::uint32_t offset = (std::uint32_t{box[0]} << 24) | (std::uint32_t{box[1]} << 16) | (std::uint32_t{box[2]} << 8) | box[3];
  if (offset <= box.size() - 4) facts.exif = picture::ExifBlockOf(box.data() + 4 + offset, box.size() - 4 - offset);
}

ConvertOutcome CJxlReader::Decode(CPictureSink& sink) {
  const JxlPixelFormat format = {m_bAlpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  std::vector<std::uint8_t> canvas;
  int delayMs = 0;
  bool begun = false;
  return Run(JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE, false,
             [&](JxlDecoder* decoder, int event, bool& stop) {
               switch (event) {
                 case JXL_DEC_COLOR_ENCODING: {
                   const ConvertOutcome chosen = ChooseColours(decoder);
                   if (chosen.status != ConvertStatus::kWritten) return chosen;
                   PictureInfo info{m_width, m_height, m_bAnimated, m_loopCount, m_bAlpha, m_profile};
                   begun = true;
                   const ConvertOutcome accepted = sink.Begin(info);
                   stop = !sink.WantsMore();
                   return accepted;
                 }
                 case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                   std::size_t size = 0;
                   if (!begun || JxlDecoderImageOutBufferSize(decoder, &format, &size) != JXL_DEC_SUCCESS ||
                       size != static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height) * format.num_channels)
                     return picture::Undecodable("the JPEG XL decoder gives no picture of its size");
                   canvas.resize(size);
                   if (JxlDecoderSetImageOutBuffer(decoder, &format, canvas.data(), size) != JXL_DEC_SUCCESS)
                     return picture::Undecodable("the JPEG XL decoder gives no picture of its size");
                   return ConvertOutcome{ConvertStatus::kWritten};
                 }
                 case JXL_DEC_FRAME: {
                   JxlFrameHeader header;
                   delayMs = JxlDecoderGetFrameHeader(decoder, &header) == JXL_DEC_SUCCESS
                                 ? static_cast<int>(std::min(header.duration * m_msPerTick + 0.5, 1e9))
                                 : 0;
                   return ConvertOutcome{ConvertStatus::kWritten};
                 }
                 case JXL_DEC_FULL_IMAGE: {
                   PictureRows rows;
                   rows.width = m_width;
                   rows.height = m_height;
                   rows.pixels = canvas.data();
                   rows.stride = static_cast<std::size_t>(m_width) * format.num_channels;
                   rows.order = m_bAlpha ? PixelOrder::kRgba : PixelOrder::kRgb;
                   const ConvertOutcome added = sink.Add(rows, delayMs);
                   stop = !sink.WantsMore();
                   return added;
                 }
                 default:
                   return ConvertOutcome{ConvertStatus::kWritten};
               }
             });
}

}  // namespace vimo::convert
