// Calls on the desktop's own services: the XDG desktop portal, KDE's and XFCE's settings over the
// session bus, and the desktop's command-line tools. None waits: each answers later, on the
// user-interface thread, through the function it was given (never from inside the call).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vimo::platform {

enum class DesktopAnswer {
  Done,       // the desktop did it
  Cancelled,  // the user said no in the desktop's own dialog
  Failed,     // the service answered that it could not (detail says why)
  NoService,  // nothing answered: no session bus, no such service or method, no such program
};
using DesktopDone = std::function<void(DesktopAnswer answer, const std::string& detail)>;

// org.freedesktop.portal.Wallpaper.SetWallpaperURI for the desktop's background, without the
// portal's preview; the answer is the portal request's Response.
void PortalSetWallpaper(const std::string& uri, DesktopDone done);

// org.kde.PlasmaShell.evaluateScript on KDE Plasma's shell.
void PlasmaEvaluateScript(const std::string& script, DesktopDone done);

// XFCE's settings (xfconf): every property of channel whose name ends with suffix takes value.
// Failed when the channel has no such property.
void XfconfSetEach(const std::string& channel, const std::string& suffix, const std::string& value, DesktopDone done);

// Runs a program found in PATH with its arguments (UTF-8), without a shell: Done when it ends with
// status 0, NoService when it cannot be started, Failed otherwise (detail: what it wrote on its
// error output).
void RunDesktopTool(const std::vector<std::string>& argv, DesktopDone done);

}  // namespace vimo::platform
