// A JPEG file turned in place without loss, or a part of it cut out into another file without
// loss: libjpeg-turbo's transform moves the compressed blocks,
// nothing is decoded and encoded again. The file keeps its other markers (EXIF, ICC profile,
// XMP, comments) byte for byte, but for what the turn changes in its EXIF block, edited where it
// lies (CExifPatch): the orientation becomes 1, the pixel size the new one, and the embedded
// thumbnail, which would show the old turn, is no longer linked.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "afx/afxwin.h"

class CLosslessTurn {
 public:
  enum class Result {
    kDone,         // the turned file is in place
    kNeedsTrim,    // the edges hold partial blocks that cannot be turned: only with bTrim
    kUnreadable,   // not a JPEG, cut short or damaged, or the file cannot be read
    kNotWritten,   // the turned file could not be written; the old one is whole (see GetError)
    kExifUnreadable,  // an EXIF block whose directories cannot be read or edited safely: nothing
                      // was written, since a reader could still find the old orientation in it
  };

  // A JPEG's header segments, up to its first scan: where each begins (its marker's 0xFF), its
  // whole length (marker and length field included) and its marker. The walk stops at the first
  // bytes that are no segment lying whole in the file.
  struct Segment {
    std::size_t at = 0;
    std::size_t length = 0;
    unsigned char marker = 0;
  };
  static std::vector<Segment> HeaderSegments(const std::string& jpeg);

  // Reads the file (a regular file, symlinks followed). FALSE when it cannot be read or its
  // header is not a JPEG's.
  BOOL Load(const char* path);
  int GetWidth() const { return m_nWidth; }
  // The file's bytes as loaded.
  const std::string& GetBytes() const { return m_bytes; }
  int GetHeight() const { return m_nHeight; }

  // Whether turning by nOrientation (1 to 8, as a photo's EXIF orientation says how its stored
  // pixels are to be shown) keeps every pixel; otherwise the edge blocks that cannot move leave
  // the width and height given here (as stored, before the turn).
  BOOL IsWhole(int nOrientation, int& nKeptWidth, int& nKeptHeight) const;

  // Turns the loaded file by nOrientation and writes it over the file it came from: beside it
  // first, flushed, then renamed into place, keeping its permissions. With bTrim the blocks that
  // cannot move are cut off; without it such a turn is refused (kNeedsTrim).
  Result Save(int nOrientation, BOOL bTrim);
  // A part of the picture cut out without loss: rcShown is a rectangle of the picture as turning it
  // by nOrientation shows it. The compressed blocks can be cut where the rectangle's top-left
  // corner lies on the block grid of the turned picture and the rectangle keeps clear of the edge
  // blocks the turn cannot move. SnapCrop moves the rectangle up and left, its size kept, to the
  // nearest such place; FALSE, rcShown unchanged, when the picture has none for that size.
  BOOL SnapCrop(int nOrientation, CRect& rcShown) const;
  // Writes the turned part rcShown (where SnapCrop leaves it) to target, its EXIF block made upright
  // as a turn's: a fresh file beside target renamed into place, mode 0666 less the umask, where a
  // file of that name exists only with bReplace (else kNotWritten, EEXIST). kNeedsTrim for a
  // rectangle SnapCrop would move.
  Result SaveCrop(int nOrientation, const CRect& rcShown, const char* target, BOOL bReplace);
  // The system's error number of a save that ended kNotWritten (0 when it was not a write).
  int GetError() const { return m_nError; }

 private:
  // The transformed bytes with their EXIF blocks edited in place; FALSE when one cannot be.
  static BOOL UprightExif(std::string& jpeg, int nWidth, int nHeight);
  // What a turn by nOrientation keeps (the stored edge blocks it cannot move cut off), as the
  // turned picture shows it, in the coordinates of the whole turned picture.
  CRect KeptShown(int nOrientation) const;
  // The block grid of the picture turned by nOrientation, for a cut that libjpeg-turbo takes.
  CSize CropGrid(int nOrientation) const;

  CString m_strPath;
  std::string m_bytes;
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nSubsampling = 0;
  BOOL m_bProgressive = FALSE;
  int m_nError = 0;
};
