// Any bytes as the desktop's shared thumbnail of a file, which any program may have written: in
// the cache's folder of 128-pixel thumbnails and as a record of failure, read through the
// store's lookup as the grid and the film strip's makers ask it.
#include <QCryptographicHash>

#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "win32/ThumbnailCache.h"

namespace {

namespace fs = std::filesystem;

constexpr THUMBNAILMAKER kMaker = {"Vimo 3.2", "vimo-3.2", "X-Vimo::Reason"};

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
  const CThumbnailCache store(kMaker);
  // As a thumbnail first, then, with none of its size there, as a record of failure.
  vimo::fuzz::WriteBytes((cache.normal / cache.name).string(), data, size);
  fs::remove(cache.failed / cache.name);
  CThumbnailCache::CEntry entry;
  (void)store.Find(cache.photo.c_str(), 128, TRUE, entry);
  fs::remove(cache.normal / cache.name);
  vimo::fuzz::WriteBytes((cache.failed / cache.name).string(), data, size);
  CThumbnailCache::CEntry failure;
  (void)store.Find(cache.photo.c_str(), 128, TRUE, failure);
  return 0;
}
