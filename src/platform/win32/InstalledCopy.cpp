#include "win32/InstalledCopy.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "win32/Kernel.h"

// The install layout, relative to the folder the executable is installed in; the build passes
// the layout it installs.
#ifndef VIMO_INSTALLED_LAUNCHER
#define VIMO_INSTALLED_LAUNCHER "../../bin/vimo"
#endif
#ifndef VIMO_INSTALLED_DESKTOP_ENTRY
#define VIMO_INSTALLED_DESKTOP_ENTRY "../../share/applications/vimo.desktop"
#endif

namespace vimo::platform {

namespace {

std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved != nullptr ? std::string(resolved.get()) : std::string();
}

std::string ExecutablePath() {
  char path[PATH_MAX] = "";
  return GetModuleFileNameA(nullptr, path, sizeof(path)) != 0 ? std::string(path) : std::string();
}

// access() answers yes to root for every folder on a writable mount; root then takes a folder
// whose mode lets nobody write (a copy made read-only on purpose) as read-only too.
bool FolderIsWritable(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (access(folder.c_str(), W_OK | X_OK) != 0) return false;
  return geteuid() != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/' ? entry->pw_dir : "";
}

// Creates each missing folder of path (absolute, ending with '/') with mode 0700.
void CreateFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

// $XDG_CONFIG_HOME/vimo/ (a relative XDG_CONFIG_HOME is ignored, as the XDG rules ask), else
// ~/.config/vimo/.
std::string UserConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/vimo/";
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.config/vimo/";
}

}  // namespace

bool IsInstalledCopy() {
  const std::string executable = RealPath(ExecutablePath());
  return !executable.empty() && RealPath(ExecutableFolder() + VIMO_INSTALLED_LAUNCHER) == executable;
}

bool IsInstalledDesktopEntry(const std::string& path) {
  const std::string entry = RealPath(path);
  return !entry.empty() && RealPath(ExecutableFolder() + VIMO_INSTALLED_DESKTOP_ENTRY) == entry;
}

std::string SettingsFolder() {
  const std::string beside = ExecutableFolder();
  if (!IsInstalledCopy() && FolderIsWritable(beside)) return beside;
  const std::string folder = UserConfigFolder();
  if (!folder.empty()) CreateFolders(folder);
  return folder;
}

}  // namespace vimo::platform
