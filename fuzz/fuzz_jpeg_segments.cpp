// Any bytes as a JPEG that a turn is saved into: the walk over its header segments, which must
// give segments lying whole and in order in the file, and the turn, which writes a JPEG whose
// size is the turned size or leaves the file as it was.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "doc/LosslessTurn.h"

namespace {

[[noreturn]] void Fail(const char* rule) {
  std::fprintf(stderr, "%s\n", rule);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::size_t end = 2;
  for (const CLosslessTurn::Segment& segment : CLosslessTurn::HeaderSegments(bytes)) {
    if (segment.at < end || segment.length < 4 || segment.at + segment.length > size) Fail("a segment out of place");
    if (data[segment.at] != 0xFF || data[segment.at + 1] != segment.marker) Fail("a segment without its marker");
    end = segment.at + segment.length;
  }
  static const std::string path = vimo::fuzz::ScratchPath("turn.jpg");
  vimo::fuzz::WriteBytes(path, data, size);
  CLosslessTurn turn;
  if (!turn.Load(path.c_str())) return 0;
  int width = 0;
  int height = 0;
  const BOOL whole = turn.IsWhole(6, width, height);
  const CLosslessTurn::Result result = turn.Save(6, !whole);
  if (result != CLosslessTurn::Result::kDone) {
    if (vimo::fuzz::ReadBytes(path) != std::vector<std::uint8_t>(data, data + size)) Fail("a turn not saved changed the file");
    return 0;
  }
  CLosslessTurn turned;
  if (!turned.Load(path.c_str()) || turned.GetWidth() != height || turned.GetHeight() != width) Fail("the turned file is not the turned picture");
  return 0;
}
