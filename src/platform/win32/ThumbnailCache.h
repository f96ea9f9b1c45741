// The shell's thumbnail store: the desktop's shared thumbnail cache, kept as file managers and
// viewers keep it (the freedesktop.org Thumbnail Managing Standard), so that a thumbnail one of
// them made serves the others.
//
// Thumbnails live in $XDG_CACHE_HOME/thumbnails/ (else ~/.cache/thumbnails/): in normal/ (at most
// 128 pixels a side), large/ (256), x-large/ (512) and xx-large/ (1024), each a PNG named by the
// MD5 of the file's URI, holding the URI and the file's modification time (Thumb::URI,
// Thumb::MTime), its size (Thumb::Size) and the maker (Software), as plain tEXt chunks, which is
// what every reader of the cache reads. A thumbnail whose time differs from the file's is made
// again. Files that give no picture are recorded under fail/ in the maker's own folder, so that
// they are not tried again until they change. New thumbnails are written under a temporary name
// and renamed into place, mode 0600, in folders made 0700. A cache that cannot be written still
// gives what it holds; nothing is written then.
//
// The store makes nothing and keeps no state: its functions may be called on any thread.
#pragma once

#include <string>

#include "afx/Bitmap.h"

// How a program that makes thumbnails names itself in the cache.
struct THUMBNAILMAKER {
  const char* lpszSoftware;    // the Software key of its thumbnails ("Name 1.0")
  const char* lpszFailFolder;  // its folder of failure records under fail/ ("name-1.0")
  const char* lpszReasonKey;   // the key of its own that keeps why a file gave no picture ("X-Name::Reason")
};

class CThumbnailCache {
 public:
  explicit CThumbnailCache(const THUMBNAILMAKER& maker) : m_maker(maker) {}

  // What Find found of a file, and what Put and PutFailure need to store its thumbnail.
  enum class Found {
    kPicture,  // a current thumbnail: picture (when asked for)
    kFailure,  // a current record that the file gave no picture: strReason (empty when it kept none)
    kNothing,  // none that is current: one of cx pixels is to be made
    kNoFile,   // the path names no regular file that can be read: strReason
  };
  struct CEntry {
    UINT cx = 0;         // the side of the cache's size that holds thumbnails of the size asked for
    CBitmap picture;     // kPicture, as stored
    CString strReason;   // kFailure, kNoFile
    std::string root;    // the cache's folder; empty when the user has none
    std::string uri;     // the file's, and its name in the cache
    std::string name;
    long long mtime = 0;  // the file's as Find saw it
    long long size = 0;
  };

  // Looks up the thumbnail of the file at path for a picture of cx pixels: in the size that holds
  // those, then among the failure records. bPicture: the picture is read too (else only its keys).
  Found Find(const char* path, UINT cx, BOOL bPicture, CEntry& entry) const;
  // Puts picture in as the thumbnail of the file Find looked up (kNothing), stored without an
  // alpha channel when it has no transparency, as other makers store photos. FALSE when it could
  // not be written; nothing, not even a part, is left behind then.
  BOOL Put(const CEntry& entry, const CBitmap& picture) const;
  // Records that the file Find looked up gave no picture, and why.
  BOOL PutFailure(const CEntry& entry, const CString& strReason) const;

  // Removes the file's thumbnails of every size, and every maker's record of failure, from the
  // cache: for a file whose picture changed while its time did not (others may read it now).
  static void ForgetFile(const char* path);

 private:
  BOOL Write(const std::string& folder, const CEntry& entry, const CBitmap& picture, const CString& strReason) const;

  THUMBNAILMAKER m_maker;
};
