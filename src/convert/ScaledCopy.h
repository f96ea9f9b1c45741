// A copy of a picture, cut and scaled, encoded as a JPEG, PNG or WebP file: the source is read as
// a conversion reads it, turned as the user sees it, cut to a rectangle of that turned picture and
// scaled with a Lanczos filter (sharper than the view's own area average when reducing).
#pragma once

#include <string>

namespace vimo::convert {

struct ScaledCopyRequest {
  // How the source's pixels, as a conversion reads them, are turned to look as the user sees them
  // (1 to 8, as a photo's EXIF orientation says).
  int orientation = 1;
  // The part of the turned picture copied; a width or height of 0 copies all of it.
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  // The copy's size in pixels.
  unsigned outWidth = 0;
  unsigned outHeight = 0;
  std::string format = "JPEG";  // the image library's name: "JPEG", "PNG" or "WEBP"
  unsigned quality = 90;        // 1 to 100, for JPEG and WebP
  // The copy's EXIF block ("Exif\0\0" and the TIFF structure, already made upright), or empty: the
  // one the source carries never goes with the copy, since it may say another turn.
  std::string exif;
};

// The copy's file as bytes; false with why (short English) when the source cannot be read, the
// rectangle lies outside the picture, or the library cannot make the copy.
bool EncodeScaledCopy(const char* src, const ScaledCopyRequest& request, std::string& bytes, std::string& reason);

}  // namespace vimo::convert
