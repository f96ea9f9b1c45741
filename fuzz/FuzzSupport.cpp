#include "FuzzSupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "convert/BmpWriter.h"
#include "convert/MagickLibrary.h"

namespace vimo::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLargestSide = 1024;
constexpr std::size_t kMostImages = 32;

[[noreturn]] void Fail(const std::string& rule, std::size_t imageOffset) {
  std::fprintf(stderr, "malformed BMP image at offset %zu: %s\n", imageOffset, rule.c_str());
  std::abort();
}

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (std::uint32_t{b[at + 1]} << 8);
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return U16(b, at) | (U16(b, at + 2) << 16);
}

// VIMO_FUZZ_SCRATCH (fuzz/run makes and removes it), else a folder of this process on /dev/shm,
// removed at a normal exit (a crash leaves it for inspection).
const fs::path& ScratchFolder() {
  static const fs::path folder = [] {
    if (const char* given = std::getenv("VIMO_FUZZ_SCRATCH"); given != nullptr && given[0] != '\0') {
      fs::create_directories(given);
      return fs::path(given);
    }
    const fs::path root = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path made = root / ("vimo-fuzz-" + std::to_string(std::random_device{}()));
    fs::create_directories(made);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(ScratchFolder(), ignored);
    });
    return made;
  }();
  return folder;
}

// Decodes RLE8 of encoded runs only into indexes, bottom row first; aborts on anything else.
std::vector<std::uint8_t> DecodeRle8(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t end,
                                     std::size_t width, std::size_t height, std::size_t image) {
  if (width * height / 255 > (end - at) / 2) Fail("RLE8 stream too short to fill the image", image);
  std::vector<std::uint8_t> indexes;
  indexes.reserve(width * height);
  for (std::size_t row = 0; row < height; ++row) {
    std::size_t filled = 0;
    for (;;) {
      if (at + 2 > end) Fail("RLE8 stream ends inside a row", image);
      const std::uint8_t count = b[at];
      const std::uint8_t value = b[at + 1];
      at += 2;
      if (count == 0) {
        if (value != 0) Fail("RLE8 escape other than end of row inside a row", image);
        break;
      }
      if (filled + count > width) Fail("RLE8 run crosses the end of a row", image);
      indexes.insert(indexes.end(), count, value);
      filled += count;
    }
    if (filled != width) Fail("RLE8 row shorter than the width", image);
  }
  if (at + 2 != end || b[at] != 0 || b[at + 1] != 1) Fail("RLE8 stream does not end with end-of-bitmap", image);
  return indexes;
}

// Runs of identical pixels in reading order (top row first, rows joined), at most 256 each.
std::size_t CountRuns(const std::vector<std::uint8_t>& bottomUp, std::size_t width, std::size_t height) {
  std::size_t runs = 0;
  std::size_t length = 0;
  int previous = -1;
  for (std::size_t row = height; row-- > 0;) {
    for (std::size_t x = 0; x < width; ++x) {
      const int index = bottomUp[row * width + x];
      if (index == previous && length < 256) {
        ++length;
        continue;
      }
      ++runs;
      length = 1;
      previous = index;
    }
  }
  return runs;
}

void CheckIndexed(const std::vector<std::uint8_t>& b, std::size_t image, std::size_t width, std::size_t height,
                  std::uint32_t compression, std::size_t dataSize) {
  const std::size_t table = image + 54;
  const std::size_t data = image + 1078;
  std::vector<std::uint8_t> indexes;
  if (compression == 1) {
    indexes = DecodeRle8(b, data, data + dataSize, width, height, image);
  } else {
    const std::size_t stride = (width + 3) / 4 * 4;
    if (dataSize != stride * height) Fail("8-bit pixel data size is not stride x height", image);
    for (std::size_t row = 0; row < height; ++row) {
      const std::size_t start = data + row * stride;
      indexes.insert(indexes.end(), b.begin() + static_cast<std::ptrdiff_t>(start),
                     b.begin() + static_cast<std::ptrdiff_t>(start + width));
      for (std::size_t pad = width; pad < stride; ++pad)
        if (b[start + pad] != 0) Fail("row padding is not zero", image);
    }
  }
  std::array<bool, 256> used{};
  for (const std::uint8_t index : indexes) used[index] = true;
  std::size_t colours = 256;
  while (colours > 0 && !used[colours - 1]) --colours;
  for (std::size_t entry = 0; entry < colours; ++entry)
    if (!used[entry]) Fail("the referenced colour-table entries are not exactly the first ones", image);
  for (std::size_t entry = 0; entry < 256; ++entry) {
    const std::size_t at = table + 4 * entry;
    if (b[at + 3] != 0) Fail("colour-table entry with a non-zero fourth byte", image);
    if (entry >= colours && (b[at] | b[at + 1] | b[at + 2]) != 0) Fail("colour-table entry past the image's colours is not zero", image);
  }
  const bool shouldCompress = 2 * CountRuns(indexes, width, height) < width * height;
  if (shouldCompress != (compression == 1)) Fail("compression does not follow the run rule", image);
}

void CheckTrueColour(const std::vector<std::uint8_t>& b, std::size_t image, std::size_t width, std::size_t height,
                     std::size_t dataSize) {
  const std::size_t stride = (width * 3 + 3) / 4 * 4;
  if (dataSize != stride * height) Fail("24-bit pixel data size is not stride x height", image);
  for (std::size_t row = 0; row < height; ++row) {
    const std::size_t start = image + 54 + row * stride;
    for (std::size_t pad = 3 * width; pad < stride; ++pad)
      if (b[start + pad] != 0) Fail("row padding is not zero", image);
  }
}

}  // namespace

std::string ScratchPath(const char* name) { return (ScratchFolder() / name).string(); }

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void StartImageLibrary() {
  static const bool started = [] {
    convert::EnsureImageLibrary();
    (void)SetMagickResourceLimit(WidthResource, kLargestSide);
    (void)SetMagickResourceLimit(HeightResource, kLargestSide);
    (void)SetMagickResourceLimit(ListLengthResource, kMostImages);
    return true;
  }();
  (void)started;
}

void ReadWriteAndCheck(ImageReader reader, const std::uint8_t* data, std::size_t size) {
  StartImageLibrary();
  if (size == 0) return;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(fmemopen(const_cast<std::uint8_t*>(data), size, "rb"), std::fclose);
  const convert::ImageInfoPtr info(AcquireImageInfo());
  const convert::ExceptionInfoPtr exception(AcquireExceptionInfo());
  const convert::ImageListPtr images(reader(input.get(), info.get(), exception.get()));
  if (!images) return;
  const std::string path = ScratchPath("read.bmp");
  {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> output(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!output || convert::WriteBmpImages(output.get(), images.get(), exception.get()).status != ConvertStatus::kWritten) {
      std::fprintf(stderr, "writing the images read failed\n");
      std::abort();
    }
  }
  CheckBmpFile(ReadBytes(path));
}

void CheckBmpFile(const std::vector<std::uint8_t>& b) {
  std::size_t image = 0;
  while (image < b.size()) {
    if (b.size() - image < 54) Fail("fewer bytes than two headers", image);
    if (b[image] != 'B' || b[image + 1] != 'M') Fail("no BM signature", image);
    const std::size_t size = U32(b, image + 2);
    const std::uint32_t offset = U32(b, image + 10);
    const std::uint32_t bits = U16(b, image + 28);
    const std::uint32_t compression = U32(b, image + 30);
    const std::size_t dataSize = U32(b, image + 34);
    const std::size_t width = U32(b, image + 18);
    const std::size_t height = U32(b, image + 22);
    if (U16(b, image + 6) != 0 || U16(b, image + 8) != 0) Fail("reserved fields not zero", image);
    if (U32(b, image + 14) != 40 || U16(b, image + 26) != 1) Fail("header size or planes", image);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) Fail("width or height", image);
    if (U32(b, image + 38) != 2925 || U32(b, image + 42) != 2925) Fail("resolution", image);
    if (bits != 8 && bits != 24) Fail("bits per pixel", image);
    if (compression > 1 || (compression == 1 && bits != 8)) Fail("compression", image);
    const std::uint32_t colours = bits == 8 ? 256 : 0;
    if (U32(b, image + 46) != colours || U32(b, image + 50) != colours) Fail("colours used or important", image);
    if (offset != (bits == 8 ? 1078u : 54u)) Fail("pixel data offset", image);
    if (size != offset + dataSize) Fail("size field is not offset + pixel data size", image);
    if (size > b.size() - image) Fail("image runs past the end of the file", image);
    if (bits == 8) CheckIndexed(b, image, width, height, compression, dataSize);
    else CheckTrueColour(b, image, width, height, dataSize);
    image += size;
  }
}

}  // namespace vimo::fuzz
