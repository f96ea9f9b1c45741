#include "win32/TempFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "posix/UniqueFd.h"
#include "win32/Kernel.h"
#include "win32/SafeFiles.h"

using vimo::posix::UniqueFd;

namespace {

constexpr const char* kFolderPrefix = "vimo-";
// Folders are made under this name, which the cleanup passes over, and renamed to their own
// name only once their lock is taken.
constexpr const char* kStagingPrefix = ".vimo-new-";
constexpr const char* kLockName = "vimo.lock";

using DirPtr = std::unique_ptr<DIR, int (*)(DIR*)>;

// A listing of the folder open as fd (which stays open and usable).
DirPtr ListFolder(int fd) {
  const int copy = dup(fd);
  DIR* dir = copy >= 0 ? fdopendir(copy) : nullptr;
  if (dir == nullptr && copy >= 0) close(copy);
  return DirPtr(dir, &closedir);
}

std::mutex g_mutex;
std::string g_folder;  // ends with '/'; empty until made
int g_lockFd = -1;     // held for the life of the process, closed on exec
std::atomic<int> g_tmpfsOverride{-1};  // -1: ask the file system; 0 or 1: as set by a test

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string BaseRoot() {
  const char* env = std::getenv("TMPDIR");
  return WithoutTrailingSlash((env != nullptr && *env != '\0') ? env : "/tmp");
}

bool OnTmpfs(const std::string& path) {
  if (const int forced = g_tmpfsOverride.load(); forced >= 0) return forced == 1;
  struct statfs info {};
  return statfs(path.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

// $XDG_CACHE_HOME/vimo, else ~/.cache/vimo; empty when neither can be named.
std::string CacheRoot() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return WithoutTrailingSlash(cache) + "/vimo";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return WithoutTrailingSlash(home) + "/.cache/vimo";
}

bool IsLeftover(const char* name) {
  const size_t length = std::strlen(name);
  return (length >= 4 && std::strcmp(name + length - 4, ".bmp") == 0) || std::strncmp(name, "magick-", 7) == 0;
}

// Renames a folder to a name nobody has: never over an existing one.
bool RenameToFreeName(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without that flag: a plain rename replaces at most an empty folder.
  return errno == EINVAL && rename(from.c_str(), to.c_str()) == 0;
}

// Makes root/vimo-<pid>-XXXXXX with its lock taken; the folder path (ending with '/') and the
// lock's descriptor on success.
bool MakeLockedFolder(const std::string& root, std::string& folder, int& lockFd) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string templ = root + "/" + kStagingPrefix + "XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) return false;
    const std::string lockPath = templ + "/" + kLockName;
    UniqueFd lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() >= 0 && flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
      const std::string name = kFolderPrefix + std::to_string(getpid()) + "-" + templ.substr(templ.size() - 6);
      if (RenameToFreeName(templ, root + "/" + name)) {
        folder = root + "/" + name + "/";
        lockFd = lock.release();
        return true;
      }
    }
    unlink(lockPath.c_str());
    rmdir(templ.c_str());
  }
  return false;
}

// The private folder, made on first use; empty when no root would take it.
std::string PrivateFolder() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!g_folder.empty()) return g_folder;
  // Without the cache folder, or when $TMPDIR cannot be written, the next root is tried.
  std::vector<std::string> roots;
  for (std::string root : {vimo::platform::TempRoot(), BaseRoot(), std::string("/tmp")}) {
    if (std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(root);
  }
  for (const std::string& root : roots) {
    if (MakeLockedFolder(root, g_folder, g_lockFd)) break;
  }
  return g_folder;
}

// Cleans the folder name of the root open as rootFd, open itself as folderFd; the caller holds
// its lock or knows its process is gone. Converted and spill files go; the folder goes when
// nothing but the lock file is left. False when something else keeps it.
bool CleanFolder(int rootFd, const std::string& name, int folderFd) {
  const DirPtr listing = ListFolder(folderFd);
  if (!listing) return false;
  bool othersLeft = false;
  while (const dirent* entry = readdir(listing.get())) {
    const char* file = entry->d_name;
    if (std::strcmp(file, ".") == 0 || std::strcmp(file, "..") == 0 || std::strcmp(file, kLockName) == 0) continue;
    if (IsLeftover(file) && unlinkat(folderFd, file, 0) == 0) continue;
    othersLeft = true;
  }
  if (othersLeft) return false;
  unlinkat(folderFd, kLockName, 0);  // absent in folders from before the lock
  return unlinkat(rootFd, name.c_str(), AT_REMOVEDIR) == 0;
}

bool ProcessAlive(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// Whether the folder (open as folderFd, named vimo-<pid>-*) belongs to a viewer that is gone;
// lock receives the lock taken, which the caller keeps while it cleans.
bool IsAbandoned(int folderFd, const char* name, UniqueFd& lock) {
  UniqueFd file(openat(folderFd, kLockName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() >= 0) {
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) return false;  // its viewer holds it
    lock.reset(file.release());
    return true;
  }
  if (errno != ENOENT) return false;
  // A folder made before viewers held a lock: its process id is all there is to go by.
  char* end = nullptr;
  const char* digits = name + std::strlen(kFolderPrefix);
  const long pid = std::strtol(digits, &end, 10);
  return end != digits && *end == '-' && !ProcessAlive(pid);
}

// Whether name has the shape of a viewer's own folder, vimo-<pid>-XXXXXX (mkdtemp's six letters
// or digits); other vimo-* names (a test's folder, say) are never opened.
bool IsViewerFolderName(const char* name) {
  const size_t prefix = std::strlen(kFolderPrefix);
  if (std::strncmp(name, kFolderPrefix, prefix) != 0) return false;
  const char* digits = name + prefix;
  const char* dash = digits;
  while (*dash >= '0' && *dash <= '9') ++dash;
  if (dash == digits || *dash != '-') return false;
  const char* suffix = dash + 1;
  for (const char* c = suffix; *c != '\0'; ++c) {
    if (!std::isalnum(static_cast<unsigned char>(*c))) return false;
  }
  return std::strlen(suffix) == 6;
}

void CleanStaleIn(const std::string& root) {
  const UniqueFd rootFd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.get() < 0) return;
  const DirPtr listing = ListFolder(rootFd.get());
  if (!listing) return;
  while (const dirent* entry = readdir(listing.get())) {
    if (!IsViewerFolderName(entry->d_name)) continue;
    // Never through a symlink, never someone else's folder.
    const UniqueFd folder(openat(rootFd.get(), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (folder.get() < 0 || fstat(folder.get(), &info) != 0 || info.st_uid != geteuid()) continue;
    UniqueFd lock(-1);
    if (IsAbandoned(folder.get(), entry->d_name, lock)) CleanFolder(rootFd.get(), entry->d_name, folder.get());
  }
}

}  // namespace

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::string dir = PrivateFolder();
  if (dir.empty()) return 0;
  const auto needed = static_cast<DWORD>(dir.size() + 1);
  if (lpBuffer == nullptr || nBufferLength < needed) return needed;
  std::memcpy(lpBuffer, dir.c_str(), needed);
  return needed - 1;
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT /*uUnique*/, LPSTR lpTempFileName) {
  if (lpPathName == nullptr || lpTempFileName == nullptr) return 0;
  std::string templ = lpPathName;
  if (!templ.empty() && templ.back() != '/') templ += '/';
  templ += (lpPrefixString != nullptr ? lpPrefixString : "");
  templ += "XXXXXX";
  if (templ.size() + 1 > static_cast<size_t>(MAX_PATH)) return 0;
  // A new name, created exclusively (never through a planted symlink), mode 0600.
  const UniqueFd file(mkostemp(templ.data(), O_CLOEXEC));
  if (file.get() < 0) return 0;
  std::memcpy(lpTempFileName, templ.c_str(), templ.size() + 1);
  struct stat info {};
  fstat(file.get(), &info);
  const UINT unique = static_cast<UINT>(info.st_ino & 0xFFFF);
  return unique == 0 ? 1 : unique;
}

namespace vimo::platform {

std::string TempRoot() {
  const std::string base = BaseRoot();
  if (!OnTmpfs(base)) return base;
  const std::string cache = CacheRoot();
  return (!cache.empty() && MakePrivateFolder(cache)) ? cache : base;
}

void PrepareTempFolder() {
  const std::string folder = PrivateFolder();
  if (folder.empty()) return;
  const char* current = std::getenv("MAGICK_TEMPORARY_PATH");
  if (current == nullptr || *current == '\0') setenv("MAGICK_TEMPORARY_PATH", WithoutTrailingSlash(folder).c_str(), 1);
}

void CleanStaleTempDirs() {
  CleanStaleIn(BaseRoot());
  const std::string cache = CacheRoot();
  if (!cache.empty() && IsOwnFolder(cache)) CleanStaleIn(cache);
}

void RemovePrivateTempDir() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (g_folder.empty()) return;
  const std::string path = WithoutTrailingSlash(g_folder);
  const size_t slash = path.rfind('/');
  const UniqueFd rootFd(open(path.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const UniqueFd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (rootFd.get() < 0 || folder.get() < 0) return;
  if (!CleanFolder(rootFd.get(), path.substr(slash + 1), folder.get())) return;
  close(g_lockFd);
  g_lockFd = -1;
  g_folder.clear();
}

void SetTmpfsForTesting(std::optional<bool> onTmpfs) { g_tmpfsOverride = onTmpfs ? int{*onTmpfs} : -1; }

}  // namespace vimo::platform
