// Memory for pixels of megabytes, asked for in huge pages where the system gives them on request:
// a first paint touches several megabytes of fresh memory, and on a virtual machine a fault per
// 4 KiB page costs more than the drawing itself.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "win32/WinTypes.h"

namespace vimo::platform {

// bytes of memory, aligned for any pixel; NULL when there is none. Released with std::free.
void* AllocateLarge(std::size_t bytes);

// An allocator of such memory, for buffers that grow to megabytes.
template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  explicit LargeAllocator(const LargeAllocator<U>&) {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = AllocateLarge(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  bool operator==(const LargeAllocator&) const { return true; }
};
using LargeBytes = std::vector<BYTE, LargeAllocator<BYTE>>;

// A 32-bit image of size in such memory; a null image when there is no memory for it.
QImage LargeImage(QSize size);

// Maps the whole pages within bytes at p for writing in one call, their contents untouched: a
// window's backing store is fresh shared memory at its first paint, which otherwise takes a fault
// for each page as the paint reaches it. Only a hint: where the system cannot, the paint faults.
void PrepareForWriting(const void* p, std::size_t bytes);

}  // namespace vimo::platform
