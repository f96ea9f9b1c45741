// Any bytes as the desktop's shared thumbnail of a file, which any program may have written: in
// the cache's folder of 128-pixel thumbnails and as a record of failure, read through the
// thumbnail service's public calls as the grid and the film strip ask for them.
#include <QCryptographicHash>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "win32/ThumbnailCache.h"

namespace {

namespace fs = std::filesystem;

// Gives no picture, so that a thumbnail the cache does not take is recorded as a failure.
BOOL NoPicture(const char* /*path*/, UINT /*cx*/, THUMBNAILPIXELS& /*pixels*/, CString& reason) {
  reason = "no picture";
  return FALSE;
}

struct Cache {
  std::string photo;
  fs::path normal;
  fs::path failed;
  std::string name;
};

// The photo, and where the cache keeps its thumbnails: under the scratch folder, named by the MD5
// of the photo's URI as the thumbnail standard has it (the scratch path needs no escaping).
const Cache& Folders() {
  static const Cache cache = [] {
    Cache made;
    made.photo = vimo::fuzz::ScratchPath("photo.jpg");
    vimo::fuzz::WriteBytes(made.photo, reinterpret_cast<const std::uint8_t*>("\xFF\xD8\xFF"), 3);
    const fs::path home = vimo::fuzz::ScratchPath("cache");
    setenv("XDG_CACHE_HOME", home.c_str(), 1);
    made.normal = home / "thumbnails" / "normal";
    made.failed = home / "thumbnails" / "fail" / "vimo-3.2";
    fs::create_directories(made.normal);
    fs::create_directories(made.failed);
    const QByteArray uri = QByteArray("file://") + QByteArray::fromStdString(made.photo);
    made.name = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex().toStdString() + ".png";
    return made;
  }();
  return cache;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Cache& cache = Folders();
  for (const fs::path& folder : {cache.normal, cache.failed}) vimo::fuzz::WriteBytes((folder / cache.name).string(), data, size);
  CThumbnailCache thumbnails(1, FALSE);
  thumbnails.SetProvider(NoPicture);
  thumbnails.Request({CString(cache.photo.c_str())}, 1, 128);
  if (!thumbnails.WaitForReady(60000)) std::abort();  // a hang: the run's time limit says so first
  (void)thumbnails.TakeReady();
  thumbnails.Close();
  return 0;
}
