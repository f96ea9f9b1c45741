// The EXIF block of a JPEG photo, read from the file's head only (the pixels are never read):
// its orientation, when it was taken and the small picture the camera put in it. Of the formats
// read by their own libraries (PictureFormats.h) the block their library reads, whose
// orientation counts only for a RAW file (the others' decoders turn their pixels upright).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "afx/afx.h"

struct _ExifData;

class CExifBlock {
 public:
  // Reads the block of the JPEG (or other photo) at path; an empty block for a file of another
  // format, one that has none or cannot be read.
  explicit CExifBlock(const char* path);
  ~CExifBlock();
  CExifBlock(const CExifBlock&) = delete;
  CExifBlock& operator=(const CExifBlock&) = delete;

  // How the stored pixels are to be turned to be seen upright (1 to 8, as DrawDibDraw takes
  // them); 1 when not recorded, or when the file's decoder has turned them already.
  int GetOrientation() const;
  // When the photo was taken (DateTimeOriginal, else DateTime) as EXIF writes it,
  // "YYYY:MM:DD HH:MM:SS", which sorts as time does; empty when not recorded.
  std::string GetDateTaken() const;
  // The small JPEG picture a JPEG's block carries; nullptr (size 0) when none.
  const BYTE* GetThumbnail(std::size_t& size) const;

 private:
  struct DataRelease {
    void operator()(_ExifData* data) const;
  };
  void LoadPictureBlock(const char* path);
  std::unique_ptr<_ExifData, DataRelease> m_pData;
  bool m_bTurnedByExif = false;  // a JPEG's or RAW file's block: its orientation is the view's to apply
};
