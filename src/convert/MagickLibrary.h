// The image library (ImageMagick's MagickCore) as the conversion uses it: started once per
// process, silent, and its objects owned by smart pointers.
#pragma once

#include <magick/MagickCore.h>

#include <memory>

namespace vimo::convert {

// Starts MagickCore the first time it is called (thread-safe) and stops it at process exit.
// The library's warning and error reports are routed nowhere: a failure shows only as a missing
// image. Resource limits from the library's policy files stay in force.
void EnsureImageLibrary();

struct ImageListDeleter {
  void operator()(Image* images) const { DestroyImageList(images); }
};
struct ImageInfoDeleter {
  void operator()(ImageInfo* info) const { DestroyImageInfo(info); }
};
struct ExceptionInfoDeleter {
  void operator()(ExceptionInfo* exception) const { DestroyExceptionInfo(exception); }
};

// An 8-bit sample as the library's quantum (the inverse of ScaleQuantumToChar).
inline Quantum CharToQuantum(unsigned char value) {
  return static_cast<Quantum>(value * (QuantumRange / 255));
}

// Owns a whole image list through its first image.
using ImageListPtr = std::unique_ptr<Image, ImageListDeleter>;
using ImageInfoPtr = std::unique_ptr<ImageInfo, ImageInfoDeleter>;
using ExceptionInfoPtr = std::unique_ptr<ExceptionInfo, ExceptionInfoDeleter>;

// Builds an image list in reading order. Appending takes constant time, and the builder keeps
// an estimate of the memory the list holds, so that a file of very many frames reads as
// "memory runs out" instead of exhausting the machine: the list may hold at most what the
// policy lets the library keep in memory and on disk together.
class ImageListBuilder {
 public:
  // Appends image; false (and the image freed) when the list would outgrow that budget.
  bool Append(ImageListPtr image);
  bool Empty() const { return m_head == nullptr; }
  Image* Release();  // the whole list, now the caller's

 private:
  ImageListPtr m_head;
  Image* m_tail = nullptr;  // the last image of m_head's list
  MagickSizeType m_bytes = 0;
};

}  // namespace vimo::convert
