// The program's thumbnail provider: the picture of an image file for a thumbnail, as the thumbnail
// maker asks for it (view/ThumbnailMaker.h).
#pragma once

#include "win32/ThumbnailPicture.h"

// Makes the picture for a thumbnail of cx pixels of the image file at path, cheaply: a JPEG is
// decoded reduced while it is read (to a half, a quarter or an eighth, the smallest that still
// covers cx), or the small picture in its EXIF block is taken when that covers cx and has the
// photo's shape; either is turned upright by the EXIF orientation. The formats with libraries of
// their own go through them (PictureFormats.h: a HEIF file's own thumbnail, a RAW file's preview
// decoded reduced and turned by its orientation). A BMP file goes through the
// image library, every other file through the conversion's own readers (GIF and Photo CD, and the
// other formats when they are read): their first image, reduced by the library. FALSE with the
// reason when the file gives no picture. Thread-safe.
BOOL MakeThumbnail(const char* path, UINT cx, THUMBNAILPIXELS& pixels, CString& reason);
