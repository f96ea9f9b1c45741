#include "convert/PictureLimits.h"

#include <limits>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

ConvertOutcome CheckPictureSize(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel) {
  EnsureImageLibrary();  // its limits are the policy's
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t pixels = height != 0 && width > kMost / height ? kMost : width * height;
  const std::uint64_t area = GetMagickResourceLimit(AreaResource);
  if (width == 0 || height == 0) return {ConvertStatus::kUndecodable, 0, 0, 0, "it declares a picture without pixels"};
  if (pixels > area) return {ConvertStatus::kTooManyPixels, pixels, area};
  const std::uint64_t memory = GetMagickResourceLimit(MemoryResource);
  const std::uint64_t map = GetMagickResourceLimit(MapResource);
  const std::uint64_t budget = memory > kMost - map ? kMost : memory + map;
  const std::uint64_t bytes = pixels > kMost / bytesPerPixel ? kMost : pixels * bytesPerPixel;
  if (bytes > budget) return {ConvertStatus::kPictureMemory, bytes, budget};
  return {ConvertStatus::kWritten};
}

}  // namespace vimo::convert
