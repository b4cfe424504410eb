// Named message ports over Unix-domain sockets. The port's owner process listens on
// <runtime dir>/<name>; a lock file held with flock makes the name its own, so a second
// server cannot steal it and a crashed server's name can be taken again. Hosts connect, get
// the segment's descriptor, and then send fixed-size requests: memory requests are served
// inside PPCWaitPort, commands are queued as messages for the server loop.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/error.h"
#include "corvix/platform.h"
#include "platform/memory.h"
#include "platform/port.h"
#include "platform/protocol.h"

namespace corvix {
namespace {

// One host connection. A connection has at most one request in work: from the moment its
// request is read until its reply is delivered it is not read from, so a host that floods
// requests without reading replies stalls only itself, and no reply is ever dropped.
struct Connection {
  PPCPort *port = nullptr;
  int fd = -1;
  uint32_t owner = 0;
  pid_t pid = 0;
  bool dead = false;
  int in_work = 0;           // messages taken and not yet replied
  bool busy = false;         // a request is queued, in work or waiting for its reply to go
  bool has_pending = false;  // a reply that could not be sent yet
  protocol::Reply pending{};
  uint32_t events = 0;  // what epoll watches for now
  // A cleared allocation still being cleared in slices: [clear_at, clear_end) of its block.
  uint32_t clear_block = 0;
  uint64_t clear_at = 0, clear_end = 0;
};

PortLimits g_limits;
std::atomic<int> g_stop_signal{0};
bool g_stop_installed = false;
sigset_t g_wait_mask;  // the thread's mask with the stop signals let through

// Bytes of background work (clearing, giving pages back) between two looks at the hosts.
constexpr uint64_t kSlice = uint64_t{8} << 20;
// Cleared allocations at least this large are cleared in slices between other hosts' turns.
constexpr uint64_t kClearInSlices = uint64_t{4} << 20;

}  // namespace
}  // namespace corvix

struct PPCMessage {
  std::shared_ptr<corvix::Connection> conn;
  int32_t code;
  uint32_t block;
  int32_t status;
};

struct PPCPort {
  std::string path;
  int lock_fd = -1;
  int listen_fd = -1;
  int epoll_fd = -1;
  int wake_fd = -1;        // an eventfd any thread may write to end a wait
  bool listening = false;  // the listening socket is watched
  int max_total = 0, max_per_process = 0;
  std::unordered_map<int, std::shared_ptr<corvix::Connection>> conns;
  std::unordered_map<pid_t, int> per_process;
  std::deque<PPCMessage *> queue;
  std::deque<std::shared_ptr<corvix::Connection>> clearing;
};

namespace corvix {

namespace protocol {

std::string runtime_dir_path() {
  if (const char *d = std::getenv("CORVIX_RUNTIME_DIR"); d != nullptr && *d != '\0') return d;
  if (const char *x = std::getenv("XDG_RUNTIME_DIR"); x != nullptr && *x != '\0')
    return std::string(x) + "/corvix";
  return "/tmp/corvix-" + std::to_string(geteuid());
}

std::string runtime_dir(std::string *error) {
  const std::string dir = runtime_dir_path();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot make runtime directory " + dir + ": " + std::strerror(errno);
    return {};
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) {
    *error = "cannot inspect runtime directory " + dir + ": " + std::strerror(errno);
    return {};
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    *error = "runtime directory " + dir +
             " is not a directory of this user closed to others (mode 0700)";
    return {};
  }
  return dir;
}

std::string socket_path(const std::string &name, std::string *error) {
  if (name.empty() || name.size() > 200 || name.find('/') != std::string::npos || name == "." ||
      name == "..") {
    *error = "bad port name '" + name + "'";
    return {};
  }
  std::string dir = runtime_dir(error);
  if (dir.empty()) return {};
  std::string path = dir + "/" + name;
  // Room for the name the server binds before it renames the socket into place.
  if (path.size() + 4 >= sizeof(sockaddr_un{}.sun_path)) {
    *error = "socket path too long (" + std::to_string(path.size()) + " bytes): " + path;
    errno = ENAMETOOLONG;
    return {};
  }
  return path;
}

}  // namespace protocol

namespace {

sockaddr_un address_of(const std::string &path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  return a;
}

void watch(PPCPort *port, Connection &conn) {
  uint32_t want = EPOLLRDHUP;
  if (conn.has_pending)
    want |= EPOLLOUT;
  else if (!conn.busy)
    want |= EPOLLIN;
  if (want == conn.events) return;
  epoll_event ev{};
  ev.events = want;
  ev.data.fd = conn.fd;
  epoll_ctl(port->epoll_fd, EPOLL_CTL_MOD, conn.fd, &ev);
  conn.events = want;
}

void watch_listener(PPCPort *port, bool on) {
  if (on == port->listening) return;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = port->listen_fd;
  epoll_ctl(port->epoll_fd, on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, port->listen_fd, &ev);
  port->listening = on;
}

void forget_messages(PPCPort *port, const Connection *conn) {
  for (auto it = port->queue.begin(); it != port->queue.end();) {
    if ((*it)->conn.get() == conn) {
      delete *it;
      it = port->queue.erase(it);
    } else {
      ++it;
    }
  }
}

// A connection that hung up or misbehaved: its queued messages are dropped and its blocks
// reclaimed, unless a message of it is still in work (then at that message's reply). A host
// that is still alive (the port is being deleted) keeps reading what its blocks held: their
// pages are not returned then. A listener paused at the descriptor limit listens again.
void drop(PPCPort *port, std::shared_ptr<Connection> conn, bool host_gone = true) {
  epoll_ctl(port->epoll_fd, EPOLL_CTL_DEL, conn->fd, nullptr);
  port->conns.erase(conn->fd);
  if (--port->per_process[conn->pid] <= 0) port->per_process.erase(conn->pid);
  close(conn->fd);
  conn->fd = -1;
  conn->dead = true;
  conn->has_pending = false;
  forget_messages(port, conn.get());
  std::erase(port->clearing, conn);
  if (conn->in_work == 0) retire_owner(conn->owner, host_gone);
  if (host_gone) watch_listener(port, true);
}

// Sends a reply now, or keeps it until the host reads (the connection is watched for room
// to write meanwhile, not for input). A host that is gone is dropped.
void deliver(PPCPort *port, const std::shared_ptr<Connection> &conn, const protocol::Reply &r) {
  const ssize_t n = send(conn->fd, &r, sizeof r, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n == static_cast<ssize_t>(sizeof r)) {
    conn->busy = false;
    conn->has_pending = false;
  } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    conn->busy = true;
    conn->has_pending = true;
    conn->pending = r;
  } else {
    drop(port, conn);
    return;
  }
  watch(port, *conn);
}

void refuse(int fd, int32_t status) {
  const protocol::Reply no{protocol::kHello, status, protocol::kMagic, 0};
  send(fd, &no, sizeof no, MSG_NOSIGNAL | MSG_DONTWAIT);
  close(fd);
}

void accept_hosts(PPCPort *port) {
  for (;;) {
    const int fd = accept4(port->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: stop watching the listener until a connection closes, instead of
      // waking up for the same waiting host again and again. Hosts waiting meanwhile give up
      // after their own timeout.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        watch_listener(port, false);
      return;
    }
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
      close(fd);
      continue;
    }
    if (static_cast<int>(port->conns.size()) >= port->max_total) {
      refuse(fd, protocol::kRefusedServerLimit);
      continue;
    }
    auto found = port->per_process.find(cred.pid);
    if (found != port->per_process.end() && found->second >= port->max_per_process) {
      refuse(fd, protocol::kRefusedProcessLimit);
      continue;
    }
    // Connections of one host process share its quota; this process's own connections (an
    // embedded server's host) keep a quota each.
    const uint32_t owner =
        acquire_owner(cred.pid == getpid() ? 0 : static_cast<uint64_t>(cred.pid));
    if (owner == 0) {
      refuse(fd, protocol::kRefusedServerLimit);
      continue;
    }
    auto conn = std::make_shared<Connection>();
    conn->port = port;
    conn->fd = fd;
    conn->owner = owner;
    conn->pid = cred.pid;
    conn->events = EPOLLIN | EPOLLRDHUP;
    // The hello carries the segment's descriptor.
    const protocol::Reply hello{protocol::kHello, 0, protocol::kMagic, conn->owner};
    epoll_event ev{};
    ev.events = conn->events;
    ev.data.fd = fd;
    if (!protocol::send_hello(fd, hello, segment().fd) ||
        epoll_ctl(port->epoll_fd, EPOLL_CTL_ADD, fd, &ev) != 0) {
      close(fd);
      retire_owner(owner, false);
      continue;
    }
    ++port->per_process[cred.pid];
    port->conns.emplace(fd, std::move(conn));
  }
}

// Takes one request from a ready connection: memory requests are answered at once (a large
// cleared block once it is cleared), commands are queued. Plain recv without a control
// buffer: descriptors a host sends are dropped.
void serve_connection(PPCPort *port, const std::shared_ptr<Connection> &conn) {
  unsigned char buf[64];
  const ssize_t n = recv(conn->fd, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC);
  if (n < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) drop(port, conn);
    return;
  }
  if (n == 0) {
    drop(port, conn);
    return;
  }
  conn->busy = true;
  protocol::Request req{};
  if (n != static_cast<ssize_t>(sizeof req)) {
    deliver(port, conn, {0, -EPROTO, 0, 0});
    return;
  }
  std::memcpy(&req, buf, sizeof req);
  protocol::Reply reply{req.kind, 0, 0, 0};
  switch (req.kind) {
    case protocol::kSend:
      port->queue.push_back(new PPCMessage{conn, req.code, req.arg0, 0});
      watch(port, *conn);
      return;
    case protocol::kAlloc:
      reply.value = alloc_for(conn->owner, req.arg0, req.arg1 & ~MEMF_CLEAR);
      reply.status = reply.value != 0 ? 0 : -ENOMEM;
      if (reply.value != 0 && (req.arg1 & MEMF_CLEAR) != 0) {
        if (req.arg0 >= kClearInSlices) {
          conn->clear_block = reply.value;
          conn->clear_at = reply.value;
          conn->clear_end = uint64_t{reply.value} + req.arg0;
          port->clearing.push_back(conn);
          watch(port, *conn);
          return;
        }
        clear_range(reply.value, req.arg0, req.arg0);
      }
      break;
    case protocol::kFree: reply.status = free_for(conn->owner, req.arg0); break;
    case protocol::kStats: {
      uint64_t blocks = 0;
      corvix_alloc_stats(&blocks, nullptr);
      reply.value = static_cast<uint32_t>(blocks);
      reply.owner = static_cast<uint32_t>(owner_blocks(conn->owner));
      break;
    }
    default: reply.status = -EPROTO; break;
  }
  deliver(port, conn, reply);
}

// One slice of background work: clearing the oldest pending cleared block, else giving
// freed pages back. False when there was nothing to do.
bool background_slice(PPCPort *port) {
  if (!port->clearing.empty()) {
    std::shared_ptr<Connection> conn = port->clearing.front();
    port->clearing.pop_front();
    // Slices end on page boundaries, so only the block's own ends are partial pages.
    const uint64_t stop = std::min(conn->clear_end, (conn->clear_at + kSlice) / 4096 * 4096);
    clear_range(conn->clear_at, stop - conn->clear_at, conn->clear_end - conn->clear_block);
    conn->clear_at = stop;
    if (stop < conn->clear_end) {
      port->clearing.push_back(conn);
    } else {
      deliver(port, conn, {protocol::kAlloc, 0, conn->clear_block, 0});
    }
    return true;
  }
  return trim_due() && (trim_step(kSlice), true);
}

void note_stop(int sig) { g_stop_signal.store(sig); }

}  // namespace

uint32_t message_owner(const PPCMessage *msg) { return msg->conn->owner; }
void set_message_status(PPCMessage *msg, int32_t status) { msg->status = status; }

void set_port_limits(const PortLimits &limits) { g_limits = limits; }

void stop_on_signals() {
  sigset_t stops;
  sigemptyset(&stops);
  struct sigaction sa {};
  sa.sa_handler = note_stop;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(sig, &sa, nullptr);
    sigaddset(&stops, sig);
  }
  // Held back while a command runs; let through only while the port waits, so a stop is
  // never lost between a check and the wait.
  pthread_sigmask(SIG_BLOCK, &stops, &g_wait_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&g_wait_mask, sig);
  g_stop_installed = true;
}

int stop_signal() { return g_stop_signal.load(); }

uint32_t wait_port(PPCPort *port, bool take) {
  // One request per ready connection per turn, so a flooding host cannot starve the others;
  // background work goes in slices between turns.
  for (;;) {
    if (g_stop_signal.load() != 0) return 0;
    const bool background = !port->clearing.empty() || trim_due();
    const bool ready = take && !port->queue.empty();
    // Freed pages go back to the system once the port has been idle for a moment.
    const int timeout = ready || background ? 0 : take && trim_pending() ? 2000 : -1;
    epoll_event events[32];
    const int n = epoll_pwait(port->epoll_fd, events, 32, timeout,
                              g_stop_installed ? &g_wait_mask : nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    bool woken = false;
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == port->listen_fd) {
        accept_hosts(port);
        continue;
      }
      if (fd == port->wake_fd) {
        uint64_t count = 0;
        woken = read(fd, &count, sizeof count) == sizeof count || woken;
        continue;
      }
      auto it = port->conns.find(fd);
      if (it == port->conns.end()) continue;
      const std::shared_ptr<Connection> conn = it->second;
      const uint32_t ev = events[i].events;
      if ((ev & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0) {
        drop(port, conn);
      } else if ((ev & EPOLLOUT) != 0 && conn->has_pending) {
        deliver(port, conn, conn->pending);
      } else if ((ev & EPOLLIN) != 0 && !conn->busy) {
        serve_connection(port, conn);
      }
    }
    if (background) {
      background_slice(port);
    } else if (n == 0 && timeout > 0) {
      request_trim();
    }
    if (woken || (take && !port->queue.empty())) return 1;
  }
}

void wake_port(PPCPort *port) {
  const uint64_t one = 1;
  // The counter only grows; a full counter still wakes the waiter.
  [[maybe_unused]] const ssize_t n = write(port->wake_fd, &one, sizeof one);
}

PPCPort *open_port(const char *name, PortFailure *why) {
  const auto failed = [why](bool taken, std::string reason) -> PPCPort * {
    why->taken = taken;
    why->reason = std::move(reason);
    return nullptr;
  };
  if (name == nullptr) return failed(false, "no port name");
  std::string error;
  const std::string path = protocol::socket_path(name, &error);
  if (path.empty()) return failed(false, error);
  segment();  // made (and sealed) before any host can connect

  auto port = std::make_unique<PPCPort>();
  port->path = path;
  const std::string lock_path = path + ".lock";
  const mode_t old_mask = umask(077);
  // The lock file is removed by the holder at its end: a lock taken on a file that is no
  // longer the one under the name is worth nothing, so look again.
  for (int attempt = 0; attempt < 100 && port->lock_fd < 0; ++attempt) {
    const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      error = "cannot open " + lock_path + ": " + std::strerror(errno);
      break;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const bool busy = errno == EWOULDBLOCK;
      error = busy ? "already served by another server" : "cannot lock " + lock_path;
      close(fd);
      umask(old_mask);
      return failed(busy, error);
    }
    struct stat held {
    }, named{};
    if (fstat(fd, &held) == 0 && stat(lock_path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      port->lock_fd = fd;
    } else {
      close(fd);
    }
  }
  bool ok = port->lock_fd >= 0;
  if (ok) {
    // The name is ours: a socket left by a dead holder can go. The socket is made under a
    // second name and renamed into place once it listens, so a host that finds the name can
    // connect at once.
    const std::string fresh = path + ".new";
    unlink(fresh.c_str());
    port->listen_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_un a = address_of(fresh);
    ok = port->listen_fd >= 0 &&
         bind(port->listen_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 &&
         listen(port->listen_fd, 64) == 0 && rename(fresh.c_str(), path.c_str()) == 0;
    if (!ok) {
      error = "cannot listen on " + path + ": " + std::strerror(errno);
      unlink(fresh.c_str());
    }
  }
  umask(old_mask);
  if (ok) {
    port->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    port->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = port->wake_fd;
    ok = port->epoll_fd >= 0 && port->wake_fd >= 0 &&
         epoll_ctl(port->epoll_fd, EPOLL_CTL_ADD, port->wake_fd, &ev) == 0;
    if (ok) watch_listener(port.get(), true);
    ok = ok && port->listening;
    if (!ok) {
      error = std::string("cannot watch the socket: ") + std::strerror(errno);
      unlink(path.c_str());
    }
  }
  if (!ok) {
    if (port->epoll_fd >= 0) close(port->epoll_fd);
    if (port->wake_fd >= 0) close(port->wake_fd);
    if (port->listen_fd >= 0) close(port->listen_fd);
    if (port->lock_fd >= 0) {
      unlink(lock_path.c_str());
      close(port->lock_fd);
    }
    return failed(false, error);
  }
  // Limits: a few descriptors stay free for the server's own files.
  rlimit nofile{};
  getrlimit(RLIMIT_NOFILE, &nofile);
  const auto room = static_cast<int>(std::min<rlim_t>(nofile.rlim_cur, 1 << 20)) - 16;
  port->max_total = g_limits.total > 0 ? g_limits.total : std::max(1, std::min(room, 4096));
  port->max_per_process = std::max(1, g_limits.per_process);
  set_trim_in_slices(true);
  return port.release();
}

}  // namespace corvix

extern "C" {

PPCPort *PPCCreatePort(const PPCTagItem *tags) {
  const char *name = nullptr;
  for (const PPCTagItem *t = tags; t != nullptr && t->ti_Tag != TAG_END; ++t)
    if (t->ti_Tag == PPCPORTTAG_NAME) name = reinterpret_cast<const char *>(t->ti_Data);
  corvix::PortFailure why;
  PPCPort *port = corvix::open_port(name, &why);
  if (port == nullptr)
    corvix::set_error(why.taken ? CORVIX_E_REFUSED : CORVIX_E_IO, "port '%s': %s",
                      name != nullptr ? name : "", why.reason.c_str());
  return port;
}

uint32_t PPCWaitPort(PPCPort *port) { return corvix::wait_port(port, true); }

PPCMessage *PPCGetMessage(PPCPort *port) {
  if (port->queue.empty()) return nullptr;
  PPCMessage *msg = port->queue.front();
  port->queue.pop_front();
  ++msg->conn->in_work;
  return msg;
}

uint32_t PPCGetMessageAttr(PPCMessage *msg, uint32_t tag) {
  switch (tag) {
    case PPCMSGTAG_MSGID: return static_cast<uint32_t>(msg->code);
    case PPCMSGTAG_DATA: return msg->block;
    default: return 0;
  }
}

// The reply is delivered, or kept until the host reads: never dropped while the host lives.
void PPCReplyMessage(PPCMessage *msg) {
  const std::shared_ptr<corvix::Connection> conn = msg->conn;
  --conn->in_work;
  if (!conn->dead) {
    corvix::deliver(conn->port, conn, {corvix::protocol::kSend, msg->status, 0, 0});
  } else if (conn->in_work == 0) {
    corvix::retire_owner(conn->owner);
  }
  delete msg;
}

uint32_t PPCDeletePort(PPCPort *port) {
  if (port == nullptr) return 0;
  // Every other host waiting on this port sees its connection close: its send fails at once.
  while (!port->conns.empty()) corvix::drop(port, port->conns.begin()->second, false);
  for (PPCMessage *m : port->queue) delete m;
  // Nothing of the name is left behind: the socket, then the lock file while still held.
  unlink(port->path.c_str());
  unlink((port->path + ".lock").c_str());
  close(port->listen_fd);
  close(port->epoll_fd);
  close(port->wake_fd);
  close(port->lock_fd);  // releases the name
  corvix::set_trim_in_slices(false);
  delete port;
  return 1;
}

void PPCCacheFlushAll(void) { std::atomic_thread_fence(std::memory_order_seq_cst); }

}  // extern "C"
