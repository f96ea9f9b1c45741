#include "convert/GifReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vimo::convert {
namespace {

void SetColour(PixelPacket* pixel, const Rgb& colour) {
  SetPixelRed(pixel, CharToQuantum(colour.red));
  SetPixelGreen(pixel, CharToQuantum(colour.green));
  SetPixelBlue(pixel, CharToQuantum(colour.blue));
  SetPixelOpacity(pixel, OpaqueOpacity);
}

// The frame's pixels as one index per pixel, row order. Memory for the whole frame: this reader
// builds the library's images, which hold it anyway.
CGifParser::Decoded DecodeIndexes(CGifParser& parser, const GifFrame& frame, std::vector<std::uint8_t>& indexes) {
  const auto width = static_cast<std::size_t>(frame.width);
  indexes.assign(width * static_cast<std::size_t>(frame.height), 0);
  return parser.Decode(frame, [&](std::size_t y, const std::uint8_t* row, bool blank) {
    if (!blank) std::copy_n(row, width, indexes.data() + y * width);  // blank rows are 0 already
  });
}

// Fills a colour-mapped frame holding only the used entries of colours, in their map order.
bool FillColourMapped(Image* image, const std::vector<Rgb>& colours, const std::vector<std::uint8_t>& indexes,
                      ExceptionInfo* exception) {
  std::array<bool, 256> used{};
  for (const std::uint8_t index : indexes) used[index] = true;
  std::array<std::uint8_t, 256> remap{};
  std::vector<Rgb> kept;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    if (!used[i]) continue;
    remap[i] = static_cast<std::uint8_t>(kept.size());
    kept.push_back(colours[i]);
  }
  if (AcquireImageColormap(image, kept.size()) == MagickFalse) return false;
  for (std::size_t i = 0; i < kept.size(); ++i) SetColour(image->colormap + i, kept[i]);
  const std::size_t width = image->columns;
  for (std::size_t y = 0; y < image->rows; ++y) {
    PixelPacket* pixels = QueueAuthenticPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    IndexPacket* out = GetAuthenticIndexQueue(image);
    if (pixels == nullptr || out == nullptr) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t entry = remap[indexes[y * width + x]];
      SetPixelIndex(out + x, entry);
      SetColour(pixels + x, kept[entry]);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return false;
  }
  return true;
}

// Fills a true-colour frame with transparency: the colour-map colours, the transparent index see-through.
bool FillTransparent(Image* image, const std::vector<Rgb>& colours, const std::vector<std::uint8_t>& indexes,
                     int transparentIndex, ExceptionInfo* exception) {
  image->storage_class = DirectClass;
  image->matte = MagickTrue;
  const std::size_t width = image->columns;
  for (std::size_t y = 0; y < image->rows; ++y) {
    PixelPacket* pixels = QueueAuthenticPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    if (pixels == nullptr) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t index = indexes[y * width + x];
      SetColour(pixels + x, colours[index]);
      if (index == transparentIndex) SetPixelOpacity(pixels + x, TransparentOpacity);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return false;
  }
  return true;
}

enum class FrameResult { kComplete, kBroken, kRefused, kUndecodable };

// Reads the frame the parser has just found and appends it to images.
FrameResult ReadFrame(CGifParser& parser, const GifFrame& frame, const ImageInfo* info, ImageListBuilder& images,
                      ExceptionInfo* exception) {
  if (frame.width <= 0 || frame.height <= 0) return FrameResult::kBroken;
  ImageListPtr image(AcquireImage(info));
  if (!image || SetImageExtent(image.get(), static_cast<std::size_t>(frame.width), static_cast<std::size_t>(frame.height)) == MagickFalse)
    return FrameResult::kRefused;
  std::vector<std::uint8_t> indexes;
  const CGifParser::Decoded decoded = DecodeIndexes(parser, frame, indexes);
  if (decoded == CGifParser::Decoded::kUndecodable) return FrameResult::kUndecodable;
  const bool filled = frame.transparentIndex >= 0
                          ? FillTransparent(image.get(), frame.colours, indexes, frame.transparentIndex, exception)
                          : FillColourMapped(image.get(), frame.colours, indexes, exception);
  if (!filled) return FrameResult::kRefused;
  if (!images.Append(std::move(image))) return FrameResult::kRefused;  // memory runs out
  return decoded == CGifParser::Decoded::kWhole ? FrameResult::kComplete : FrameResult::kBroken;
}

}  // namespace

Image* ReadGifImages(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception, ConvertOutcome* failure) {
  CGifParser parser;
  if (!parser.Open(file)) return nullptr;
  ImageListBuilder images;
  MagickSizeType frames = 0;
  GifFrame frame;
  while (parser.NextFrame(frame)) {
    if (++frames > GetMagickResourceLimit(ListLengthResource)) return nullptr;  // the policy's "list-length"
    const FrameResult result = ReadFrame(parser, frame, info, images, exception);
    if (result == FrameResult::kRefused) return nullptr;  // the frames so far are freed on the way out
    if (result == FrameResult::kUndecodable) {
      if (images.Empty() && failure != nullptr) *failure = {ConvertStatus::kGifCodeSize, static_cast<std::uint64_t>(frame.codeSize), CGifParser::kLargestCodeSize};
      break;
    }
    if (result == FrameResult::kBroken) break;
  }
  return images.Release();
}

}  // namespace vimo::convert
