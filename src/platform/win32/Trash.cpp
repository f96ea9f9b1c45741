#include "win32/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "posix/RegularFile.h"
#include "posix/UniqueFd.h"
#include "win32/UserFolders.h"

namespace vimo::platform {
namespace {

using vimo::posix::UniqueFd;

constexpr char kInfoSuffix[] = ".trashinfo";
constexpr int kMostNamesTried = 10000;

// Whether a trash folder could not be made or opened for a reason that passes (no space, no
// memory), which says nothing about whether the file system has a trash.
bool IsPassing(int error) {
  return error == ENOSPC || error == EDQUOT || error == EIO || error == ENOMEM || error == EMFILE || error == ENFILE;
}

// Opens folder name under parent, making it (0700) when missing. Only a real folder of this user
// is taken (errno EACCES for someone else's); with follow, name may be a symlink to one.
UniqueFd OpenOwnFolder(int parent, const char* name, bool follow) {
  if (mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return UniqueFd();
  UniqueFd folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
  struct stat info {};
  if (!folder.valid() || fstat(folder.get(), &info) != 0) return UniqueFd();
  if (info.st_uid != geteuid()) {
    errno = EACCES;
    return UniqueFd();
  }
  return folder;
}

// 0 when path names a regular file or a symlink to one, else why not.
int RegularFileError(const char* path) {
  struct stat info {};
  if (lstat(path, &info) != 0) return errno;
  if (S_ISLNK(info.st_mode) && stat(path, &info) != 0) return errno == ENOENT ? ENXIO : errno;
  if (S_ISREG(info.st_mode)) return 0;
  return S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
}

// Moves from (under fromFolder) to to (under toFolder) unless to exists: 0, or errno (EEXIST
// when it does). Where the file system cannot rename without replacing, the file is linked to
// its new name and unlinked from its old one; where it cannot link either, nothing moves.
int MoveWithoutReplacing(int fromFolder, const char* from, int toFolder, const char* to) {
  if (renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (linkat(fromFolder, from, toFolder, to, 0) != 0) return errno;
  if (unlinkat(fromFolder, from, 0) == 0) return 0;
  const int error = errno;
  unlinkat(toFolder, to, 0);
  return error;
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

// A trash folder, open, and its path; or, with fd invalid, why there is none.
struct TrashFolder {
  UniqueFd fd{};
  std::string path;
  int error = 0;
};

// The trash of the volume whose top folder is top: $top/.Trash/<uid> when the administrator set
// $top/.Trash up for it (a real folder with the sticky bit), else $top/.Trash-<uid>. Its fd is
// invalid, and its error says why, when there is none this user can use.
TrashFolder VolumeTrash(const std::string& top) {
  const UniqueFd topFolder(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!topFolder.valid()) return TrashFolder{UniqueFd(), {}, errno};
  const std::string uid = std::to_string(geteuid());
  const std::string base = top == "/" ? "" : top;
  const UniqueFd shared(openat(topFolder.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (shared.valid() && fstat(shared.get(), &info) == 0 && (info.st_mode & S_ISVTX) != 0) {
    UniqueFd own = OpenOwnFolder(shared.get(), uid.c_str(), false);
    if (own.valid()) return {std::move(own), base + "/.Trash/" + uid, 0};
  }
  const std::string name = ".Trash-" + uid;
  UniqueFd own = OpenOwnFolder(topFolder.get(), name.c_str(), false);
  const int error = own.valid() ? 0 : errno;
  return {std::move(own), base + "/" + name, error};
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

// Moves source (a real path, whose name is name) into trash, recording recorded as where it
// came from: 0 with entry filled in, or errno's reason. The info file is written first under a
// name that O_EXCL reserves; it goes again when the move fails.
int MoveInto(const TrashFolder& trash, const std::string& source, const std::string& name, const std::string& recorded,
             TrashEntry& moved) {
  const UniqueFd info = OpenOwnFolder(trash.fd.get(), "info", false);
  if (!info.valid()) return errno;
  const UniqueFd files = OpenOwnFolder(trash.fd.get(), "files", false);
  if (!files.valid()) return errno;
  // Path keeps the unreserved characters of a URL and '/' as they are.
  const std::string text =
      "[Trash Info]\nPath=" + PercentEncoded(recorded, "/-_.!~*'()") + "\nDeletionDate=" + LocalTimeNow() + "\n";
  for (int n = 1; n <= kMostNamesTried; ++n) {
    const std::string entry = EntryName(name, n);
    const std::string infoName = entry + kInfoSuffix;
    UniqueFd reserved(openat(info.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!reserved.valid()) {
      if (errno == EEXIST) continue;
      return errno;
    }
    struct stat left {};
    // A file left in files/ without its info file keeps its name.
    const bool taken = fstatat(files.get(), entry.c_str(), &left, AT_SYMLINK_NOFOLLOW) == 0;
    const bool written = !taken && vimo::posix::WriteAll(reserved.get(), text) && close(reserved.release()) == 0;
    const int error = !written ? (taken ? EEXIST : errno)
                               : MoveWithoutReplacing(AT_FDCWD, source.c_str(), files.get(), entry.c_str());
    if (error == 0) {
      moved = {source, trash.path + "/files/" + entry, trash.path + "/info/" + infoName, text};
      // What tells this file from one that takes its name in the trash later.
      struct stat identity {};
      if (fstatat(files.get(), entry.c_str(), &identity, AT_SYMLINK_NOFOLLOW) == 0) {
        moved.device = identity.st_dev;
        moved.inode = identity.st_ino;
      }
      return 0;
    }
    unlinkat(info.get(), infoName.c_str(), 0);
    // A name that turned up in files/ since it was looked at: the next one.
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

// What the info file at path says; empty when it cannot be read. Info files are a few lines: a
// longer one is not one of ours.
std::string ReadInfoText(const std::string& path) {
  const UniqueFd info(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!info.valid()) return {};
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(info.get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || text.size() > 2 * PATH_MAX) return got == 0 ? text : std::string();
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

TrashOutcome MoveToTrash(const char* path) {
  TrashOutcome outcome;
  if (const int error = RegularFileError(path); error != 0) return {TrashResult::kNotRegularFile, error, {}};
  struct stat file {};
  if (lstat(path, &file) != 0) return {TrashResult::kNotRegularFile, errno, {}};
  // The file's real place: the trash records it, and its file system's top folder is found from it.
  const std::string given(path);
  const std::size_t slash = given.find_last_of('/');
  const std::string name = slash == std::string::npos ? given : given.substr(slash + 1);
  const std::string givenFolder = slash == std::string::npos ? "." : slash == 0 ? "/" : given.substr(0, slash);
  char* real = realpath(givenFolder.c_str(), nullptr);
  if (real == nullptr) return {TrashResult::kCannotTakeNow, errno, {}};
  const std::string folder(real);
  std::free(real);
  const std::string source = (folder == "/" ? "" : folder) + "/" + name;

  const std::string homeTrash = HomeTrashPath();
  TrashFolder trash;
  std::string recorded = source;
  if (!homeTrash.empty() && DeviceOf(homeTrash) == file.st_dev) {
    // The user's own trash is always there to be made: what keeps it from taking the file passes.
    UniqueFd home = OpenHomeTrash(homeTrash);
    if (!home.valid()) return {TrashResult::kCannotTakeNow, errno, {}};
    trash = {std::move(home), homeTrash, 0};
  } else {
    // Another file system, a removable volume most often: its own trash, paths relative to its top.
    const std::string top = TopFolderOf(folder, file.st_dev);
    trash = VolumeTrash(top);
    if (!trash.fd.valid())
      return {IsPassing(trash.error) ? TrashResult::kCannotTakeNow : TrashResult::kNoTrash, trash.error, {}};
    recorded = source.substr(top == "/" ? 1 : top.size() + 1);
  }
  outcome.error = MoveInto(trash, source, name, recorded, outcome.entry);
  outcome.result = outcome.error == 0 ? TrashResult::kMoved : TrashResult::kCannotTakeNow;
  return outcome;
}

int DeleteRegularFile(const char* path) {
  if (const int error = RegularFileError(path); error != 0) return error;
  return unlink(path) == 0 ? 0 : errno;
}

int RestoreFromTrash(const TrashEntry& entry) {
  // The trash may have been emptied and another file of the same name moved in since, by any
  // program: only the very file moved there, with its own info file, goes back.
  struct stat trashed {};
  if (lstat(entry.file.c_str(), &trashed) != 0 || trashed.st_dev != entry.device || trashed.st_ino != entry.inode ||
      ReadInfoText(entry.info) != entry.infoText)
    return ESTALE;
  struct stat left {};
  if (lstat(entry.original.c_str(), &left) == 0) return EEXIST;
  if (const int error = MoveWithoutReplacing(AT_FDCWD, entry.file.c_str(), AT_FDCWD, entry.original.c_str()); error != 0)
    return error;
  unlink(entry.info.c_str());
  return 0;
}

}  // namespace vimo::platform
