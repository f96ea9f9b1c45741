#include "support/FormatFixtures.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

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

namespace {

// A picture of one colour, as libheif's encoder takes it.
heif_image* FlatImage(int width, int height, Rgb colour) {
  heif_image* image = nullptr;
  if (heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code != heif_error_Ok) return nullptr;
  (void)heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
  int stride = 0;
  std::uint8_t* row = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < height; ++y, row += stride) {
    for (int x = 0; x < width; ++x) std::copy_n(&colour.red, 3, row + 3 * x);
  }
  return image;
}

}  // namespace

void MakeHeicWithThumbnail(const std::filesystem::path& path, int width, int height, Rgb colour, Rgb thumbnailColour,
                           int thumbnailSize) {
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  ASSERT_EQ(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code, heif_error_Ok);
  heif_image* image = FlatImage(width, height, colour);
  heif_image* other = FlatImage(width, height, thumbnailColour);
  heif_image_handle* handle = nullptr;
  heif_image_handle* thumbnail = nullptr;
  EXPECT_EQ(heif_context_encode_image(context, image, encoder, nullptr, &handle).code, heif_error_Ok);
  EXPECT_EQ(heif_context_encode_thumbnail(context, other, handle, encoder, nullptr, thumbnailSize, &thumbnail).code, heif_error_Ok);
  EXPECT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
  heif_image_handle_release(thumbnail);
  heif_image_handle_release(handle);
  heif_image_release(other);
  heif_image_release(image);
  heif_encoder_release(encoder);
  heif_context_free(context);
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
