// vimo-bench-jpeg SRC.jpg WIDTH HEIGHT OUT.jpg: a large photograph-like JPEG for the benchmarks,
// made without holding it: the colour JPEG SRC is tiled over WIDTH x HEIGHT, every other tile
// mirrored so that no seam shows, and compressed row by row (baseline, 4:2:0, quality 90), so
// the memory used is SRC's pixels and a few rows, whatever the size asked for.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kQuality = 90;

struct Picture {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<JSAMPLE> rgb;
};

Picture Decode(std::FILE* file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);  // a fatal error ends the program, which is all a bench tool needs
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  (void)jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  (void)jpeg_start_decompress(&info);
  Picture picture{info.output_width, info.output_height, {}};
  picture.rgb.resize(picture.width * picture.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = picture.rgb.data() + std::size_t{info.output_scanline} * picture.width * 3;
    (void)jpeg_read_scanlines(&info, &row, 1);
  }
  (void)jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return picture;
}

// Position within a run of tiles of the given length, every other tile mirrored.
std::size_t Mirrored(std::size_t at, std::size_t length) {
  const std::size_t phase = at % (2 * length);
  return phase < length ? phase : 2 * length - 1 - phase;
}

void Encode(const Picture& tile, std::size_t width, std::size_t height, std::FILE* file) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(width * 3);
  for (std::size_t y = 0; y < height; ++y) {
    const JSAMPLE* from = tile.rgb.data() + Mirrored(y, tile.height) * tile.width * 3;
    for (std::size_t x = 0; x < width; ++x) {
      const JSAMPLE* pixel = from + Mirrored(x, tile.width) * 3;
      row[x * 3] = pixel[0];
      row[x * 3 + 1] = pixel[1];
      row[x * 3 + 2] = pixel[2];
    }
    JSAMPROW rows[] = {row.data()};
    (void)jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SRC.jpg WIDTH HEIGHT OUT.jpg\n", argv[0]);
    return 2;
  }
  const long width = std::strtol(argv[2], nullptr, 10);
  const long height = std::strtol(argv[3], nullptr, 10);
  if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
    std::fprintf(stderr, "%s: WIDTH and HEIGHT from 1 to %ld\n", argv[0], static_cast<long>(JPEG_MAX_DIMENSION));
    return 2;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> source(std::fopen(argv[1], "rb"), &std::fclose);
  if (!source) {
    std::perror(argv[1]);
    return 1;
  }
  const Picture tile = Decode(source.get());
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(argv[4], "wb"), &std::fclose);
  if (!out) {
    std::perror(argv[4]);
    return 1;
  }
  Encode(tile, static_cast<std::size_t>(width), static_cast<std::size_t>(height), out.get());
  return std::fflush(out.get()) == 0 && std::ferror(out.get()) == 0 ? 0 : 1;
}
