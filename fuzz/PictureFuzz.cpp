#include "PictureFuzz.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "convert/ConvertImage.h"
#include "doc/GifAnimation.h"

namespace vimo::fuzz {
namespace {

// Once: the formats read, files of this process held to 4 MiB (a larger picture fails its
// writes as on a full disk instead of filling the scratch folder), and pictures held to a
// megapixel (the decoders check the area limit), so that an input cannot spend the run's time
// decoding the size it declares.
void Prepare() {
  static const bool prepared = [] {
    StartImageLibrary();
    (void)SetMagickResourceLimit(AreaResource, 1024 * 1024);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t{4} << 20);
    (void)setrlimit(RLIMIT_FSIZE, &limit);
    SetConvertOtherFormats(true, 0x808080);
    return true;
  }();
  (void)prepared;
}

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// Plays what the viewer's conversion wrote, every frame of a round and into the next.
void Play(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) Fail("a converted file that cannot be opened");
  const vimo::platform::MappedFile block = vimo::platform::MappedFile::Map(file.get(), sizeof(BITMAPFILEHEADER));
  if (block == nullptr) return;
  const std::unique_ptr<CGifAnimation> animation = CGifAnimation::Create(block, RGB(1, 2, 3));
  if (!animation) return;
  animation->SetBackground(RGB(0, 0, 0));
  for (int step = 0; step < 40 && animation->GetDelay() != 0; ++step) animation->Step();
}

}  // namespace

void ConvertPictureBothWays(const std::uint8_t* data, std::size_t size, const char* extension) {
  Prepare();
  static const std::string source = ScratchPath("in") + extension;
  static const std::string destination = ScratchPath("out.bmp");
  WriteBytes(source, data, size);
  for (const bool viewing : {false, true}) {
    std::filesystem::remove(destination);
    ConvertOptions options;
    options.forViewing = viewing;
    options.colourTarget = std::make_shared<const std::vector<std::uint8_t>>();
    const bool converted = ConvertImageEx(source.c_str(), destination.c_str(), 0, options).status == ConvertStatus::kWritten;
    const bool written = std::filesystem::exists(destination);
    if (converted != written) Fail(converted ? "an image, yet no file on a writable folder" : "no image, yet a file was written");
    if (!written) continue;
    if (viewing) Play(destination);
    else CheckBmpFile(ReadBytes(destination));
  }
}

}  // namespace vimo::fuzz
