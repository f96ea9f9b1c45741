// Files the desktop opens reach one running viewer per user: a start with a file hands the file to
// the viewer already running (over a local socket in the user's runtime folder) and ends; the
// first start listens. Who listens is decided under a lock on a file beside the socket, so two
// starts at the same moment never both listen, and a socket is only ever replaced when nobody
// answers at it.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

class AfxShellOpen {
 public:
  enum class Start {
    kListening,   // no viewer answered: this one listens now
    kHandedOver,  // a running viewer took the file: this start is done
    kBeside,      // a viewer runs and this start has no file for it, or there is no socket to use
  };

  // The longest path a hand-over carries; a sender of a longer one is cut off.
  static constexpr std::size_t kLongestPath = 4096;

  // Looks for a viewer at socketPath and hands it path (nullptr: nothing to hand over); when none
  // answers, listens there and server receives the listening end. Needs no Qt: what arrives
  // before Watch waits in the socket.
  static Start Begin(const std::string& socketPath, const char* path, std::unique_ptr<AfxShellOpen>& server);

  // Starts reading what arrives, through the event loop; the Qt application must exist. Once is
  // enough; later calls do nothing.
  void Watch();

  // Stops listening and removes the socket, unless another viewer has put its own there since.
  ~AfxShellOpen();
  AfxShellOpen(const AfxShellOpen&) = delete;
  AfxShellOpen& operator=(const AfxShellOpen&) = delete;

  // The paths received so far, oldest first, each taken once. Reading a socket never opens
  // anything itself: the application takes them when it is idle, so opening a path may run modal
  // boxes while more paths arrive, and those wait their turn.
  bool HasReceived() const { return !m_received.empty(); }
  std::string TakeReceived();

 private:
  struct Connection;
  AfxShellOpen(std::string socketPath, int listenFd, unsigned long long socketInode);
  void Accept();
  void Read(Connection* pConnection);
  void Drop(Connection* pConnection);

  std::string m_socketPath;
  int m_listenFd;
  unsigned long long m_socketInode;  // of the socket file this viewer made
  std::unique_ptr<QSocketNotifier> m_pListening;
  std::vector<std::unique_ptr<Connection>> m_connections;
  std::deque<std::string> m_received;
};
