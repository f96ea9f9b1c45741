// An animated GIF played from its converted BMP file onto a canvas the size of its screen; the
// same for the other animated formats, and a still picture with see-through parts.
//
// The viewer's converted file holds every frame at its own size, without its place on the screen,
// followed by the record of how they play (GifTiming.h), which the converter wrote as it read the
// GIF: where each frame goes, how long it stays, which colour-table index of it is see-through
// and what becomes of it before the next one (it stays, its rectangle is cleared, or the
// rectangle gets back what it held before). A step composites only the rectangles of the frames
// involved; each round starts on a cleared canvas. Cleared and see-through parts show the
// background the canvas is drawn on. A 32-bit frame (of the other formats) carries its alpha in
// each pixel's fourth byte and replaces what its rectangle held; such a canvas keeps each pixel's
// colour and alpha and lays them on the background as it is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "convert/GifTiming.h"
#include "win32/MappedFile.h"
#include "win32/User.h"

class CGifAnimation {
 public:
  // A GIF whose canvas would hold more pixels (64 MiB of them) is shown still.
  static constexpr std::uint64_t kMaxCanvasPixels = vimo::convert::kMaxAnimationPixels;

  // The animation of file (a converted BMP file mapped from its offset 14; it must outlive the
  // animation), showing its first frame; see-through parts and cleared rectangles show
  // background (0x00BBGGRR). Null when the file holds no record of how its images play, when
  // they are not the record's frames (count and sizes), when the canvas would be too large or
  // memory runs out. One frame is a still picture with see-through parts: it never steps.
  static std::unique_ptr<CGifAnimation> Create(const vimo::platform::MappedFile& file, COLORREF background);

  // The colour the see-through and cleared parts show from now on (0x00BBGGRR), what is on the
  // canvas already included.
  void SetBackground(COLORREF background);

  // The canvas as a packed bitmap: a 40-byte header, then 32-bit rows bottom-up (the fourth byte
  // of a pixel, unused in such a bitmap, marks the background's pixels).
  const BYTE* GetDib() const { return reinterpret_cast<const BYTE*>(m_canvas.data()); }
  std::size_t GetDibSize() const { return m_canvas.size() * sizeof(std::uint32_t); }
  // Milliseconds the frame shown stays (a GIF's delay under 20 ms counts as 100 ms, another
  // format's of 10 ms or less, as in browsers); 0 once the last round has reached its last frame.
  UINT GetDelay() const;
  // Puts the next frame on the canvas, the first one of a new round after the last; nothing
  // once the last round has ended.
  void Step();

 private:
  struct Frame {
    std::uint64_t offset = 0;  // of its BMP file header in the file
    std::uint32_t size = 0;    // its BMP image's stored bytes
    bool bAlpha = false;       // 32 bits a pixel, alpha in the fourth byte
    vimo::convert::GifFrameTiming timing;
  };
  // The images of a converted file before its record (which starts at end); empty when one of
  // them is not a converted frame.
  static std::vector<Frame> ListFrames(const vimo::platform::MappedFile& file, std::uint64_t end);

  std::uint32_t* Row(int y) { return m_canvas.data() + kHeaderWords + static_cast<std::size_t>(m_nHeight - 1 - y) * m_nWidth; }
  void Clear();
  // The canvas's pixels in rect laid on the background from their colours and alpha.
  void Compose(const vimo::convert::GifFrameTiming& rect);
  void Draw(std::size_t nFrame);
  void Dispose(std::size_t nFrame);
  // The frame's pixels into m_pixels, kSeeThrough where the canvas shows through (its
  // see-through index, and where the file holds no pixel any more); with alpha, each pixel's
  // colour with its alpha in the fourth byte (opaque for 8 and 24 bits).
  void Decode(const Frame& frame);
  // The frame's rectangle copied between the canvas (its colours and alpha, with alpha) and m_saved.
  void CopyRect(const vimo::convert::GifFrameTiming& rect, bool save);
  std::uint32_t* StraightRow(int y) { return m_straight.data() + static_cast<std::size_t>(y) * m_nWidth; }

  static constexpr std::size_t kHeaderWords = 10;  // the 40-byte header, in pixels
  static constexpr std::uint32_t kSeeThrough = 0xFF000000u;
  // The background's pixels on the canvas: m_background with this fourth byte.
  static constexpr std::uint32_t kBackgroundMark = 0x01000000u;
  std::uint32_t Background() const { return m_background | kBackgroundMark; }

  const vimo::platform::MappedFile* m_pFile = nullptr;  // the document's; outlives this
  std::vector<Frame> m_frames;
  int m_nWidth = 0;
  int m_nHeight = 0;
  std::uint32_t m_background = 0;  // 0x00RRGGBB, as the canvas holds colours (without the mark)
  std::vector<std::uint32_t> m_canvas;  // header, then the rows
  // With a 32-bit frame: each pixel's colour and alpha (0xAARRGGBB), top row first; else empty.
  std::vector<std::uint32_t> m_straight;
  std::size_t m_nFrame = 0;  // the frame shown
  int m_nRoundsLeft = 0;     // rounds still to come after this one; -1 for ever
  std::vector<std::uint32_t> m_saved;  // under the frame shown before it came, when it goes back
  std::vector<BYTE> m_stored;          // the frame's stored bytes, read at each step
  std::vector<std::uint32_t> m_pixels; // the frame decoded, top row first
};
