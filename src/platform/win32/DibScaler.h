// Scaling rows of pixels into a destination piece, and the eight orientations of a picture.
//
// A reduction averages the source over the area each destination pixel covers, so that fine
// detail turns into its mean instead of aliasing; an enlargement repeats each source pixel over
// the destination pixels whose centres fall on it (sharp pixels); equal sizes copy. Positions are
// exact integers, so a destination pixel's value depends only on where it is in the destination:
// pieces scaled separately join without a seam.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "win32/WinTypes.h"

namespace vimo::platform {

// How stored pixels are turned to be shown, with the values of a photo's EXIF orientation:
// 1 as stored, 2 mirrored left to right, 3 turned half round, 4 mirrored top to bottom,
// 5 mirrored along the top-left to bottom-right diagonal, 6 turned a quarter clockwise,
// 7 mirrored along the other diagonal, 8 turned a quarter counter-clockwise.
struct Orientation {
  bool transposed = false;  // shown rows run along stored columns
  bool mirrorX = false;     // then stored columns are taken right to left
  bool mirrorY = false;     // and stored rows bottom to top

  static Orientation FromExif(int value);  // anything but 2 to 8 is 1
  int ToExif() const;
  bool IsIdentity() const { return !transposed && !mirrorX && !mirrorY; }
  // The same picture turned a further quarter clockwise.
  Orientation TurnedClockwise() const;
  // The stored pixel (x, y) of shown pixel (X, Y), for a picture w x h as stored.
  void ToStored(int X, int Y, int w, int h, int& x, int& y) const;
};

// Source weights of each destination pixel of one axis. Each pixel's weights add up to
// kWeightOne; a pixel beyond the source has none (black).
struct AxisTaps {
  int elementFirst = 0;   // the first source element any pixel uses
  int elementCount = 0;   // how many elements from there on the pixels use
  std::vector<int> start;           // per pixel, then one past the last: index into element/weight
  std::vector<int> element;         // relative to elementFirst
  std::vector<std::uint16_t> weight;
};
inline constexpr int kWeightOne = 4096;

// Destination pixels [first, last) of an axis dstExtent pixels long that shows source pixels
// [srcStart, srcStart + srcExtent) of an axis imageSize pixels long, the source being read in
// elements of elementSize pixels (1: the pixels themselves; k: a copy reduced k times, whose last
// element may hold fewer). Elements are never enlarged: elementSize above 1 is for reductions.
AxisTaps MakeAxisTaps(int first, int last, std::int64_t dstExtent, std::int64_t srcStart, std::int64_t srcExtent,
                      int elementSize, int imageSize);

// Row `row` of source elements: elementFirst .. elementFirst + elementCount - 1 of the x taps,
// bytesPerPixel bytes each (blue, green, red first). Valid until the next call; NULL for a row
// that cannot be read, which counts as black.
using RowFetch = std::function<const BYTE*(int row)>;

// Rows stored one after another, `stride` bytes apart from `rows`, `height` of them, as fetch
// gives them from byte `first` of each on.
RowFetch PackedRows(const BYTE* rows, std::size_t stride, int height, std::size_t first);

// Scales the rows that fetch gives into the destination pixels of x and y: out rows outStride
// bytes apart, outBytes 4 (0xFFRRGGBB) or 3 (blue, green, red) a pixel. FALSE when cancel was set
// before the end (the rows not reached are left as they were).
bool ScaleRows(const AxisTaps& x, const AxisTaps& y, int bytesPerPixel, const RowFetch& fetch, BYTE* out,
               std::size_t outStride, int outBytes, const std::atomic<bool>* cancel = nullptr);

}  // namespace vimo::platform
