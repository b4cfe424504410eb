// The host side of a port: connect, map the server's segment, ask for shared blocks, send
// commands and wait for their replies.
#include "corvix/host.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "corvix/platform.h"
#include "platform/memory.h"
#include "platform/protocol.h"
#include "server/server.h"

struct corvix_host {
  int fd = -1;
  uint8_t *base = nullptr;
  std::string port;
  std::mutex lock;  // one request in flight per connection
  std::thread server;  // the embedded server, if any
};

namespace corvix {
namespace {

// Receives the hello and maps the segment it carries.
bool take_hello(corvix_host *h) {
  protocol::Reply hello{};
  const int seg = protocol::receive_hello(h->fd, &hello);
  if (seg < 0) return false;
  void *p = mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE,
                 seg, 0);
  close(seg);
  if (p == MAP_FAILED) return false;
  mprotect(p, kSegmentReserved, PROT_NONE);
  h->base = static_cast<uint8_t *>(p);
  return true;
}

// One request, one reply. A server that is gone shows as an end of file: -EPIPE.
int32_t round_trip(corvix_host *h, const protocol::Request &req, uint32_t *value,
                   uint32_t *owner = nullptr) {
  std::lock_guard<std::mutex> g(h->lock);
  if (h->fd < 0) return -EPIPE;
  if (send(h->fd, &req, sizeof req, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof req))
    return -EPIPE;
  protocol::Reply r{};
  ssize_t n;
  do {
    n = recv(h->fd, &r, sizeof r, 0);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof r)) {
    close(h->fd);
    h->fd = -1;
    return -EPIPE;
  }
  if (value != nullptr) *value = r.value;
  if (owner != nullptr) *owner = r.owner;
  return r.status;
}

corvix_host *connect_to(const std::string &name) {
  std::string error;
  const std::string path = protocol::socket_path(name, &error);
  if (path.empty()) return nullptr;
  auto *h = new corvix_host;
  h->port = name;
  h->fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  if (h->fd < 0 || connect(h->fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      !take_hello(h)) {
    if (h->fd >= 0) close(h->fd);
    delete h;
    return nullptr;
  }
  return h;
}

std::atomic<uint32_t> g_embedded{0};

}  // namespace
}  // namespace corvix

extern "C" {

corvix_host *corvix_host_open(const char *port_name) {
  if (port_name == nullptr) return nullptr;
  return corvix::connect_to(port_name);
}

corvix_host *corvix_host_embedded(void) {
  const std::string name = "embedded-" + std::to_string(getpid()) + "-" +
                           std::to_string(corvix::g_embedded.fetch_add(1));
  const PPCTagItem tags[] = {{PPCPORTTAG_NAME, reinterpret_cast<uintptr_t>(name.c_str())},
                             {TAG_END, 0}};
  PPCPort *port = PPCCreatePort(tags);
  if (port == nullptr) return nullptr;
  std::thread server([port] { corvix::serve(port); });
  corvix_host *h = corvix::connect_to(name);
  if (h == nullptr) {
    // Nobody else knows the private name: quit the server through a connection of our own.
    corvix_host *q = corvix::connect_to(name);
    if (q != nullptr) {
      const uint32_t block = corvix_host_alloc(q, 4, MEMF_CLEAR);
      corvix_host_send(q, 0, block);
      corvix_host_close(q);
    }
    if (q != nullptr) server.join(); else server.detach();
    return nullptr;
  }
  h->server = std::move(server);
  return h;
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
  const int32_t status =
      corvix::round_trip(host, {corvix::protocol::kAlloc, 0, size, attr}, &addr);
  return status == 0 ? addr : 0;
}

void corvix_host_free(corvix_host *host, uint32_t address) {
  corvix::round_trip(host, {corvix::protocol::kFree, 0, address, 0}, nullptr);
}

void *corvix_host_pointer(corvix_host *host, uint32_t address) {
  if (host == nullptr || address == 0) return nullptr;
  return host->base + address;
}

int32_t corvix_host_send(corvix_host *host, int32_t code, uint32_t block) {
  return corvix::round_trip(host, {corvix::protocol::kSend, code, block, 0}, nullptr);
}

int32_t corvix_host_stats(corvix_host *host, uint32_t *server_blocks, uint32_t *host_blocks) {
  uint32_t all = 0, mine = 0;
  const int32_t status =
      corvix::round_trip(host, {corvix::protocol::kStats, 0, 0, 0}, &all, &mine);
  if (server_blocks != nullptr) *server_blocks = all;
  if (host_blocks != nullptr) *host_blocks = mine;
  return status;
}

const char *corvix_host_port_name(const corvix_host *host) {
  return host == nullptr ? nullptr : host->port.c_str();
}

}  // extern "C"
