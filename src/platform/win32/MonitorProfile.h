// The monitor's colour profile, which a Windows program asks GetICMProfile for: on Linux the ICC
// profile that a colour daemon (colord, a desktop's colour settings) publishes in the
// `_ICC_PROFILE` property of the X server's root window, for the first monitor.
#pragma once

#include <cstdint>
#include <vector>

namespace vimo::platform {

// The profile's bytes, read once from the X server the program will draw on: the one DISPLAY
// names, when Qt will use it (QT_QPA_PLATFORM xcb, or unset outside a Wayland session). Empty
// when there is none: no X server (Wayland, where no such property exists, or an offscreen run),
// no property, or a property that is not 8-bit data. Needs no window system set up yet.
std::vector<std::uint8_t> ReadMonitorProfile();

}  // namespace vimo::platform
