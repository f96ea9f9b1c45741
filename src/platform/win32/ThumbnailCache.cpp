#include "win32/ThumbnailCache.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "afx/QtBridge.h"
#include "posix/RegularFile.h"
#include "posix/UniqueFd.h"
#include "win32/SafeFiles.h"
#include "win32/UserFolders.h"

namespace {

using vimo::posix::UniqueFd;

struct CacheSize {
  UINT cx;
  const char* folder;
};
constexpr CacheSize kSizes[] = {{128, "normal"}, {256, "large"}, {512, "x-large"}, {1024, "xx-large"}};

// A file in the cache larger than this, or a picture with a side beyond this, is no thumbnail.
constexpr qint64 kLargestCacheFile = 32 << 20;
constexpr int kLargestCachedSide = 2048;

const CacheSize& SizeFor(UINT cx) {
  for (const CacheSize& size : kSizes) {
    if (cx <= size.cx) return size;
  }
  return kSizes[std::size(kSizes) - 1];
}

// The cache's root folder, without a trailing '/'; empty when the user has no cache folder.
std::string CacheRoot() {
  const std::string home = vimo::platform::UserCacheHome();
  return home.empty() ? std::string() : home + "/thumbnails";
}

// The file: URI of an absolute path as GLib makes it, which is what file managers hash: every
// byte but letters, digits and -_.~!'()*$&+,=:@/ as %XX, upper-case.
std::string FileUri(const std::string& absolute) {
  return "file://" + vimo::platform::PercentEncoded(absolute, "-_.~!'()*$&+,=:@/");
}

// The name of a URI's thumbnails: the MD5 of the URI in hex, with ".png".
std::string CacheName(const std::string& uri) {
  return QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5).toHex().toStdString() + ".png";
}

// The whole of a small regular file; nothing for anything else.
QByteArray ReadSmallFile(const std::string& path) {
  struct stat info {};
  UniqueFd file = vimo::posix::OpenRegularFd(path.c_str(), &info);
  if (!file.valid() || info.st_size <= 0 || info.st_size > kLargestCacheFile) return {};
  QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
  iovec part{bytes.data(), static_cast<std::size_t>(bytes.size())};
  if (vimo::posix::ReadFullyAt(file.get(), &part, 1, 0) != static_cast<std::uint64_t>(bytes.size())) return {};
  return bytes;
}

// A thumbnail in the cache: its keys and, when asked for, its picture; ok false when it is no
// PNG one can read. Whoever wrote it, whatever it holds.
struct CCachedPng {
  bool ok = false;
  QString uri;
  QString mtime;
  QString reason;
  QImage image;
};

// Whether every chunk after the signature, but image data, fits in the bytes after it. The PNG
// reader sets aside what a chunk says it holds before it reads it: a few damaged bytes that
// claim gigabytes would take those first.
bool ChunksFit(const QByteArray& bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype size = bytes.size();
  for (qsizetype at = 8; at + 8 <= size;) {
    const quint32 length = (quint32{data[at]} << 24) | (quint32{data[at + 1]} << 16) | (quint32{data[at + 2]} << 8) | data[at + 3];
    if (qint64{length} > qint64{size} - at - 12) return std::memcmp(data + at + 4, "IDAT", 4) == 0;
    at += 12 + static_cast<qsizetype>(length);
  }
  return true;
}

CCachedPng ReadCached(const std::string& path, bool withPicture, const char* reasonKey) {
  CCachedPng png;
  QByteArray bytes = ReadSmallFile(path);
  if (bytes.isEmpty() || !ChunksFit(bytes)) return png;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return png;
  QImageReader reader(&buffer, "png");
  const QSize size = reader.size();
  if (!reader.canRead() || !size.isValid() || size.width() > kLargestCachedSide || size.height() > kLargestCachedSide)
    return png;
  if (withPicture) {
    png.image = reader.read();
    if (png.image.isNull()) return png;
  }
  // Keys after the picture's data are known once it is read.
  const auto text = [&](const char* key) { return withPicture ? png.image.text(key) : reader.text(key); };
  png.uri = text("Thumb::URI");
  png.mtime = text("Thumb::MTime");
  png.reason = text(reasonKey);
  png.ok = true;
  return png;
}

// The cached thumbnail is that of this very file as it is now.
bool IsCurrent(const CCachedPng& png, const std::string& uri, long long mtime) {
  return png.ok && png.uri.toStdString() == uri && png.mtime == QString::number(mtime);
}

// The picture without its alpha channel when it has no transparency: a quarter smaller.
QImage WithoutUnusedAlpha(const QImage& picture) {
  if (!picture.hasAlphaChannel()) return picture.convertToFormat(QImage::Format_RGB888);
  QImage image = picture.convertToFormat(QImage::Format_RGBA8888);
  for (int y = 0; y < image.height(); ++y) {
    const uchar* line = image.constScanLine(y);
    for (int x = 0; x < image.width(); ++x) {
      if (line[4 * x + 3] != 255) return image;
    }
  }
  return image.convertToFormat(QImage::Format_RGB888);
}

// ---- The PNG writer --------------------------------------------------------------------------
// Qt's writer stores a text of 40 characters or more compressed (zTXt), which GLib's check of a
// thumbnail, and with it every GNOME program, does not read: the keys are written by libpng.

using PngKeys = std::vector<std::pair<const char*, std::string>>;

struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

[[noreturn]] void PngFailed(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
void PngWarned(png_structp /*png*/, png_const_charp /*message*/) {}

void PngAppend(png_structp png, png_bytep data, png_size_t size) {
  bool full = false;
  try {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
  } catch (const std::bad_alloc&) {
    full = true;
  }
  if (full) png_error(png, "no memory");  // out of the handler first: the jump would skip its end
}

void PngFlush(png_structp /*png*/) {}

// Writes the image (RGB888 or RGBA8888) and texts into bytes; false on a libpng error. Nothing
// here needs destroying, so that libpng's jump out of it skips nothing.
bool WritePng(const PngWriter& writer, const QImage& image, std::vector<png_text>& texts, std::vector<png_bytep>& rows,
              std::string& bytes) {
  if (setjmp(png_jmpbuf(writer.png)) != 0) return false;
  const bool alpha = image.format() == QImage::Format_RGBA8888;
  png_set_write_fn(writer.png, &bytes, &PngAppend, &PngFlush);
  png_set_IHDR(writer.png, writer.info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_text(writer.png, writer.info, texts.data(), static_cast<int>(texts.size()));
  png_write_info(writer.png, writer.info);
  png_write_image(writer.png, rows.data());
  png_write_end(writer.png, writer.info);
  return true;
}

// The picture as a PNG with the keys before its pixels: as tEXt where the value is ASCII (all the
// standard's keys), else as uncompressed iTXt (UTF-8). Empty when it could not be made.
std::string EncodedPng(const QImage& picture, const PngKeys& keys) {
  const QImage image = WithoutUnusedAlpha(picture);
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(image.constScanLine(y));  // libpng only reads them
  std::vector<png_text> texts(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::string& value = keys[i].second;
    const bool ascii =
        std::all_of(value.begin(), value.end(), [](char c) { return c != '\0' && static_cast<unsigned char>(c) < 0x80; });
    texts[i].compression = ascii ? PNG_TEXT_COMPRESSION_NONE : PNG_ITXT_COMPRESSION_NONE;
    texts[i].key = const_cast<png_charp>(keys[i].first);
    texts[i].text = const_cast<png_charp>(value.c_str());
    texts[i].text_length = ascii ? value.size() : 0;
    texts[i].itxt_length = ascii ? 0 : value.size();
  }
  PngWriter writer;
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngFailed, &PngWarned);
  if (writer.png == nullptr) return {};
  writer.info = png_create_info_struct(writer.png);
  std::string bytes;
  if (image.isNull() || writer.info == nullptr || !WritePng(writer, image, texts, rows, bytes)) return {};
  return bytes;
}

}  // namespace

CThumbnailCache::Found CThumbnailCache::Find(const char* path, UINT cx, BOOL bPicture, CEntry& entry) const {
  entry = CEntry();
  struct stat info {};
  if (path == nullptr || stat(path, &info) != 0) {
    entry.strReason = CString("cannot be read (") + std::strerror(path == nullptr ? EINVAL : errno) + ")";
    return Found::kNoFile;
  }
  if (!S_ISREG(info.st_mode)) {
    entry.strReason = "not a file";
    return Found::kNoFile;
  }
  const CacheSize& size = SizeFor(cx);
  entry.cx = size.cx;
  entry.root = CacheRoot();
  entry.uri = FileUri(vimo::platform::FullPath(path));
  entry.name = CacheName(entry.uri);
  entry.mtime = info.st_mtime;
  entry.size = info.st_size;
  if (entry.root.empty()) return Found::kNothing;
  CCachedPng cached = ReadCached(entry.root + "/" + size.folder + "/" + entry.name, bPicture != FALSE, m_maker.lpszReasonKey);
  if (IsCurrent(cached, entry.uri, entry.mtime)) {
    entry.picture = AfxBitmapOf(std::move(cached.image));
    return Found::kPicture;
  }
  const CCachedPng failed =
      ReadCached(entry.root + "/fail/" + m_maker.lpszFailFolder + "/" + entry.name, false, m_maker.lpszReasonKey);
  if (!IsCurrent(failed, entry.uri, entry.mtime)) return Found::kNothing;
  entry.strReason = AfxFromQString(failed.reason);
  return Found::kFailure;
}

BOOL CThumbnailCache::Put(const CEntry& entry, const CBitmap& picture) const {
  return Write(entry.root + "/" + SizeFor(entry.cx).folder, entry, picture, CString());
}

BOOL CThumbnailCache::PutFailure(const CEntry& entry, const CString& strReason) const {
  // The standard's record of a failure: a picture of one clear pixel with the file's keys.
  QImage clear(1, 1, QImage::Format_RGBA8888);
  clear.fill(Qt::transparent);
  return Write(entry.root + "/fail/" + m_maker.lpszFailFolder, entry, AfxBitmapOf(std::move(clear)), strReason);
}

BOOL CThumbnailCache::Write(const std::string& folder, const CEntry& entry, const CBitmap& picture,
                            const CString& strReason) const {
  const QImage* pImage = AfxImageOf(picture);
  if (entry.root.empty() || entry.name.empty() || pImage == nullptr) return FALSE;
  PngKeys keys = {{"Thumb::URI", entry.uri},
                  {"Thumb::MTime", std::to_string(entry.mtime)},
                  {"Thumb::Size", std::to_string(entry.size)},
                  {"Software", m_maker.lpszSoftware}};
  if (!strReason.IsEmpty()) keys.emplace_back(m_maker.lpszReasonKey, strReason.str());
  const std::string bytes = EncodedPng(*pImage, keys);
  if (bytes.empty()) return FALSE;
  vimo::platform::MakeFolders(folder);
  // Private whoever wrote the one before; not flushed: a thumbnail lost in a crash is made again.
  return vimo::platform::ReplaceFileAtomically((folder + "/" + entry.name).c_str(), bytes, 0600,
                                               {.bNewMode = true, .bFlush = false})
             ? TRUE
             : FALSE;
}

void CThumbnailCache::ForgetFile(const char* path) {
  const std::string root = CacheRoot();
  if (path == nullptr || root.empty()) return;
  const std::string name = CacheName(FileUri(vimo::platform::FullPath(path)));
  for (const CacheSize& size : kSizes) unlink((root + "/" + size.folder + "/" + name).c_str());
  const std::unique_ptr<DIR, int (*)(DIR*)> fail(opendir((root + "/fail").c_str()), &closedir);
  if (fail == nullptr) return;
  while (const dirent* entry = readdir(fail.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    // A maker's own folder, never one a link leads to.
    const UniqueFd maker(openat(dirfd(fail.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (maker.valid()) unlinkat(maker.get(), name.c_str(), 0);
  }
}
