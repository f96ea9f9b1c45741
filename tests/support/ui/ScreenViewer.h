// The real program on a real display: starts `vimo` as a process of its own on the X server of
// $DISPLAY (screen tests run under xvfb-run) and reads back what the server shows of its window,
// as a user sees it, not a fresh repaint. Keys are typed through the server (xdotool); pixels
// are read with ImageMagick's import.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ui/ViewerSession.h"

namespace vimo::test {

struct RunResult {
  int status = -1;  // the exit status; -1 when it did not run or end in time
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a program (searched in PATH) with extra "NAME=value" environment entries and waits for
// its end; after timeoutMs it is killed.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     int timeoutMs = 60000);

// Starts a program (searched in PATH) as a desktop starts one: no input, standard output and
// error into the given files, the signals' default actions, the environment with extra
// "NAME=value" entries ("NAME" alone removes one). Its process id, or -1.
pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& outPath, const std::string& errPath);
// Waits for the process to end: its wait status (WaitForEnd) or exit status (WaitForExit), or
// -1 when it was killed after timeoutMs (or, for WaitForExit, ended by a signal).
int WaitForEnd(pid_t pid, int timeoutMs);
int WaitForExit(pid_t pid, int timeoutMs);

// The viewer built beside the tests.
std::string ViewerProgram();

class ScreenViewer {
 public:
  // env: "NAME=value" entries for every start (QT_SCALE_FACTOR=2, QT_QPA_PLATFORM=wayland, ...).
  // Each viewer has its own runtime, configuration and data folders.
  explicit ScreenViewer(std::vector<std::string> env = {});
  ~ScreenViewer();  // ends the viewer
  ScreenViewer(const ScreenViewer&) = delete;
  ScreenViewer& operator=(const ScreenViewer&) = delete;

  // Starts the viewer with these arguments.
  bool Start(const std::vector<std::string>& args);
  // Another start of the program with the same folders (a hand-over when it names a file).
  RunResult StartAgain(const std::vector<std::string>& args, int timeoutMs = 60000) const;
  // The same, returning at once: its process id (the caller waits for it), or -1.
  pid_t Launch(const std::vector<std::string>& args) const;
  // Ends the viewer as the desktop ends a program (SIGTERM); its exit status.
  int Stop();
  bool Running() const;
  // Extra entries for the next starts.
  void SetEnvironment(std::vector<std::string> env) { m_env = std::move(env); }

  // Waits until a top-level window has exactly this title; its X window id, 0 after the timeout.
  static unsigned long WaitForTitle(const std::string& title, int timeoutMs = 30000);
  // The same for a window of this class (WM_CLASS), for windows that set no plain title.
  static unsigned long WaitForClass(const std::string& windowClass, int timeoutMs = 30000);
  // Types keys, separated by blanks (xdotool names: "F5", "Down Down", "ctrl+o"), into the window.
  static void Type(unsigned long window, const std::string& keys);
  // Clicks the left button count times at (x, y) of the window, holding the modifier keys
  // ("ctrl", "shift"; empty: none).
  static void Click(unsigned long window, int x, int y, const std::string& modifiers = "", int count = 1);
  // Turns the mouse wheel notches (up when positive) with Ctrl held, the pointer at (x, y).
  static void CtrlWheel(unsigned long window, int x, int y, int notches);
  // Mouse button (1 left, 2 middle, 3 right) clicked count times at (x, y) of the window; pressed
  // at (x0, y0), moved to (x1, y1) and released there.
  static void Click(unsigned long window, int button, int x, int y, int count = 1);
  static void Drag(unsigned long window, int button, int x0, int y0, int x1, int y1);
  // What the X server shows of the window now.
  static Pixels Grab(unsigned long window);
  // Grabs until pred holds; that grab, or an empty one (width 0) after the timeout.
  static Pixels WaitForScreen(unsigned long window, const std::function<bool(const Pixels&)>& pred,
                              int timeoutMs = 30000);

  const std::filesystem::path& Home() const { return m_home.Path(); }
  std::filesystem::path ProfilePath() const { return m_home.Path() / "config" / "vimo.ini"; }
  // What the viewer wrote on standard error so far.
  std::string Errors() const;

 private:
  // The environment entries of a start: the viewer's own folders, the platform, m_env.
  std::vector<std::string> Changes() const;
  TempDir m_home;
  std::vector<std::string> m_env;
  pid_t m_pid = -1;
};

// An X server of a test's own, as a kiosk or CI runs one: nothing else connected to it, and it
// resets whenever its last client goes (no -noreset). Its screen is read from a file, so that
// reading it makes no client.
class BareXServer {
 public:
  BareXServer();  // a 640 x 480 screen
  ~BareXServer();
  BareXServer(const BareXServer&) = delete;
  BareXServer& operator=(const BareXServer&) = delete;
  // ":N", empty when the server did not start.
  const std::string& Display() const { return m_display; }
  // The screen as an XWD file, which the server keeps up to date.
  std::string ScreenFile() const { return (m_frames / "Xvfb_screen0").string(); }
  // How many clients are connected now.
  int Clients() const;

 private:
  TempDir m_frames;
  pid_t m_pid = -1;
  std::string m_display;
  int m_nListening = 0;  // the server's own sockets
};

// Starts openbox on the X server of $DISPLAY, so that windows are framed and placed as on a
// desktop: true once it frames new windows. It ends with the server.
bool StartWindowManager();
// What the X server of $DISPLAY shows in a rectangle of its screen.
Pixels GrabScreen(int x, int y, int width, int height);

struct Place {
  int x = -1;
  int y = -1;
  bool Found() const { return x >= 0; }
};

// The smallest box around the pixels whose channels lie within tolerance of colour's.
struct Box {
  int left = -1, top = -1, right = -1, bottom = -1;  // inclusive
  bool Found() const { return left >= 0; }
  int Width() const { return right - left + 1; }
  int Height() const { return bottom - top + 1; }
};
Box FindColour(const Pixels& screen, Rgb colour, int tolerance = 0);

// Where the block (x, y, w, h) of image (imageWidth wide, top row first) lies whole and unscaled
// in the grab: the screen position of the block's top-left pixel; not found when it is not there.
Place FindBlock(const Pixels& screen, const std::vector<Rgb>& image, int imageWidth, int x, int y, int w, int h);

}  // namespace vimo::test
