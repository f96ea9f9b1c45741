// Animated PNG files: the program reads the animation's chunks itself (acTL, fcTL, fdAT, which
// Debian's libpng does not know) and hands each frame to libpng as a PNG stream of its own (the
// file's header chunks with the frame's size and data); the frames are disposed of and blended
// onto the canvas as browsers do. A PNG without an acTL chunk before its image data is no
// animation and is not read here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/PictureReader.h"

namespace vimo::convert {

class CApngReader : public CPictureReader {
 public:
  // Whether the PNG in file (from its start) has an acTL chunk before its first IDAT.
  static bool IsAnimated(std::FILE* file);
  // Whether a chunk of the PNG in file, other than image data, says it is longer than the bytes
  // after it: the image library takes such a length on trust and sets aside that much memory
  // (gigabytes for a few damaged bytes) before it finds the end. Image data (IDAT, fdAT) cut
  // short is left to the readers, which keep what came.
  static bool HasChunkPastTheEnd(std::FILE* file);

  ConvertOutcome Open(std::FILE* file) override;
  void Describe(ImageFacts& facts) override;
  IccBytes Profile() override;
  ConvertOutcome Decode(CPictureSink& sink) override;

 private:
  struct Chunk {
    char type[5] = {};
    std::string data;
    std::string whole;  // length, type, data and CRC as stored
  };
  // The next chunk of m_file; false at its end, or when it is cut short, too long or damaged
  // (m_error says which).
  bool ReadChunk(Chunk& chunk);

  std::FILE* m_file = nullptr;  // the caller's
  std::uint64_t m_fileSize = 0;
  std::string m_error;
  std::string m_ihdr;            // IHDR's 13 bytes
  std::uint32_t m_width = 0;
  std::uint32_t m_height = 0;
  std::string m_headerChunks;    // the chunks every frame's stream carries (PLTE, tRNS, ...)
  std::string m_iccp;            // iCCP's data
  std::string m_exif;            // eXIf's data
  std::uint32_t m_frames = 0;    // as acTL says
  std::uint32_t m_plays = 0;     // as acTL says: 0 for ever
  bool m_bDefaultIsFrame = false;  // an fcTL comes before IDAT: the image data is the first frame
  std::string m_defaultControl;    // that fcTL's data
  long m_dataOffset = 0;           // where the first IDAT starts
};

}  // namespace vimo::convert
