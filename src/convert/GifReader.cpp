#include "convert/GifReader.h"

#include <gif_lib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vimo::convert {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

int ReadFromFile(GifFileType* gif, GifByteType* buffer, int length) {
  auto* file = static_cast<std::FILE*>(gif->UserData);
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(length), file));
}

struct Colour {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};

// The frame's colour map: its local map, else the global one, else a grey ramp.
std::vector<Colour> FrameColours(const GifFileType* gif) {
  const ColorMapObject* map = gif->Image.ColorMap != nullptr ? gif->Image.ColorMap : gif->SColorMap;
  std::vector<Colour> colours;
  if (map == nullptr || map->ColorCount <= 0) {
    for (int level = 0; level < 256; ++level) {
      const auto grey = static_cast<std::uint8_t>(level);
      colours.push_back({grey, grey, grey});
    }
    return colours;
  }
  for (int i = 0; i < map->ColorCount; ++i)
    colours.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
  return colours;
}

void SetColour(PixelPacket* pixel, const Colour& colour) {
  SetPixelRed(pixel, CharToQuantum(colour.red));
  SetPixelGreen(pixel, CharToQuantum(colour.green));
  SetPixelBlue(pixel, CharToQuantum(colour.blue));
  SetPixelOpacity(pixel, OpaqueOpacity);
}

// Decodes the frame's pixels into indexes (one byte per pixel, row order). Returns false when
// the data ended early or held an invalid code; the pixels not decoded then stay 0.
bool DecodeFrame(GifFileType* gif, std::size_t width, std::size_t height, std::vector<std::uint8_t>& indexes) {
  indexes.assign(width * height, 0);
  static constexpr std::array<std::size_t, 4> kPassStart{0, 4, 2, 1};
  static constexpr std::array<std::size_t, 4> kPassStep{8, 8, 4, 2};
  const int passes = gif->Image.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const std::size_t start = gif->Image.Interlace ? kPassStart[pass] : 0;
    const std::size_t step = gif->Image.Interlace ? kPassStep[pass] : 1;
    for (std::size_t y = start; y < height; y += step) {
      if (DGifGetLine(gif, indexes.data() + y * width, static_cast<int>(width)) == GIF_ERROR) return false;
    }
  }
  return true;
}

// Fills a colour-mapped frame holding only the used entries of colours, in their map order.
bool FillColourMapped(Image* image, const std::vector<Colour>& colours, const std::vector<std::uint8_t>& indexes,
                      ExceptionInfo* exception) {
  std::array<bool, 256> used{};
  for (const std::uint8_t index : indexes) used[index < colours.size() ? index : 0] = true;
  std::array<std::uint8_t, 256> remap{};
  std::vector<Colour> kept;
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
      const std::uint8_t index = indexes[y * width + x];
      const std::uint8_t entry = remap[index < colours.size() ? index : 0];
      SetPixelIndex(out + x, entry);
      SetColour(pixels + x, kept[entry]);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return false;
  }
  return true;
}

// Fills a true-colour frame with transparency: the colour-map colours, the transparent index see-through.
bool FillTransparent(Image* image, const std::vector<Colour>& colours, const std::vector<std::uint8_t>& indexes,
                     int transparentIndex, ExceptionInfo* exception) {
  image->storage_class = DirectClass;
  image->matte = MagickTrue;
  const std::size_t width = image->columns;
  for (std::size_t y = 0; y < image->rows; ++y) {
    PixelPacket* pixels = QueueAuthenticPixels(image, 0, static_cast<ssize_t>(y), width, 1, exception);
    if (pixels == nullptr) return false;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t index = indexes[y * width + x];
      SetColour(pixels + x, colours[index < colours.size() ? index : 0]);
      if (index == transparentIndex) SetPixelOpacity(pixels + x, TransparentOpacity);
    }
    if (SyncAuthenticPixels(image, exception) == MagickFalse) return false;
  }
  return true;
}

enum class FrameResult { kComplete, kBroken, kRefused };

// Reads the frame whose descriptor giflib has just read and appends it to images.
FrameResult ReadFrame(GifFileType* gif, int transparentIndex, const ImageInfo* info, ImageListPtr& images,
                      ExceptionInfo* exception) {
  const auto width = static_cast<std::size_t>(gif->Image.Width);
  const auto height = static_cast<std::size_t>(gif->Image.Height);
  if (gif->Image.Width <= 0 || gif->Image.Height <= 0) return FrameResult::kBroken;
  ImageListPtr image(AcquireImage(info));
  if (!image || SetImageExtent(image.get(), width, height) == MagickFalse) return FrameResult::kRefused;
  std::vector<std::uint8_t> indexes;
  const bool complete = DecodeFrame(gif, width, height, indexes);
  const std::vector<Colour> colours = FrameColours(gif);
  const bool filled = transparentIndex >= 0
                          ? FillTransparent(image.get(), colours, indexes, transparentIndex, exception)
                          : FillColourMapped(image.get(), colours, indexes, exception);
  if (!filled) return FrameResult::kRefused;
  Image* list = images.release();
  AppendImageToList(&list, image.release());
  images.reset(list);
  return complete ? FrameResult::kComplete : FrameResult::kBroken;
}

// The transparent index a graphic-control extension sets for the next frame, or -1.
int TransparentIndexOf(const GifByteType* block) {
  if (block[0] < 4 || (block[1] & 0x01) == 0) return -1;
  return block[4];
}

bool HasGifHeader(std::FILE* file) {
  std::array<char, 6> header{};
  const bool ok = std::fread(header.data(), 1, 6, file) == 6 &&
                  (std::memcmp(header.data(), "GIF87", 5) == 0 || std::memcmp(header.data(), "GIF89", 5) == 0);
  std::rewind(file);
  return ok;
}

}  // namespace

Image* ReadGifImages(const char* path, const ImageInfo* info, ExceptionInfo* exception) {
  FilePtr file(std::fopen(path, "rb"));
  if (!file || !HasGifHeader(file.get())) return nullptr;
  int error = 0;
  GifPtr gif(DGifOpen(file.get(), ReadFromFile, &error));
  if (!gif) return nullptr;
  ImageListPtr images;
  int transparentIndex = -1;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) break;
    if (record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) transparentIndex = TransparentIndexOf(block);
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return images.release();
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) break;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) break;
    const FrameResult result = ReadFrame(gif.get(), transparentIndex, info, images, exception);
    if (result == FrameResult::kRefused) return nullptr;  // images is freed on the way out
    if (result == FrameResult::kBroken) break;
    transparentIndex = -1;  // a graphic-control extension governs only the next frame
  }
  return images.release();
}

}  // namespace vimo::convert
