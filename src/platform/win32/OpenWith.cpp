// GLib's headers name struct members "signals": they come before anything of Qt's.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "win32/OpenWith.h"

#include <algorithm>
#include <memory>

#include "win32/Kernel.h"

namespace vimo::platform {

namespace {

// GIO is loaded at the first question about a file's applications, not linked: linked, it and
// what it pulls in (GObject, libmount, libblkid, libselinux, libffi) would be loaded and relocated
// before main() on every start, for a menu most starts never open. Each function keeps the
// library's own type, which the compiler takes from its headers.
#define VIMO_GIO_FUNCTIONS(X)                                                                  \
  X(g_object_unref) X(g_list_free_full) X(g_error_free) X(g_free) X(g_file_new_for_path)        \
  X(g_file_query_info) X(g_file_info_get_content_type) X(g_file_get_uri) X(g_app_info_get_id)   \
  X(g_app_info_get_name) X(g_app_info_get_default_for_type) X(g_app_info_get_recommended_for_type) \
  X(g_app_info_get_all_for_type) X(g_app_info_get_all) X(g_app_info_should_show)                \
  X(g_desktop_app_info_new) X(g_desktop_app_info_launch_uris_as_manager)

struct GioLibrary {
#define VIMO_GIO_MEMBER(name) decltype(&::name) name = nullptr;
  VIMO_GIO_FUNCTIONS(VIMO_GIO_MEMBER)
#undef VIMO_GIO_MEMBER
  std::string error;  // why the library or one of its functions could not be found; "" when all were
};

// Loaded once (thread-safe) and kept for the life of the process, found through the system's
// library search as a linked library would be.
const GioLibrary& Gio() {
  static const GioLibrary library = [] {
    GioLibrary loaded;
    const HMODULE module = LoadLibraryA(VIMO_GIO_LIBRARY);
    bool bFound = module != nullptr;
#define VIMO_GIO_RESOLVE(name) \
  if (bFound) bFound = (loaded.name = reinterpret_cast<decltype(&::name)>(GetProcAddress(module, #name))) != nullptr;
    VIMO_GIO_FUNCTIONS(VIMO_GIO_RESOLVE)
#undef VIMO_GIO_RESOLVE
    if (!bFound) loaded.error = std::string(VIMO_GIO_LIBRARY) + ": " + LastLoadError();
    return loaded;
  }();
  return library;
}

struct ObjectUnref {
  void operator()(gpointer object) const { Gio().g_object_unref(object); }
};
struct ListFree {
  void operator()(GList* list) const { Gio().g_list_free_full(list, Gio().g_object_unref); }
};
struct ErrorFree {
  void operator()(GError* error) const { Gio().g_error_free(error); }
};
struct CharsFree {
  void operator()(char* chars) const { Gio().g_free(chars); }
};
using GObjectPtr = std::unique_ptr<void, ObjectUnref>;
using GListPtr = std::unique_ptr<GList, ListFree>;
using GCharsPtr = std::unique_ptr<char, CharsFree>;

// The file's type as the desktop tells it; empty when it cannot be read.
std::string ContentTypeOf(const char* path) {
  const GObjectPtr file(Gio().g_file_new_for_path(path));
  GError* raw = nullptr;
  const GObjectPtr info(Gio().g_file_query_info(static_cast<GFile*>(file.get()), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                G_FILE_QUERY_INFO_NONE, nullptr, &raw));
  const std::unique_ptr<GError, ErrorFree> error(raw);
  if (info == nullptr) return {};
  const char* type = Gio().g_file_info_get_content_type(static_cast<GFileInfo*>(info.get()));
  return type != nullptr ? type : "";
}

void AddApp(std::vector<AppEntry>& apps, GAppInfo* app) {
  if (app == nullptr) return;
  const char* id = Gio().g_app_info_get_id(app);
  if (id == nullptr) return;
  if (std::any_of(apps.begin(), apps.end(), [id](const AppEntry& entry) { return entry.id == id; })) return;
  const char* name = Gio().g_app_info_get_name(app);
  apps.push_back({id, name != nullptr ? name : id});
}

void AddApps(std::vector<AppEntry>& apps, GList* list) {
  const GListPtr owned(list);
  for (GList* item = list; item != nullptr; item = item->next) AddApp(apps, static_cast<GAppInfo*>(item->data));
}

}  // namespace

std::vector<AppEntry> AppsForFile(const char* path, bool bAll) {
  std::vector<AppEntry> apps;
  if (!Gio().error.empty()) return apps;
  const std::string type = ContentTypeOf(path);
  if (type.empty()) return apps;
  const GObjectPtr defaultApp(Gio().g_app_info_get_default_for_type(type.c_str(), FALSE));
  AddApp(apps, static_cast<GAppInfo*>(defaultApp.get()));
  AddApps(apps, Gio().g_app_info_get_recommended_for_type(type.c_str()));
  if (!bAll) return apps;
  AddApps(apps, Gio().g_app_info_get_all_for_type(type.c_str()));
  const GListPtr every(Gio().g_app_info_get_all());
  for (GList* item = every.get(); item != nullptr; item = item->next) {
    auto* app = static_cast<GAppInfo*>(item->data);
    if (Gio().g_app_info_should_show(app)) AddApp(apps, app);
  }
  return apps;
}

std::string LaunchApp(const std::string& id, const char* path) {
  if (!Gio().error.empty()) return Gio().error;
  const GObjectPtr app(Gio().g_desktop_app_info_new(id.c_str()));
  if (app == nullptr) return "no such application: " + id;
  const GObjectPtr file(Gio().g_file_new_for_path(path));
  const GCharsPtr uri(Gio().g_file_get_uri(static_cast<GFile*>(file.get())));
  GList uris{uri.get(), nullptr, nullptr};
  GError* raw = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib reaps the program itself: this process runs no GLib
  // main loop that would.
  const gboolean started = Gio().g_desktop_app_info_launch_uris_as_manager(
      static_cast<GDesktopAppInfo*>(app.get()), &uris, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr, &raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  if (started) return {};
  return error != nullptr ? std::string(error->message) : std::string("cannot start ") + id;
}

}  // namespace vimo::platform
