// The monitor's colour profile, which a Windows program asks GetICMProfile for: on Linux the ICC
// profile that a colour daemon (colord, a desktop's colour settings) publishes in the
// `_ICC_PROFILE` property of the X server's root window, for the first monitor.
//
// It is asked for on Qt's own connection to the X server, never on one of the program's own: a
// second connection that closes while Qt's is being set up leaves an X server whose only client
// the program is without clients, and the server resets and drops Qt's connection.
#pragma once

#include <cstdint>
#include <vector>

namespace vimo::platform {

// Sends the question on the connection of the Qt application that now exists, without waiting
// for the answer; on Wayland, offscreen or without X there will be no profile. Called on the
// window's thread once the application is made (AfxWinInit does), before any other call there.
void RequestMonitorProfile();

// The profile's bytes. The first call takes the server's answer, on its own thread (a
// conversion's, never the window's): it waits until the question was asked, then for the answer.
// Later calls return the same bytes at once. Empty when there is none: no X server, no property,
// a property that is not 8-bit data, or a question let go before it was answered.
std::vector<std::uint8_t> TakeMonitorProfile();

// Lets go of an answer not yet taken before Qt's connection closes (an answer being taken is
// waited for): later calls of TakeMonitorProfile return what was taken, or nothing. Also tells a
// start that ends before Qt's application exists that no question will come.
void ForgetMonitorProfile();

}  // namespace vimo::platform
