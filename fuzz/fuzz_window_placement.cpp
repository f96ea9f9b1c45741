// The window placement as the frame reads it back: any bytes as the application's profile, its
// "Window size" entries through the profile reader, the "Rect" text through ParsePlacementRect.
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "app/VimoApp.h"
#include "frame/SDIRememberFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string profile = [] {
    const std::string path = vimo::fuzz::ScratchPath("vimo.ini");
    setenv("XDG_CONFIG_HOME", path.substr(0, path.rfind('/')).c_str(), 1);
    return path;
  }();
  vimo::fuzz::WriteBytes(profile, data, size);
  CWinApp* app = &theApp;
  const CString rect = app->GetProfileString("Window size", "Rect");
  (void)ParsePlacementRect(rect);
  (void)app->GetProfileInt("Window size", "iconized", 0);
  (void)app->GetProfileInt("Window size", "maximized", 0);
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)ParsePlacementRect(text.c_str());
  return 0;
}
