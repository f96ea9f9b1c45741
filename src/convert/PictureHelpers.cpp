// What the picture readers share (PictureReader.h): built into the program and into the module of
// the readers with libraries of their own (FormatLibraries.h), which keeps its own copy.
#include <array>
#include <cstring>

#include "convert/PictureReader.h"

namespace vimo::convert {

namespace picture {

bool ReadRest(std::FILE* file, std::uint64_t limit, std::string& bytes) {
  bytes.clear();
  std::array<char, 1 << 16> block{};
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), file);
    if (got == 0) return std::ferror(file) == 0;
    if (bytes.size() + got > limit) return false;
    bytes.append(block.data(), got);
  }
}

ConvertOutcome Undecodable(const std::string& reason) { return {ConvertStatus::kUndecodable, 0, 0, 0, reason}; }

std::string ExifBlockOf(const std::uint8_t* payload, std::size_t size) {
  static constexpr char kHeader[] = {'E', 'x', 'i', 'f', '\0', '\0'};
  const auto* bytes = reinterpret_cast<const char*>(payload);
  if (size >= sizeof(kHeader) && std::memcmp(bytes, kHeader, sizeof(kHeader)) == 0) return std::string(bytes, size);
  if (size == 0) return {};
  return std::string(kHeader, sizeof(kHeader)) + std::string(bytes, size);
}

}  // namespace picture

}  // namespace vimo::convert
