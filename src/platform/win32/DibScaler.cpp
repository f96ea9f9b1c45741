#include "win32/DibScaler.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vimo::platform {

namespace {

// Vertical weights have 8 bits, so that a row of sums stays in 16-bit lanes (255 * 256 fits),
// which the compiler turns into wide vector operations; horizontal ones keep 12 bits.
constexpr int kRowWeightShift = 4;  // kWeightOne >> 4 = 256
constexpr std::uint32_t kRound = 1u << 19;
constexpr int kShift = 20;          // 12 horizontal + 8 vertical bits

// acc += weight * row, in blocks of a fixed size that the compiler vectorizes.
void AddWeightedRow(std::uint16_t* __restrict acc, const BYTE* __restrict row, std::uint16_t weight, std::size_t n) {
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    for (std::size_t k = 0; k < 32; ++k) acc[i + k] = static_cast<std::uint16_t>(acc[i + k] + weight * row[i + k]);
  }
  for (; i < n; ++i) acc[i] = static_cast<std::uint16_t>(acc[i] + weight * row[i]);
}

// Weights in proportion to overlaps, rounded so that they add up to kWeightOne exactly.
void AppendWeights(const std::vector<std::int64_t>& overlaps, std::vector<std::uint16_t>& weights) {
  std::int64_t total = 0;
  for (std::int64_t overlap : overlaps) total += overlap;
  std::int64_t done = 0;
  std::int64_t given = 0;
  for (std::int64_t overlap : overlaps) {
    done += overlap;
    const std::int64_t upTo = (done * kWeightOne + total / 2) / total;
    weights.push_back(static_cast<std::uint16_t>(upTo - given));
    given = upTo;
  }
}

}  // namespace

Orientation Orientation::FromExif(int value) {
  switch (value) {
    case 2: return {false, true, false};
    case 3: return {false, true, true};
    case 4: return {false, false, true};
    case 5: return {true, false, false};
    case 6: return {true, false, true};
    case 7: return {true, true, true};
    case 8: return {true, true, false};
    default: return {};
  }
}

int Orientation::ToExif() const {
  for (int value = 1; value <= 8; ++value) {
    const Orientation o = FromExif(value);
    if (o.transposed == transposed && o.mirrorX == mirrorX && o.mirrorY == mirrorY) return value;
  }
  return 1;
}

Orientation Orientation::TurnedClockwise() const {
  // Shown pixel (X, Y) of the turned picture is (Y, H - 1 - X) of this one.
  if (!transposed) return {true, mirrorX, !mirrorY};
  return {false, !mirrorX, mirrorY};
}

void Orientation::ToStored(int X, int Y, int w, int h, int& x, int& y) const {
  const int u = transposed ? Y : X;
  const int v = transposed ? X : Y;
  x = mirrorX ? w - 1 - u : u;
  y = mirrorY ? h - 1 - v : v;
}

AxisTaps MakeAxisTaps(int first, int last, std::int64_t dstExtent, std::int64_t srcStart, std::int64_t srcExtent,
                      int elementSize, int imageSize) {
  AxisTaps taps;
  taps.start.reserve(static_cast<std::size_t>(std::max(0, last - first)) + 1);
  // Positions in 1/dstExtent of a source pixel: destination pixel i covers
  // [srcStart * D + i * S, srcStart * D + (i + 1) * S); element j covers [j k D, (j + 1) k D).
  const std::int64_t D = dstExtent;
  const std::int64_t S = srcExtent;
  const std::int64_t k = elementSize;
  const std::int64_t imageEnd = static_cast<std::int64_t>(imageSize) * D;
  const bool sharp = S < D;  // enlarged: each pixel takes the source pixel under its centre
  std::vector<std::int64_t> overlaps;
  std::vector<int> absolute;
  int lowest = INT32_MAX;
  int highest = -1;
  for (int i = first; i < last; ++i) {
    taps.start.push_back(static_cast<int>(absolute.size()));
    if (sharp) {
      const std::int64_t centre2 = 2 * srcStart * D + (2 * i + 1) * S;  // in 1/(2D)
      if (centre2 < 0 || centre2 >= 2 * imageEnd) continue;
      absolute.push_back(static_cast<int>(centre2 / (2 * D * k)));
      taps.weight.push_back(kWeightOne);
    } else {
      const std::int64_t a = std::max<std::int64_t>(srcStart * D + i * S, 0);
      const std::int64_t b = std::min<std::int64_t>(srcStart * D + (i + 1) * S, imageEnd);
      if (a >= b) continue;
      overlaps.clear();
      for (std::int64_t j = a / (k * D); j * k * D < b; ++j) {
        const std::int64_t from = std::max(a, j * k * D);
        const std::int64_t to = std::min(b, (j + 1) * k * D);
        if (to <= from) continue;
        absolute.push_back(static_cast<int>(j));
        overlaps.push_back(to - from);
      }
      AppendWeights(overlaps, taps.weight);
    }
    lowest = std::min(lowest, absolute[static_cast<std::size_t>(taps.start.back())]);
    highest = std::max(highest, absolute.back());
  }
  taps.start.push_back(static_cast<int>(absolute.size()));
  if (highest < 0) return taps;
  taps.elementFirst = lowest;
  taps.elementCount = highest - lowest + 1;
  taps.element.reserve(absolute.size());
  for (int j : absolute) taps.element.push_back(j - lowest);
  return taps;
}

namespace {

// The weighted sum of one destination pixel's elements in a row of sums: blue, green and red
// rounded to 8 bits, as 0xFFRRGGBB.
std::uint32_t SumPixel(const std::uint16_t* sums, const int* offsets, const std::uint16_t* weights, int count) {
#if defined(__SSE2__)
  // Four channels at once (the fourth, the next pixel's blue or the padding, is dropped).
  __m128i acc = _mm_setzero_si128();
  for (int t = 0; t < count; ++t) {
    const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + offsets[t]));
    const __m128i w = _mm_set1_epi16(static_cast<short>(weights[t]));
    acc = _mm_add_epi32(acc, _mm_unpacklo_epi16(_mm_mullo_epi16(s, w), _mm_mulhi_epu16(s, w)));
  }
  acc = _mm_srli_epi32(_mm_add_epi32(acc, _mm_set1_epi32(static_cast<int>(kRound))), kShift);
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(acc, acc), acc);
  return 0xFF000000u | (static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes)) & 0xFFFFFFu);
#else
  std::uint32_t b = 0, g = 0, r = 0;
  for (int t = 0; t < count; ++t) {
    const std::uint16_t* p = sums + offsets[t];
    b += weights[t] * std::uint32_t{p[0]};
    g += weights[t] * std::uint32_t{p[1]};
    r += weights[t] * std::uint32_t{p[2]};
  }
  return 0xFF000000u | (((r + kRound) >> kShift) << 16) | (((g + kRound) >> kShift) << 8) | ((b + kRound) >> kShift);
#endif
}

// Whether destination pixels a and b of an axis take the same source elements with the same weights.
bool SameTaps(const AxisTaps& axis, int a, int b) {
  const auto ua = static_cast<std::size_t>(a), ub = static_cast<std::size_t>(b);
  const int first = axis.start[ua], count = axis.start[ua + 1] - first;
  const int other = axis.start[ub];
  if (axis.start[ub + 1] - other != count) return false;
  for (int t = 0; t < count; ++t) {
    const auto i = static_cast<std::size_t>(first + t), j = static_cast<std::size_t>(other + t);
    if (axis.element[i] != axis.element[j] || axis.weight[i] != axis.weight[j]) return false;
  }
  return true;
}

}  // namespace

RowFetch PackedRows(const BYTE* rows, std::size_t stride, int height, std::size_t first) {
  return [rows, stride, height, first](int row) -> const BYTE* {
    if (row < 0 || row >= height) return nullptr;
    return rows + stride * static_cast<std::size_t>(row) + first;
  };
}

bool ScaleRows(const AxisTaps& x, const AxisTaps& y, int bytesPerPixel, const RowFetch& fetch, BYTE* out,
               std::size_t outStride, int outBytes, const std::atomic<bool>* cancel) {
  const int width = static_cast<int>(x.start.size()) - 1;
  const int height = static_cast<int>(y.start.size()) - 1;
  const std::size_t n = static_cast<std::size_t>(x.elementCount) * static_cast<std::size_t>(bytesPerPixel);
  // Four more sums than the row has, so that a pixel's channels can be read four at a time.
  std::vector<std::uint16_t> sums(n + 4);
  std::vector<int> offsets(x.element.size());
  for (std::size_t t = 0; t < offsets.size(); ++t) offsets[t] = x.element[t] * bytesPerPixel;
  for (int row = 0; row < height; ++row) {
    if (cancel != nullptr && (row & 15) == 0 && cancel->load(std::memory_order_relaxed)) return false;
    BYTE* dst = out + outStride * static_cast<std::size_t>(row);
    // A row made of the same source rows as the one above it (an enlargement repeats each) is
    // that row again.
    if (row > 0 && SameTaps(y, row - 1, row)) {
      std::memcpy(dst, dst - outStride, static_cast<std::size_t>(width) * static_cast<std::size_t>(outBytes));
      continue;
    }
    std::fill(sums.begin(), sums.end(), 0);
    bool any = false;
    // The row weights, rounded to 8 bits so that they still add up to 256.
    int done = 0;
    int given = 0;
    for (int t = y.start[static_cast<std::size_t>(row)]; t < y.start[static_cast<std::size_t>(row) + 1]; ++t) {
      done += y.weight[static_cast<std::size_t>(t)];
      const int upTo = (done + (1 << (kRowWeightShift - 1))) >> kRowWeightShift;
      const auto weight = static_cast<std::uint16_t>(upTo - given);
      given = upTo;
      const BYTE* src = fetch(y.elementFirst + y.element[static_cast<std::size_t>(t)]);
      if (src == nullptr || weight == 0) continue;
      AddWeightedRow(sums.data(), src, weight, n);
      any = true;
    }
    for (int col = 0; col < width; ++col) {
      const int first = x.start[static_cast<std::size_t>(col)];
      const int count = any ? x.start[static_cast<std::size_t>(col) + 1] - first : 0;
      const std::uint32_t pixel = SumPixel(sums.data(), offsets.data() + first, x.weight.data() + first, count);
      if (outBytes == 4) {
        std::memcpy(dst + 4 * static_cast<std::size_t>(col), &pixel, 4);
      } else {
        BYTE* p = dst + 3 * static_cast<std::size_t>(col);
        p[0] = static_cast<BYTE>(pixel);
        p[1] = static_cast<BYTE>(pixel >> 8);
        p[2] = static_cast<BYTE>(pixel >> 16);
      }
    }
  }
  return true;
}

}  // namespace vimo::platform
