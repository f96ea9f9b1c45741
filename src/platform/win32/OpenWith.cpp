// GLib's headers name struct members "signals": they come before anything of Qt's.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "win32/OpenWith.h"

#include <algorithm>
#include <memory>

namespace vimo::platform {

namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct ListFree {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct CharsFree {
  void operator()(char* chars) const { g_free(chars); }
};
using GObjectPtr = std::unique_ptr<void, ObjectUnref>;
using GListPtr = std::unique_ptr<GList, ListFree>;
using GCharsPtr = std::unique_ptr<char, CharsFree>;

// The file's type as the desktop tells it; empty when it cannot be read.
std::string ContentTypeOf(const char* path) {
  const GObjectPtr file(g_file_new_for_path(path));
  GError* raw = nullptr;
  const GObjectPtr info(g_file_query_info(G_FILE(file.get()), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                          G_FILE_QUERY_INFO_NONE, nullptr, &raw));
  const std::unique_ptr<GError, ErrorFree> error(raw);
  if (info == nullptr) return {};
  const char* type = g_file_info_get_content_type(G_FILE_INFO(info.get()));
  return type != nullptr ? type : "";
}

void AddApp(std::vector<AppEntry>& apps, GAppInfo* app) {
  if (app == nullptr) return;
  const char* id = g_app_info_get_id(app);
  if (id == nullptr) return;
  if (std::any_of(apps.begin(), apps.end(), [id](const AppEntry& entry) { return entry.id == id; })) return;
  const char* name = g_app_info_get_name(app);
  apps.push_back({id, name != nullptr ? name : id});
}

void AddApps(std::vector<AppEntry>& apps, GList* list) {
  const GListPtr owned(list);
  for (GList* item = list; item != nullptr; item = item->next) AddApp(apps, G_APP_INFO(item->data));
}

}  // namespace

std::vector<AppEntry> AppsForFile(const char* path, bool bAll) {
  std::vector<AppEntry> apps;
  const std::string type = ContentTypeOf(path);
  if (type.empty()) return apps;
  const GObjectPtr defaultApp(g_app_info_get_default_for_type(type.c_str(), FALSE));
  AddApp(apps, G_APP_INFO(defaultApp.get()));
  AddApps(apps, g_app_info_get_recommended_for_type(type.c_str()));
  if (!bAll) return apps;
  AddApps(apps, g_app_info_get_all_for_type(type.c_str()));
  const GListPtr every(g_app_info_get_all());
  for (GList* item = every.get(); item != nullptr; item = item->next) {
    if (g_app_info_should_show(G_APP_INFO(item->data))) AddApp(apps, G_APP_INFO(item->data));
  }
  return apps;
}

std::string LaunchApp(const std::string& id, const char* path) {
  const GObjectPtr app(g_desktop_app_info_new(id.c_str()));
  if (app == nullptr) return "no such application: " + id;
  const GObjectPtr file(g_file_new_for_path(path));
  const GCharsPtr uri(g_file_get_uri(G_FILE(file.get())));
  GList uris{uri.get(), nullptr, nullptr};
  GError* raw = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib reaps the program itself: this process runs no GLib
  // main loop that would.
  const gboolean started = g_desktop_app_info_launch_uris_as_manager(G_DESKTOP_APP_INFO(app.get()), &uris, nullptr,
                                                                     G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                                                                     nullptr, &raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  if (started) return {};
  return error != nullptr ? std::string(error->message) : std::string("cannot start ") + id;
}

}  // namespace vimo::platform
