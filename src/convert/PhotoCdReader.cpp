#include "convert/PhotoCdReader.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "convert/ReadThroughLibrary.h"

namespace vimo::convert {
namespace {

constexpr long kSector = 0x800;
constexpr long kOrientationOffset = 0x0E02;
constexpr std::size_t kThumbWidth = 192;
constexpr std::size_t kThumbHeight = 128;
constexpr long kOverviewDataOffset = 5 * kSector;

// One chroma plane of half width and height doubled in both directions, averaging between samples.
std::vector<std::uint8_t> Upsample(const std::vector<std::uint8_t>& half, std::size_t width, std::size_t height) {
  const std::size_t halfWidth = width / 2;
  const std::size_t halfHeight = height / 2;
  std::vector<std::uint8_t> full(width * height);
  auto at = [&](std::size_t x, std::size_t y) -> unsigned { return half[y * halfWidth + x]; };
  for (std::size_t y = 0; y < height; ++y) {
    const std::size_t top = y / 2;
    const std::size_t bottom = (y % 2 == 1 && top + 1 < halfHeight) ? top + 1 : top;
    for (std::size_t x = 0; x < width; ++x) {
      const std::size_t left = x / 2;
      const std::size_t right = (x % 2 == 1 && left + 1 < halfWidth) ? left + 1 : left;
      const unsigned sum = at(left, top) + at(right, top) + at(left, bottom) + at(right, bottom);
      full[y * width + x] = static_cast<std::uint8_t>((sum + 2) / 4);
    }
  }
  return full;
}

// Reads one thumbnail's interleaved planes (two luma rows, then half a row of each chroma).
// Returns false when the file ends before the thumbnail does; missing samples stay 0.
bool ReadThumbnailPlanes(std::FILE* file, std::vector<std::uint8_t>& luma, std::vector<std::uint8_t>& chroma1,
                         std::vector<std::uint8_t>& chroma2) {
  const std::size_t halfWidth = kThumbWidth / 2;
  luma.assign(kThumbWidth * kThumbHeight, 0);
  chroma1.assign(halfWidth * (kThumbHeight / 2), 0);
  chroma2.assign(halfWidth * (kThumbHeight / 2), 0);
  bool complete = true;
  for (std::size_t pair = 0; pair < kThumbHeight / 2; ++pair) {
    complete = complete && std::fread(&luma[2 * pair * kThumbWidth], 1, 2 * kThumbWidth, file) == 2 * kThumbWidth;
    complete = complete && std::fread(&chroma1[pair * halfWidth], 1, halfWidth, file) == halfWidth;
    complete = complete && std::fread(&chroma2[pair * halfWidth], 1, halfWidth, file) == halfWidth;
  }
  return complete;
}

Image* MakeThumbnail(const ImageInfo* info, const std::vector<std::uint8_t>& luma, const std::vector<std::uint8_t>& chroma1,
                     const std::vector<std::uint8_t>& chroma2, ExceptionInfo* exception) {
  ImageListPtr image(AcquireImage(info));
  if (!image || SetImageExtent(image.get(), kThumbWidth, kThumbHeight) == MagickFalse) return nullptr;
  const std::vector<std::uint8_t> full1 = Upsample(chroma1, kThumbWidth, kThumbHeight);
  const std::vector<std::uint8_t> full2 = Upsample(chroma2, kThumbWidth, kThumbHeight);
  for (std::size_t y = 0; y < kThumbHeight; ++y) {
    PixelPacket* pixels = QueueAuthenticPixels(image.get(), 0, static_cast<ssize_t>(y), kThumbWidth, 1, exception);
    if (pixels == nullptr) return nullptr;
    for (std::size_t x = 0; x < kThumbWidth; ++x) {
      const std::size_t i = y * kThumbWidth + x;
      SetPixelRed(pixels + x, CharToQuantum(luma[i]));
      SetPixelGreen(pixels + x, CharToQuantum(full1[i]));
      SetPixelBlue(pixels + x, CharToQuantum(full2[i]));
      SetPixelOpacity(pixels + x, OpaqueOpacity);
    }
    if (SyncAuthenticPixels(image.get(), exception) == MagickFalse) return nullptr;
  }
  image->colorspace = YCCColorspace;
  return image.release();
}

// The library's reader would lay the thumbnails out on one contact sheet; the viewer wants one
// image per thumbnail, so they are read here.
Image* ReadOverview(std::FILE* file, const std::array<std::uint8_t, 12>& header, const ImageInfo* info,
                    ExceptionInfo* exception) {
  const std::size_t count = (std::size_t{header[10]} << 8) | header[11];
  if (std::fseek(file, kOverviewDataOffset, SEEK_SET) != 0) return nullptr;
  ImageListBuilder images;
  std::vector<std::uint8_t> luma, chroma1, chroma2;
  for (std::size_t n = 0; n < count; ++n) {
    const bool complete = ReadThumbnailPlanes(file, luma, chroma1, chroma2);
    Image* thumbnail = MakeThumbnail(info, luma, chroma1, chroma2, exception);
    if (thumbnail == nullptr) return nullptr;
    if (!images.Append(ImageListPtr(thumbnail))) return nullptr;  // memory runs out
    if (!complete) break;
  }
  return images.Release();
}

// Undoes the quarter turn the library's reader applies for the orientation bits 1 and 3.
Image* RestoreStoredOrientation(Image* image, int orientation, ExceptionInfo* exception) {
  if (orientation != 1 && orientation != 3) return image;
  Image* turned = RotateImage(image, orientation == 1 ? 90.0 : -90.0, exception);
  if (turned == nullptr) return image;
  DestroyImageList(image);
  return turned;
}

}  // namespace

Image* ReadPhotoCdImages(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception) {
  std::rewind(file);
  std::array<std::uint8_t, 12> header{};
  if (std::fread(header.data(), 1, header.size(), file) != header.size()) return nullptr;
  if (std::memcmp(header.data(), "PCD_OPA", 7) == 0) return ReadOverview(file, header, info, exception);
  int orientation = 0;
  if (std::fseek(file, kOrientationOffset, SEEK_SET) == 0) {
    const int byte = std::fgetc(file);
    if (byte != EOF) orientation = byte & 0x03;
  }
  Image* image = ReadThroughLibrary("PCD", file, info, exception);
  if (image == nullptr) return nullptr;
  return RestoreStoredOrientation(image, orientation, exception);
}

}  // namespace vimo::convert
