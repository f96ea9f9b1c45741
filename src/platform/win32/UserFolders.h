// The user's own folders as the XDG base-directory rules name them, and plain questions about
// paths: where links lead, whether a folder takes new files, making the folders of a path,
// writing a path's bytes into a URI.
#pragma once

#include <string>
#include <string_view>

namespace vimo::platform {

// $HOME when it is absolute, else the home folder of the user's account; empty when neither
// names one.
std::string HomeFolder();

// $XDG_CONFIG_HOME, $XDG_CACHE_HOME and $XDG_DATA_HOME when absolute (a relative one is ignored,
// as the rules ask), else ~/.config, ~/.cache and ~/.local/share. Without a trailing '/'; empty
// when there is no home folder either.
std::string UserConfigHome();
std::string UserCacheHome();
std::string UserDataHome();

// The absolute form of a path, as a file manager names the file: below the current folder when
// relative, without empty, "." and ".." steps. No links are resolved, and the bytes of the names
// are kept whatever they are. Empty for an empty path; as given when it is relative and there
// is no current folder (it was removed).
std::string FullPath(const std::string& path);

// The path with every link, "." and ".." resolved; empty when it leads nowhere.
std::string RealPath(const std::string& path);

// Whether this user can create files in the folder. Root, whom the system lets write anywhere on
// a writable mount, takes a folder whose mode lets nobody write (a copy made read-only on
// purpose) as read-only too.
bool IsWritableFolder(const std::string& folder);

// Makes the folders of path (absolute) that are missing, mode 0700 as the user's own; stops at
// the first that cannot be made.
void MakeFolders(const std::string& path);

// The bytes with each but the ASCII letters and digits and those in kept written as %XX (upper-case
// hex digits), so that every byte of a name comes back when the text is decoded. What a reader
// of the text expects decides kept: the characters it writes as they are.
std::string PercentEncoded(std::string_view bytes, std::string_view kept);

}  // namespace vimo::platform
