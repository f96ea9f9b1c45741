#include "app/InstalledCopy.h"

#include <climits>

#include "win32/Kernel.h"
#include "win32/UserFolders.h"

// The launcher of the install layout, relative to the folder the executable is installed in;
// the build passes the layout it installs.
#ifndef VIMO_INSTALLED_LAUNCHER
#define VIMO_INSTALLED_LAUNCHER "../../bin/vimo"
#endif

namespace {

std::string ExecutablePath() {
  char path[PATH_MAX] = "";
  return GetModuleFileNameA(nullptr, path, sizeof(path)) != 0 ? std::string(path) : std::string();
}

}  // namespace

bool IsInstalledCopy() {
  const std::string executable = vimo::platform::RealPath(ExecutablePath());
  return !executable.empty() &&
         vimo::platform::RealPath(vimo::platform::ExecutableFolder() + VIMO_INSTALLED_LAUNCHER) == executable;
}

std::string SettingsFolder() {
  const std::string beside = vimo::platform::ExecutableFolder();
  if (!IsInstalledCopy() && vimo::platform::IsWritableFolder(beside)) return beside;
  const std::string config = vimo::platform::UserConfigHome();
  if (config.empty()) return config;
  vimo::platform::MakeFolders(config + "/vimo");
  return config + "/vimo/";
}
