#include "win32/MonitorProfile.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace vimo::platform {
namespace {

constexpr char kProperty[] = "_ICC_PROFILE";
constexpr std::uint32_t kLongestProfile = 64u << 20;  // bytes; far beyond any real profile
constexpr xcb_window_t kNoWindow = XCB_WINDOW_NONE;

struct ReplyFree {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, ReplyFree>;

// The question and its answer, shared by the window's thread (which asks and, at the end, lets
// go) and the threads that take the answer; every field is guarded by lock.
struct Question {
  enum class Stage {
    kNotAsked,  // Qt's application is not there yet
    kAsked,     // the atom's name is on its way; nobody takes the answer yet
    kTaking,    // one thread waits for the answers, the others for it
    kSettled,   // profile holds what there is
  };
  std::mutex lock;
  std::condition_variable changed;
  Stage stage = Stage::kNotAsked;
  xcb_connection_t* connection = nullptr;  // Qt's, while kAsked or kTaking
  xcb_window_t root = kNoWindow;
  xcb_intern_atom_cookie_t atom{};
  std::vector<std::uint8_t> profile;
};

Question& TheQuestion() {
  static Question question;
  return question;
}

// The root window of the screen DISPLAY names on the connection; none when it has no such screen.
xcb_window_t RootOf(xcb_connection_t* connection) {
  int screenNumber = 0;
  char* host = nullptr;
  int displayNumber = 0;
  if (xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber) == 0) screenNumber = 0;
  std::free(host);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  return screens.rem > 0 ? screens.data->root : kNoWindow;
}

// The server's answers: the atom's, then the property's, asked for now. Waits on the caller's thread.
std::vector<std::uint8_t> Answer(xcb_connection_t* connection, xcb_window_t root, xcb_intern_atom_cookie_t atomCookie) {
  xcb_generic_error_t* error = nullptr;
  const ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(connection, atomCookie, &error));
  std::free(error);
  if (!atom || atom->atom == XCB_ATOM_NONE) return {};
  error = nullptr;
  const ReplyPtr<xcb_get_property_reply_t> property(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, kLongestProfile / 4),
      &error));
  std::free(error);
  if (!property || property->format != 8) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(xcb_get_property_value(property.get()));
  const int length = xcb_get_property_value_length(property.get());
  if (bytes == nullptr || length <= 0) return {};
  return std::vector<std::uint8_t>(bytes, bytes + length);
}

}  // namespace

void RequestMonitorProfile() {
  Question& question = TheQuestion();
  const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  const xcb_window_t root = connection != nullptr ? RootOf(connection) : kNoWindow;
  const std::lock_guard<std::mutex> guard(question.lock);
  question.profile.clear();
  question.stage = Question::Stage::kSettled;
  if (root != kNoWindow) {
    question.connection = connection;
    question.root = root;
    // Only an atom some program made can name the property: asking does not make one.
    question.atom = xcb_intern_atom(connection, 1, sizeof(kProperty) - 1, kProperty);
    xcb_flush(connection);
    question.stage = Question::Stage::kAsked;
  }
  question.changed.notify_all();
}

std::vector<std::uint8_t> TakeMonitorProfile() {
  Question& question = TheQuestion();
  std::unique_lock<std::mutex> guard(question.lock);
  question.changed.wait(guard, [&] {
    return question.stage == Question::Stage::kAsked || question.stage == Question::Stage::kSettled;
  });
  if (question.stage == Question::Stage::kSettled) return question.profile;
  question.stage = Question::Stage::kTaking;
  xcb_connection_t* const connection = question.connection;
  const xcb_window_t root = question.root;
  const xcb_intern_atom_cookie_t atom = question.atom;
  guard.unlock();
  // The connection stays open meanwhile: ForgetMonitorProfile waits for this stage to end.
  std::vector<std::uint8_t> profile = Answer(connection, root, atom);
  guard.lock();
  question.profile = std::move(profile);
  question.connection = nullptr;
  question.stage = Question::Stage::kSettled;
  question.changed.notify_all();
  return question.profile;
}

void ForgetMonitorProfile() {
  Question& question = TheQuestion();
  std::unique_lock<std::mutex> guard(question.lock);
  question.changed.wait(guard, [&] { return question.stage != Question::Stage::kTaking; });
  if (question.stage == Question::Stage::kAsked) xcb_discard_reply(question.connection, question.atom.sequence);
  question.connection = nullptr;
  question.stage = Question::Stage::kSettled;
  question.changed.notify_all();
}

}  // namespace vimo::platform
