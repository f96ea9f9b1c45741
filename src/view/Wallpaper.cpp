#include "view/Wallpaper.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win32/DesktopCalls.h"
#include "win32/Kernel.h"
#include "win32/UserFolders.h"

namespace {

using vimo::platform::DesktopAnswer;

constexpr char kCopyName[] = "wallpaper-";
// An extension longer than this is no image type's: the copy goes without one.
constexpr std::size_t kLongestExtension = 8;

std::string FileUri(const CString& path) { return "file://" + vimo::platform::PercentEncoded(path.str(), "-._~/"); }

// The file's extension lower-cased, with its dot; empty when it has none a desktop would read.
std::string ExtensionOf(const char* path) {
  const char* name = std::strrchr(path, '/');
  name = name != nullptr ? name + 1 : path;
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr || dot == name || std::strlen(dot) > kLongestExtension + 1) return {};
  std::string extension = dot;
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!(c == '.' || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return {};
  }
  return extension;
}

// The names in folder that match pattern.
std::vector<std::string> NamesIn(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE hFind = FindFirstFileA((folder + "/" + pattern).c_str(), &found);
  if (hFind == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileA(hFind, &found));
  FindClose(hFind);
  return names;
}

bool DesktopIs(const char* name) {
  // A colon-separated list, most specific first ("ubuntu:GNOME").
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  if (desktops == nullptr) return false;
  std::string list = std::string(":") + desktops + ":";
  for (char& c : list) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  std::string wanted = std::string(":") + name + ":";
  for (char& c : wanted) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return list.find(wanted) != std::string::npos;
}

}  // namespace

int CWallpaper::s_nPlace = 0;
unsigned CWallpaper::s_nLatestSet = 0;

CString CWallpaper::Folder() { return CString(vimo::platform::UserDataHome() + "/vimo/wallpaper"); }

CString CWallpaper::Copy(const char* path, CString& rReason) {
  const std::string folder = Folder().str();
  if (folder.size() <= std::strlen("/vimo/wallpaper")) {
    rReason = "no home folder";
    return {};
  }
  vimo::platform::MakeFolders(folder);
  // The place the last copy did not take; at the first set, the one no copy holds.
  if (s_nPlace == 0) s_nPlace = NamesIn(folder, std::string(kCopyName) + "1*").empty() ? 2 : 1;
  s_nPlace = s_nPlace == 1 ? 2 : 1;
  const std::string target = folder + "/" + kCopyName + std::to_string(s_nPlace) + ExtensionOf(path);
  errno = 0;
  const std::string fresh = vimo::platform::CreateFreshFileFor(target);
  if (fresh.empty() || !CopyFileA(path, fresh.c_str(), FALSE) || std::rename(fresh.c_str(), target.c_str()) != 0) {
    rReason.Format("cannot copy the picture into %s (%s)", folder.c_str(), std::strerror(errno != 0 ? errno : EIO));
    if (!fresh.empty()) std::remove(fresh.c_str());
    return {};
  }
  return CString(target);
}

void CWallpaper::RemoveOthers(const CString& copy, unsigned nSet) {
  if (nSet != s_nLatestSet) return;
  const std::string folder = Folder().str();
  for (const std::string& name : NamesIn(folder, std::string(kCopyName) + "*")) {
    const std::string other = folder + "/" + name;
    if (other != copy.str()) std::remove(other.c_str());
  }
}

void CWallpaper::Report(const CString& path, const CString& reason) {
  AfxMessageBox("cannot set the wallpaper, " + reason + "\n" + path);
}

void CWallpaper::Set(const char* path) {
  CString reason;
  const CString copy = Copy(path, reason);
  if (copy.IsEmpty()) return Report(path, reason);
  const CString original(path);
  const unsigned nSet = ++s_nLatestSet;
  vimo::platform::PortalSetWallpaper(FileUri(copy), [copy, original, nSet](DesktopAnswer answer, const std::string& detail) {
    if (answer == DesktopAnswer::Done) return RemoveOthers(copy, nSet);
    if (answer == DesktopAnswer::Cancelled) return;
    (void)detail;
    SetThroughDesktop(copy, original, nSet);
  });
}

void CWallpaper::SetThroughDesktop(const CString& copy, const CString& path, unsigned nSet) {
  const std::string uri = FileUri(copy);
  const auto answered = [copy, path, nSet](DesktopAnswer answer, const std::string& detail) {
    if (answer == DesktopAnswer::Done) return RemoveOthers(copy, nSet);
    Report(path, detail.empty() ? CString("the desktop refused it") : CString(detail));
  };
  if (DesktopIs("GNOME") || DesktopIs("Unity") || DesktopIs("Budgie")) {
    // The dark style's picture too, where the desktop has one; older ones have no such key.
    vimo::platform::RunDesktopTool({"gsettings", "set", "org.gnome.desktop.background", "picture-uri", uri},
                                   [uri, answered](DesktopAnswer answer, const std::string& detail) {
                                     if (answer != DesktopAnswer::Done) return answered(answer, detail);
                                     vimo::platform::RunDesktopTool(
                                         {"gsettings", "set", "org.gnome.desktop.background", "picture-uri-dark", uri},
                                         [answered](DesktopAnswer, const std::string&) { answered(DesktopAnswer::Done, {}); });
                                   });
    return;
  }
  if (DesktopIs("X-Cinnamon") || DesktopIs("Cinnamon")) {
    vimo::platform::RunDesktopTool({"gsettings", "set", "org.cinnamon.desktop.background", "picture-uri", uri}, answered);
    return;
  }
  if (DesktopIs("KDE")) {
    vimo::platform::PlasmaEvaluateScript(
        "var all = desktops(); for (var i = 0; i < all.length; i++) { var d = all[i]; d.wallpaperPlugin = 'org.kde.image';"
        " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General']; d.writeConfig('Image', '" + uri + "'); }",
        answered);
    return;
  }
  if (DesktopIs("XFCE")) {
    // XFCE keeps a picture per monitor and workspace, each in a property ending so.
    vimo::platform::XfconfSetEach("xfce4-desktop", "/last-image", copy.str(), answered);
    return;
  }
  Report(path, "neither a desktop portal nor this desktop's settings take a wallpaper");
}
