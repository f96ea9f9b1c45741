#include "convert/JpegStream.h"

#include <algorithm>
#include <array>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/JpegDecoder.h"
#include "convert/ColourTransform.h"
#include "convert/MagickLibrary.h"
#include "convert/RowBands.h"
#include "convert/StreamProgress.h"
#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

// ImageMagick's JPEG reader refuses files shorter than this.
constexpr long kShortestJpegFile = 107;
constexpr int kRowsPerRead = 16;
// Rows handed to the finishing thread at a time, when there is one: few enough hand-overs that
// neither thread waits on the other for long (a band of a 6000-pixel row is 0.8 MB).
constexpr int kRowsPerBand = 48;

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

// Four components in CMYK or YCCK (which libjpeg turns into CMYK).
bool IsCmyk(const jpeg_decompress_struct& info) {
  return info.num_components == 4 && (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK);
}

// The ICC profile the file's APP2 markers carry (saved by the caller); empty when there is none
// or its chunks do not fit together.
IccBytes EmbeddedProfile(jpeg_decompress_struct& info) {
  JOCTET* data = nullptr;
  unsigned int length = 0;
  if (!jpeg_read_icc_profile(&info, &data, &length) || data == nullptr) return {};
  IccBytes profile(data, data + length);
  std::free(data);
  return profile;
}

// What the decoder may allocate: the library's memory limit. Only a multi-scan file's
// coefficients, held whole, come near it.
MagickSizeType DecoderBudget() {
  EnsureImageLibrary();  // its limits are the policy's
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
  const std::uint8_t* memory = nullptr;  // the JPEG's bytes (fileSize of them) when not read from a file
  const IccBytes* colourTarget = nullptr;  // null: the pixels as stored
  bool streamable = true;
  ConvertOutcome outcome;
  std::vector<std::uint8_t> block;  // a block of rows (kRowsPerRead, or kRowsPerBand); the padding stays zero
  std::vector<std::uint8_t> cmyk;   // kRowsPerRead rows as decoded, for a CMYK file
  std::unique_ptr<CColourTransform> transform;  // null: rows go out as decoded
  CBmpRowWriter writer;
  // With a transform on more than one processor: the transform and the writing of each band on
  // a thread of their own while the next band is decoded. Last, so it stops before the writer goes.
  std::unique_ptr<CRowBands> bands;
  // The BMP file the rows go to, when the window waits for this conversion's image: it is told
  // how many top rows are complete after each block (from whichever thread writes them).
  const char* watchedDestination = nullptr;
};

// Turns count decoded rows (decodedStride apart) into BMP rows and writes them from row first on:
// through the transform when there is one, into the block (in place for BGR rows). False once a
// write failed.
bool FinishRows(DecodeState& state, std::uint8_t* decoded, std::size_t decodedStride, std::size_t width,
                std::size_t first, std::size_t count) {
  const std::size_t stride = TrueColourStride(width);
  std::uint8_t* out = decodedStride == stride ? decoded : state.block.data();
  if (state.transform) state.transform->Rows(decoded, decodedStride, out, stride, width, count);
  for (std::size_t i = 0; i < count; ++i) state.writer.PutRow(first + i, out + i * stride);
  // The window waiting for this image may show the rows now, once no rewrite can move them.
  if (state.watchedDestination != nullptr && !state.writer.Failed() && state.writer.StaysTrueColour())
    CStreamProgress::Rows(state.watchedDestination, static_cast<int>(first + count));
  return !state.writer.Failed();
}

// Settles how the rows are decoded and what turns them into BMP rows: plain colour as BGR,
// through the file's profile (sRGB without one) into the target when colours are managed;
// CMYK only when they are, through its profile (or the default CMYK one). False when the
// general path is to decide.
bool ChooseOutput(jpeg_decompress_struct& info, DecodeState& state) {
  const bool cmyk = IsCmyk(info);
  if (!IsPlainColour(info) && !(cmyk && state.colourTarget != nullptr)) return false;
  if (state.colourTarget == nullptr) {
    info.out_color_space = JCS_EXT_BGR;  // BMP's byte order, straight from the colour conversion
    return true;
  }
  const IccBytes profile = EmbeddedProfile(info);
  if (!cmyk) {
    info.out_color_space = JCS_EXT_BGR;
    state.transform = CColourTransform::Create(profile, CColourTransform::Pixels::kBgr, *state.colourTarget);
    return true;
  }
  // Adobe's files (and ImageMagick's, which follow them) store CMYK inverted.
  const auto pixels = info.saw_Adobe_marker ? CColourTransform::Pixels::kInvertedCmyk : CColourTransform::Pixels::kCmyk;
  info.out_color_space = JCS_CMYK;
  state.transform = CColourTransform::Create(profile, pixels, *state.colourTarget);
  return state.transform != nullptr;
}

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
  if (state.memory != nullptr) jpeg_mem_src(&info, state.memory, static_cast<unsigned long>(state.fileSize));
  else jpeg_stdio_src(&info, source);
  jpeg_save_markers(&info, JPEG_APP0 + 13, 0xFFFF);
  if (state.colourTarget != nullptr) jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
  (void)jpeg_read_header(&info, TRUE);
  if (!ChooseOutput(info, state)) {
    state.streamable = false;
    return true;
  }
  info.dct_method = JDCT_FLOAT;
  // A single-scan file is decoded a few rows at a time: only a multi-scan one holds its
  // coefficients whole, and only for it is the image library asked for its limit (a photo taken
  // by a camera starts no more than libjpeg).
  info.mem->max_memory_to_use = jpeg_has_multiple_scans(&info) ? static_cast<long>(DecoderBudget()) : LONG_MAX;
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
  if (CStreamProgress::Watching()) state.watchedDestination = destination;
  const std::size_t width = info.output_width;
  const std::size_t stride = TrueColourStride(info.output_width);
  // Decoded rows: BMP rows, or CMYK rows beside them that the transform turns into BMP rows.
  const bool cmyk = info.out_color_space == JCS_CMYK;
  const std::size_t decodedStride = cmyk ? std::size_t{info.output_width} * 4 : stride;
  if (state.transform && CRowBands::Worthwhile()) {
    state.bands = std::make_unique<CRowBands>(decodedStride * kRowsPerBand,
                                              [&state, decodedStride, width](std::uint8_t* rows, std::size_t first, std::size_t count) {
                                                return FinishRows(state, rows, decodedStride, width, first, count);
                                              });
  }
  const std::size_t blockRows = state.bands ? kRowsPerBand : kRowsPerRead;
  state.block.assign(stride * blockRows, 0);
  if (cmyk && !state.bands) state.cmyk.assign(decodedStride * kRowsPerRead, 0);
  std::array<JSAMPROW, kRowsPerBand> rows{};
  while (info.output_scanline < info.output_height && !(state.bands ? state.bands->Stopped() : state.writer.Failed())) {
    const std::size_t first = info.output_scanline;
    std::uint8_t* decoded = state.bands ? state.bands->Free() : cmyk ? state.cmyk.data() : state.block.data();
    for (std::size_t i = 0; i < blockRows; ++i) rows[i] = decoded + i * decodedStride;
    // libjpeg hands out at most a row of blocks (8 or 16 rows) a call.
    std::size_t read = 0;
    while (read < blockRows && info.output_scanline < info.output_height) {
      const JDIMENSION got = jpeg_read_scanlines(&info, rows.data() + read, static_cast<JDIMENSION>(blockRows - read));
      if (got == 0) return false;
      read += got;
    }
    if (state.bands) state.bands->Hand(first, read);
    else (void)FinishRows(state, decoded, decodedStride, width, first, read);
  }
  if (state.bands) (void)state.bands->Drain();
  return true;
}

long FileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

}  // namespace

namespace {

std::optional<ConvertOutcome> Stream(std::FILE* source, DecodeState& state, const char* destination) {
  CJpegDecoder jpeg;
  const bool decoded = Decode(jpeg, source, destination, state);
  state.bands.reset();  // the finishing thread is done with the writer
  if (!decoded) {
    state.writer.Discard();
    if (jpeg.ErrorCode() != JERR_NO_BACKING_STORE) return ConvertOutcome{ConvertStatus::kNoImage};
    return ConvertOutcome{ConvertStatus::kDecoderMemory, CoefficientBytes(jpeg.Info()), DecoderBudget()};
  }
  if (!state.streamable) return std::nullopt;
  if (state.outcome.status != ConvertStatus::kWritten) return state.outcome;
  return state.writer.Finish();
}

}  // namespace

std::optional<ConvertOutcome> StreamJpegToBmp(std::FILE* source, const char* destination, const IccBytes* colourTarget) {
  const long size = FileSize(source);
  if (size < kShortestJpegFile) return ConvertOutcome{ConvertStatus::kNoImage};
  DecodeState state;
  state.fileSize = static_cast<std::uint64_t>(size);
  state.colourTarget = colourTarget;
  return Stream(source, state, destination);
}

std::optional<ConvertOutcome> StreamJpegBytesToBmp(const std::uint8_t* bytes, std::size_t size, const char* destination,
                                                   const IccBytes* colourTarget) {
  if (size < static_cast<std::size_t>(kShortestJpegFile)) return ConvertOutcome{ConvertStatus::kNoImage};
  DecodeState state;
  state.fileSize = size;
  state.memory = bytes;
  state.colourTarget = colourTarget;
  return Stream(nullptr, state, destination);
}

namespace {

// Reads the header, its APP2 markers saved; false after a fatal error. Nothing with a destructor
// lives in this frame (see Decode).
bool ReadHeader(CJpegDecoder& jpeg, std::FILE* source, const std::uint8_t* bytes, std::size_t size, IccBytes& profile) {
  if (setjmp(jpeg.Recovery()) != 0) return false;
  jpeg_decompress_struct& info = jpeg.Info();
  jpeg_create_decompress(&info);
  jpeg.MarkCreated();
  if (bytes != nullptr) jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
  else jpeg_stdio_src(&info, source);
  jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
  (void)jpeg_read_header(&info, TRUE);
  profile = EmbeddedProfile(info);
  return true;
}

}  // namespace

IccBytes ReadJpegProfile(std::FILE* source) {
  if (std::fseek(source, 0, SEEK_SET) != 0) return {};
  CJpegDecoder jpeg;
  IccBytes profile;
  if (!ReadHeader(jpeg, source, nullptr, 0, profile)) return {};
  return profile;
}

IccBytes ReadJpegBytesProfile(const std::uint8_t* bytes, std::size_t size) {
  CJpegDecoder jpeg;
  IccBytes profile;
  if (size == 0 || !ReadHeader(jpeg, nullptr, bytes, size, profile)) return {};
  return profile;
}

namespace {

// The reduced decode's libjpeg calls, under one recovery point as in Decode. The rows go into the
// caller's reduced.bmp bottom row first.
bool DecodeReduced(CJpegDecoder& jpeg, std::FILE* source, DecodeState& state, const ReducedSize& wanted,
                   const std::atomic<bool>* cancel, ReducedJpeg& reduced) {
  if (setjmp(jpeg.Recovery()) != 0) return false;
  jpeg_decompress_struct& info = jpeg.Info();
  jpeg_create_decompress(&info);
  jpeg.MarkCreated();
  info.progress = jpeg.Progress();
  jpeg_stdio_src(&info, source);
  jpeg_save_markers(&info, JPEG_APP0 + 13, 0xFFFF);
  if (state.colourTarget != nullptr) jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
  (void)jpeg_read_header(&info, TRUE);
  if (!ChooseOutput(info, state) || state.fileSize < LeastDataBytes(info)) return false;
  info.dct_method = JDCT_FLOAT;
  info.mem->max_memory_to_use = jpeg_has_multiple_scans(&info) ? static_cast<long>(DecoderBudget()) : LONG_MAX;
  reduced.fullWidth = info.image_width;
  reduced.fullHeight = info.image_height;
  const std::pair<std::size_t, std::size_t> least = wanted(info.image_width, info.image_height);
  info.scale_num = 1;
  for (info.scale_denom = 8; info.scale_denom >= 2; info.scale_denom /= 2) {
    jpeg_calc_output_dimensions(&info);
    if (info.output_width >= least.first && info.output_height >= least.second) break;
  }
  if (info.scale_denom < 2) return false;
  (void)jpeg_start_decompress(&info);
  const std::size_t stride = TrueColourStride(info.output_width);
  const bool cmyk = info.out_color_space == JCS_CMYK;
  const std::size_t decodedStride = cmyk ? std::size_t{info.output_width} * 4 : stride;
  state.block.assign(stride * kRowsPerRead, 0);
  if (cmyk) state.cmyk.assign(decodedStride * kRowsPerRead, 0);
  reduced.bmp.assign(kBmpHeadersSize + stride * info.output_height, 0);
  const auto headers = BmpHeaders(info.output_width, info.output_height, 24, 0, stride * info.output_height);
  std::copy(headers.begin(), headers.end(), reduced.bmp.begin());
  std::uint8_t* decoded = cmyk ? state.cmyk.data() : state.block.data();
  std::array<JSAMPROW, kRowsPerRead> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = decoded + i * decodedStride;
  while (info.output_scanline < info.output_height) {
    if (cancel != nullptr && cancel->load()) return false;
    const std::size_t first = info.output_scanline;
    const JDIMENSION read = jpeg_read_scanlines(&info, rows.data(), kRowsPerRead);
    if (read == 0) return false;
    if (state.transform) state.transform->Rows(decoded, decodedStride, state.block.data(), stride, info.output_width, read);
    for (std::size_t i = 0; i < read; ++i)
      std::memcpy(reduced.bmp.data() + kBmpHeadersSize + (info.output_height - 1 - first - i) * stride,
                  state.block.data() + i * stride, stride);
  }
  return true;
}

}  // namespace

ReducedJpeg DecodeReducedJpeg(const char* path, const ReducedSize& wanted, const IccBytes* colourTarget,
                              const std::atomic<bool>* cancel) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  const long size = file ? FileSize(file.get()) : -1;
  if (size < kShortestJpegFile) return {};
  DecodeState state;
  state.fileSize = static_cast<std::uint64_t>(size);
  state.colourTarget = colourTarget;
  CJpegDecoder jpeg;
  ReducedJpeg reduced;
  if (!DecodeReduced(jpeg, file.get(), state, wanted, cancel, reduced)) return {};
  return reduced;
}

}  // namespace vimo::convert
