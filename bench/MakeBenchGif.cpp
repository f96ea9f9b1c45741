// vimo-bench-gif OUT.gif SIZE FRAMES DELAY LOOPS [BAND]: the large animated GIF of the viewer
// benchmark. Its screen is SIZE x SIZE; FRAMES frames, DELAY hundredths of a second each; LOOPS
// rounds after the first (the NETSCAPE2.0 loop count; 0 plays for ever). A frame's left half is
// diagonal stripes in 64 colours, moved on from frame to frame; its right half is one colour of
// its own, which tells the frames apart however they are scaled. The first frame covers the
// screen; with BAND, the frames after it are SIZE x BAND across the screen's middle, else they
// cover it too. Written row by row through giflib, so nothing of the picture is held.
#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kStripes = 64;  // palette entries of the stripes; the frames' own colours follow
constexpr int kColours = 256;

bool PutLoopCount(GifFileType* gif, int loops) {
  GifByteType application[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  GifByteType count[] = {1, static_cast<GifByteType>(loops & 0xFF), static_cast<GifByteType>(loops >> 8)};
  return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) != GIF_ERROR &&
         EGifPutExtensionBlock(gif, sizeof(application), application) != GIF_ERROR &&
         EGifPutExtensionBlock(gif, sizeof(count), count) != GIF_ERROR && EGifPutExtensionTrailer(gif) != GIF_ERROR;
}

bool PutFrame(GifFileType* gif, int size, int top, int height, int frame, int delay) {
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.DelayTime = delay;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, sizeof(extension), extension) == GIF_ERROR ||
      EGifPutImageDesc(gif, 0, top, size, height, false, nullptr) == GIF_ERROR)
    return false;
  std::vector<GifPixelType> row(static_cast<std::size_t>(size));
  for (int y = top; y < top + height; ++y) {
    for (int x = 0; x < size; ++x) {
      row[static_cast<std::size_t>(x)] =
          static_cast<GifPixelType>(x >= size / 2 ? kStripes + frame % (kColours - kStripes) : ((x + y + 6 * frame) / 2) % kStripes);
    }
    if (EGifPutLine(gif, row.data(), size) == GIF_ERROR) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fputs("usage: vimo-bench-gif OUT.gif SIZE FRAMES DELAY LOOPS [BAND]\n", stderr);
    return 2;
  }
  const int size = std::atoi(argv[2]), frames = std::atoi(argv[3]), delay = std::atoi(argv[4]), loops = std::atoi(argv[5]);
  const int band = argc == 7 ? std::atoi(argv[6]) : 0;
  if (size <= 0 || size > 65535 || frames <= 0 || delay < 0 || loops < 0 || loops > 65535 || band < 0 || band > size) {
    std::fputs("vimo-bench-gif: a size, frame count, delay or band out of range\n", stderr);
    return 2;
  }
  int error = 0;
  GifFileType* gif = EGifOpenFileName(argv[1], false, &error);
  if (gif == nullptr) {
    std::fprintf(stderr, "vimo-bench-gif: cannot write %s: %s\n", argv[1], GifErrorString(error));
    return 1;
  }
  GifColorType colours[kColours];
  for (int i = 0; i < kStripes; ++i)
    colours[i] = GifColorType{static_cast<GifByteType>(i * 4), static_cast<GifByteType>(255 - i * 4), static_cast<GifByteType>((i * 37) & 0xFF)};
  for (int i = kStripes; i < kColours; ++i)
    colours[i] = GifColorType{static_cast<GifByteType>((i * 53) & 0xFF), static_cast<GifByteType>((i * 97) & 0xFF), static_cast<GifByteType>(i)};
  ColorMapObject* map = GifMakeMapObject(kColours, colours);
  EGifSetGifVersion(gif, true);
  bool written = map != nullptr && EGifPutScreenDesc(gif, size, size, 8, 0, map) != GIF_ERROR && PutLoopCount(gif, loops);
  for (int frame = 0; frame < frames && written; ++frame) {
    const int height = frame == 0 || band == 0 ? size : band;
    written = PutFrame(gif, size, (size - height) / 2, height, frame, delay);
  }
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) == GIF_ERROR) written = false;
  if (!written) {
    std::fprintf(stderr, "vimo-bench-gif: writing %s failed\n", argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
