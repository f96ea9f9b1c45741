// vimo-xwatch: runs an image viewer under an X server and watches it from outside, the same way
// for every viewer, so that their figures compare fairly.
//
//   vimo-xwatch [options] -- COMMAND [ARGS...]
//
// It starts COMMAND, gives its first top-level window the asked geometry and the keyboard focus,
// waits until the picture has settled, types the asked keys through XTest at fixed intervals,
// and writes one line per event to the log, each prefixed by the milliseconds since the start:
//
//   launch PID | map WINDOW WIDTHxHEIGHT | pixels HASH COLOURS PROBE (the watched region changed;
//   up to 64 distinct colours counted; PROBE is the colour, RRGGBB, three quarters across its
//   middle row) | popup WINDOW WIDTHxHEIGHT (a later top-level window, such
//   as a message box)
//   title TEXT | key KEY N | file PATH BYTES (a *.bmp file was completed in a watched folder)
//   disk BYTES (the *.bmp files of the watched folders together) | settled | timeout
//   cpu SECONDS (over the idle time) | hwm KB (peak resident set size) | exit STATUS
//   rss KB (resident set size, read just before each key and at the end)
//   damage (the server reports drawing that meets the watched region, changed or not; only
//   with --damage)
//
// The region is read with XGetImage whenever the X server reports damage on the root window, so
// nothing is polled; a change is stamped with the time the server answered, not the time the
// watcher finished hashing it. Options:
//   --log FILE             where the events go (default: standard output)
//   --region X,Y,W,H       the screen region that shows the picture (default 96x32 at the centre)
//   --geometry WxH         move the viewer's window to 0,0 and give it this size when it maps
//   --watch DIR            report *.bmp files completed in DIR, in its sub-folders named vimo
//                          and in the viewer's own vimo-PID-* folders (may be repeated)
//   --settle MS            the picture has settled when the region shows a picture (at least
//                          32 colours, so not a plain background) unchanged this long (default 1000)
//   --timeout MS           give up waiting for the first picture after this long (default 20000)
//   --wait MS              pause between the settled picture and the first key (default 0)
//   --keys KEY*N@MS       press KEY (Tab, shift+Tab, space, Right...) N times, one every MS
//                          milliseconds; may be repeated, the groups run in order
//   --damage               log each drawing that meets the region, even one that changes nothing
//   --tail MS              keep watching this long after the last key (default 2000)
//   --quiet MS             end the tail early once nothing at all happened for this long
//   --idle S               then measure the CPU time the viewer uses over S seconds
//   --made DIR:N           count the pictures (*.png, *.jpg) completed anywhere below DIR, logging
//                          "made COUNT" for each and "all-made" at the N-th, which ends the tail
//   --pictures             once settled, log "pictures N": the photographs the region shows side
//                          by side (thumbnails), told from backgrounds, frames and captions by
//                          their detail; a partly shown one counts when 32 x 32 pixels of it show,
//                          a picture larger than 512 pixels a side (the photo itself) does not
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct KeyGroup {
  std::string chord;
  int count = 0;
  int intervalMs = 0;
};

struct Options {
  std::string logPath;
  int regionX = -1, regionY = -1, regionW = 96, regionH = 32;
  int width = 0, height = 0;
  std::vector<std::string> watchDirs;
  int settleMs = 1000;
  int timeoutMs = 20000;
  int waitMs = 0;
  std::vector<KeyGroup> keys;
  int tailMs = 2000;
  int quietMs = 0;
  int idleSeconds = 0;
  bool logDamage = false;
  std::string madeDir;
  int madeCount = 0;
  bool countPictures = false;
  std::vector<char*> command;
};

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "vimo-xwatch: %s\n", message.c_str());
  std::exit(2);
}

double MonotonicMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class Watcher {
 public:
  explicit Watcher(Options options) : m_options(std::move(options)) {}
  int Run();

 private:
  // at: when it happened, in milliseconds since the start (by default now).
  void Log(const char* kind, const std::string& text = "", double at = -1);
  double Now() const { return MonotonicMs() - m_start; }
  void OpenDisplay();
  void Launch();
  // Handles X and folder events until the deadline (milliseconds since the start) or the
  // viewer's exit.
  void PumpUntil(double deadline);
  void HandleXEvent(XEvent& event);
  void HandleFolderEvents();
  void WatchMade(const std::string& path);
  void CountMade(const std::string& path);
  void HandleMadeEvents();
  void WatchFolder(const std::string& path, bool isRoot);
  void ReportDisk();
  void GrabRegion();
  void CountPictures();
  void AttachSharedImage();
  void DetachSharedImage();
  void ReadTitle();
  void PressKey(const std::string& chord);
  bool DamageMeetsRegion();
  bool WaitForSettledPicture();
  void WaitForTail();
  void CloseViewer();
  bool ChildAlive();
  long CpuTicks() const;
  std::string ProcStatus(const char* field) const;

  Options m_options;
  double m_start = 0;
  FILE* m_log = stdout;
  Display* m_display = nullptr;
  Window m_root = 0;
  // The region's pixels through shared memory when the server offers it: copying a screenful
  // through the socket takes tens of milliseconds on a busy machine, during which later drawing
  // goes unseen.
  XImage* m_shmImage = nullptr;
  XShmSegmentInfo m_shmSegment{};
  Window m_window = 0;
  int m_damageEvent = 0;
  int m_damageError = 0;
  Damage m_damage = 0;
  uint64_t m_lastHash = 0;
  int m_lastColours = 0;
  double m_lastPixels = -1;
  double m_mapped = -1;
  double m_lastEvent = 0;
  std::string m_title;
  int m_inotify = -1;
  std::map<int, std::string> m_folders;  // watch descriptor -> folder
  std::map<int, bool> m_isRoot;
  int m_madeInotify = -1;
  std::map<int, std::string> m_madeFolders;  // watch descriptor -> folder, for --made
  std::set<std::string> m_made;               // the pictures completed, each once
  bool m_allMade = false;
  long long m_disk = -1;
  pid_t m_child = -1;
  bool m_exited = false;
  Atom m_netWmName = 0, m_utf8 = 0, m_protocols = 0, m_deleteWindow = 0;
};

void Watcher::Log(const char* kind, const std::string& text, double at) {
  m_lastEvent = Now();
  std::fprintf(m_log, "%.3f %s%s%s\n", at >= 0 ? at : m_lastEvent, kind, text.empty() ? "" : " ", text.c_str());
  std::fflush(m_log);
}

int IgnoreXError(Display*, XErrorEvent*) { return 0; }  // windows may go away under us

void Watcher::OpenDisplay() {
  m_display = XOpenDisplay(nullptr);
  if (m_display == nullptr) Fail("cannot open the X display (run under xvfb-run)");
  XSetErrorHandler(&IgnoreXError);
  int major = 0, minor = 0, event = 0, error = 0;
  if (!XTestQueryExtension(m_display, &event, &error, &major, &minor)) Fail("the X server has no XTEST");
  if (!XDamageQueryExtension(m_display, &m_damageEvent, &m_damageError)) Fail("the X server has no DAMAGE");
  int fixesMajor = 2, fixesMinor = 0;  // regions, for --damage
  if (!XFixesQueryExtension(m_display, &event, &error) || !XFixesQueryVersion(m_display, &fixesMajor, &fixesMinor))
    Fail("the X server has no XFIXES");
  m_root = DefaultRootWindow(m_display);
  if (m_options.regionX < 0) {
    m_options.regionX = (DisplayWidth(m_display, DefaultScreen(m_display)) - m_options.regionW) / 2;
    m_options.regionY = (DisplayHeight(m_display, DefaultScreen(m_display)) - m_options.regionH) / 2;
  }
  m_netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
  m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
  m_protocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
  m_deleteWindow = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
  XSelectInput(m_display, m_root, SubstructureNotifyMask);
  m_damage = XDamageCreate(m_display, m_root, XDamageReportNonEmpty);
  AttachSharedImage();
  GrabRegion();
  XSync(m_display, False);
}

void Watcher::AttachSharedImage() {
  if (!XShmQueryExtension(m_display)) return;
  const int screen = DefaultScreen(m_display);
  XImage* image = XShmCreateImage(m_display, DefaultVisual(m_display, screen), DefaultDepth(m_display, screen), ZPixmap,
                                  nullptr, &m_shmSegment, m_options.regionW, m_options.regionH);
  if (image == nullptr) return;
  m_shmSegment.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height, IPC_CREAT | 0600);
  void* memory = m_shmSegment.shmid >= 0 ? shmat(m_shmSegment.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
  if (memory == reinterpret_cast<void*>(-1)) {
    if (m_shmSegment.shmid >= 0) shmctl(m_shmSegment.shmid, IPC_RMID, nullptr);
    XDestroyImage(image);
    return;
  }
  m_shmSegment.shmaddr = image->data = static_cast<char*>(memory);
  m_shmSegment.readOnly = False;
  const bool attached = XShmAttach(m_display, &m_shmSegment) != 0;
  XSync(m_display, False);
  shmctl(m_shmSegment.shmid, IPC_RMID, nullptr);  // gone once both sides let go
  if (!attached) {
    shmdt(memory);
    image->data = nullptr;
    XDestroyImage(image);
    return;
  }
  m_shmImage = image;
}

void Watcher::DetachSharedImage() {
  if (m_shmImage == nullptr) return;
  XShmDetach(m_display, &m_shmSegment);
  XSync(m_display, False);
  shmdt(m_shmSegment.shmaddr);
  m_shmImage->data = nullptr;
  XDestroyImage(m_shmImage);
  m_shmImage = nullptr;
}

void Watcher::GrabRegion() {
  XImage* image = m_shmImage;
  if (image == nullptr || !XShmGetImage(m_display, m_root, image, m_options.regionX, m_options.regionY, AllPlanes))
    image = XGetImage(m_display, m_root, m_options.regionX, m_options.regionY, m_options.regionW, m_options.regionH,
                      AllPlanes, ZPixmap);
  // The server answered: the pixels were on the screen by now. The hashing after this is the
  // watcher's own time, which no figure may count.
  const double shown = Now();
  if (image == nullptr) return;
  const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
  uint64_t hash = 1469598103934665603ull;  // FNV-1a over the pixels, alpha byte ignored
  std::vector<unsigned long> colours;
  unsigned long previous = ~0ul;
  for (int y = 0; y < image->height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line);
    for (int x = 0; x < image->width; ++x) {
      const unsigned long pixel = (direct ? row[x] : XGetPixel(image, x, y)) & 0xFFFFFFul;
      if (pixel != previous && colours.size() < 64 && std::find(colours.begin(), colours.end(), pixel) == colours.end())
        colours.push_back(pixel);
      previous = pixel;
      for (int shift = 0; shift < 24; shift += 8) {
        hash ^= (pixel >> shift) & 0xFF;
        hash *= 1099511628211ull;
      }
    }
  }
  const unsigned long probe = XGetPixel(image, image->width * 3 / 4, image->height / 2) & 0xFFFFFFul;
  if (image != m_shmImage) XDestroyImage(image);
  if (hash == m_lastHash) return;
  m_lastHash = hash;
  m_lastColours = static_cast<int>(colours.size());
  m_lastPixels = shown;
  char text[64];
  std::snprintf(text, sizeof text, "%016llx %d %06lx", static_cast<unsigned long long>(hash), m_lastColours, probe);
  Log("pixels", text, shown);
}

// A photograph is detailed everywhere: nearly every 4 x 4 cell of it holds many colours, where a
// plain background, a frame or a selection holds one or two and a caption's antialiased letters a
// few greys in cells too small to make up a picture. The cells of many colours are joined into
// blocks, and each block of at least 32 x 32 pixels counts once, unless a side is longer than
// 512 pixels: that is a photo shown beside its thumbnails, not one of them.
void Watcher::CountPictures() {
  XImage* image = XGetImage(m_display, m_root, m_options.regionX, m_options.regionY, m_options.regionW,
                            m_options.regionH, AllPlanes, ZPixmap);
  if (image == nullptr) return;
  constexpr int kCell = 4, kDetailed = 10, kSmallest = 32 / kCell, kLargest = 512 / kCell;
  const int columns = image->width / kCell, rows = image->height / kCell;
  std::vector<uint8_t> detailed(static_cast<size_t>(columns) * rows, 0);
  for (int cy = 0; cy < rows; ++cy) {
    for (int cx = 0; cx < columns; ++cx) {
      unsigned long seen[kCell * kCell];
      int distinct = 0;
      for (int y = cy * kCell; y < (cy + 1) * kCell; ++y) {
        for (int x = cx * kCell; x < (cx + 1) * kCell; ++x) {
          const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFFul;
          if (std::find(seen, seen + distinct, pixel) == seen + distinct) seen[distinct++] = pixel;
        }
      }
      detailed[static_cast<size_t>(cy) * columns + cx] = distinct >= kDetailed;
    }
  }
  XDestroyImage(image);
  int pictures = 0;
  std::vector<int> stack;
  for (size_t start = 0; start < detailed.size(); ++start) {
    if (detailed[start] != 1) continue;
    int left = columns, right = -1, top = rows, bottom = -1;
    detailed[start] = 2;
    stack.assign(1, static_cast<int>(start));
    while (!stack.empty()) {
      const int cell = stack.back();
      stack.pop_back();
      const int cx = cell % columns, cy = cell / columns;
      left = std::min(left, cx), right = std::max(right, cx), top = std::min(top, cy), bottom = std::max(bottom, cy);
      const int next[4][2] = {{cx - 1, cy}, {cx + 1, cy}, {cx, cy - 1}, {cx, cy + 1}};
      for (const auto& [nx, ny] : next) {
        if (nx < 0 || ny < 0 || nx >= columns || ny >= rows) continue;
        const size_t index = static_cast<size_t>(ny) * columns + nx;
        if (detailed[index] != 1) continue;
        detailed[index] = 2;
        stack.push_back(static_cast<int>(index));
      }
    }
    const int width = right - left + 1, height = bottom - top + 1;
    if (width >= kSmallest && height >= kSmallest && width <= kLargest && height <= kLargest) ++pictures;
  }
  Log("pictures", std::to_string(pictures));
}

void Watcher::ReadTitle() {
  if (m_window == 0) return;
  std::string title;
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(m_display, m_window, m_netWmName, 0, 1024, False, m_utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && count > 0) {
    title.assign(reinterpret_cast<char*>(data), count);
  } else {
    char* name = nullptr;
    if (XFetchName(m_display, m_window, &name) && name != nullptr) {
      title = name;
      XFree(name);
    }
  }
  if (data != nullptr) XFree(data);
  for (char& c : title) {
    if (c == '\n') c = ' ';
  }
  if (title == m_title) return;
  m_title = title;
  Log("title", title);
}

void Watcher::Launch() {
  m_start = MonotonicMs();
  m_child = fork();
  if (m_child < 0) Fail("fork failed");
  if (m_child == 0) {
    execvp(m_options.command[0], m_options.command.data());
    std::fprintf(stderr, "vimo-xwatch: cannot start %s: %s\n", m_options.command[0], std::strerror(errno));
    _exit(127);
  }
  Log("launch", std::to_string(m_child));
  const long long wall = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
  char text[64];
  std::snprintf(text, sizeof text, "%lld.%06lld", wall / 1000000, wall % 1000000);
  Log("clock", text);  // wall-clock time of the start, to line up traces of other tools
}

bool Watcher::ChildAlive() {
  if (m_exited) return false;
  int status = 0;
  const pid_t done = waitpid(m_child, &status, WNOHANG);
  if (done != m_child) return true;
  m_exited = true;
  Log("exit", std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
  return false;
}

void Watcher::HandleXEvent(XEvent& event) {
  if (event.type == m_damageEvent + XDamageNotify) {
    if (!m_options.logDamage) {
      XDamageSubtract(m_display, m_damage, None, None);
      GrabRegion();
      return;
    }
    const bool meets = DamageMeetsRegion();
    GrabRegion();
    if (meets) Log("damage");
    return;
  }
  if (event.type == MapNotify && !event.xmap.override_redirect && event.xmap.event == m_root) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(m_display, event.xmap.window, &attributes)) return;
    if (m_window != 0) {
      if (event.xmap.window != m_window)
        Log("popup", std::to_string(event.xmap.window) + " " + std::to_string(attributes.width) + "x" +
                         std::to_string(attributes.height));
      return;
    }
    if (attributes.width < 50 || attributes.height < 50) return;  // not a main window
    m_window = event.xmap.window;
    m_mapped = Now();
    Log("map", std::to_string(m_window) + " " + std::to_string(attributes.width) + "x" +
                   std::to_string(attributes.height));
    XSelectInput(m_display, m_window, PropertyChangeMask);
    if (m_options.width > 0) XMoveResizeWindow(m_display, m_window, 0, 0, m_options.width, m_options.height);
    XSetInputFocus(m_display, m_window, RevertToPointerRoot, CurrentTime);
    XTestFakeMotionEvent(m_display, -1, m_options.regionX + m_options.regionW / 2,
                         m_options.regionY + m_options.regionH / 2, CurrentTime);
    XFlush(m_display);
    ReadTitle();
    return;
  }
  if (event.type == PropertyNotify && event.xproperty.window == m_window &&
      (event.xproperty.atom == m_netWmName || event.xproperty.atom == XA_WM_NAME)) {
    ReadTitle();
  }
}

// Takes the damage reported so far and says whether any of it lies in the watched region.
bool Watcher::DamageMeetsRegion() {
  const XserverRegion parts = XFixesCreateRegion(m_display, nullptr, 0);
  XDamageSubtract(m_display, m_damage, None, parts);
  int count = 0;
  XRectangle* rects = XFixesFetchRegion(m_display, parts, &count);
  bool meets = false;
  for (int i = 0; i < count && !meets; ++i) {
    meets = rects[i].x < m_options.regionX + m_options.regionW && rects[i].x + rects[i].width > m_options.regionX &&
            rects[i].y < m_options.regionY + m_options.regionH && rects[i].y + rects[i].height > m_options.regionY;
  }
  if (rects != nullptr) XFree(rects);
  XFixesDestroyRegion(m_display, parts);
  return meets;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void Watcher::WatchFolder(const std::string& path, bool isRoot) {
  const uint32_t mask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;
  const int wd = inotify_add_watch(m_inotify, path.c_str(), mask);
  if (wd < 0) return;
  m_folders[wd] = path;
  m_isRoot[wd] = isRoot;
  // What was there before the watch began (a folder made just before it).
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (stat((path + "/" + name).c_str(), &info) != 0) continue;
    const std::string own = "vimo-" + std::to_string(m_child) + "-";
    if (S_ISDIR(info.st_mode) && (name == "vimo" || name.rfind(own, 0) == 0)) WatchFolder(path + "/" + name, false);
  }
  closedir(dir);
}

void Watcher::ReportDisk() {
  long long total = 0;
  for (const auto& [wd, path] : m_folders) {
    if (m_isRoot[wd]) continue;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) continue;
    while (dirent* entry = readdir(dir)) {
      struct stat info {};
      if (EndsWith(entry->d_name, ".bmp") && stat((path + "/" + entry->d_name).c_str(), &info) == 0 &&
          S_ISREG(info.st_mode))
        total += static_cast<long long>(info.st_blocks) * 512;
    }
    closedir(dir);
  }
  if (total == m_disk) return;
  m_disk = total;
  Log("disk", std::to_string(total));
}

void Watcher::HandleFolderEvents() {
  alignas(inotify_event) char buffer[16384];
  const ssize_t length = read(m_inotify, buffer, sizeof buffer);
  if (length <= 0) return;
  bool changed = false;
  for (ssize_t offset = 0; offset < length;) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
    offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    if (event->len == 0 || m_folders.count(event->wd) == 0) continue;
    const std::string folder = m_folders[event->wd];
    const std::string name = event->name;
    const std::string own = "vimo-" + std::to_string(m_child) + "-";
    if ((event->mask & (IN_CREATE | IN_MOVED_TO)) && (event->mask & IN_ISDIR)) {  // made, or renamed into place
      if (name == "vimo" || name.rfind(own, 0) == 0) WatchFolder(folder + "/" + name, false);
      continue;
    }
    if (m_isRoot[event->wd] || !EndsWith(name, ".bmp") || (event->mask & IN_ISDIR)) continue;
    if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
      struct stat info {};
      const long long size = stat((folder + "/" + name).c_str(), &info) == 0 ? info.st_size : -1;
      Log("file", folder + "/" + name + " " + std::to_string(size));
    }
    changed = true;
  }
  if (changed) ReportDisk();
}

void Watcher::WatchMade(const std::string& path) {
  const int wd = inotify_add_watch(m_madeInotify, path.c_str(), IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR);
  if (wd < 0) return;
  m_madeFolders[wd] = path;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat info {};
    if (name == "." || name == ".." || stat((path + "/" + name).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) WatchMade(path + "/" + name);
    else CountMade(path + "/" + name);
  }
  closedir(dir);
}

void Watcher::CountMade(const std::string& path) {
  if (!EndsWith(path, ".png") && !EndsWith(path, ".jpg") && !EndsWith(path, ".jpeg")) return;
  if (!m_made.insert(path).second) return;
  Log("made", std::to_string(m_made.size()));
  if (!m_allMade && static_cast<int>(m_made.size()) >= m_options.madeCount) {
    m_allMade = true;
    Log("all-made");
  }
}

void Watcher::HandleMadeEvents() {
  alignas(inotify_event) char buffer[16384];
  const ssize_t length = read(m_madeInotify, buffer, sizeof buffer);
  for (ssize_t offset = 0; length > 0 && offset < length;) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
    offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    if (event->len == 0 || m_madeFolders.count(event->wd) == 0) continue;
    const std::string path = m_madeFolders[event->wd] + "/" + event->name;
    if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO))) WatchMade(path);
    else if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) CountMade(path);
  }
}

void Watcher::PumpUntil(double deadline) {
  const int xfd = ConnectionNumber(m_display);
  for (;;) {
    while (XPending(m_display) > 0) {
      XEvent event;
      XNextEvent(m_display, &event);
      HandleXEvent(event);
    }
    if (!ChildAlive()) return;
    const double left = deadline - Now();
    if (left <= 0) return;
    pollfd fds[3] = {{xfd, POLLIN, 0}, {m_inotify, POLLIN, 0}, {m_madeInotify, POLLIN, 0}};
    // Short enough to notice the viewer's exit, long enough to cost nothing.
    const int wait = static_cast<int>(left < 100 ? left + 1 : 100);
    if (poll(fds, m_madeInotify >= 0 ? 3 : 2, wait) < 0 && errno != EINTR) Fail("poll failed");
    if (fds[1].revents & POLLIN) HandleFolderEvents();
    if (m_madeInotify >= 0 && (fds[2].revents & POLLIN)) HandleMadeEvents();
  }
}

bool Watcher::WaitForSettledPicture() {
  const double deadline = Now() + m_options.timeoutMs;
  for (;;) {
    const bool changedSinceMap = m_mapped >= 0 && m_lastPixels >= m_mapped && m_lastColours >= 32;
    if (changedSinceMap && Now() - m_lastPixels >= m_options.settleMs) {
      Log("settled");
      if (m_options.countPictures) CountPictures();
      return true;
    }
    if (Now() >= deadline || !ChildAlive()) {
      Log("timeout");
      return false;
    }
    // In short slices: a change of the picture moves the end of the settling time.
    const double slice = Now() + 50;
    PumpUntil(slice < deadline ? slice : deadline);
  }
}

void Watcher::WaitForTail() {
  const double deadline = Now() + m_options.tailMs;
  while (Now() < deadline && ChildAlive()) {
    if (m_options.quietMs > 0 && Now() - m_lastEvent >= m_options.quietMs) return;
    if (m_options.madeCount > 0 && m_allMade) return;
    const double slice = Now() + 50;
    PumpUntil(slice < deadline ? slice : deadline);
  }
}

void Watcher::PressKey(const std::string& chord) {
  std::vector<KeyCode> modifiers;
  std::string key = chord;
  for (size_t plus; (plus = key.find('+')) != std::string::npos && plus + 1 < key.size();) {
    const std::string modifier = key.substr(0, plus);
    key = key.substr(plus + 1);
    const char* name = modifier == "shift" ? "Shift_L" : modifier == "ctrl" ? "Control_L" : "Alt_L";
    modifiers.push_back(XKeysymToKeycode(m_display, XStringToKeysym(name)));
  }
  const KeySym symbol = XStringToKeysym(key.c_str());
  if (symbol == NoSymbol) Fail("unknown key " + key);
  const KeyCode code = XKeysymToKeycode(m_display, symbol);
  for (const KeyCode modifier : modifiers) XTestFakeKeyEvent(m_display, modifier, True, CurrentTime);
  XTestFakeKeyEvent(m_display, code, True, CurrentTime);
  XTestFakeKeyEvent(m_display, code, False, CurrentTime);
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) XTestFakeKeyEvent(m_display, *it, False, CurrentTime);
  XFlush(m_display);
}

long Watcher::CpuTicks() const {
  std::ifstream stat("/proc/" + std::to_string(m_child) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {  // field 3 is the state
    if (index == 14) utime = std::atol(field.c_str());
    if (index == 15) {
      stime = std::atol(field.c_str());
      break;
    }
  }
  return utime + stime;
}

std::string Watcher::ProcStatus(const char* field) const {
  std::ifstream status("/proc/" + std::to_string(m_child) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) != 0) continue;
    std::istringstream words(line.substr(std::strlen(field)));
    std::string value;
    words >> value;
    return value;
  }
  return "";
}

void Watcher::CloseViewer() {
  if (!ChildAlive()) return;
  if (m_window != 0) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = m_window;
    message.xclient.message_type = m_protocols;
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(m_deleteWindow);
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, m_window, False, NoEventMask, &message);
    XFlush(m_display);
    PumpUntil(Now() + 10000);
  }
  if (ChildAlive()) {
    kill(m_child, SIGTERM);
    PumpUntil(Now() + 5000);
  }
  if (ChildAlive()) {
    kill(m_child, SIGKILL);
    PumpUntil(Now() + 5000);
  }
}

int Watcher::Run() {
  if (!m_options.logPath.empty()) {
    m_log = std::fopen(m_options.logPath.c_str(), "w");
    if (m_log == nullptr) Fail("cannot write " + m_options.logPath);
  }
  m_start = MonotonicMs();
  OpenDisplay();
  m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_inotify < 0) Fail("inotify_init1 failed");
  fcntl(ConnectionNumber(m_display), F_SETFD, FD_CLOEXEC);
  if (!m_options.madeDir.empty()) {
    m_madeInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_madeInotify < 0) Fail("inotify_init1 failed");
    WatchMade(m_options.madeDir);
  }
  Launch();
  for (const std::string& dir : m_options.watchDirs) WatchFolder(dir, true);

  if (WaitForSettledPicture()) {
    PumpUntil(Now() + m_options.waitMs);
    for (const KeyGroup& group : m_options.keys) {
      for (int n = 1; n <= group.count && ChildAlive(); ++n) {
        PumpUntil(Now() + group.intervalMs);
        if (ChildAlive()) Log("rss", ProcStatus("VmRSS:"));
        PressKey(group.chord);
        Log("key", group.chord + " " + std::to_string(n));
      }
    }
    WaitForTail();
    if (m_options.idleSeconds > 0 && ChildAlive()) {
      const long before = CpuTicks();
      PumpUntil(Now() + m_options.idleSeconds * 1000.0);
      const long after = CpuTicks();
      char text[32];
      std::snprintf(text, sizeof text, "%.2f", static_cast<double>(after - before) / sysconf(_SC_CLK_TCK));
      if (before >= 0 && after >= 0) Log("cpu", text);
    }
  }
  if (ChildAlive()) {
    Log("rss", ProcStatus("VmRSS:"));
    Log("hwm", ProcStatus("VmHWM:"));
  }
  CloseViewer();
  if (m_log != stdout) std::fclose(m_log);
  DetachSharedImage();
  XCloseDisplay(m_display);
  return 0;
}

int ToInt(const char* text, const char* what) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || value < 0 || value > 100000000) Fail(std::string("bad ") + what + ": " + text);
  return static_cast<int>(value);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int i = 1;
  auto value = [&](const char* name) -> const char* {
    if (i + 1 >= argc) Fail(std::string(name) + " needs a value");
    return argv[++i];
  };
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--log") {
      options.logPath = value("--log");
    } else if (arg == "--region") {
      if (std::sscanf(value("--region"), "%d,%d,%d,%d", &options.regionX, &options.regionY, &options.regionW,
                      &options.regionH) != 4)
        Fail("--region wants X,Y,W,H");
    } else if (arg == "--geometry") {
      if (std::sscanf(value("--geometry"), "%dx%d", &options.width, &options.height) != 2) Fail("--geometry wants WxH");
    } else if (arg == "--watch") {
      options.watchDirs.emplace_back(value("--watch"));
    } else if (arg == "--settle") {
      options.settleMs = ToInt(value("--settle"), "--settle");
    } else if (arg == "--timeout") {
      options.timeoutMs = ToInt(value("--timeout"), "--timeout");
    } else if (arg == "--wait") {
      options.waitMs = ToInt(value("--wait"), "--wait");
    } else if (arg == "--tail") {
      options.tailMs = ToInt(value("--tail"), "--tail");
    } else if (arg == "--quiet") {
      options.quietMs = ToInt(value("--quiet"), "--quiet");
    } else if (arg == "--damage") {
      options.logDamage = true;
    } else if (arg == "--made") {
      const std::string made = value("--made");
      const size_t colon = made.rfind(':');
      if (colon == std::string::npos) Fail("--made wants DIR:N");
      options.madeDir = made.substr(0, colon);
      options.madeCount = ToInt(made.substr(colon + 1).c_str(), "--made count");
    } else if (arg == "--pictures") {
      options.countPictures = true;
    } else if (arg == "--idle") {
      options.idleSeconds = ToInt(value("--idle"), "--idle");
    } else if (arg == "--keys") {
      const std::string chord = value("--keys");
      const size_t star = chord.rfind('*'), at = chord.rfind('@');
      if (star == std::string::npos || at == std::string::npos || at < star) Fail("--keys wants KEY*N@MS");
      options.keys.push_back({chord.substr(0, star), ToInt(chord.substr(star + 1, at - star - 1).c_str(), "count"),
                              ToInt(chord.substr(at + 1).c_str(), "interval")});
    } else {
      Fail("unknown option " + arg);
    }
  }
  for (; i < argc; ++i) options.command.push_back(argv[i]);
  if (options.command.empty()) Fail("usage: vimo-xwatch [options] -- COMMAND [ARGS...]");
  options.command.push_back(nullptr);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Watcher watcher(ParseOptions(argc, argv));
  return watcher.Run();
}
