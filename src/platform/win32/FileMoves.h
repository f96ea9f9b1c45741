// Renaming, copying and moving a file to a name of the user's choice, so that nothing is ever
// replaced unasked and a failure never leaves a part of a file or loses the original.
#pragma once

namespace vimo::platform {

// Whether a name is taken: anything at path, a dangling symlink included.
bool NameTaken(const char* path);

// Renames from to to on one file system; 0, else errno's reason (EEXIST: to is taken; EXDEV:
// another file system). Unless bReplace, nothing at to is ever replaced: where the file system
// cannot rename without replacing, the file is linked to its new name and unlinked from its old;
// where it cannot link either, the rename is refused (EPERM or what link said).
int RenameFile(const char* from, const char* to, bool bReplace);

// Copies the regular file at from to to: the bytes go into a fresh file beside to, which is
// flushed to the disk, checked to hold as many bytes as from, given from's mode and modification
// time, and only then renamed into place (over a file at to only with bReplace). 0, else errno's
// reason, with nothing left behind at to or beside it (EEXIST: to is taken; ENOSPC: no room;
// EIO: the copy came out short).
int CopyFileWhole(const char* from, const char* to, bool bReplace);

// Moves the file from to to: renamed where both lie on one file system; else copied whole as
// CopyFileWhole copies, and only then is from removed. 0, else errno's reason; the original is
// then where it was, and no copy of it is left at to.
int MoveFileWhole(const char* from, const char* to, bool bReplace);

}  // namespace vimo::platform
