#include "support/ui/ScreenViewer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>

extern char** environ;

namespace vimo::test {

namespace {

// The process's environment with entries replaced or added ("NAME=value") or removed ("NAME").
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes) {
  std::map<std::string, std::string> entries;
  for (char** p = environ; *p != nullptr; ++p) {
    const std::string entry(*p);
    entries[entry.substr(0, entry.find('='))] = entry;
  }
  for (const std::string& entry : changes) {
    if (entry.find('=') == std::string::npos) entries.erase(entry);
    else entries[entry.substr(0, entry.find('='))] = entry;
  }
  std::vector<std::string> merged;
  for (const auto& [name, entry] : entries) merged.push_back(entry);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The exit status of a wait status; -1 when the process did not exit by itself.
int ExitStatus(int status) { return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

std::string Hex(unsigned long window) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%lx", window);
  return text;
}

// A binary PPM (P6) as pixels.
Pixels ParsePpm(const std::string& bytes) {
  Pixels pixels;
  std::size_t at = 0;
  auto field = [&]() {
    while (at < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#')) {
      if (bytes[at] == '#') at = bytes.find('\n', at);
      else ++at;
    }
    const std::size_t start = at;
    while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    return bytes.substr(start, at - start);
  };
  if (field() != "P6") return pixels;
  const int width = std::atoi(field().c_str());
  const int height = std::atoi(field().c_str());
  const int max = std::atoi(field().c_str());
  ++at;
  if (width <= 0 || height <= 0 || max != 255 || bytes.size() < at + 3ull * width * height) return pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.argb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * static_cast<std::size_t>(height); ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at + 3 * i);
    pixels.argb.push_back(0xFF000000u | (DWORD(p[0]) << 16) | (DWORD(p[1]) << 8) | DWORD(p[2]));
  }
  return pixels;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeoutMs) {
  static int counter = 0;
  const TempDir outputs;
  const std::string out = (outputs / ("out" + std::to_string(counter))).string();
  const std::string err = (outputs / ("err" + std::to_string(counter++))).string();
  RunResult result;
  const pid_t pid = StartProgram(argv, env, out, err);
  if (pid < 0) return result;
  result.status = WaitForExit(pid, timeoutMs);
  result.out = TextOfFile(out);
  result.err = TextOfFile(err);
  return result;
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& outPath, const std::string& errPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  // Whatever the test runner ignores or blocks, the program gets the default actions.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> args(argv);
  std::vector<std::string> environment = MergedEnvironment(env);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(environment);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data()) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitForEnd(pid_t pid, int timeoutMs) {
  int status = 0;
  if (WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) return status;
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

std::string ViewerProgram() { return VIMO_BINARY_DIR "/vimo"; }

int WaitForExit(pid_t pid, int timeoutMs) { return ExitStatus(WaitForEnd(pid, timeoutMs)); }

ScreenViewer::ScreenViewer(std::vector<std::string> env) : m_env(std::move(env)) {
  for (const char* folder : {"run", "config", "data", "cache"}) std::filesystem::create_directory(m_home / folder);
  chmod((m_home / "run").c_str(), 0700);
}

ScreenViewer::~ScreenViewer() {
  if (Running()) Stop();
}

std::vector<std::string> ScreenViewer::Changes() const {
  std::vector<std::string> env = {"QT_QPA_PLATFORM=xcb",
                                  "XDG_RUNTIME_DIR=" + (m_home / "run").string(),
                                  "XDG_CONFIG_HOME=" + (m_home / "config").string(),
                                  "XDG_DATA_HOME=" + (m_home / "data").string(),
                                  "XDG_CACHE_HOME=" + (m_home / "cache").string()};
  env.insert(env.end(), m_env.begin(), m_env.end());
  return env;
}

bool ScreenViewer::Start(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ViewerProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  m_pid = StartProgram(argv, Changes(), "/dev/null", (m_home / "stderr.txt").string());
  return m_pid > 0;
}

RunResult ScreenViewer::StartAgain(const std::vector<std::string>& args, int timeoutMs) const {
  std::vector<std::string> argv = {ViewerProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, Changes(), timeoutMs);
}

pid_t ScreenViewer::Launch(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {ViewerProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  return StartProgram(argv, Changes(), "/dev/null", (m_home / "stderr.txt").string());
}

bool ScreenViewer::Running() const { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }

int ScreenViewer::Stop() {
  if (m_pid <= 0) return -1;
  kill(m_pid, SIGTERM);
  const int status = WaitForExit(m_pid, 30000);
  m_pid = -1;
  return status;
}

std::string ScreenViewer::Errors() const { return TextOfFile(m_home / "stderr.txt"); }

namespace {

// Waits until xdotool's search with these criteria finds a window; its id, 0 after the timeout.
unsigned long WaitForSearch(const std::vector<std::string>& criteria, int timeoutMs) {
  std::vector<std::string> argv = {"xdotool", "search"};
  argv.insert(argv.end(), criteria.begin(), criteria.end());
  RunResult found;
  const bool seen = WaitUntil([&] {
    found = RunProgram(argv);
    return found.status == 0 && !found.out.empty();
  }, timeoutMs);
  return seen ? std::stoul(found.out) : 0;
}

}  // namespace

unsigned long ScreenViewer::WaitForTitle(const std::string& title, int timeoutMs) {
  std::string pattern = "^";
  for (char c : title) {
    if (std::strchr(".^$*+?()[]{}|\\", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  pattern += '$';
  return WaitForSearch({"--onlyvisible", "--name", pattern}, timeoutMs);
}

unsigned long ScreenViewer::WaitForClass(const std::string& windowClass, int timeoutMs) {
  return WaitForSearch({"--onlyvisible", "--class", windowClass}, timeoutMs);
}

void ScreenViewer::Type(unsigned long window, const std::string& keys) {
  RunProgram({"xdotool", "windowfocus", "--sync", std::to_string(window)});
  std::vector<std::string> argv = {"xdotool", "key", "--delay", "0"};
  std::istringstream words(keys);
  for (std::string key; words >> key;) argv.push_back(key);
  RunProgram(argv);
}

// Between the clicks of a double-click: no pause of xdotool's own. The window tells a double-click
// by the server's times of the two presses, and a pause stretched by a busy machine (xdotool
// sleeping for longer than asked) could part them past the double-click interval.
constexpr const char* kClickGapMs = "1";

void ScreenViewer::Click(unsigned long window, int x, int y, const std::string& modifiers, int count) {
  std::vector<std::string> argv = {"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x),
                                   std::to_string(y)};
  if (!modifiers.empty()) argv.insert(argv.end(), {"keydown", modifiers});
  argv.insert(argv.end(), {"click", "--repeat", std::to_string(count), "--delay", kClickGapMs, "1"});
  if (!modifiers.empty()) argv.insert(argv.end(), {"keyup", modifiers});
  RunProgram(argv);
}

void ScreenViewer::CtrlWheel(unsigned long window, int x, int y, int notches) {
  std::vector<std::string> argv = {"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x),
                                   std::to_string(y), "keydown", "ctrl"};
  for (int i = 0; i < std::abs(notches); ++i) argv.insert(argv.end(), {"click", notches > 0 ? "4" : "5"});
  argv.insert(argv.end(), {"keyup", "ctrl"});
  RunProgram(argv);
}

void ScreenViewer::Click(unsigned long window, int button, int x, int y, int count) {
  RunProgram({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y), "click",
              "--repeat", std::to_string(count), "--delay", kClickGapMs, std::to_string(button)});
}

void ScreenViewer::Drag(unsigned long window, int button, int x0, int y0, int x1, int y1) {
  const std::string w = std::to_string(window);
  RunProgram({"xdotool", "mousemove", "--window", w, std::to_string(x0), std::to_string(y0), "mousedown", std::to_string(button),
              "mousemove", "--window", w, std::to_string((x0 + x1) / 2), std::to_string((y0 + y1) / 2), "mousemove", "--window", w,
              std::to_string(x1), std::to_string(y1), "mouseup", std::to_string(button)});
}

Pixels ScreenViewer::Grab(unsigned long window) {
  return ParsePpm(RunProgram({"import", "-window", Hex(window), "-depth", "8", "ppm:-"}).out);
}

bool StartWindowManager() {
  const TempDir dir;
  if (StartProgram({"openbox"}, {}, (dir / "out").string(), (dir / "err").string()) <= 0) return false;
  // openbox names itself on the root window before it takes windows in: a window mapped in
  // between stays unframed and unmapped. It is ready once it has framed a window of its own.
  if (!WaitUntil([] { return RunProgram({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id") != std::string::npos; }))
    return false;
  const pid_t probe = StartProgram({"xmessage", "-name", "vimo-wm-probe", "-geometry", "+0+0", "probe"}, {}, (dir / "probe").string(),
                                   (dir / "err").string());
  if (probe <= 0) return false;
  const bool framed = WaitUntil([] { return RunProgram({"xprop", "-root", "_NET_CLIENT_LIST"}).out.find("window id") != std::string::npos; });
  kill(probe, SIGTERM);
  WaitForEnd(probe, 10000);
  return framed;
}

Pixels GrabScreen(int x, int y, int width, int height) {
  const std::string area = std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" + std::to_string(y);
  return ParsePpm(RunProgram({"import", "-window", "root", "-crop", area, "-depth", "8", "ppm:-"}).out);
}

Pixels ScreenViewer::WaitForScreen(unsigned long window, const std::function<bool(const Pixels&)>& pred,
                                   int timeoutMs) {
  Pixels grab;
  const bool seen = WaitUntil([&] {
    grab = Grab(window);
    return grab.width > 0 && pred(grab);
  }, timeoutMs);
  return seen ? grab : Pixels{};
}

Box FindColour(const Pixels& screen, Rgb colour, int tolerance) {
  Box box;
  for (int y = 0; y < screen.height; ++y) {
    for (int x = 0; x < screen.width; ++x) {
      const Rgb c = screen.At(x, y);
      if (std::abs(c.red - colour.red) > tolerance || std::abs(c.green - colour.green) > tolerance ||
          std::abs(c.blue - colour.blue) > tolerance)
        continue;
      if (!box.Found()) box = Box{x, y, x, y};
      box = Box{std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
    }
  }
  return box;
}

Place FindBlock(const Pixels& screen, const std::vector<Rgb>& image, int imageWidth, int x, int y, int w, int h) {
  auto pixel = [&](int bx, int by) { return image[static_cast<std::size_t>((y + by) * imageWidth + x + bx)]; };
  auto matchesAt = [&](int x0, int y0) {
    for (int by = 0; by < h; ++by) {
      for (int bx = 0; bx < w; ++bx) {
        if (!(screen.At(x0 + bx, y0 + by) == pixel(bx, by))) return false;
      }
    }
    return true;
  };
  for (int y0 = 0; y0 + h <= screen.height; ++y0) {
    for (int x0 = 0; x0 + w <= screen.width; ++x0) {
      if (screen.At(x0, y0) == pixel(0, 0) && matchesAt(x0, y0)) return Place{x0, y0};
    }
  }
  return Place{};
}

namespace {

// How many sockets the process holds.
int SocketsOf(pid_t pid) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code unreadable;
    if (std::filesystem::read_symlink(entry.path(), unreadable).string().rfind("socket:", 0) == 0) ++count;
  }
  return count;
}

}  // namespace

BareXServer::BareXServer() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return;
  if (ready[1] == 3) ready[1] = fcntl(3, F_DUPFD_CLOEXEC, 4);  // dup2 onto itself would keep close-on-exec
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
  std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-fbdir", m_frames.Path().string()};
  std::vector<char*> argv = Pointers(args);
  if (posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  // The number comes once the server takes clients; nothing when it failed to start.
  std::string number;
  for (char c = 0; read(ready[0], &c, 1) == 1 && c != '\n';) number += c;
  close(ready[0]);
  if (m_pid <= 0 || number.empty()) return;
  m_display = ":" + number;
  m_nListening = SocketsOf(m_pid);
}

BareXServer::~BareXServer() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  waitpid(m_pid, nullptr, 0);
}

int BareXServer::Clients() const { return m_pid > 0 ? SocketsOf(m_pid) - m_nListening : 0; }

}  // namespace vimo::test
