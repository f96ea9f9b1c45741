// The desktop's trash (the freedesktop.org layout that Linux file managers share): a file moved
// there can be restored from any of them, or put back by the program that moved it.
#pragma once

#include <cstdint>
#include <string>

namespace vimo::platform {

// Where a file moved into the trash went, so that it can be put back, and what tells it from
// another that takes its place there later.
struct TrashEntry {
  std::string original;  // the path it had: its folder's real path and its name
  std::string file;      // its place in the trash's files/ folder
  std::string info;      // its info file in the trash's info/ folder
  std::string infoText;  // what that info file says
  std::uint64_t device = 0;  // the file's own: its device and inode number in the trash
  std::uint64_t inode = 0;
};

enum class TrashResult {
  kMoved,           // in the trash; the entry says where
  kNoTrash,         // its file system has no trash that this user can use
  kCannotTakeNow,   // the trash is there but cannot take it now (no space, no permission, ...)
  kNotRegularFile,  // the name holds no regular file (or link to one): nothing, a folder, a FIFO
};

struct TrashOutcome {
  TrashResult result = TrashResult::kCannotTakeNow;
  int error = 0;     // unless moved: the system's reason, as errno
  TrashEntry entry;  // when moved
};

// Moves the regular file at path (a symlink to one is moved itself, not what it names) into the
// trash of its file system: $XDG_DATA_HOME/Trash (else ~/.local/share/Trash, made 0700 when
// missing) when the file lies on the same file system; else the volume's $top/.Trash/<uid> when
// the administrator made $top/.Trash a real folder with the sticky bit, else $top/.Trash-<uid>.
// A trash folder that is a symlink or someone else's is never used. The file keeps its name
// there (or gets ".2", ".3"... before its extension when the name is taken), beside an info file
// that says where it came from and when it went. The move never replaces anything in the trash:
// where the file system cannot move without replacing, the file is linked in and unlinked here,
// and where it cannot link either, the move is refused. Unless moved, the file stays where it was.
TrashOutcome MoveToTrash(const char* path);

// Deletes path for good when it names a regular file or a symlink to one: 0, else errno's reason
// (ENOENT nothing there, EISDIR a folder, ENXIO a FIFO, socket or device, or what unlink said).
int DeleteRegularFile(const char* path);

// Puts the file MoveToTrash moved back where it was, when nothing has taken its name since, and
// removes its info file: 0, else errno's reason (EEXIST: the name is taken). Only that file is
// ever moved: ESTALE, with nothing touched, when it is no longer in the trash (emptied, restored
// elsewhere) and whatever now holds its trash name or info file is another's. Nothing is ever
// replaced.
int RestoreFromTrash(const TrashEntry& entry);

}  // namespace vimo::platform
