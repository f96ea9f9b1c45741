// Where the conversion, the thumbnails and the information panel reach the formats read by their
// own libraries: HEIF and AVIF, JPEG XL, WebP, animated PNG (PictureReader.h) and a camera's RAW
// file (RawReader.h). A PNG without animation stays the image library's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "afx/afx.h"
#include "convert/ColourTransform.h"
#include "convert/ConvertImage.h"
#include "convert/ImageFacts.h"
#include "convert/ImageFormat.h"
#include "convert/MagickLibrary.h"
#include "win32/ThumbnailPicture.h"

namespace vimo::convert {

// Whether reader reads one of these formats (kPng: its animated files).
bool IsPictureReader(ImageReader reader);
// Whether the PNG in file (read from its start) is animated: an acTL chunk before its first IDAT.
bool IsAnimatedPng(std::FILE* file);
// Whether a PNG is to be refused before the image library reads it: a chunk other than image
// data that says it runs past the end of the file (CApngReader::HasChunkPastTheEnd).
bool HasPngChunkPastTheEnd(std::FILE* file);

// The conversion of file (read by reader) into the BMP file destination as PictureWriter.h
// writes it, or a RAW file's preview streamed by libjpeg; background (0x00BBGGRR) is what
// see-through parts are laid on where they are not kept. nullopt when the general path is to
// read it (a PNG without animation; an animation not for viewing).
std::optional<ConvertOutcome> StreamPictureToBmp(ImageReader reader, std::FILE* file, const char* destination,
                                                 const ConvertOptions& options, std::uint32_t background);

// The pictures of file as the image library's images (each canvas of an animation one image),
// tagged with their profile; nullptr when none could be read, and then failure says why.
Image* ReadPictureImages(ImageReader reader, std::FILE* file, const ImageInfo* info, ConvertOutcome& failure);

// The reader of the regular file at path (open as file) among these formats, by its content and
// name; kNone for any other file.
ImageReader PictureReaderOfFile(const char* path, std::FILE* file);
// The same, and the name of the format it goes by ("HEIC", "DNG").
ImageReader PictureReaderOfFile(const char* path, std::FILE* file, std::string& format);

// What the information panel shows of such a file: format, size and EXIF block. False for a
// file of another format. reader (when given) receives its reader.
bool ReadPictureFacts(const char* path, ImageFacts& facts, ImageReader* reader = nullptr);
// The ICC profile of such a file's pixels (the profile a HEIF file's nclx colours describe, a
// RAW file's preview's); empty for sRGB and for a file of another format.
IccBytes ReadPictureProfile(const char* path);
// The EXIF block of such a file ("Exif\0\0" and the TIFF structure; a RAW file's made of what
// libraw reads); empty when it has none or is of another format. turnedByExif: whether its
// orientation is still to be applied when it is shown, as only a RAW file's is (the others'
// pixels come upright from their decoders).
std::string ReadPictureExif(const char* path, bool& turnedByExif);

// How the pixels of such a file are still to be turned to be seen upright (1 to 8, as EXIF
// records it): a RAW file's orientation, 1 for the others (their decoders turn them); 0 for a
// file of another format. Reads only as much as that takes.
int ReadPictureOrientation(const char* path);

enum class PictureThumbnail { kOtherFormat, kMade, kNone };
// The picture for a thumbnail of cx pixels of the file at path (open as file), when it is of
// these formats: the first picture, or a smaller one the file carries for the purpose (a HEIF
// thumbnail, a RAW file's preview decoded reduced), reduced to cx on its longer side; a RAW
// file's with its orientation. kNone with the reason when it gives none.
PictureThumbnail MakePictureThumbnail(const char* path, std::FILE* file, UINT cx, THUMBNAILPIXELS& pixels, CString& reason);

}  // namespace vimo::convert
