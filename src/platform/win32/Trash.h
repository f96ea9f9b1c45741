// The desktop's trash (the freedesktop.org layout that Linux file managers share): a file moved
// there can be restored from any of them.
#pragma once

namespace vimo::platform {

// Moves the file at path (a symlink itself, not what it names) into the trash of its file
// system: $XDG_DATA_HOME/Trash (else ~/.local/share/Trash, made 0700 when missing) when the file
// lies on the same file system; else the volume's $top/.Trash/<uid> when the administrator
// made $top/.Trash a real folder with the sticky bit, else $top/.Trash-<uid>. A trash folder
// that is a symlink or someone else's is never used. The file keeps its name there (or gets
// ".2", ".3"... before its extension when the name is taken), beside an info file that says
// where it came from and when it went.
// false, with the file left where it was, when no trash can take it or the move fails.
bool MoveToTrash(const char* path);

}  // namespace vimo::platform
