#include "support/FormatFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>

#include "convert/MagickLibrary.h"

namespace vimo::test {

void RunTool(const std::string& command) {
  const std::string quiet = "(" + command + ") >/dev/null 2>&1";
  ASSERT_EQ(std::system(quiet.c_str()), 0) << command;
}

std::string SupportTool(const std::string& name) { return std::string(VIMO_SOURCE_DIR) + "/tests/support/" + name; }

DecodedImage DecodeLaidOn(const std::filesystem::path& path, Rgb under) {
  using namespace vimo::convert;
  EnsureImageLibrary();
  const ImageInfoPtr info(AcquireImageInfo());
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  (void)SetImageOption(info.get(), "jpeg:dct-method", "float");
  (void)CopyMagickString(info->filename, path.c_str(), MaxTextExtent);
  const ImageListPtr image(ReadImage(info.get(), exception.get()));
  DecodedImage out;
  if (!image) return out;
  if (image->colorspace != sRGBColorspace) (void)TransformImageColorspace(image.get(), sRGBColorspace);
  out.width = static_cast<int>(image->columns);
  out.height = static_cast<int>(image->rows);
  std::vector<std::uint8_t> samples(image->columns * image->rows * 4);
  (void)ExportImagePixels(image.get(), 0, 0, image->columns, image->rows, "RGBA", CharPixel, samples.data(), exception.get());
  const auto over = [](int sample, int alpha, int base) { return static_cast<std::uint8_t>((sample * alpha + base * (255 - alpha) + 127) / 255); };
  for (std::size_t i = 0; i < samples.size(); i += 4) {
    const int alpha = samples[i + 3];
    out.pixels.push_back({over(samples[i], alpha, under.red), over(samples[i + 1], alpha, under.green), over(samples[i + 2], alpha, under.blue)});
  }
  return out;
}

int LargestDifference(const DecodedImage& a, const std::vector<Rgb>& pixels, int width, int height) {
  if (a.width != width || a.height != height || a.pixels.size() != pixels.size()) return 256;
  int largest = 0;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    largest = std::max({largest, std::abs(a.pixels[i].red - pixels[i].red), std::abs(a.pixels[i].green - pixels[i].green),
                        std::abs(a.pixels[i].blue - pixels[i].blue)});
  }
  return largest;
}

}  // namespace vimo::test
