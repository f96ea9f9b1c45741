#include "convert/JpegStream.h"

// jpeglib.h needs the C declarations of size_t and FILE before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <array>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/MagickLibrary.h"

namespace vimo::convert {
namespace {

// ImageMagick's JPEG reader refuses files shorter than this and streams with this many scans.
constexpr long kShortestJpegFile = 107;
constexpr int kMostScans = 1024;
constexpr int kRowsPerRead = 16;

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// the recovery point of the call in progress. Warnings (data ending early, a bad code) are not
// failures; the decoder carries on as far as the data allows.
struct JpegErrors {
  jpeg_error_mgr library;  // first, so libjpeg's pointer to it is a pointer to the whole
  std::jmp_buf recovery;
};

[[noreturn]] void LeaveDecoder(j_common_ptr decoder) {
  std::longjmp(reinterpret_cast<JpegErrors*>(decoder->err)->recovery, 1);
}

void IgnoreMessage(j_common_ptr /*decoder*/, int /*level*/) {}

// A progressive file can name thousands of scans, each a full pass over the image.
void LimitScans(j_common_ptr decoder) {
  if (decoder->is_decompressor && reinterpret_cast<j_decompress_ptr>(decoder)->input_scan_number >= kMostScans)
    LeaveDecoder(decoder);
}

// One libjpeg decompressor, destroyed with its memory on every path.
class CJpegDecoder {
 public:
  CJpegDecoder() {
    m_info.err = jpeg_std_error(&m_errors.library);
    m_errors.library.error_exit = LeaveDecoder;
    m_errors.library.emit_message = IgnoreMessage;
    m_progress.progress_monitor = LimitScans;
  }
  ~CJpegDecoder() {
    if (m_created) jpeg_destroy_decompress(&m_info);
  }
  CJpegDecoder(const CJpegDecoder&) = delete;
  CJpegDecoder& operator=(const CJpegDecoder&) = delete;

  jpeg_decompress_struct& Info() { return m_info; }
  std::jmp_buf& Recovery() { return m_errors.recovery; }
  void MarkCreated() { m_created = true; }
  jpeg_progress_mgr* Progress() { return &m_progress; }

 private:
  jpeg_decompress_struct m_info{};
  JpegErrors m_errors{};
  jpeg_progress_mgr m_progress{};
  bool m_created = false;
};

// The calls below are each one recovery point. A fatal error inside libjpeg jumps back to it
// across libjpeg's own frames only; these frames hold nothing that needs destroying.

bool ReadHeader(CJpegDecoder& jpeg, std::FILE* source) {
  jpeg_decompress_struct& info = jpeg.Info();
  if (setjmp(jpeg.Recovery()) != 0) return false;
  jpeg_create_decompress(&info);
  jpeg.MarkCreated();
  info.progress = jpeg.Progress();
  jpeg_stdio_src(&info, source);
  jpeg_save_markers(&info, JPEG_APP0 + 13, 0xFFFF);
  (void)jpeg_read_header(&info, TRUE);
  return true;
}

bool Start(CJpegDecoder& jpeg) {
  if (setjmp(jpeg.Recovery()) != 0) return false;
  (void)jpeg_start_decompress(&jpeg.Info());
  return true;
}

bool ReadRows(CJpegDecoder& jpeg, CBmpRowWriter& writer, std::uint8_t* block, std::size_t stride) {
  jpeg_decompress_struct& info = jpeg.Info();
  std::array<JSAMPROW, kRowsPerRead> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = block + i * stride;
  if (setjmp(jpeg.Recovery()) != 0) return false;
  while (info.output_scanline < info.output_height) {
    const std::size_t first = info.output_scanline;
    const JDIMENSION read = jpeg_read_scanlines(&info, rows.data(), kRowsPerRead);
    if (read == 0) return false;  // a stream that stalls for good
    for (std::size_t i = 0; i < read; ++i) writer.PutRow(first + i, rows[i]);
  }
  return true;
}

// A Photoshop resource block that marks an ITU fax image: ImageMagick reads those as Lab.
bool HasFaxResource(const jpeg_decompress_struct& info) {
  static constexpr char kFax[] = "G3FAX";
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
    const JOCTET* data = marker->data;
    const JOCTET* end = data + std::min<unsigned>(marker->data_length, 32);
    if (std::search(data, end, kFax, kFax + 5) != end) return true;
  }
  return false;
}

// Three components in YCbCr or RGB become RGB; greyscale, CMYK, YCCK and the like take the
// general path, which does what ImageMagick does with them.
bool IsPlainColour(const jpeg_decompress_struct& info) {
  return info.num_components == 3 && (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB) &&
         !HasFaxResource(info);
}

bool WithinSizeLimits(std::size_t width, std::size_t height) {
  return width <= GetMagickResourceLimit(WidthResource) && height <= GetMagickResourceLimit(HeightResource);
}

long FileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

}  // namespace

StreamResult StreamJpegToBmp(std::FILE* source, const char* destination) {
  if (FileSize(source) < kShortestJpegFile) return StreamResult::kNoImage;
  CJpegDecoder jpeg;
  if (!ReadHeader(jpeg, source)) return StreamResult::kNoImage;
  jpeg_decompress_struct& info = jpeg.Info();
  if (!IsPlainColour(info)) return StreamResult::kNotStreamable;
  info.out_color_space = JCS_EXT_BGR;  // BMP's byte order, straight from the colour conversion
  info.dct_method = JDCT_FLOAT;
  // The decoder's own memory (a progressive file's coefficients) within the library's budget.
  const MagickSizeType budget = std::min<MagickSizeType>(GetMagickResourceLimit(MemoryResource), GetMaxMemoryRequest());
  info.mem->max_memory_to_use = static_cast<long>(std::min<MagickSizeType>(budget, LONG_MAX));
  jpeg_calc_output_dimensions(&info);
  const std::size_t width = info.output_width;
  const std::size_t height = info.output_height;
  if (!WithinSizeLimits(width, height)) return StreamResult::kNoImage;
  if (!Start(jpeg)) return StreamResult::kNoImage;

  const std::size_t stride = TrueColourStride(width);
  std::vector<std::uint8_t> block(stride * kRowsPerRead, 0);  // the padding stays zero
  CBmpRowWriter writer(destination, width, height);
  if (!ReadRows(jpeg, writer, block.data(), stride)) {
    writer.Discard();
    return StreamResult::kNoImage;
  }
  (void)writer.Finish();
  return StreamResult::kWritten;
}

}  // namespace vimo::convert
