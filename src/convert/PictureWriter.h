// Writes the pictures a reader hands over (CPictureSink) into a BMP file: the viewer's converted
// file, or a conversion's destination.
//
// A still picture without see-through pixels is one BMP image, streamed row by row by
// CBmpRowWriter (8 bits per pixel when it has at most 256 colours). For viewing, a picture with
// see-through pixels and an animation are written as the viewer plays a GIF (GifTiming.h): the
// first picture whole, then of each canvas only the rectangle that changed, each at 8 or 24 bits
// per pixel, or at 32 with its alpha in the fourth byte where some of it is see-through (the
// player lays it on the window's background when it shows it); then the record of how they play.
// A canvas larger than the player takes is written as a still picture instead. Not for viewing,
// see-through parts are laid on the background colour and an animation is declined (the
// conversion reads it into the image library's list instead). Colours are managed as the
// options say, from the pictures' profile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/ColourTransform.h"
#include "convert/GifTiming.h"
#include "convert/PictureSink.h"

namespace vimo::convert {

class CPictureWriter : public CPictureSink {
 public:
  // background: 0x00BBGGRR, what see-through parts are laid on where they are not kept.
  CPictureWriter(const char* destination, const ConvertOptions& options, std::uint32_t background);
  // Removes the destination unless Finish completed it.
  ~CPictureWriter() override;
  CPictureWriter(const CPictureWriter&) = delete;
  CPictureWriter& operator=(const CPictureWriter&) = delete;

  ConvertOutcome Begin(const PictureInfo& info) override;
  ConvertOutcome Add(const PictureRows& rows, int delayMs) override;
  bool WantsMore() const override { return !m_bDeclined && !m_bStill; }
  // Whether Begin declined the pictures (an animation not for viewing): nothing was written.
  bool Declined() const { return m_bDeclined; }
  // Whether frames of an animation have been written.
  bool HasFrames() const { return !m_timing.frames.empty(); }
  // Completes the file after the last picture; on failure (or when nothing was added) the
  // destination is removed.
  ConvertOutcome Finish();

 private:
  struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
  };
  // The rows of rect as the BMP shows them: blue, green, red (colours managed), and the alpha
  // of each pixel beside them.
  void ShownRows(const PictureRows& rows, const Rect& rect, std::vector<std::uint8_t>& bgr,
                 std::vector<std::uint8_t>& alpha) const;
  ConvertOutcome StreamStill(const PictureRows& rows, bool layOnBackground);
  ConvertOutcome AddFrame(const PictureRows& rows, int delayMs);
  ConvertOutcome WriteFrame(const PictureRows& rows, const Rect& rect);
  bool Write(const std::uint8_t* bytes, std::size_t size);
  void Discard();

  std::string m_destination;
  ConvertOptions m_options;
  std::uint32_t m_background;
  PictureInfo m_info;
  std::unique_ptr<CColourTransform> m_transform;  // null: colours as stored
  bool m_bDeclined = false;
  bool m_bStill = false;  // a still picture was written (or a canvas too large for frames)
  CBmpRowWriter m_rows;   // the still picture
  // The frames: the file, its room, the last canvas as the reader gave it, the record.
  std::FILE* m_file = nullptr;  // owned; closed by Finish or Discard
  int m_error = 0;
  std::uint64_t m_freeBytes = 0;
  std::vector<std::uint8_t> m_previous;
  GifTiming m_timing;
};

}  // namespace vimo::convert
