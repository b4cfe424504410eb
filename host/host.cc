// The host side of a port: connect, map the server's segment, ask for shared blocks, send
// commands and wait for their replies. Every refusal sets errno and the failure reason.
#include "corvix/host.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/error.h"
#include "corvix/platform.h"
#include "host/host_internal.h"
#include "platform/memory.h"
#include "platform/protocol.h"

namespace corvix {
namespace {

constexpr int32_t kDefaultTimeoutMs = 5000;
std::atomic<int32_t> g_timeout_ms{-1};  // -1: not set by the caller

int32_t open_timeout_ms() {
  const int32_t set = g_timeout_ms.load();
  if (set >= 0) return set;
  if (const char *e = std::getenv("CORVIX_HOST_TIMEOUT_MS"); e != nullptr && *e != '\0') {
    char *end = nullptr;
    const long v = std::strtol(e, &end, 10);
    if (*end == '\0' && v >= 0 && v <= INT32_MAX) return static_cast<int32_t>(v);
  }
  return kDefaultTimeoutMs;
}

void set_timeouts(int fd, int32_t ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Sets the reason and errno; returns null / false for the caller to pass on.
Failed refuse(int err, int32_t error_class, const std::string &message) {
  const Failed f = fail(error_class, "%s", message.c_str());
  errno = err;
  return f;
}

// Receives the hello and maps the segment it carries.
bool take_hello(corvix_host *h, int32_t timeout_ms) {
  protocol::Reply hello{};
  errno = 0;
  const int seg = protocol::receive_hello(h->fd, &hello);
  const int err = errno;
  const std::string port = "port '" + h->port + "'";
  if (seg < 0) {
    if (err == EAGAIN || err == EWOULDBLOCK)
      return refuse(ETIMEDOUT, CORVIX_E_TIMEOUT,
                    port + " did not answer within " + std::to_string(timeout_ms) + " ms");
    if (hello.kind == protocol::kHello && hello.value == protocol::kMagic && hello.status < 0)
      return refuse(-hello.status, CORVIX_E_REFUSED,
                    port + " refused the connection: " +
                        (hello.status == protocol::kRefusedProcessLimit
                             ? "this process holds as many connections as the server allows"
                             : "the server holds as many connections as it allows"));
    return refuse(EPROTO, CORVIX_E_REFUSED, port + " did not answer as a corvix server does");
  }
  void *p = mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, seg, 0);
  close(seg);
  if (p == MAP_FAILED)
    return refuse(ENOMEM, CORVIX_E_NOMEM, "cannot map the shared segment of " + port);
  mprotect(p, kSegmentReserved, PROT_NONE);
  h->base = static_cast<uint8_t *>(p);
  return true;
}

// One request, one reply. A server that is gone shows as an end of file: -EPIPE.
int32_t round_trip(corvix_host *h, const protocol::Request &req, uint32_t *value,
                   uint32_t *owner = nullptr) {
  if (h == nullptr) {
    set_error(CORVIX_E_INVALID, "no host connection");
    return -EINVAL;
  }
  std::lock_guard<std::mutex> g(h->lock);
  const auto gone = [h] {
    if (h->fd >= 0) close(h->fd);
    h->fd = -1;
    set_error(CORVIX_E_REFUSED, "the server of port '%s' is gone", h->port.c_str());
    return -EPIPE;
  };
  if (h->fd < 0) return gone();
  if (send(h->fd, &req, sizeof req, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof req))
    return gone();
  protocol::Reply r{};
  ssize_t n;
  do {
    n = recv(h->fd, &r, sizeof r, 0);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof r)) return gone();
  if (value != nullptr) *value = r.value;
  if (owner != nullptr) *owner = r.owner;
  return r.status;
}

}  // namespace

corvix_host *connect_host(const std::string &name) {
  std::string error;
  const std::string path = protocol::socket_path(name, &error);
  if (path.empty())
    return refuse(errno == ENAMETOOLONG ? ENAMETOOLONG : EINVAL, CORVIX_E_INVALID, error);
  const int32_t timeout = open_timeout_ms();
  auto *h = new corvix_host;
  h->port = name;
  h->fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  bool ok = h->fd >= 0;
  if (!ok) {
    refuse(errno, CORVIX_E_IO, std::string("cannot make a socket: ") + std::strerror(errno));
  } else {
    // The wait for a connection and for the hello is bounded; commands later wait as long
    // as the server works on them.
    set_timeouts(h->fd, timeout);
    if (connect(h->fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
      const int err = errno;
      ok = false;
      if (err == EAGAIN || err == EINPROGRESS || err == ETIMEDOUT)
        refuse(ETIMEDOUT, CORVIX_E_TIMEOUT,
               "port '" + name + "' did not accept within " + std::to_string(timeout) + " ms");
      else
        refuse(err, CORVIX_E_REFUSED,
               "no server serves port '" + name + "' (" + path + "): " + std::strerror(err));
    } else {
      ok = take_hello(h, timeout);
      if (ok) set_timeouts(h->fd, 0);
    }
  }
  if (!ok) {
    const int err = errno;
    if (h->fd >= 0) close(h->fd);
    delete h;
    errno = err;
    return nullptr;
  }
  return h;
}

}  // namespace corvix

extern "C" {

corvix_host *corvix_host_open(const char *port_name) {
  if (port_name == nullptr) return corvix::refuse(EINVAL, CORVIX_E_INVALID, "no port name");
  return corvix::connect_host(port_name);
}

void corvix_host_set_timeout(int32_t milliseconds) {
  corvix::g_timeout_ms.store(milliseconds < 0 ? -1 : milliseconds);
}

void corvix_host_close(corvix_host *host) {
  if (host == nullptr) return;
  if (host->server.joinable()) {
    const uint32_t block = corvix_host_alloc(host, 4, MEMF_CLEAR);
    if (block != 0 && corvix_host_send(host, 0, block) == 0)
      host->server.join();
    else
      host->server.detach();
  }
  if (host->fd >= 0) close(host->fd);
  if (host->base != nullptr) munmap(host->base, corvix::kSegmentSize);
  delete host;
}

uint32_t corvix_host_alloc(corvix_host *host, uint32_t size, uint32_t attr) {
  uint32_t addr = 0;
  const int32_t status = corvix::round_trip(host, {corvix::protocol::kAlloc, 0, size, attr}, &addr);
  if (status == -ENOMEM)
    corvix::set_error(CORVIX_E_NOMEM,
                      "the server refused %u bytes: this host process's quota or the shared "
                      "segment is full",
                      size);
  return status == 0 ? addr : 0;
}

void corvix_host_free(corvix_host *host, uint32_t address) {
  const int32_t status =
      corvix::round_trip(host, {corvix::protocol::kFree, 0, address, 0}, nullptr);
  if (status == -EINVAL)
    corvix::set_error(CORVIX_E_REFUSED, "address %u is not the start of a live block", address);
  else if (status == -EPERM)
    corvix::set_error(CORVIX_E_REFUSED, "block %u belongs to another host", address);
}

void *corvix_host_pointer(corvix_host *host, uint32_t address) {
  if (host == nullptr || address == 0) return nullptr;
  return host->base + address;
}

int32_t corvix_host_send(corvix_host *host, int32_t code, uint32_t block) {
  const int32_t status =
      corvix::round_trip(host, {corvix::protocol::kSend, code, block, 0}, nullptr);
  if (status == -EFAULT)
    corvix::set_error(CORVIX_E_REFUSED,
                      "command %d: the argument block %u is not a live block of this host "
                      "large enough for the words the command reads",
                      code, block);
  else if (status < 0 && status != -EPIPE && status != -EINVAL)
    corvix::set_error(CORVIX_E_REFUSED, "command %d refused: %s", code, std::strerror(-status));
  return status;
}

int32_t corvix_host_stats(corvix_host *host, uint32_t *server_blocks, uint32_t *host_blocks) {
  uint32_t all = 0, mine = 0;
  const int32_t status = corvix::round_trip(host, {corvix::protocol::kStats, 0, 0, 0}, &all, &mine);
  if (server_blocks != nullptr) *server_blocks = all;
  if (host_blocks != nullptr) *host_blocks = mine;
  return status;
}

const char *corvix_host_port_name(const corvix_host *host) {
  return host == nullptr ? nullptr : host->port.c_str();
}

}  // extern "C"
