#include "convert/JpegStream.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "convert/BmpWriter.h"

namespace vimo::convert {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// What the row handler fills during one read.
struct StreamState {
  bool notStreamable = false;
  bool refused = false;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t stride = 0;
  std::size_t rowsReceived = 0;
  std::unique_ptr<std::uint8_t[]> rows;  // BMP rows, bottom row first
};

// The library's row handler has no user argument; one conversion runs at a time per thread.
thread_local StreamState* t_state = nullptr;

bool WithinSizeLimits(std::size_t width, std::size_t height) {
  return width <= GetMagickResourceLimit(WidthResource) && height <= GetMagickResourceLimit(HeightResource);
}

// The area limit is no refusal in the library: beyond it the pixel cache moves to disk (and
// fails only beyond the disk limit). Such images take the general path, which does just that.
bool WithinMemoryArea(std::size_t width, std::size_t height) {
  return static_cast<MagickSizeType>(width) * height <= GetMagickResourceLimit(AreaResource);
}

bool Begin(StreamState& state, const Image* image, std::size_t columns) {
  const ColorspaceType space = image->colorspace;
  if (image->storage_class != DirectClass || image->matte != MagickFalse ||
      (space != sRGBColorspace && space != RGBColorspace)) {
    state.notStreamable = true;
    return false;
  }
  state.width = columns;
  state.height = image->rows;
  if (state.width == 0 || state.height == 0 || !WithinSizeLimits(state.width, state.height)) {
    state.refused = true;
    return false;
  }
  if (!WithinMemoryArea(state.width, state.height)) {
    state.notStreamable = true;
    return false;
  }
  state.stride = TrueColourStride(state.width);
  // The rows, and the colour indexes that may follow, must fit the memory the library may use;
  // larger images take the general path, whose pixel cache can move to disk.
  const MagickSizeType needed = static_cast<MagickSizeType>(state.stride + state.width) * state.height;
  if (needed > GetMagickResourceLimit(MemoryResource)) {
    state.notStreamable = true;
    return false;
  }
  state.rows.reset(new (std::nothrow) std::uint8_t[state.stride * state.height]);
  if (!state.rows) {
    state.notStreamable = true;  // the general path may still manage with a disk cache
    return false;
  }
  return true;
}

// Called by the library for every decoded row, top row first. Returning less than columns
// stops the decoder.
std::size_t TakeRow(const Image* image, const void* pixels, const std::size_t columns) {
  StreamState& state = *t_state;
  if (state.rowsReceived == 0 && !Begin(state, image, columns)) return 0;
  if (columns != state.width || state.rowsReceived >= state.height) return 0;
  std::uint8_t* out = state.rows.get() + (state.height - 1 - state.rowsReceived) * state.stride;
  const auto* in = static_cast<const PixelPacket*>(pixels);
  for (std::size_t x = 0; x < columns; ++x) {
    *out++ = ScaleQuantumToChar(GetPixelBlue(in + x));
    *out++ = ScaleQuantumToChar(GetPixelGreen(in + x));
    *out++ = ScaleQuantumToChar(GetPixelRed(in + x));
  }
  std::memset(out, 0, state.stride - 3 * columns);
  ++state.rowsReceived;
  return columns;
}

class CStateScope {
 public:
  explicit CStateScope(StreamState& state) { t_state = &state; }
  ~CStateScope() { t_state = nullptr; }
  CStateScope(const CStateScope&) = delete;
  CStateScope& operator=(const CStateScope&) = delete;
};

}  // namespace

StreamResult StreamJpegToBmp(std::FILE* source, const char* destination, const ImageInfo* info) {
  if (std::fseek(source, 0, SEEK_SET) != 0) return StreamResult::kNoImage;
  StreamState state;
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  {
    const CStateScope scope(state);
    ImageInfoPtr readInfo(CloneImageInfo(info));
    if (!readInfo || !exception) return StreamResult::kNoImage;
    readInfo->file = source;  // the library reads from it and leaves closing it to the owner
    (void)FormatLocaleString(readInfo->filename, MaxTextExtent, "JPEG:source");
    const ImageListPtr image(ReadStream(readInfo.get(), TakeRow, exception.get()));
  }
  if (state.notStreamable) return StreamResult::kNotStreamable;
  if (state.refused || state.rowsReceived == 0 || exception->severity >= ErrorException) return StreamResult::kNoImage;
  for (std::size_t y = state.rowsReceived; y < state.height; ++y)  // rows the decoder never delivered
    std::memset(state.rows.get() + (state.height - 1 - y) * state.stride, 0, state.stride);
  FilePtr file(std::fopen(destination, "wb"));
  if (file) (void)WriteBmpFromRows(file.get(), state.width, state.height, state.rows.get());
  return StreamResult::kWritten;
}

}  // namespace vimo::convert
