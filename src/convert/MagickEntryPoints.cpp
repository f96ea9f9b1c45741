// The image library's functions the program calls, as entry points that load the library the first
// time one is called. Linked, MagickCore and what it pulls in (FFTW, libxml2, liblqr, libltdl)
// would be loaded and relocated before main() on every start, although a colour JPEG or GIF is
// converted without them. Each entry point has the library's own signature (the compiler checks it
// against the library's headers) and forwards to the library's function, found once.
//
// A function the program starts to call must be added here; the link fails until it is.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/MagickLibrary.h"
#include "win32/Kernel.h"

namespace {

[[noreturn]] void Unavailable(const char* what, const std::string& why) {
  // As the system's loader does for a missing library: nothing can be converted without it.
  std::fprintf(stderr, "vimo: %s: %s\n", what, why.c_str());
  std::_Exit(127);
}

HMODULE ImageLibrary() {
  // Kept for the life of the process; found through the system's library search, as a linked
  // library would be.
  static const HMODULE handle = [] {
    const HMODULE loaded = LoadLibraryA(VIMO_MAGICK_LIBRARY);
    if (loaded == nullptr) Unavailable(VIMO_MAGICK_LIBRARY, vimo::platform::LastLoadError());
    return loaded;
  }();
  return handle;
}

void* LibraryFunction(const char* name) {
  void* address = GetProcAddress(ImageLibrary(), name);
  if (address == nullptr) Unavailable(VIMO_MAGICK_LIBRARY, vimo::platform::LastLoadError());
  return address;
}

}  // namespace

// The library's function of this name, resolved at its first call (thread-safe) and kept.
#define VIMO_CALL(name)                                                                  \
  static const auto library = reinterpret_cast<decltype(&::name)>(LibraryFunction(#name)); \
  return library

extern "C" {

ExceptionInfo* AcquireExceptionInfo() { VIMO_CALL(AcquireExceptionInfo)(); }
Image* AcquireImage(const ImageInfo* a1) { VIMO_CALL(AcquireImage)(a1); }
MagickBooleanType AcquireImageColormap(Image* a1, const size_t a2) { VIMO_CALL(AcquireImageColormap)(a1, a2); }
ImageInfo* AcquireImageInfo() { VIMO_CALL(AcquireImageInfo)(); }
StringInfo* AcquireStringInfo(const size_t a1) { VIMO_CALL(AcquireStringInfo)(a1); }
void AppendImageToList(Image** a1, const Image* a2) { VIMO_CALL(AppendImageToList)(a1, a2); }
Image* AutoOrientImage(const Image* a1, const OrientationType a2, ExceptionInfo* a3) {
  VIMO_CALL(AutoOrientImage)(a1, a2, a3);
}
Image* BlobToImage(const ImageInfo* a1, const void* a2, const size_t a3, ExceptionInfo* a4) {
  VIMO_CALL(BlobToImage)(a1, a2, a3, a4);
}
Image* CloneImage(const Image* a1, const size_t a2, const size_t a3, const MagickBooleanType a4, ExceptionInfo* a5) {
  VIMO_CALL(CloneImage)(a1, a2, a3, a4, a5);
}
ImageInfo* CloneImageInfo(const ImageInfo* a1) { VIMO_CALL(CloneImageInfo)(a1); }
Image* ConstituteImage(const size_t a1, const size_t a2, const char* a3, const StorageType a4, const void* a5,
    ExceptionInfo* a6) {
  VIMO_CALL(ConstituteImage)(a1, a2, a3, a4, a5, a6);
}
size_t CopyMagickString(char* a1, const char* a2, const size_t a3) { VIMO_CALL(CopyMagickString)(a1, a2, a3); }
Image* CropImage(const Image* a1, const RectangleInfo* a2, ExceptionInfo* a3) { VIMO_CALL(CropImage)(a1, a2, a3); }
void DeleteImageFromList(Image** a1) { VIMO_CALL(DeleteImageFromList)(a1); }
MagickBooleanType DeleteImageProfile(Image* a1, const char* a2) { VIMO_CALL(DeleteImageProfile)(a1, a2); }
ExceptionInfo* DestroyExceptionInfo(ExceptionInfo* a1) { VIMO_CALL(DestroyExceptionInfo)(a1); }
ImageInfo* DestroyImageInfo(ImageInfo* a1) { VIMO_CALL(DestroyImageInfo)(a1); }
Image* DestroyImageList(Image* a1) { VIMO_CALL(DestroyImageList)(a1); }
StringInfo* DestroyStringInfo(StringInfo* a1) { VIMO_CALL(DestroyStringInfo)(a1); }
MagickBooleanType ExportImagePixels(const Image* a1, const ssize_t a2, const ssize_t a3, const size_t a4,
    const size_t a5, const char* a6, const StorageType a7, void* a8, ExceptionInfo* a9) {
  VIMO_CALL(ExportImagePixels)(a1, a2, a3, a4, a5, a6, a7, a8, a9);
}
Image* FlipImage(const Image* a1, ExceptionInfo* a2) { VIMO_CALL(FlipImage)(a1, a2); }
Image* FlopImage(const Image* a1, ExceptionInfo* a2) { VIMO_CALL(FlopImage)(a1, a2); }
IndexPacket* GetAuthenticIndexQueue(const Image* a1) { VIMO_CALL(GetAuthenticIndexQueue)(a1); }
PixelPacket* GetAuthenticPixels(Image* a1, const ssize_t a2, const ssize_t a3, const size_t a4, const size_t a5,
    ExceptionInfo* a6) {
  VIMO_CALL(GetAuthenticPixels)(a1, a2, a3, a4, a5, a6);
}
const StringInfo* GetImageProfile(const Image* a1, const char* a2) { VIMO_CALL(GetImageProfile)(a1, a2); }
const MagickInfo* GetMagickInfo(const char* a1, ExceptionInfo* a2) { VIMO_CALL(GetMagickInfo)(a1, a2); }
MagickSizeType GetMagickResource(const ResourceType a1) { VIMO_CALL(GetMagickResource)(a1); }
MagickSizeType GetMagickResourceLimit(const ResourceType a1) { VIMO_CALL(GetMagickResourceLimit)(a1); }
size_t GetMaxMemoryRequest() { VIMO_CALL(GetMaxMemoryRequest)(); }
Image* GetNextImageInList(const Image* a1) { VIMO_CALL(GetNextImageInList)(a1); }
void GetQuantizeInfo(QuantizeInfo* a1) { VIMO_CALL(GetQuantizeInfo)(a1); }
unsigned char* GetStringInfoDatum(const StringInfo* a1) { VIMO_CALL(GetStringInfoDatum)(a1); }
size_t GetStringInfoLength(const StringInfo* a1) { VIMO_CALL(GetStringInfoLength)(a1); }
const IndexPacket* GetVirtualIndexQueue(const Image* a1) { VIMO_CALL(GetVirtualIndexQueue)(a1); }
const PixelPacket* GetVirtualPixels(const Image* a1, const ssize_t a2, const ssize_t a3, const size_t a4,
    const size_t a5, ExceptionInfo* a6) {
  VIMO_CALL(GetVirtualPixels)(a1, a2, a3, a4, a5, a6);
}
unsigned char* ImageToBlob(const ImageInfo* a1, Image* a2, size_t* a3, ExceptionInfo* a4) {
  VIMO_CALL(ImageToBlob)(a1, a2, a3, a4);
}
MagickBooleanType ImportImagePixels(Image* a1, const ssize_t a2, const ssize_t a3, const size_t a4, const size_t a5,
    const char* a6, const StorageType a7, const void* a8) {
  VIMO_CALL(ImportImagePixels)(a1, a2, a3, a4, a5, a6, a7, a8);
}
void MagickCoreGenesis(const char* a1, const MagickBooleanType a2) { VIMO_CALL(MagickCoreGenesis)(a1, a2); }
void MagickCoreTerminus() { VIMO_CALL(MagickCoreTerminus)(); }
Image* PingImage(const ImageInfo* a1, ExceptionInfo* a2) { VIMO_CALL(PingImage)(a1, a2); }
MagickBooleanType QuantizeImage(const QuantizeInfo* a1, Image* a2) { VIMO_CALL(QuantizeImage)(a1, a2); }
PixelPacket* QueueAuthenticPixels(Image* a1, const ssize_t a2, const ssize_t a3, const size_t a4, const size_t a5,
    ExceptionInfo* a6) {
  VIMO_CALL(QueueAuthenticPixels)(a1, a2, a3, a4, a5, a6);
}
Image* ReadImage(const ImageInfo* a1, ExceptionInfo* a2) { VIMO_CALL(ReadImage)(a1, a2); }
void* RelinquishMagickMemory(void* a1) { VIMO_CALL(RelinquishMagickMemory)(a1); }
Image* ResizeImage(const Image* a1, const size_t a2, const size_t a3, const FilterTypes a4, const double a5,
    ExceptionInfo* a6) {
  VIMO_CALL(ResizeImage)(a1, a2, a3, a4, a5, a6);
}
Image* RotateImage(const Image* a1, const double a2, ExceptionInfo* a3) { VIMO_CALL(RotateImage)(a1, a2, a3); }
ErrorHandler SetErrorHandler(ErrorHandler a1) { VIMO_CALL(SetErrorHandler)(a1); }
MagickBooleanType SetImageAlphaChannel(Image* a1, const AlphaChannelType a2) {
  VIMO_CALL(SetImageAlphaChannel)(a1, a2);
}
MagickBooleanType SetImageColorspace(Image* a1, const ColorspaceType a2) { VIMO_CALL(SetImageColorspace)(a1, a2); }
MagickBooleanType SetImageExtent(Image* a1, const size_t a2, const size_t a3) { VIMO_CALL(SetImageExtent)(a1, a2, a3); }
MagickBooleanType SetImageOption(ImageInfo* a1, const char* a2, const char* a3) {
  VIMO_CALL(SetImageOption)(a1, a2, a3);
}
MagickBooleanType SetImageProfile(Image* a1, const char* a2, const StringInfo* a3) {
  VIMO_CALL(SetImageProfile)(a1, a2, a3);
}
MagickBooleanType SetImageStorageClass(Image* a1, const ClassType a2) { VIMO_CALL(SetImageStorageClass)(a1, a2); }
MagickBooleanType SetMagickResourceLimit(const ResourceType a1, const MagickSizeType a2) {
  VIMO_CALL(SetMagickResourceLimit)(a1, a2);
}
void SetStringInfoDatum(StringInfo* a1, const unsigned char* a2) { VIMO_CALL(SetStringInfoDatum)(a1, a2); }
WarningHandler SetWarningHandler(WarningHandler a1) { VIMO_CALL(SetWarningHandler)(a1); }
MagickBooleanType SyncAuthenticPixels(Image* a1, ExceptionInfo* a2) { VIMO_CALL(SyncAuthenticPixels)(a1, a2); }
MagickBooleanType SyncImage(Image* a1) { VIMO_CALL(SyncImage)(a1); }
Image* ThumbnailImage(const Image* a1, const size_t a2, const size_t a3, ExceptionInfo* a4) {
  VIMO_CALL(ThumbnailImage)(a1, a2, a3, a4);
}
MagickBooleanType TransformImageColorspace(Image* a1, const ColorspaceType a2) {
  VIMO_CALL(TransformImageColorspace)(a1, a2);
}
Image* TransposeImage(const Image* a1, ExceptionInfo* a2) { VIMO_CALL(TransposeImage)(a1, a2); }
Image* TransverseImage(const Image* a1, ExceptionInfo* a2) { VIMO_CALL(TransverseImage)(a1, a2); }

}  // extern "C"
