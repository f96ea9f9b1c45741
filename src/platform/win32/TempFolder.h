// "The temporary folder" of this process (what GetTempPathA gives): a private folder
// vimo-<pid>-XXXXXX/ (mode 0700) in the temporary root, made with mkdtemp. It holds a lock file
// that the process keeps locked (flock) for its whole life; that lock, not the process id,
// tells other viewers the folder is in use, so a viewer in another PID namespace (a container,
// a sandbox) sharing the root keeps its files.
//
// The temporary root is $TMPDIR (else /tmp). When that root is tmpfs, converted files would
// take memory, so the root is a private per-user cache folder instead: $XDG_CACHE_HOME/vimo
// (else ~/.cache/vimo), mode 0700, never followed through a symlink.
#pragma once

#include <optional>
#include <string>

namespace vimo::platform {

// The root that holds the private folders, without a trailing '/'. May create the cache folder.
std::string TempRoot();

// Makes the private folder now and, when MAGICK_TEMPORARY_PATH is not set, sets it to that
// folder so that ImageMagick's own spill files live and go with it. Changes the environment:
// call at start-up, before any thread starts.
void PrepareTempFolder();

// Removes what viewers that are gone left behind, in the temporary root (and in the cache
// folder when there is one): in each folder vimo-<pid>-* of this user whose lock can be taken
// (or, for a folder from before the lock existed, whose process id is not running) the *.bmp
// and ImageMagick magick-* files are deleted, then the folder when nothing else is left. Mail
// job files (VIM*) stay: their sender owns them.
void CleanStaleTempDirs();

// At exit, after the document's teardown: this process's private folder loses its converted
// and spill files and goes when nothing else is left (a mail job file keeps it, for the sender).
void RemovePrivateTempDir();

// Testing hook: whether $TMPDIR counts as tmpfs (std::nullopt: as the file system says).
void SetTmpfsForTesting(std::optional<bool> onTmpfs);

}  // namespace vimo::platform
