// JPEG XL files through libjxl: a still picture or each canvas of an animation (composited by
// the decoder, as it plays), turned upright as the file says, at 8 bits; the ICC profile of the
// decoded pixels (an image coded in the decoder's own colour space is decoded into its original
// colour space where the file names one, else into sRGB); the EXIF box.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>

#include "convert/PictureReader.h"

struct JxlDecoderStruct;

namespace vimo::convert {

class CJxlReader : public CPictureReader {
 public:
  ConvertOutcome Open(std::FILE* file) override;
  void Describe(ImageFacts& facts) override;
  IccBytes Profile() override { return m_profile; }
  ConvertOutcome Decode(CPictureSink& sink) override;

 private:
  // One pass of a fresh decoder over the file from its start: each event subscribed to goes to
  // handle, which answers kWritten to go on; the pass ends at the decoder's success, at handle's
  // first other answer, or with the decoder's failure. stop: handle ended the pass early (a
  // kWritten answer with stop set ends it well).
  using EventHandler = std::function<ConvertOutcome(JxlDecoderStruct* decoder, int event, bool& stop)>;
  ConvertOutcome Run(int events, bool decompressBoxes, const EventHandler& handle);
  // At the colour event: chooses the decoded pixels' colour space and reads their profile.
  ConvertOutcome ChooseColours(JxlDecoderStruct* decoder);

  std::FILE* m_file = nullptr;  // the caller's
  int m_width = 0;   // upright
  int m_height = 0;
  bool m_bAlpha = false;
  bool m_bAnimated = false;
  int m_loopCount = -1;
  double m_msPerTick = 0;
  IccBytes m_profile;
};

}  // namespace vimo::convert
