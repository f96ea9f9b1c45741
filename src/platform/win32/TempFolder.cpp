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
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "posix/UniqueFd.h"
#include "win32/Kernel.h"

using vimo::posix::UniqueFd;

namespace {

using vimo::platform::PrivateFolderRule;
using DirPtr = std::unique_ptr<DIR, int (*)(DIR*)>;

// A listing of the folder open as fd (which stays open and usable).
DirPtr ListFolder(int fd) {
  const int copy = dup(fd);
  DIR* dir = copy >= 0 ? fdopendir(copy) : nullptr;
  if (dir == nullptr && copy >= 0) close(copy);
  return DirPtr(dir, &closedir);
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Without a rule from the program: folders named after the executable, nothing is a leftover.
PrivateFolderRule DefaultRule() {
  char path[PATH_MAX] = "";
  std::string name = GetModuleFileNameA(nullptr, path, sizeof(path)) != 0 ? path : "";
  name = name.substr(name.rfind('/') + 1);
  if (name.empty()) name = "process";
  return PrivateFolderRule{{}, name + "-", name + ".lock", nullptr};
}

// The process's folder and the rule it follows; every access is under the mutex.
struct FolderState {
  std::mutex mutex;
  PrivateFolderRule rule;
  bool ruleSet = false;
  std::string folder;  // ends with '/'; empty until made
  int lockFd = -1;     // held for the life of the process, closed on exec

  const PrivateFolderRule& Rule() {
    if (!ruleSet) {
      rule = DefaultRule();
      ruleSet = true;
    }
    return rule;
  }
} g_state;

bool IsLeftover(const PrivateFolderRule& rule, const char* name) { return rule.isLeftover && rule.isLeftover(name); }

// Renames a folder to a name nobody has: never over an existing one.
bool RenameToFreeName(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without that flag: a plain rename replaces at most an empty folder.
  return errno == EINVAL && rename(from.c_str(), to.c_str()) == 0;
}

// Makes root/<prefix><pid>-XXXXXX with its lock taken; the folder path (ending with '/') and the
// lock's descriptor on success. The folder is made under a staging name, which the clean-up
// passes over, and renamed to its own name only once its lock is taken.
bool MakeLockedFolder(const PrivateFolderRule& rule, const std::string& root, std::string& folder, int& lockFd) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string templ = root + "/." + rule.prefix + "new-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) return false;
    const std::string lockPath = templ + "/" + rule.lockName;
    UniqueFd lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() >= 0 && flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
      const std::string name = rule.prefix + std::to_string(getpid()) + "-" + templ.substr(templ.size() - 6);
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

// Cleans the folder name of the root open as rootFd, open itself as folderFd; the caller holds
// its lock or knows its process is gone. Leftovers go; the folder goes when nothing but the
// lock file is left. False when something else keeps it.
bool CleanFolder(const PrivateFolderRule& rule, int rootFd, const std::string& name, int folderFd) {
  const DirPtr listing = ListFolder(folderFd);
  if (!listing) return false;
  bool othersLeft = false;
  while (const dirent* entry = readdir(listing.get())) {
    const char* file = entry->d_name;
    if (std::strcmp(file, ".") == 0 || std::strcmp(file, "..") == 0 || rule.lockName == file) continue;
    if (IsLeftover(rule, file) && unlinkat(folderFd, file, 0) == 0) continue;
    othersLeft = true;
  }
  if (othersLeft) return false;
  unlinkat(folderFd, rule.lockName.c_str(), 0);  // absent in folders from before the lock
  return unlinkat(rootFd, name.c_str(), AT_REMOVEDIR) == 0;
}

bool ProcessAlive(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// Whether the folder (open as folderFd, named <prefix><pid>-*) belongs to a process that is
// gone; lock receives the lock taken, which the caller keeps while it cleans.
bool IsAbandoned(const PrivateFolderRule& rule, int folderFd, const char* name, UniqueFd& lock) {
  UniqueFd file(openat(folderFd, rule.lockName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() >= 0) {
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) return false;  // its process holds it
    lock.reset(file.release());
    return true;
  }
  if (errno != ENOENT) return false;
  // A folder made before the lock existed: its process id is all there is to go by.
  char* end = nullptr;
  const char* digits = name + rule.prefix.size();
  const long pid = std::strtol(digits, &end, 10);
  return end != digits && *end == '-' && !ProcessAlive(pid);
}

// Whether name has the shape of a private folder, <prefix><pid>-XXXXXX (mkdtemp's six letters
// or digits); other names that start with the prefix (a test's folder, say) are never opened.
bool IsPrivateFolderName(const PrivateFolderRule& rule, const char* name) {
  if (rule.prefix.empty() || std::strncmp(name, rule.prefix.c_str(), rule.prefix.size()) != 0) return false;
  const char* digits = name + rule.prefix.size();
  const char* dash = digits;
  while (*dash >= '0' && *dash <= '9') ++dash;
  if (dash == digits || *dash != '-') return false;
  const char* suffix = dash + 1;
  for (const char* c = suffix; *c != '\0'; ++c) {
    if (!std::isalnum(static_cast<unsigned char>(*c))) return false;
  }
  return std::strlen(suffix) == 6;
}

// At the process's end the folder goes too, when nothing is left in it: a program that never
// ran its own exit (a test) leaves no empty folder behind.
// (Defined after the state, so it runs before the state goes.)
struct RemoveAtExit {
  ~RemoveAtExit() { vimo::platform::RemovePrivateFolder(); }
} g_removeAtExit;

}  // namespace

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::string dir = vimo::platform::PrivateFolder();
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

void SetPrivateFolderRule(PrivateFolderRule rule) {
  std::lock_guard<std::mutex> guard(g_state.mutex);
  g_state.rule = std::move(rule);
  g_state.ruleSet = true;
}

std::string PrivateFolder() {
  FolderState& state = g_state;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.folder.empty()) return state.folder;
  // A root that cannot be written is passed over for the next.
  std::vector<std::string> roots;
  std::vector<std::string> candidates = state.Rule().roots;
  candidates.insert(candidates.end(), {TempBase(), "/tmp"});
  for (const std::string& candidate : candidates) {
    const std::string root = WithoutTrailingSlash(candidate);
    if (std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(root);
  }
  for (const std::string& root : roots) {
    if (MakeLockedFolder(state.Rule(), root, state.folder, state.lockFd)) break;
  }
  return state.folder;
}

void CleanAbandonedFolders(const std::string& root, const PrivateFolderRule& rule) {
  const UniqueFd rootFd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.get() < 0) return;
  const DirPtr listing = ListFolder(rootFd.get());
  if (!listing) return;
  while (const dirent* entry = readdir(listing.get())) {
    if (!IsPrivateFolderName(rule, entry->d_name)) continue;
    // Never through a symlink, never someone else's folder.
    const UniqueFd folder(openat(rootFd.get(), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (folder.get() < 0 || fstat(folder.get(), &info) != 0 || info.st_uid != geteuid()) continue;
    UniqueFd lock(-1);
    if (IsAbandoned(rule, folder.get(), entry->d_name, lock)) CleanFolder(rule, rootFd.get(), entry->d_name, folder.get());
  }
}

void RemovePrivateFolder() {
  FolderState& state = g_state;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.folder.empty()) return;
  const std::string path = WithoutTrailingSlash(state.folder);
  const size_t slash = path.rfind('/');
  const UniqueFd rootFd(open(path.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const UniqueFd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (rootFd.get() < 0 || folder.get() < 0) return;
  if (!CleanFolder(state.Rule(), rootFd.get(), path.substr(slash + 1), folder.get())) return;
  close(state.lockFd);
  state.lockFd = -1;
  state.folder.clear();
}

std::string TempBase() {
  const char* env = std::getenv("TMPDIR");
  return WithoutTrailingSlash((env != nullptr && *env != '\0') ? env : "/tmp");
}

bool IsOnTmpfs(const std::string& path) {
  struct statfs info {};
  return statfs(path.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

}  // namespace vimo::platform
