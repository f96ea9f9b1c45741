// Where the viewer keeps the files it makes while it runs: converted images (the source's name
// with ".bmp"), ImageMagick's spill files (magick-*) and mail job files (VIM*), all in the
// private temporary folder vimo-<pid>-XXXXXX/ with its lock file vimo.lock.
//
// The temporary root is $TMPDIR (else /tmp). When that root is tmpfs, converted files would take
// memory, so the root is a private per-user cache folder instead: $XDG_CACHE_HOME/vimo (else
// ~/.cache/vimo), mode 0700, never followed through a symlink.
#pragma once

#include <string>

// The root of the private folders, given whether $TMPDIR lies on tmpfs, without a trailing '/'.
// May create the cache folder.
std::string TempFilesRoot(bool onTmpfs);

// Removes what viewers that are gone left behind, in the temporary root and in the cache folder:
// their converted and spill files, then their folders when nothing else is left. Mail job files
// stay: their sender owns them.
void CleanAbandonedTempFiles();

// At start-up, before any thread starts: cleans up after viewers that are gone, makes this
// viewer's private folder and, when MAGICK_TEMPORARY_PATH is not set, points ImageMagick's spill
// files into it, so they go with it. At exit the folder loses its converted and spill files and
// goes when nothing else is left (a mail job file keeps it, for the sender).
void SetUpTempFiles();
