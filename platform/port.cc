// Named message ports over Unix-domain sockets. The port's owner process listens on
// <runtime dir>/<name>; a lock file held with flock makes the name its own, so a second
// server cannot steal it and a crashed server's name can be taken again. Hosts connect, get
// the segment's descriptor, and then send fixed-size requests: memory requests are served
// inside PPCWaitPort, commands are queued as messages for the server loop.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "corvix/platform.h"
#include "platform/memory.h"
#include "platform/port.h"
#include "platform/protocol.h"

namespace corvix {
namespace {

struct Connection {
  int fd = -1;
  uint32_t owner = 0;
  bool dead = false;
  int in_work = 0;  // messages taken and not yet replied
};

std::atomic<uint32_t> g_next_owner{1};

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
  std::unordered_map<int, std::shared_ptr<corvix::Connection>> conns;
  std::deque<PPCMessage *> queue;
};

namespace corvix {

namespace protocol {

std::string runtime_dir(std::string *error) {
  std::string dir;
  if (const char *d = std::getenv("CORVIX_RUNTIME_DIR"); d != nullptr && *d != '\0') {
    dir = d;
  } else if (const char *x = std::getenv("XDG_RUNTIME_DIR"); x != nullptr && *x != '\0') {
    dir = std::string(x) + "/corvix";
  } else {
    dir = "/tmp/corvix-" + std::to_string(geteuid());
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot make runtime directory " + dir + ": " + std::strerror(errno);
    return {};
  }
  struct stat st{};
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
  if (name.empty() || name.size() > 200 || name.find('/') != std::string::npos ||
      name == "." || name == "..") {
    *error = "bad port name '" + name + "'";
    return {};
  }
  std::string dir = runtime_dir(error);
  if (dir.empty()) return {};
  std::string path = dir + "/" + name;
  if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
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

// Replies never block the server: a host that does not read its replies loses its
// connection instead.
bool send_reply(int fd, const protocol::Reply &r) {
  return send(fd, &r, sizeof r, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(sizeof r);
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
// pages are not returned then.
void drop(PPCPort *port, std::shared_ptr<Connection> conn, bool host_gone = true) {
  epoll_ctl(port->epoll_fd, EPOLL_CTL_DEL, conn->fd, nullptr);
  port->conns.erase(conn->fd);
  close(conn->fd);
  conn->fd = -1;
  conn->dead = true;
  forget_messages(port, conn.get());
  if (conn->in_work == 0) release_owner(conn->owner, host_gone);
}

void accept_hosts(PPCPort *port) {
  for (;;) {
    const int fd = accept4(port->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
      close(fd);
      continue;
    }
    auto conn = std::make_shared<Connection>();
    conn->fd = fd;
    conn->owner = g_next_owner.fetch_add(1);
    // The hello carries the segment's descriptor.
    const protocol::Reply hello{protocol::kHello, 0, protocol::kMagic, conn->owner};
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.fd = fd;
    if (!protocol::send_hello(fd, hello, segment().fd) ||
        epoll_ctl(port->epoll_fd, EPOLL_CTL_ADD, fd, &ev) != 0) {
      close(fd);
      continue;
    }
    port->conns.emplace(fd, std::move(conn));
  }
}

// Takes one request from a ready connection: memory requests are answered at once, commands
// are queued. Plain recv without a control buffer: descriptors a host sends are dropped.
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
  protocol::Request req{};
  if (n != static_cast<ssize_t>(sizeof req)) {
    if (!send_reply(conn->fd, {0, -EPROTO, 0, 0})) drop(port, conn);
    return;
  }
  std::memcpy(&req, buf, sizeof req);
  protocol::Reply reply{req.kind, 0, 0, 0};
  switch (req.kind) {
    case protocol::kSend:
      port->queue.push_back(new PPCMessage{conn, req.code, req.arg0, 0});
      return;
    case protocol::kAlloc:
      reply.value = alloc_for(conn->owner, req.arg0, req.arg1);
      reply.status = reply.value != 0 ? 0 : -ENOMEM;
      break;
    case protocol::kFree:
      reply.status = free_for(conn->owner, req.arg0);
      break;
    case protocol::kStats: {
      uint64_t blocks = 0;
      corvix_alloc_stats(&blocks, nullptr);
      reply.value = static_cast<uint32_t>(blocks);
      reply.owner = static_cast<uint32_t>(owner_blocks(conn->owner));
      break;
    }
    default:
      reply.status = -EPROTO;
      break;
  }
  if (!send_reply(conn->fd, reply)) drop(port, conn);
}

}  // namespace

uint32_t message_owner(const PPCMessage *msg) { return msg->conn->owner; }
void set_message_status(PPCMessage *msg, int32_t status) { msg->status = status; }

}  // namespace corvix

extern "C" {

PPCPort *PPCCreatePort(const PPCTagItem *tags) {
  const char *name = nullptr;
  for (const PPCTagItem *t = tags; t != nullptr && t->ti_Tag != TAG_END; ++t)
    if (t->ti_Tag == PPCPORTTAG_NAME) name = reinterpret_cast<const char *>(t->ti_Data);
  if (name == nullptr) return nullptr;
  std::string error;
  const std::string path = corvix::protocol::socket_path(name, &error);
  if (path.empty()) return nullptr;
  corvix::segment();  // made (and sealed) before any host can connect

  auto port = std::make_unique<PPCPort>();
  port->path = path;
  const mode_t old_mask = umask(077);
  port->lock_fd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  bool ok = port->lock_fd >= 0 && flock(port->lock_fd, LOCK_EX | LOCK_NB) == 0;
  if (ok) {
    // The name is ours: a socket left by a dead holder can go.
    unlink(path.c_str());
    port->listen_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_un a = corvix::address_of(path);
    ok = port->listen_fd >= 0 &&
         bind(port->listen_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 &&
         listen(port->listen_fd, 64) == 0;
  }
  umask(old_mask);
  if (ok) {
    port->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = port->listen_fd;
    ok = port->epoll_fd >= 0 && epoll_ctl(port->epoll_fd, EPOLL_CTL_ADD, port->listen_fd, &ev) == 0;
    if (!ok) unlink(path.c_str());
  }
  if (!ok) {
    if (port->epoll_fd >= 0) close(port->epoll_fd);
    if (port->listen_fd >= 0) close(port->listen_fd);
    if (port->lock_fd >= 0) close(port->lock_fd);
    return nullptr;
  }
  return port.release();
}

uint32_t PPCWaitPort(PPCPort *port) {
  // One request per ready connection per turn, so a flooding host cannot starve the others.
  while (port->queue.empty()) {
    epoll_event events[32];
    // Freed pages go back to the system once the port has been idle for a moment.
    const int n = epoll_wait(port->epoll_fd, events, 32, corvix::trim_pending() ? 2000 : -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (n == 0) corvix::trim_segment();
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == port->listen_fd) {
        corvix::accept_hosts(port);
        continue;
      }
      auto it = port->conns.find(fd);
      if (it == port->conns.end()) continue;
      const std::shared_ptr<corvix::Connection> conn = it->second;
      corvix::serve_connection(port, conn);
    }
  }
  return 1;
}

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

void PPCReplyMessage(PPCMessage *msg) {
  corvix::Connection &conn = *msg->conn;
  --conn.in_work;
  if (!conn.dead) {
    corvix::protocol::Reply r{corvix::protocol::kSend, msg->status, 0, 0};
    corvix::send_reply(conn.fd, r);  // a host that is gone shows as a hang-up next turn
  } else if (conn.in_work == 0) {
    corvix::release_owner(conn.owner);
  }
  delete msg;
}

uint32_t PPCDeletePort(PPCPort *port) {
  if (port == nullptr) return 0;
  // Every other host waiting on this port sees its connection close: its send fails at once.
  while (!port->conns.empty()) corvix::drop(port, port->conns.begin()->second, false);
  for (PPCMessage *m : port->queue) delete m;
  unlink(port->path.c_str());
  close(port->listen_fd);
  close(port->epoll_fd);
  close(port->lock_fd);  // releases the name
  delete port;
  return 1;
}

void PPCCacheFlushAll(void) { std::atomic_thread_fence(std::memory_order_seq_cst); }

}  // extern "C"
