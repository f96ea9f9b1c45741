#include "convert/JpegStream.h"

#include <algorithm>
#include <array>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/JpegDecoder.h"
#include "convert/MagickLibrary.h"

namespace vimo::convert {
namespace {

// ImageMagick's JPEG reader refuses files shorter than this.
constexpr long kShortestJpegFile = 107;
constexpr int kRowsPerRead = 16;

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

// What the decoder may allocate: the library's memory limit. Only a multi-scan file's
// coefficients, held whole, come near it.
MagickSizeType DecoderBudget() {
  return std::min<MagickSizeType>({GetMagickResourceLimit(MemoryResource), GetMaxMemoryRequest(), LONG_MAX});
}

// The coefficients a multi-scan file holds whole: one 128-byte block per 8 x 8 samples of each
// component, rounded up to whole MCUs.
std::uint64_t CoefficientBytes(const jpeg_decompress_struct& info) {
  const auto roundUp = [](std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; };
  std::uint64_t bytes = 0;
  for (int i = 0; info.comp_info != nullptr && i < info.num_components; ++i) {
    const jpeg_component_info& component = info.comp_info[i];
    bytes += roundUp(component.width_in_blocks, component.h_samp_factor) *
             roundUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
  }
  return bytes;
}

// The fewest bytes any image of this size can be stored in: every 8 x 8 block of every component
// takes at least one bit (its DC difference), whatever the tables or the scans.
std::uint64_t LeastDataBytes(const jpeg_decompress_struct& info) {
  std::uint64_t blocks = 0;
  for (int i = 0; info.comp_info != nullptr && i < info.num_components; ++i)
    blocks += std::uint64_t{info.comp_info[i].width_in_blocks} * info.comp_info[i].height_in_blocks;
  return blocks / 8;
}

// What one decode leaves behind. It lives in the caller's frame, so that a jump out of libjpeg
// into Decode leaves nothing there that would need destroying.
struct DecodeState {
  std::uint64_t fileSize = 0;
  bool streamable = true;
  ConvertOutcome outcome;
  std::vector<std::uint8_t> block;  // kRowsPerRead rows; the padding stays zero
  CBmpRowWriter writer;
};

// Every libjpeg call of one conversion, under the one recovery point set before the first of
// them, so a fatal error anywhere jumps back here across libjpeg's frames only. Between the
// setjmp and any jump this frame creates no object with a destructor, and after a jump it reads
// none of its locals. Returns false after a jump (or a stream that stalls for good).
bool Decode(CJpegDecoder& jpeg, std::FILE* source, const char* destination, DecodeState& state) {
  if (setjmp(jpeg.Recovery()) != 0) return false;
  jpeg_decompress_struct& info = jpeg.Info();
  jpeg_create_decompress(&info);
  jpeg.MarkCreated();
  info.progress = jpeg.Progress();
  jpeg_stdio_src(&info, source);
  jpeg_save_markers(&info, JPEG_APP0 + 13, 0xFFFF);
  (void)jpeg_read_header(&info, TRUE);
  if (!IsPlainColour(info)) {
    state.streamable = false;
    return true;
  }
  info.out_color_space = JCS_EXT_BGR;  // BMP's byte order, straight from the colour conversion
  info.dct_method = JDCT_FLOAT;
  info.mem->max_memory_to_use = static_cast<long>(DecoderBudget());
  jpeg_calc_output_dimensions(&info);
  // The file is made, and the room for it checked, before the start takes in the whole input
  // of a multi-scan file.
  state.outcome = state.writer.Create(destination, info.output_width, info.output_height);
  if (state.outcome.status != ConvertStatus::kWritten) return true;
  // A file that cannot hold the image it declares is all but missing: decoding it would write a
  // BMP of that size (gigabytes for a header of a few bytes) that is grey throughout.
  if (state.fileSize < LeastDataBytes(info)) {
    state.writer.Discard();
    state.outcome = ConvertOutcome{ConvertStatus::kCutShort, state.fileSize, LeastDataBytes(info)};
    return true;
  }
  (void)jpeg_start_decompress(&info);
  const std::size_t stride = TrueColourStride(info.output_width);
  state.block.assign(stride * kRowsPerRead, 0);
  std::array<JSAMPROW, kRowsPerRead> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = state.block.data() + i * stride;
  while (info.output_scanline < info.output_height && !state.writer.Failed()) {
    const std::size_t first = info.output_scanline;
    const JDIMENSION read = jpeg_read_scanlines(&info, rows.data(), kRowsPerRead);
    if (read == 0) return false;
    for (std::size_t i = 0; i < read; ++i) state.writer.PutRow(first + i, rows[i]);
  }
  return true;
}

long FileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

}  // namespace

std::optional<ConvertOutcome> StreamJpegToBmp(std::FILE* source, const char* destination) {
  const long size = FileSize(source);
  if (size < kShortestJpegFile) return ConvertOutcome{ConvertStatus::kNoImage};
  CJpegDecoder jpeg;
  DecodeState state;
  state.fileSize = static_cast<std::uint64_t>(size);
  if (!Decode(jpeg, source, destination, state)) {
    state.writer.Discard();
    if (jpeg.ErrorCode() != JERR_NO_BACKING_STORE) return ConvertOutcome{ConvertStatus::kNoImage};
    return ConvertOutcome{ConvertStatus::kDecoderMemory, CoefficientBytes(jpeg.Info()), DecoderBudget()};
  }
  if (!state.streamable) return std::nullopt;
  if (state.outcome.status != ConvertStatus::kWritten) return state.outcome;
  return state.writer.Finish();
}

}  // namespace vimo::convert
