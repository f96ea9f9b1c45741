#include "win32/ThumbnailCache.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QEvent>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QObject>
#include <QTimer>
#include <QTransform>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "afx/QtBridge.h"
#include "posix/RegularFile.h"
#include "posix/UniqueFd.h"
#include "win32/Kernel.h"
#include "win32/UserFolders.h"

namespace {

using vimo::posix::UniqueFd;

constexpr const char* kSoftware = "Vimo 3.2";
constexpr const char* kFailFolder = "fail/vimo-3.2";
// Why a file gave no thumbnail, kept with its record of failure for the tooltip of later runs.
constexpr const char* kReasonKey = "X-Vimo::Reason";
constexpr const char* kUnknownReason = "cannot be read";

struct CacheSize {
  UINT cx;
  const char* folder;
};
constexpr CacheSize kSizes[] = {{128, "normal"}, {256, "large"}, {512, "x-large"}, {1024, "xx-large"}};

// A file in the cache larger than this, or a picture with a side beyond this, is no thumbnail.
constexpr qint64 kLargestCacheFile = 32 << 20;
constexpr int kLargestCachedSide = 2048;
// While the program holds the makers back, they look again this often.
constexpr auto kHoldRecheck = std::chrono::milliseconds(15);
// While more are being made, ready thumbnails are announced to the window at most this often.
constexpr auto kAnnounceInterval = std::chrono::milliseconds(100);
// The makers' niceness above the program's other threads.
constexpr int kLowerPriority = 10;
// At most this much of made thumbnails' pictures waits to be written to the cache while more are
// to be shown: a screenful of the small ones (a grid scrolled on and on keeps asking for more).
constexpr qsizetype kMostUnwrittenBytes = 4 << 20;

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
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr char kKept[] = "-_.~!'()*$&+,=:@/";
  std::string uri = "file://";
  for (const char c : absolute) {
    const auto byte = static_cast<unsigned char>(c);
    const bool alphanumeric = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
    if (alphanumeric || (byte != 0 && std::strchr(kKept, c) != nullptr)) {
      uri += c;
      continue;
    }
    uri += '%';
    uri += kHex[byte >> 4];
    uri += kHex[byte & 0x0F];
  }
  return uri;
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
// PNG one can read.
struct CCachedPng {
  bool ok = false;
  QString uri;
  QString mtime;
  QString reason;
  QImage image;
};

CCachedPng ReadCached(const std::string& path, bool withPicture) {
  CCachedPng png;
  QByteArray bytes = ReadSmallFile(path);
  if (bytes.isEmpty()) return png;
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
  png.reason = text(kReasonKey);
  png.ok = true;
  return png;
}

// The cached thumbnail is that of this very file as it is now.
bool IsCurrent(const CCachedPng& png, const std::string& uri, long long mtime) {
  return png.ok && png.uri.toStdString() == uri && png.mtime == QString::number(mtime);
}

bool WriteAll(int fd, const QByteArray& bytes) {
  for (qsizetype done = 0; done < bytes.size();) {
    const ssize_t put = write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += put;
  }
  return true;
}

using CacheKeys = std::vector<std::pair<const char*, QString>>;

// Puts the picture with its keys into the folder under name: written whole under a temporary
// name beside it (mode 0600) and renamed into place. Nothing is left behind when a step fails.
void WriteCached(const std::string& folder, const std::string& name, const QImage& image, const CacheKeys& keys) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return;
  // Keys on the image itself are written as they are (the writer's own text takes "key: value").
  QImage keyed = image;
  for (const auto& [key, value] : keys) keyed.setText(key, value);
  QImageWriter writer(&buffer, "png");
  if (!writer.write(keyed)) return;
  vimo::platform::MakeFolders(folder);
  std::string temporary = folder + "/" + name + ".XXXXXX";
  UniqueFd file(mkstemp(temporary.data()));
  if (!file.valid()) return;
  const bool written = WriteAll(file.get(), bytes);
  const bool closed = close(file.release()) == 0;
  if (!written || !closed || rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) unlink(temporary.c_str());
}

// The picture, reduced to cx on its longer side when larger.
QImage Fitted(const QImage& image, UINT cx) {
  const int side = static_cast<int>(cx);
  if (image.width() <= side && image.height() <= side) return image;
  return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The picture of the provider's pixels, reduced to cx on its longer side and then turned
// upright (a square's bound fits either way round); null when they do not make one.
QImage UprightImage(const THUMBNAILPIXELS& pixels, UINT cx) {
  if (pixels.cx == 0 || pixels.cy == 0 || pixels.cx > 65535 || pixels.cy > 65535 ||
      pixels.rgba.size() != std::size_t{pixels.cx} * pixels.cy * 4)
    return {};
  // The provider's rows as they are, not copied: the reduction makes a picture of its own, and
  // one already small enough is copied once.
  const QImage stored(pixels.rgba.data(), static_cast<int>(pixels.cx), static_cast<int>(pixels.cy),
                      static_cast<qsizetype>(pixels.cx) * 4, QImage::Format_RGBA8888);
  QImage fitted = Fitted(stored, cx);
  if (fitted.constBits() == stored.constBits()) fitted = stored.copy();
  // Orientation 5 to 8 turn a quarter clockwise (5, 7 then mirror across or upside down, 8 three
  // quarters); 2 to 4 mirror across, turn a half, mirror upside down.
  switch (pixels.nOrientation) {
    case 2: return fitted.mirrored(true, false);
    case 3: return fitted.mirrored(true, true);
    case 4: return fitted.mirrored(false, true);
    case 5: return fitted.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: return fitted.transformed(QTransform().rotate(90));
    case 7: return fitted.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8: return fitted.transformed(QTransform().rotate(270));
    default: return fitted;
  }
}

// A picture without transparency is stored without its alpha channel, as other makers store
// photos: a quarter smaller.
QImage WithoutUnusedAlpha(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < argb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    for (int x = 0; x < argb.width(); ++x) {
      if (qAlpha(line[x]) != 255) return image;
    }
  }
  return image.convertToFormat(QImage::Format_RGB888);
}

// The picture as the window draws it, converted here on the maker's thread rather than on the
// window's.
CBitmap DrawableBitmap(const QImage& image) { return AfxBitmapOf(AfxDrawableImage(image)); }

// Turns a maker's announcement into the window's message, on the thread the cache was made on.
class CNotifier : public QObject {
 public:
  CNotifier() {
    m_wait.setSingleShot(true);
    QObject::connect(&m_wait, &QTimer::timeout, this, [this] { Announce(); });
  }
  // The makers' news: thumbnails are ready; bLast, the last of those asked to be delivered or of
  // those on screen.
  struct CReadyEvent : QEvent {
    explicit CReadyEvent(bool last) : QEvent(EventType()), bLast(last) {}
    bool bLast;
  };
  static QEvent::Type EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  bool event(QEvent* pEvent) override {
    AfxTakeOverPosted(pEvent);
    if (pEvent->type() != EventType()) return QObject::event(pEvent);
    // Thumbnails that come quickly one after another are announced together: each announcement
    // costs the window a repaint, and the screen a copy of it. The last is not kept waiting.
    const auto now = std::chrono::steady_clock::now();
    if (static_cast<CReadyEvent*>(pEvent)->bLast || now - m_lastAnnounced >= kAnnounceInterval) {
      Announce();
    } else if (!m_wait.isActive()) {
      m_wait.start(std::chrono::ceil<std::chrono::milliseconds>(m_lastAnnounced + kAnnounceInterval - now));
    }
    return true;
  }
  void Announce() {
    m_wait.stop();  // an announcement out of turn takes the waiting one's place
    m_lastAnnounced = std::chrono::steady_clock::now();
    if (CWnd* pWnd = CWnd::FromHandle(m_hWnd)) pWnd->PostMessage(m_nMessage);
  }
  HWND m_hWnd = nullptr;
  UINT m_nMessage = 0;

 private:
  std::chrono::steady_clock::time_point m_lastAnnounced;
  QTimer m_wait;  // runs while ready thumbnails wait for their turn to be announced
};

}  // namespace

struct CThumbnailCache::CState {
  struct CWanted {
    std::string path;
    UINT cx = 0;
    bool shown = false;
    bool onScreen = false;  // its screenful is complete only once it is there
  };
  // A made thumbnail still to be written to the cache.
  struct CUnwritten {
    std::string folder;
    std::string name;
    QImage image;
    CacheKeys keys;
    void Write() const { WriteCached(folder, name, image, keys); }
  };

  std::mutex mutex;
  std::condition_variable wake;   // work was asked for, or stop
  std::condition_variable done;   // a thumbnail became ready, or the work ran out
  std::deque<CWanted> wanted;
  // Made and delivered, written once no more are wanted on screen: encoding them would hold up
  // those (the first screenful of a folder never seen, some 5 % sooner).
  std::vector<CUnwritten> unwritten;
  qsizetype nUnwrittenBytes = 0;
  int nMaking = 0;
  std::vector<CWanted> making;  // those being made (nMaking counts the cache's writes too)
  bool stop = false;
  std::vector<CThumbnail> ready;
  bool announced = false;
  PFNTHUMBNAILPROVIDER pfnProvider = nullptr;
  std::function<bool()> hold;
  int nThreads = 1;
  bool background = true;
  std::vector<std::thread> threads;
  CNotifier notifier;  // lives on the thread that made the cache

  void Run();
  // Writes those held back and write, if any, with the lock released meanwhile.
  void WriteUnwritten(std::unique_lock<std::mutex>& lock, std::optional<CUnwritten> write);
  CThumbnail Make(const CWanted& item, std::optional<CUnwritten>& write) const;
};

void CThumbnailCache::CState::Run() {
  // Below the program's own work: the conversion the user waits for comes first.
  if (background) vimo::platform::LowerThreadPriority(kLowerPriority);
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stop || !wanted.empty() || !unwritten.empty(); });
    if (stop) return;
    if (wanted.empty() || !wanted.front().shown) {
      if (!unwritten.empty()) {
        ++nMaking;
        WriteUnwritten(lock, std::nullopt);
        --nMaking;
        done.notify_all();
      }
      if (wanted.empty()) continue;
    }
    if (hold) {
      const std::function<bool()> holding = hold;
      lock.unlock();
      const bool held = holding();
      lock.lock();
      if (held) {
        wake.wait_for(lock, kHoldRecheck, [this] { return stop; });
        continue;
      }
      if (wanted.empty()) continue;
    }
    const CWanted item = wanted.front();
    wanted.pop_front();
    ++nMaking;
    making.push_back(item);
    lock.unlock();
    std::optional<CUnwritten> write;
    CThumbnail thumbnail = Make(item, write);
    lock.lock();
    const bool moreShown = !wanted.empty() && wanted.front().shown;
    if (write && moreShown && nUnwrittenBytes + write->image.sizeInBytes() <= kMostUnwrittenBytes) {
      nUnwrittenBytes += write->image.sizeInBytes();
      unwritten.push_back(std::move(*write));
    } else if (!moreShown) {
      // In the cache before it is delivered, and those held back with it: none waits past the
      // screenful it was made for.
      WriteUnwritten(lock, std::move(write));
    } else if (write) {
      lock.unlock();
      write->Write();
      lock.lock();
    }
    --nMaking;
    const auto made = std::find_if(making.begin(), making.end(), [&item](const CWanted& each) {
      return each.path == item.path && each.cx == item.cx && each.shown == item.shown;
    });
    const bool onScreen = made->onScreen;  // as the latest request has it
    making.erase(made);
    if (item.shown) {
      ready.push_back(std::move(thumbnail));
      const auto left = [this](bool CWanted::*kind) {
        const auto of = [kind](const CWanted& each) { return each.*kind; };
        return std::any_of(making.begin(), making.end(), of) || std::any_of(wanted.begin(), wanted.end(), of);
      };
      // The screenful it completes is not kept waiting for the next announcement either.
      const bool last = !left(&CWanted::shown) || (onScreen && !left(&CWanted::onScreen));
      if ((!announced || last) && notifier.m_hWnd != nullptr) {
        announced = true;
        AfxPostAcrossThreads(&notifier, new CNotifier::CReadyEvent(last));
      }
    }
    done.notify_all();
  }
}

void CThumbnailCache::CState::WriteUnwritten(std::unique_lock<std::mutex>& lock, std::optional<CUnwritten> write) {
  std::vector<CUnwritten> writes = std::exchange(unwritten, {});
  nUnwrittenBytes = 0;
  if (write) writes.push_back(std::move(*write));
  if (writes.empty()) return;
  lock.unlock();
  for (const CUnwritten& each : writes) each.Write();
  lock.lock();
}

CThumbnailCache::CThumbnail CThumbnailCache::CState::Make(const CWanted& item, std::optional<CUnwritten>& write) const {
  CThumbnail thumbnail;
  thumbnail.strPath = item.path;
  thumbnail.cx = item.cx;
  struct stat info {};
  if (stat(item.path.c_str(), &info) != 0) {
    thumbnail.strReason = CString("cannot be read (") + std::strerror(errno) + ")";
    return thumbnail;
  }
  if (!S_ISREG(info.st_mode)) {
    thumbnail.strReason = "not a file";
    return thumbnail;
  }
  const CacheSize& size = SizeFor(item.cx);
  const std::string uri = FileUri(vimo::platform::FullPath(item.path));
  const std::string name = CacheName(uri);
  const std::string root = CacheRoot();
  const long long mtime = info.st_mtime;
  if (!root.empty()) {
    const CCachedPng cached = ReadCached(root + "/" + size.folder + "/" + name, item.shown);
    if (IsCurrent(cached, uri, mtime)) {
      thumbnail.bitmap = DrawableBitmap(Fitted(cached.image, item.cx));
      return thumbnail;
    }
    const CCachedPng failed = ReadCached(root + "/" + kFailFolder + "/" + name, false);
    if (IsCurrent(failed, uri, mtime)) {
      thumbnail.strReason = failed.reason.isEmpty() ? CString(kUnknownReason) : AfxFromQString(failed.reason);
      return thumbnail;
    }
  }
  CacheKeys keys = {{"Thumb::URI", QString::fromStdString(uri)},
                    {"Thumb::MTime", QString::number(mtime)},
                    {"Thumb::Size", QString::number(info.st_size)},
                    {"Software", QString::fromLatin1(kSoftware)}};
  THUMBNAILPIXELS pixels;
  CString reason;
  QImage image;
  if (pfnProvider != nullptr && pfnProvider(item.path.c_str(), size.cx, pixels, reason)) image = UprightImage(pixels, size.cx);
  if (image.isNull()) {
    thumbnail.strReason = reason.IsEmpty() ? CString(kUnknownReason) : reason;
    keys.emplace_back(kReasonKey, AfxToQString(thumbnail.strReason));
    QImage empty(1, 1, QImage::Format_ARGB32);
    empty.fill(Qt::transparent);
    if (!root.empty()) WriteCached(root + "/" + kFailFolder, name, empty, keys);
    return thumbnail;
  }
  if (!root.empty()) write = CUnwritten{root + "/" + size.folder, name, WithoutUnusedAlpha(image), std::move(keys)};
  if (item.shown) thumbnail.bitmap = DrawableBitmap(Fitted(image, item.cx));
  return thumbnail;
}

CThumbnailCache::CThumbnailCache(int nThreads, BOOL bBackground) : m_pState(std::make_unique<CState>()) {
  m_pState->nThreads = std::max(1, nThreads);
  m_pState->background = bBackground != FALSE;
}

CThumbnailCache::~CThumbnailCache() { Close(); }

void CThumbnailCache::Close() {
  std::vector<std::thread> threads;
  {
    const std::lock_guard<std::mutex> guard(m_pState->mutex);
    m_pState->stop = true;
    m_pState->wanted.clear();
    threads = std::move(m_pState->threads);
  }
  m_pState->wake.notify_all();
  for (std::thread& thread : threads) thread.join();
}

void CThumbnailCache::SetProvider(PFNTHUMBNAILPROVIDER pfnProvider) {
  const std::lock_guard<std::mutex> guard(m_pState->mutex);
  m_pState->pfnProvider = pfnProvider;
}

void CThumbnailCache::SetHold(std::function<bool()> hold) {
  const std::lock_guard<std::mutex> guard(m_pState->mutex);
  m_pState->hold = std::move(hold);
}

void CThumbnailCache::SetNotifyWindow(HWND hWnd, UINT nMessage) {
  const std::lock_guard<std::mutex> guard(m_pState->mutex);
  m_pState->notifier.m_hWnd = hWnd;
  m_pState->notifier.m_nMessage = nMessage;
}

void CThumbnailCache::Request(const std::vector<CString>& paths, std::size_t nShown, UINT cx, std::size_t nOnScreen) {
  {
    const std::lock_guard<std::mutex> guard(m_pState->mutex);
    if (m_pState->stop) return;
    CState& state = *m_pState;
    state.wanted.clear();
    for (std::size_t i = 0; i < paths.size(); ++i) {
      CState::CWanted item{paths[i].str(), cx, i < nShown, i < std::min(nOnScreen, nShown)};
      // One being made that will be delivered if need be, or one to show that was made and not
      // yet taken, is not begun again (those only to be made, the rest of a large folder, are
      // not looked for among the ready: the request is made on every scroll).
      const auto same = [&item](const CState::CWanted& other) {
        return other.path == item.path && other.cx == item.cx && (other.shown || !item.shown);
      };
      const auto taken = [&item](const CThumbnail& ready) { return ready.strPath.str() == item.path && ready.cx == item.cx; };
      const auto beingMade = std::find_if(state.making.begin(), state.making.end(), same);
      if (beingMade != state.making.end()) beingMade->onScreen = item.onScreen;
      else if (!item.shown || std::none_of(state.ready.begin(), state.ready.end(), taken))
        state.wanted.push_back(std::move(item));
    }
    try {
      while (!m_pState->wanted.empty() && static_cast<int>(m_pState->threads.size()) < m_pState->nThreads)
        m_pState->threads.emplace_back([state = m_pState.get()] { state->Run(); });
    } catch (const std::system_error&) {
      // Fewer threads than asked: those there are do the work.
    }
  }
  m_pState->wake.notify_all();
}

std::vector<CThumbnailCache::CThumbnail> CThumbnailCache::TakeReady() {
  const std::lock_guard<std::mutex> guard(m_pState->mutex);
  m_pState->announced = false;
  return std::exchange(m_pState->ready, {});
}

BOOL CThumbnailCache::WaitForReady(DWORD dwTimeout) {
  std::unique_lock<std::mutex> lock(m_pState->mutex);
  CState& state = *m_pState;
  const auto settled = [&state] {
    return !state.ready.empty() || (state.wanted.empty() && state.unwritten.empty() && state.nMaking == 0);
  };
  return state.done.wait_for(lock, std::chrono::milliseconds(dwTimeout), settled) ? TRUE : FALSE;
}

void CThumbnailCache::ForgetFile(const char* path) {
  const std::string root = CacheRoot();
  if (path == nullptr || root.empty()) return;
  const std::string name = CacheName(FileUri(vimo::platform::FullPath(path)));
  for (const CacheSize& size : kSizes) unlink((root + "/" + size.folder + "/" + name).c_str());
  unlink((root + "/" + kFailFolder + "/" + name).c_str());
}
