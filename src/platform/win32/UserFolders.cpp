#include "win32/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace vimo::platform {

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The variable when it holds an absolute path, else the folder below the home folder.
std::string XdgFolder(const char* variable, const char* belowHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return WithoutTrailingSlash(value);
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : WithoutTrailingSlash(home) + belowHome;
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/' ? entry->pw_dir : "";
}

std::string UserConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }
std::string UserCacheHome() { return XdgFolder("XDG_CACHE_HOME", "/.cache"); }
std::string UserDataHome() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string FullPath(const std::string& given) {
  std::string path = given;
  if (path.empty()) return {};
  if (path[0] != '/') {
    const std::unique_ptr<char, decltype(&std::free)> current(getcwd(nullptr, 0), &std::free);
    if (current == nullptr) return path;
    path = std::string(current.get()) + "/" + path;
  }
  std::vector<std::string> steps;
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string step = path.substr(start, end - start);
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    start = end + 1;
  }
  std::string full;
  for (const std::string& step : steps) full += "/" + step;
  return full.empty() ? "/" : full;
}

std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved != nullptr ? std::string(resolved.get()) : std::string();
}

bool IsWritableFolder(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (access(folder.c_str(), W_OK | X_OK) != 0) return false;
  return geteuid() != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

void MakeFolders(const std::string& path) {
  const std::string folder = WithoutTrailingSlash(path) + "/";
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    if (mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

std::string PercentEncoded(std::string_view bytes, std::string_view kept) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alphanumeric || (c != '\0' && kept.find(c) != std::string_view::npos)) {
      text += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    text += '%';
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

}  // namespace vimo::platform
