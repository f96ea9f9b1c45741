#include "convert/ConvertCommand.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <string>
#include <memory>
#include <system_error>
#include <vector>

#include "convert/ColourProfile.h"
#include "convert/ConvertImage.h"
#include "win32/Kernel.h"

namespace {

constexpr const char* kUsage =
    "usage: vimo --convert SRC DST [--colors N] [--colour-managed] [--icc-target PROFILE]\n"
    "  Converts the JPEG, GIF or Photo CD file SRC into the BMP file DST (several images back to\n"
    "  back for an animated GIF), optionally reduced to at most N colours (N from 1 to 65536).\n"
    "  The pixels are the ones the file stores, unless --colour-managed turns them from the\n"
    "  image's ICC profile (sRGB without one) into sRGB, or --icc-target into the ICC profile in\n"
    "  the file PROFILE.\n"
    "  Exit status: 0 when an image was read and written, 1 when none could be read or nothing\n"
    "  was written (a line on standard error says why), 2 for bad usage.\n";

constexpr long kMostColours = 65536;  // the image library's largest colour map

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Reads N of "--colors N": a whole decimal number from 1 to kMostColours, else -1.
int ParseColours(const char* text) {
  if (*text == '\0') return -1;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > kMostColours) return -1;
  return static_cast<int>(value);
}

// A size for a message: "72 MB", "4.3 GB", "640 kB".
std::string SizeText(std::uint64_t bytes) {
  std::array<char, 32> text{};
  const double megabytes = static_cast<double>(bytes) / 1e6;
  if (megabytes >= 1000) std::snprintf(text.data(), text.size(), "%.1f GB", megabytes / 1000);
  else if (megabytes >= 10) std::snprintf(text.data(), text.size(), "%.0f MB", megabytes);
  else if (megabytes >= 1) std::snprintf(text.data(), text.size(), "%.1f MB", megabytes);
  else std::snprintf(text.data(), text.size(), "%.0f kB", static_cast<double>(bytes) / 1e3);
  return text.data();
}

std::string FolderOf(const char* path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Whether anything has the name path, a symlink to nothing included.
bool Exists(const char* path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// One line on stderr saying why nothing usable was written.
void ReportFailure(const char* source, const char* destination, const ConvertOutcome& outcome) {
  switch (outcome.status) {
    case ConvertStatus::kWritten:
      return;
    case ConvertStatus::kNoImage: {
      errno = 0;
      std::FILE* file = vimo::platform::OpenRegularFile(source);
      if (file == nullptr) std::fprintf(stderr, "vimo: %s: %s\n", source, std::strerror(errno != 0 ? errno : EINVAL));
      else std::fprintf(stderr, "vimo: %s: no JPEG, GIF or Photo CD image could be read from it\n", source);
      if (file != nullptr) std::fclose(file);
      return;
    }
    case ConvertStatus::kTooLarge:
      std::fprintf(stderr, "vimo: %s: too large for a BMP (it would take %s; a BMP holds at most 4.3 GB)\n", source,
                   SizeText(outcome.bytes).c_str());
      return;
    case ConvertStatus::kNoSpace:
      std::fprintf(stderr, "vimo: no space for the %s BMP on %s (%s free)\n", SizeText(outcome.bytes).c_str(),
                   FolderOf(destination).c_str(), SizeText(outcome.limit).c_str());
      return;
    case ConvertStatus::kWriteFailed:
      // A conversion writes a fresh file beside its destination: whatever was there stays.
      std::fprintf(stderr, "vimo: cannot write %s: %s%s\n", destination,
                   outcome.error == ENXIO ? "not a regular file" : std::strerror(outcome.error),
                   Exists(destination) ? "; it was left as it was" : "");
      return;
    case ConvertStatus::kDecoderMemory:
      std::fprintf(stderr,
                   "vimo: %s: a progressive JPEG whose coefficients need %s, more than the %s the decoder may use\n",
                   source, SizeText(outcome.bytes).c_str(), SizeText(outcome.limit).c_str());
      return;
    case ConvertStatus::kGifCodeSize:
      std::fprintf(stderr, "vimo: %s: its image data uses an LZW minimum code size of %llu; GIF readers take 2 to %llu\n",
                   source, static_cast<unsigned long long>(outcome.bytes), static_cast<unsigned long long>(outcome.limit));
      return;
    case ConvertStatus::kTooManyPixels:
      std::fprintf(stderr, "vimo: %s: its picture has %.1f megapixels, more than the %.1f a decoder may take\n", source,
                   static_cast<double>(outcome.bytes) / 1e6, static_cast<double>(outcome.limit) / 1e6);
      return;
    case ConvertStatus::kPictureMemory:
      std::fprintf(stderr, "vimo: %s: decoding its picture needs %s of memory, more than the %s a decoder may use\n", source,
                   SizeText(outcome.bytes).c_str(), SizeText(outcome.limit).c_str());
      return;
    case ConvertStatus::kUndecodable:
      std::fprintf(stderr, "vimo: %s: cannot be decoded: %s\n", source, outcome.reason.c_str());
      return;
    case ConvertStatus::kCutShort:
      std::fprintf(stderr, "vimo: %s: cut short: its %s cannot hold the image its header declares (at least %s)\n",
                   source, SizeText(outcome.bytes).c_str(), SizeText(outcome.limit).c_str());
      return;
  }
}

// The ICC profile in the file at path; false (said on stderr) when it cannot be read whole.
bool ReadProfileFile(const char* path, std::vector<std::uint8_t>& profile) {
  errno = 0;
  std::FILE* file = vimo::platform::OpenRegularFile(path);
  if (file == nullptr) {
    std::fprintf(stderr, "vimo: %s: %s\n", path, std::strerror(errno != 0 ? errno : EINVAL));
    return false;
  }
  std::array<std::uint8_t, 65536> block{};
  std::size_t read = 0;
  while ((read = std::fread(block.data(), 1, block.size(), file)) > 0) profile.insert(profile.end(), block.begin(), block.begin() + read);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) std::fprintf(stderr, "vimo: %s: cannot be read\n", path);
  return !failed;
}

}  // namespace

int ConvertCommandMain(int argc, char** argv) {
  if (argc < 2) return Usage();
  int colours = 0;
  ConvertOptions options;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--colors") == 0 && i + 1 < argc && colours == 0) {
      colours = ParseColours(argv[++i]);
      if (colours < 0) return Usage();
    } else if (std::strcmp(argv[i], "--colour-managed") == 0 && !options.colourTarget) {
      options.colourTarget = std::make_shared<const std::vector<std::uint8_t>>();  // sRGB
    } else if (std::strcmp(argv[i], "--icc-target") == 0 && i + 1 < argc && !options.colourTarget) {
      std::vector<std::uint8_t> profile;
      if (!ReadProfileFile(argv[++i], profile)) return 1;
      if (!vimo::convert::IsRgbTargetProfile(profile)) {
        std::fprintf(stderr, "vimo: %s: not an RGB ICC profile that colours can be turned into\n", argv[i]);
        return 1;
      }
      options.colourTarget = std::make_shared<const std::vector<std::uint8_t>>(std::move(profile));
    } else {
      return Usage();
    }
  }
  const char* source = argv[0];
  const char* destination = argv[1];
  // A file-size limit makes a write fail with a reason, as a full disk does, instead of ending
  // the process.
  vimo::platform::IgnoreFileSizeSignal();
  const ConvertOutcome outcome = ConvertImageEx(source, destination, colours, options);
  if (outcome.status != ConvertStatus::kWritten) {
    ReportFailure(source, destination, outcome);
    return 1;
  }
  if (!WritesBmp(destination)) {
    std::fprintf(stderr, "vimo: nothing was written to %s (its name must end in .bmp)\n", destination);
    return 1;
  }
  return 0;
}
