// The EXIF block of a JPEG photo, read from the file's head only (the pixels are never read):
// its orientation, when it was taken and the small picture the camera put in it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "afx/afx.h"

struct _ExifData;

class CExifBlock {
 public:
  // Reads the block of the JPEG at path; an empty block for a file that is not a JPEG, has none
  // or cannot be read.
  explicit CExifBlock(const char* path);
  ~CExifBlock();
  CExifBlock(const CExifBlock&) = delete;
  CExifBlock& operator=(const CExifBlock&) = delete;

  // How the stored pixels are to be turned to be seen upright (1 to 8, as DrawDibDraw takes
  // them); 1 when not recorded.
  int GetOrientation() const;
  // When the photo was taken (DateTimeOriginal, else DateTime) as EXIF writes it,
  // "YYYY:MM:DD HH:MM:SS", which sorts as time does; empty when not recorded.
  std::string GetDateTaken() const;
  // The small JPEG picture the block carries; nullptr (size 0) when none.
  const BYTE* GetThumbnail(std::size_t& size) const;

 private:
  struct DataRelease {
    void operator()(_ExifData* data) const;
  };
  std::unique_ptr<_ExifData, DataRelease> m_pData;
};
