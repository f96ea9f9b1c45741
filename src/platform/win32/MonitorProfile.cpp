#include "win32/MonitorProfile.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace vimo::platform {
namespace {

constexpr char kProperty[] = "_ICC_PROFILE";
constexpr std::uint32_t kLongestProfile = 64u << 20;  // bytes; far beyond any real profile

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

struct ReplyFree {
  void operator()(void* reply) const { std::free(reply); }
};

// Whether Qt will draw on the X server DISPLAY names: its platform is xcb, named or chosen by
// default (outside a Wayland session, where it would choose Wayland).
bool DrawsOnX() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == '\0') return false;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && platform[0] != '\0') return std::strncmp(platform, "xcb", 3) == 0;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return wayland == nullptr || wayland[0] == '\0';
}

}  // namespace

std::vector<std::uint8_t> ReadMonitorProfile() {
  if (!DrawsOnX()) return {};
  int screenNumber = 0;
  const std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(xcb_connect(nullptr, &screenNumber));
  if (!connection || xcb_connection_has_error(connection.get()) != 0) return {};
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) return {};
  const xcb_window_t root = screens.data->root;
  const std::unique_ptr<xcb_intern_atom_reply_t, ReplyFree> atom(xcb_intern_atom_reply(
      connection.get(), xcb_intern_atom(connection.get(), 1, sizeof(kProperty) - 1, kProperty), nullptr));
  if (!atom || atom->atom == XCB_ATOM_NONE) return {};
  const std::unique_ptr<xcb_get_property_reply_t, ReplyFree> property(xcb_get_property_reply(
      connection.get(),
      xcb_get_property(connection.get(), 0, root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, kLongestProfile / 4), nullptr));
  if (!property || property->format != 8) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(xcb_get_property_value(property.get()));
  const int length = xcb_get_property_value_length(property.get());
  if (bytes == nullptr || length <= 0) return {};
  return std::vector<std::uint8_t>(bytes, bytes + length);
}

}  // namespace vimo::platform
