// A photo's EXIF block (the body of its APP1 segment) on any bytes, in a small JPEG: the edit a
// saved turn makes, which must change the block only where it says and give the same block when
// made again; the reader of orientation, date and thumbnail (browse order, upright pictures); the
// information panel's text; and the saved turn itself, which writes the turned file or leaves it
// as it was.
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "convert/ExifBlock.h"
#include "doc/ExifPatch.h"
#include "doc/LosslessTurn.h"
#include "view/ImageInfo.h"

namespace {

[[noreturn]] void Fail(const char* rule) {
  std::fprintf(stderr, "%s\n", rule);
  std::abort();
}

// A 16 x 16 grey JPEG without any marker but its own, made once.
const std::vector<std::uint8_t>& SmallJpeg() {
  static const std::vector<std::uint8_t> jpeg = [] {
    std::vector<unsigned char> pixels(16 * 16);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i);
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (handle == nullptr || tjCompress2(handle, pixels.data(), 16, 0, 16, TJPF_GRAY, &out, &size, TJSAMP_GRAY, 90, 0) != 0)
      Fail("no JPEG to put the block in");
    std::vector<std::uint8_t> bytes(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return bytes;
  }();
  return jpeg;
}

void CheckPatch(const std::uint8_t* data, std::size_t size) {
  std::vector<BYTE> once(data, data + size);
  if (!CExifPatch::Upright(once.data(), once.size(), 16, 16)) {
    if (!std::equal(once.begin(), once.end(), data)) Fail("a block that was refused was changed");
    return;
  }
  std::vector<BYTE> twice = once;
  if (!CExifPatch::Upright(twice.data(), twice.size(), 16, 16) || twice != once) Fail("a patched block patches differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckPatch(data, size);
  if (size > 0xFFFF - 2) return 0;  // more than one segment holds
  static const std::string folder = vimo::fuzz::ScratchPath("");
  const std::string path = folder + "photo.jpg";
  const std::vector<std::uint8_t>& jpeg = SmallJpeg();
  std::vector<std::uint8_t> photo(jpeg.begin(), jpeg.begin() + 2);
  photo.insert(photo.end(), {0xFF, 0xE1, static_cast<std::uint8_t>((size + 2) >> 8), static_cast<std::uint8_t>(size + 2)});
  photo.insert(photo.end(), data, data + size);
  photo.insert(photo.end(), jpeg.begin() + 2, jpeg.end());
  vimo::fuzz::WriteBytes(path, photo.data(), photo.size());

  const CExifBlock block(path.c_str());
  const int orientation = block.GetOrientation();
  if (orientation < 1 || orientation > 8) Fail("an orientation out of 1 to 8");
  (void)block.GetDateTaken();
  std::size_t thumbnail = 0;
  (void)block.GetThumbnail(thumbnail);
  (void)CImageInfo::Describe(folder.c_str(), "photo.jpg");

  CLosslessTurn turn;
  if (!turn.Load(path.c_str())) Fail("the photo could not be loaded");
  const CLosslessTurn::Result result = turn.Save(6, FALSE);
  if (result == CLosslessTurn::Result::kExifUnreadable && vimo::fuzz::ReadBytes(path) != photo) Fail("a refused turn changed the file");
  if (result != CLosslessTurn::Result::kDone && result != CLosslessTurn::Result::kExifUnreadable) Fail("a whole JPEG was not turned");
  return 0;
}
