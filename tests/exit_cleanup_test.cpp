// The viewer as a process: however it ends, no converted file of it outlives it. A normal end
// and the signals of a logout, kill or Ctrl+C close the window the normal way; after SIGKILL
// the next start cleans up what the dead viewer left.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ImageFixtures.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vimo::test::TempDir;

// Checks the condition every few milliseconds until it holds; false after a minute.
bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Starts the built viewer with every folder it uses inside home: temporary root, cache,
// profile, desktop entry; no hand-over socket, ImageMagick's spill folder left to the viewer;
// no display.
pid_t StartViewer(const TempDir& home, const std::vector<std::string>& args) {
  const std::set<std::string> replaced = {"TMPDIR",          "XDG_CACHE_HOME", "XDG_CONFIG_HOME",       "XDG_DATA_HOME",
                                          "XDG_RUNTIME_DIR", "HOME",           "MAGICK_TEMPORARY_PATH", "QT_QPA_PLATFORM"};
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (replaced.count(text.substr(0, text.find('='))) == 0) env.push_back(text);
  }
  fs::create_directories(home / "tmp");
  for (const char* name : {"TMPDIR=tmp", "XDG_CACHE_HOME=cache", "XDG_CONFIG_HOME=config", "XDG_DATA_HOME=data"}) {
    const std::string text = name;
    env.push_back(text.substr(0, text.find('=') + 1) + (home / text.substr(text.find('=') + 1)).string());
  }
  env.push_back("HOME=" + home.Path().string());
  env.push_back("QT_QPA_PLATFORM=offscreen");

  std::vector<std::string> argv = {VIMO_BINARY_DIR "/vimo"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argp;
  for (std::string& arg : argv) argp.push_back(arg.data());
  argp.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& each : env) envp.push_back(each.data());
  envp.push_back(nullptr);

  // The viewer starts with the signals' default actions, whatever the test runner ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// The private folders of the viewer pid, in the temporary root and in the cache folder.
std::vector<fs::path> FoldersOf(const TempDir& home, pid_t pid) {
  std::vector<fs::path> folders;
  const std::string prefix = "vimo-" + std::to_string(pid) + "-";
  for (const fs::path& root : {home / "tmp", home / "cache" / "vimo"}) {
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) {
      if (entry.path().filename().string().rfind(prefix, 0) == 0) folders.push_back(entry.path());
    }
  }
  return folders;
}

bool HoldsConvertedFile(const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() == ".bmp") return true;
    }
  }
  return false;
}

// The exit status, once the process has ended; -1 when it did not end within a minute.
int WaitForExit(pid_t pid) {
  int status = -1;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return status;
}

TEST(ViewerExit, NoConvertedFileOutlivesTheViewer) {
  const TempDir pictures;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    vimo::test::RunConvert("-size 320x240 gradient:red-blue -quality 90 " + (pictures / name).string());
  }
  const struct {
    const char* how;
    int signal;  // 0: the viewer ends by itself (a screenshot run)
  } cases[] = {{"ends by itself", 0},
               {"terminated", SIGTERM},
               {"interrupted", SIGINT},
               {"hung up", SIGHUP},
               {"killed: the next start cleans up", SIGKILL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    const TempDir home;
    const std::string shown = (pictures / "a.jpg").string();
    if (c.signal == 0) {
      const pid_t pid = StartViewer(home, {"--screenshot", (home / "shot.png").string(), shown});
      const int status = WaitForExit(pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_TRUE(fs::exists(home / "shot.png"));
      EXPECT_TRUE(FoldersOf(home, pid).empty());
      continue;
    }
    const pid_t pid = StartViewer(home, {shown});
    ASSERT_TRUE(WaitFor([&] { return HoldsConvertedFile(FoldersOf(home, pid)); }));
    kill(pid, c.signal);
    const int status = WaitForExit(pid);
    // Whoever started it still sees that the signal ended it.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    if (c.signal == SIGKILL) {
      ASSERT_TRUE(HoldsConvertedFile(FoldersOf(home, pid)));
      const pid_t next = StartViewer(home, {"--screenshot", (home / "shot.png").string(), (home / "none.jpg").string()});
      WaitForExit(next);
    }
    EXPECT_TRUE(FoldersOf(home, pid).empty());
  }
}

}  // namespace
