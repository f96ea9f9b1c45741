#include "win32/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "posix/UniqueFd.h"

namespace vimo::platform {
namespace {

using vimo::posix::UniqueFd;

constexpr char kInfoSuffix[] = ".trashinfo";
constexpr int kMostNamesTried = 10000;

// Opens folder name under parent, making it (0700) when missing. Only a real folder of this user
// is taken; with follow, name may be a symlink to one.
UniqueFd OpenOwnFolder(int parent, const char* name, bool follow) {
  if (mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return UniqueFd();
  UniqueFd folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
  struct stat info {};
  if (!folder.valid() || fstat(folder.get(), &info) != 0 || info.st_uid != geteuid()) return UniqueFd();
  return folder;
}

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash; empty when there is no home to hold it.
std::string HomeTrashPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.local/share/Trash";
}

// The device that holds path, or the folders that making it would make: that of its nearest
// existing ancestor.
dev_t DeviceOf(std::string path) {
  struct stat info {};
  while (stat(path.c_str(), &info) != 0) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || path == "/") return 0;
    path.resize(slash == 0 ? 1 : slash);
  }
  return info.st_dev;
}

// Makes the missing folders of path (0700, as the user's own data folders are made) and opens it.
UniqueFd OpenHomeTrash(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
  return OpenOwnFolder(AT_FDCWD, path.c_str(), true);
}

// The top folder of the file system on device that holds folder (a real path).
std::string TopFolderOf(std::string folder, dev_t device) {
  while (folder != "/") {
    const std::size_t slash = folder.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    struct stat info {};
    if (stat(parent.c_str(), &info) != 0 || info.st_dev != device) break;
    folder = parent;
  }
  return folder;
}

// The trash of the volume whose top folder is top: $top/.Trash/<uid> when the administrator set
// $top/.Trash up for it (a real folder with the sticky bit), else $top/.Trash-<uid>.
UniqueFd VolumeTrash(const std::string& top) {
  const UniqueFd topFolder(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!topFolder.valid()) return UniqueFd();
  const std::string uid = std::to_string(geteuid());
  const UniqueFd shared(openat(topFolder.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (shared.valid() && fstat(shared.get(), &info) == 0 && (info.st_mode & S_ISVTX) != 0) {
    UniqueFd own = OpenOwnFolder(shared.get(), uid.c_str(), false);
    if (own.valid()) return own;
  }
  return OpenOwnFolder(topFolder.get(), (".Trash-" + uid).c_str(), false);
}

// The bytes of path with everything but the unreserved characters of a URL and '/' written as
// %XX, so any byte a name holds comes back when read.
std::string PercentEncoded(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alphanumeric || (c != '\0' && std::strchr("/-_.!~*'()", c) != nullptr)) {
      text += c;
      continue;
    }
    text += '%';
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  struct tm local {};
  char text[32] = "";
  if (localtime_r(&now, &local) == nullptr) return {};
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// The n-th name tried for name in the trash: name, then "stem.2.ext", "stem.3.ext"...; cut short
// where its info file's name would not fit a file system's names.
std::string EntryName(const std::string& name, int n) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) dot = name.size();
  std::string stem = name.substr(0, dot);
  const std::string extension = name.substr(dot);
  const std::size_t room = NAME_MAX - (sizeof(kInfoSuffix) - 1) - extension.size() - 12;  // 12: ".<number>"
  if (stem.size() > room) stem.resize(room);
  if (n > 1) stem += "." + std::to_string(n);
  return stem + extension;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Moves source (a real path, whose name is name) into the trash folder trash, recording
// recorded as where it came from. The info file is written first under a name that O_EXCL
// reserves; it goes again when the move fails.
bool MoveInto(int trash, const std::string& source, const std::string& name, const std::string& recorded) {
  const UniqueFd info = OpenOwnFolder(trash, "info", false);
  const UniqueFd files = OpenOwnFolder(trash, "files", false);
  if (!info.valid() || !files.valid()) return false;
  const std::string text = "[Trash Info]\nPath=" + PercentEncoded(recorded) + "\nDeletionDate=" + LocalTimeNow() + "\n";
  for (int n = 1; n <= kMostNamesTried; ++n) {
    const std::string entry = EntryName(name, n);
    const std::string infoName = entry + kInfoSuffix;
    UniqueFd reserved(openat(info.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!reserved.valid()) {
      if (errno == EEXIST) continue;
      return false;
    }
    struct stat left {};
    // A file left in files/ without its info file keeps its name.
    const bool taken = fstatat(files.get(), entry.c_str(), &left, AT_SYMLINK_NOFOLLOW) == 0;
    const bool written = !taken && WriteAll(reserved.get(), text) && close(reserved.release()) == 0;
    if (written && renameat(AT_FDCWD, source.c_str(), files.get(), entry.c_str()) == 0) return true;
    unlinkat(info.get(), infoName.c_str(), 0);
    if (!taken) return false;
  }
  return false;
}

}  // namespace

bool MoveToTrash(const char* path) {
  struct stat file {};
  if (lstat(path, &file) != 0) return false;
  // The file's real place: the trash records it, and its file system's top folder is found from it.
  const std::string given(path);
  const std::size_t slash = given.find_last_of('/');
  const std::string name = slash == std::string::npos ? given : given.substr(slash + 1);
  const std::string givenFolder = slash == std::string::npos ? "." : slash == 0 ? "/" : given.substr(0, slash);
  char* real = realpath(givenFolder.c_str(), nullptr);
  if (real == nullptr) return false;
  const std::string folder(real);
  std::free(real);
  const std::string source = (folder == "/" ? "" : folder) + "/" + name;

  const std::string homeTrash = HomeTrashPath();
  if (!homeTrash.empty() && DeviceOf(homeTrash) == file.st_dev) {
    const UniqueFd trash = OpenHomeTrash(homeTrash);
    return trash.valid() && MoveInto(trash.get(), source, name, source);
  }
  // Another file system, a removable volume most often: its own trash, paths relative to its top.
  const std::string top = TopFolderOf(folder, file.st_dev);
  const UniqueFd trash = VolumeTrash(top);
  const std::string relative = source.substr(top == "/" ? 1 : top.size() + 1);
  return trash.valid() && MoveInto(trash.get(), source, name, relative);
}

}  // namespace vimo::platform
