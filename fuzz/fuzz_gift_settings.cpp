// The Image Gift settings reader ("vimo.txt") on any bytes, then a write and a second read,
// which must give back the same five settings.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "app/GiftSettingsFile.h"
#include "app/Globals.h"

namespace {

std::string Settings() {
  return std::string(g_strServer) + '\x01' + std::string(g_strTo) + '\x01' + std::string(g_strFrom) + '\x01' +
         std::string(g_strSubject) + '\x01' + std::string(g_strBody);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = vimo::fuzz::ScratchPath("vimo.txt");
  g_strServer = g_strTo = g_strFrom = g_strSubject = g_strBody = "";
  vimo::fuzz::WriteBytes(path, data, size);
  ReadGiftSettings(path.c_str());
  const std::string read = Settings();
  WriteGiftSettings(path.c_str());
  g_strServer = g_strTo = g_strFrom = g_strSubject = g_strBody = "";
  ReadGiftSettings(path.c_str());
  if (Settings() != read) {
    std::fprintf(stderr, "settings read back differ from the settings written\n");
    std::abort();
  }
  return 0;
}
