// The applications the desktop associates with a file's type, read from the freedesktop MIME
// associations (mimeapps.list and the installed desktop entries) through GLib's GAppInfo, and
// the launch of one of them on a file as its desktop entry's Exec line asks (%f, %u, ...).
#pragma once

#include <string>
#include <vector>

namespace vimo::platform {

struct AppEntry {
  std::string id;    // the desktop entry's id ("org.gnome.eog.desktop")
  std::string name;  // its name as the desktop shows it (UTF-8)
};

// The applications for the file at path (its type as the desktop tells it, from its content and
// name): the default one first, then the others recommended for the type. With bAll, every
// application that can open the type follows, then every other application the desktop shows.
// Empty when the type has none (or none is installed).
std::vector<AppEntry> AppsForFile(const char* path, bool bAll);

// Starts application id on the file at path, without waiting for it; "" when it was started,
// else why not (a short English text).
std::string LaunchApp(const std::string& id, const char* path);

}  // namespace vimo::platform
