#include "convert/GifTiming.h"

#include <cstring>

namespace vimo::convert {
namespace {

constexpr char kMagic[8] = {'V', 'i', 'm', 'o', 'A', 'n', 'i', 'm'};
constexpr std::size_t kFrameBytes = 16;
constexpr std::size_t kTailBytes = kGifTimingTailSize;
static_assert(kTailBytes == 2 + 2 + 4 + 4 + 4 + sizeof(kMagic));

void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t Get(const std::uint8_t* at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

}  // namespace

std::size_t GifTimingSize(const std::uint8_t* tail) {
  if (std::memcmp(tail + kTailBytes - sizeof(kMagic), kMagic, sizeof(kMagic)) != 0) return 0;
  return Get(tail + 12, 4);
}

std::vector<std::uint8_t> EncodeGifTiming(const GifTiming& timing) {
  std::vector<std::uint8_t> out;
  for (const GifFrameTiming& frame : timing.frames) {
    for (const int value : {frame.left, frame.top, frame.width, frame.height}) Put(out, static_cast<std::uint32_t>(value), 2);
    Put(out, static_cast<std::uint32_t>(frame.delayMs), 4);
    Put(out, static_cast<std::uint32_t>(frame.disposal), 1);
    Put(out, frame.transparentIndex >= 0 ? 1 : 0, 1);
    Put(out, static_cast<std::uint32_t>(frame.transparentIndex >= 0 ? frame.transparentIndex : 0), 1);
    Put(out, frame.exactDelay ? 1 : 0, 1);
  }
  Put(out, static_cast<std::uint32_t>(timing.screenWidth), 2);
  Put(out, static_cast<std::uint32_t>(timing.screenHeight), 2);
  Put(out, static_cast<std::uint32_t>(timing.loopCount), 4);
  Put(out, static_cast<std::uint32_t>(timing.frames.size()), 4);
  Put(out, static_cast<std::uint32_t>(out.size() + 4 + sizeof(kMagic)), 4);
  out.insert(out.end(), kMagic, kMagic + sizeof(kMagic));
  return out;
}

std::size_t DecodeGifTiming(const std::uint8_t* file, std::size_t size, GifTiming& timing) {
  timing = GifTiming();
  if (size < kTailBytes || std::memcmp(file + size - sizeof(kMagic), kMagic, sizeof(kMagic)) != 0) return 0;
  const std::uint8_t* tail = file + size - kTailBytes;
  const std::uint32_t count = Get(tail + 8, 4);
  const std::uint32_t recordSize = Get(tail + 12, 4);
  if (count > (size - kTailBytes) / kFrameBytes || recordSize != count * kFrameBytes + kTailBytes) return 0;
  timing.screenWidth = static_cast<int>(Get(tail, 2));
  timing.screenHeight = static_cast<int>(Get(tail + 2, 2));
  timing.loopCount = static_cast<std::int32_t>(Get(tail + 4, 4));
  const std::uint8_t* frame = file + size - recordSize;
  for (std::uint32_t i = 0; i < count; ++i, frame += kFrameBytes) {
    GifFrameTiming entry;
    entry.left = static_cast<int>(Get(frame, 2));
    entry.top = static_cast<int>(Get(frame + 2, 2));
    entry.width = static_cast<int>(Get(frame + 4, 2));
    entry.height = static_cast<int>(Get(frame + 6, 2));
    entry.delayMs = static_cast<int>(Get(frame + 8, 4) & 0x7FFFFFFF);
    entry.disposal = frame[12];
    entry.transparentIndex = frame[13] != 0 ? frame[14] : -1;
    entry.exactDelay = (frame[15] & 1) != 0;
    timing.frames.push_back(entry);
  }
  return recordSize;
}

}  // namespace vimo::convert
