// A camera's RAW file (DNG, CR2, CR3, NEF, ARW, RAF, RW2, ORF, PEF) through libraw, for what it
// carries beside the sensor's data: its largest JPEG preview, which is shown (nothing is
// developed), the orientation the camera recorded, and the facts of the photo as libraw reads
// them from the file's own metadata.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "convert/ConvertImage.h"
#include "convert/ImageFacts.h"

namespace vimo::convert {

// Built in the module of the format libraries (FormatLibraries.h), which is loaded at the first
// RAW file.
class CRawReader {
 public:
  // The reader; when the module cannot be loaded, one whose Open says why.
  static std::unique_ptr<CRawReader> Create();
  virtual ~CRawReader() = default;

  // Reads the file's structure from file (the caller keeps it open): kWritten, or kUndecodable
  // with libraw's reason.
  virtual ConvertOutcome Open(std::FILE* file) = 0;
  // After Open: the bytes of the largest JPEG preview, in the reader's own buffer (valid while it
  // lives, until the next Open; not copied: a 24 MP camera's preview is some 10 MB);
  // kUndecodable when the file carries none.
  virtual ConvertOutcome ReadPreview(std::string_view& jpeg) = 0;
  // After Open: how the preview is to be turned to be seen upright (1 to 8, as EXIF records it).
  virtual int GetOrientation() const = 0;
  // After Open: the photo's size (upright), a description, and an EXIF block made of what libraw
  // read of the camera, lens, exposure, date taken and orientation. format is left to the caller.
  virtual void Describe(ImageFacts& facts) const = 0;
};

}  // namespace vimo::convert
