// The image files the viewer opens: one row per file name extension, saying which reader takes
// such a file and whether it is opened only once the user has chosen "他の形式も開く". The
// extension filter, the image-name test of browsing, the file dialogs' filters, the command
// line's messages, the worker and the conversion all read this one table.
#pragma once

#include <string>

enum class ImageReader {
  kNone,     // not an image this program reads
  kCopy,     // a BMP file: the worker copies it as it is
  kGif,      // the program's GIF reader
  kJpeg,     // libjpeg, or the image library for grey and CMYK JPEGs
  kPhotoCd,  // the program's Photo CD reader
  kLibrary,  // the image library's own reader
  kHeif,     // libheif: HEIC and AVIF
  kJxl,      // libjxl
  kWebp,     // libwebp's demux and animation decoder
  kPng,      // an animated PNG: the program's reading of its frames, each through libpng; a
             // PNG without animation: the image library's own reader
  kRaw,      // libraw: a camera's RAW file, shown by the largest JPEG preview it carries
};

struct ImageFormat {
  const char* extension;  // lower case, with its dot: ".jpg"
  const char* name;       // the format's name, as its signature or the image library calls it
  ImageReader reader;
  bool bOptIn;            // opened only while other formats are
};

// The format whose extension name ends in (ASCII letters folded), when it is opened now (an
// opt-in one only with bOtherFormats); nullptr otherwise.
const ImageFormat* ImageFormatOfName(const char* name, bool bOtherFormats);
// The reader of a format name (as ImageFormat::name; a name that begins with "GIF" is GIF's),
// kNone for a name no format opened now goes by.
ImageReader ImageReaderOfFormat(const std::string& name, bool bOtherFormats);
// The format a file goes by, from the format its content shows (ContentFormatOf's name) and its
// name: the content's, except for a TIFF named as a camera's RAW format that is TIFF inside
// (.dng, .nef, .arw, .pef), which goes by that RAW format.
std::string FormatOfFile(const std::string& contentFormat, const char* name);
// The extensions of the formats opened now, each after prefix, separated by separator, in the
// file dialogs' order: JoinedImageExtensions(false, "*", ";") is "*.bmp;*.gif;*.jpg;...".
std::string JoinedImageExtensions(bool bOtherFormats, const char* prefix, const char* separator);
