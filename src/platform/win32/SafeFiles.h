// Files and folders made so that nothing planted by someone else is followed, and files
// replaced whole, so that a crash or a full disk never leaves half of one.
#pragma once

#include <string>
#include <string_view>

namespace vimo::platform {

// How ReplaceFileAtomically treats the file it replaces and the disk.
struct ReplaceOptions {
  // The new file gets newFileMode less the umask even where it replaces a file of another mode
  // (a cache's files are private whoever wrote the one before).
  bool bNewMode = false;
  // The new file is flushed to the disk before the rename. A file that is made again when it is
  // lost or broken (a cache's) goes without: a flush takes tens of milliseconds on a busy disk.
  bool bFlush = true;
  // The new file takes the name only while no file has it: a file that came meanwhile stays, and
  // the call fails with EEXIST.
  bool bNoReplace = false;
};

// Replaces the file at path with bytes: they are written to a new file beside it, flushed to
// the disk and renamed over the old one, so readers see the old content or the new, never a
// part. An existing regular file keeps its mode; a new file (or one that was a symlink, which
// is replaced rather than followed) gets newFileMode less the umask. False, with the old file
// left as it was, no new file behind and errno saying why, when any step fails.
bool ReplaceFileAtomically(const char* path, std::string_view bytes, unsigned newFileMode, ReplaceOptions options = {});

// Replaces the content of the existing regular file at path (a symlink is followed to the file it
// names) as ReplaceFileAtomically does: the new bytes are written beside the file, flushed and
// renamed over it, and the file keeps its mode. Only a file this user may write is replaced: a
// read-only file stays as it is. False, with errno saying why and the file left whole, when any
// step fails: EACCES (the file or its folder may not be written), ENOSPC or EDQUOT (no room),
// EROFS, EINVAL (not a regular file), or what else the system said.
bool RewriteFileAtomically(const char* path, std::string_view bytes);

// Whether path is a real folder (not a symlink) of this user that nobody else can write to,
// so nothing can be planted in it.
bool IsOwnFolder(const std::string& path);

// Makes path a private folder: creates it (and missing parents, mode 0700) or takes the one
// there when it is a real folder owned by this user, closing it to others. False when path is
// a symlink, belongs to someone else or cannot be made.
bool MakePrivateFolder(const std::string& path);

}  // namespace vimo::platform
