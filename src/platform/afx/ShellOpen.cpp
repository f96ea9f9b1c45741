#include "afx/ShellOpen.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "posix/UniqueFd.h"

using vimo::posix::UniqueFd;

namespace {

// How long a start waits for another start to finish deciding, and for a viewer to take a path.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr int kSendTimeoutSeconds = 10;

// An exclusive lock on path, taken within kLockWait; an invalid descriptor when it cannot be had.
// The lock is held by the descriptor and goes with it.
UniqueFd TakeLock(const std::string& path) {
  UniqueFd lock(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock.valid()) return lock;
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) return UniqueFd();
    // Another start holds it only while it connects or binds: a few milliseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return lock;
}

bool AddressOf(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool SendAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// The inode of the socket file at path, 0 when there is none.
unsigned long long SocketInode(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return 0;
  return info.st_ino;
}

}  // namespace

struct AfxShellOpen::Connection {
  UniqueFd fd;
  std::unique_ptr<QSocketNotifier> pNotifier;
  std::string bytes;  // what arrived of a path not yet complete
};

AfxShellOpen::Start AfxShellOpen::Begin(const std::string& socketPath, const char* path,
                                        std::unique_ptr<AfxShellOpen>& server) {
  sockaddr_un address;
  if (!AddressOf(socketPath, address)) return Start::kBeside;
  const UniqueFd lock = TakeLock(socketPath + ".lock");
  if (!lock.valid()) return Start::kBeside;

  UniqueFd peer(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!peer.valid()) return Start::kBeside;
  if (connect(peer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    if (path == nullptr) return Start::kBeside;
    // Queued in the viewer's socket until its event loop reads it; a path is ended by a NUL,
    // the one byte no path holds.
    const timeval timeout{kSendTimeoutSeconds, 0};
    setsockopt(peer.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    if (SendAll(peer.get(), path, std::strlen(path) + 1)) return Start::kHandedOver;
    // The viewer went away meanwhile: this start takes its place.
  } else if (errno != ECONNREFUSED && errno != ENOENT) {
    return Start::kBeside;
  }

  // Nobody answers: a socket left there is one a viewer that is gone made.
  struct stat info {};
  if (lstat(socketPath.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode) || unlink(socketPath.c_str()) != 0) return Start::kBeside;
  }
  UniqueFd listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listening.valid()) return Start::kBeside;
  const mode_t previous = umask(0077);
  const bool bound = bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  umask(previous);
  if (!bound || listen(listening.get(), SOMAXCONN) != 0) return Start::kBeside;
  server.reset(new AfxShellOpen(socketPath, listening.release(), SocketInode(socketPath)));
  return Start::kListening;
}

AfxShellOpen::AfxShellOpen(std::string socketPath, int listenFd, unsigned long long socketInode)
    : m_socketPath(std::move(socketPath)), m_listenFd(listenFd), m_socketInode(socketInode) {}

void AfxShellOpen::Watch() {
  if (m_pListening != nullptr) return;
  m_pListening = std::make_unique<QSocketNotifier>(m_listenFd, QSocketNotifier::Read);
  QObject::connect(m_pListening.get(), &QSocketNotifier::activated, m_pListening.get(), [this] { Accept(); });
}

AfxShellOpen::~AfxShellOpen() {
  m_connections.clear();
  m_pListening.reset();
  {
    // Under the lock, so that a start deciding right now sees either this socket or none.
    const UniqueFd lock = TakeLock(m_socketPath + ".lock");
    if (lock.valid() && m_socketInode != 0 && SocketInode(m_socketPath) == m_socketInode) unlink(m_socketPath.c_str());
  }
  close(m_listenFd);
}

std::string AfxShellOpen::TakeReceived() {
  if (m_received.empty()) return {};
  std::string path = std::move(m_received.front());
  m_received.pop_front();
  return path;
}

void AfxShellOpen::Accept() {
  for (;;) {
    UniqueFd fd(accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // nothing more waiting (or no descriptor left: the sender gives up in time)
    }
    auto pConnection = std::make_unique<Connection>();
    Connection* pRaw = pConnection.get();
    pConnection->pNotifier = std::make_unique<QSocketNotifier>(fd.get(), QSocketNotifier::Read);
    QObject::connect(pConnection->pNotifier.get(), &QSocketNotifier::activated, pConnection->pNotifier.get(),
                     [this, pRaw] { Read(pRaw); });
    pConnection->fd = std::move(fd);
    m_connections.push_back(std::move(pConnection));
  }
}

void AfxShellOpen::Read(Connection* pConnection) {
  char block[4096];
  for (;;) {
    const ssize_t got = read(pConnection->fd.get(), block, sizeof(block));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      Drop(pConnection);  // the sender is done (or gone)
      return;
    }
    pConnection->bytes.append(block, static_cast<std::size_t>(got));
    for (std::size_t end = pConnection->bytes.find('\0'); end != std::string::npos; end = pConnection->bytes.find('\0')) {
      if (end > 0) m_received.push_back(pConnection->bytes.substr(0, end));
      pConnection->bytes.erase(0, end + 1);
    }
    // No path is that long: whatever sends it is no start of this program.
    if (pConnection->bytes.size() > kLongestPath) {
      Drop(pConnection);
      return;
    }
  }
}

void AfxShellOpen::Drop(Connection* pConnection) {
  const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                               [pConnection](const auto& each) { return each.get() == pConnection; });
  if (it == m_connections.end()) return;
  // The notifier is in the middle of its own signal: it goes once that is over.
  pConnection->pNotifier->setEnabled(false);
  pConnection->pNotifier.release()->deleteLater();
  m_connections.erase(it);
}
