#include "convert/GifTiming.h"

#include <gif_lib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "win32/Kernel.h"

namespace vimo::convert {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

int ReadFromFile(GifFileType* gif, GifByteType* buffer, int length) {
  auto* file = static_cast<std::FILE*>(gif->UserData);
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(length), file));
}

bool HasGifHeader(std::FILE* file) {
  std::array<char, 6> header{};
  const bool ok = std::fread(header.data(), 1, header.size(), file) == header.size() &&
                  (std::memcmp(header.data(), "GIF87", 5) == 0 || std::memcmp(header.data(), "GIF89", 5) == 0);
  std::rewind(file);
  return ok;
}

// A graphic-control extension's say over the next frame.
void ReadGraphicControl(const GifByteType* block, GifFrameTiming& next, int& transparentIndex) {
  if (block[0] < 4) return;
  next.disposal = (block[1] >> 2) & 0x07;
  next.delayMs = (block[2] | (block[3] << 8)) * 10;
  transparentIndex = (block[1] & 0x01) != 0 ? block[4] : -1;
}

// The colour the converter gives the transparent index: from the frame's colour map (local,
// else global, else a grey ramp), entry 0's for an index beyond it.
void SetTransparentColour(const GifFileType* gif, int index, GifFrameTiming& frame) {
  frame.transparent = true;
  const ColorMapObject* map = gif->Image.ColorMap != nullptr ? gif->Image.ColorMap : gif->SColorMap;
  if (map == nullptr || map->ColorCount <= 0) {
    frame.transparentRed = frame.transparentGreen = frame.transparentBlue = static_cast<std::uint8_t>(index);
    return;
  }
  const GifColorType& colour = map->Colors[index < map->ColorCount ? index : 0];
  frame.transparentRed = colour.Red;
  frame.transparentGreen = colour.Green;
  frame.transparentBlue = colour.Blue;
}

bool IsLoopBlock(const GifByteType* block) {
  return block[0] == 11 &&
         (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

// Reads past an extension's sub-blocks, keeping the first loop count of a looping block's.
// False when the stream breaks off.
bool ReadSubBlocks(GifFileType* gif, GifByteType* block, bool looping, GifTiming& timing) {
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    if (looping && block != nullptr && block[0] >= 3 && block[1] == 1 && timing.loopCount < 0)
      timing.loopCount = block[2] | (block[3] << 8);
  }
  return true;
}

// Reads past a frame's compressed data. False when the stream breaks off inside it.
bool SkipFrameData(GifFileType* gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

}  // namespace

bool ReadGifTiming(const char* path, std::size_t maxFrames, GifTiming& timing) {
  timing = GifTiming();
  const std::unique_ptr<std::FILE, FileCloser> file(vimo::platform::OpenRegularFile(path));
  if (!file || !HasGifHeader(file.get())) return false;
  int error = 0;
  const std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(file.get(), ReadFromFile, &error));
  if (!gif) return false;
  timing.screenWidth = gif->SWidth;
  timing.screenHeight = gif->SHeight;
  GifFrameTiming next;
  int transparentIndex = -1;
  while (timing.frames.size() < maxFrames) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR || record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) break;
      if (block == nullptr) continue;
      if (code == GRAPHICS_EXT_FUNC_CODE) ReadGraphicControl(block, next, transparentIndex);
      const bool looping = code == APPLICATION_EXT_FUNC_CODE && IsLoopBlock(block);
      if (!ReadSubBlocks(gif.get(), block, looping, timing)) break;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) break;
    // A descriptor cut short before its data still names the frame the converter wrote from it.
    const bool described = DGifGetImageDesc(gif.get()) != GIF_ERROR;
    if (gif->Image.Width <= 0 || gif->Image.Height <= 0) break;
    next.left = gif->Image.Left;
    next.top = gif->Image.Top;
    next.width = gif->Image.Width;
    next.height = gif->Image.Height;
    if (transparentIndex >= 0) SetTransparentColour(gif.get(), transparentIndex, next);
    timing.frames.push_back(next);
    if (!described || !SkipFrameData(gif.get())) break;
    next = GifFrameTiming();  // a graphic-control extension governs only the next frame
    transparentIndex = -1;
  }
  return !timing.frames.empty();
}

}  // namespace vimo::convert
