// A server inside the host's own process, on a private port, served by a thread of its own.
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "corvix/host.h"
#include "corvix/platform.h"
#include "host/host_internal.h"
#include "server/server.h"

namespace {
std::atomic<uint32_t> g_embedded{0};
}  // namespace

extern "C" corvix_host *corvix_host_embedded(void) {
  const std::string name =
      "embedded-" + std::to_string(getpid()) + "-" + std::to_string(g_embedded.fetch_add(1));
  const PPCTagItem tags[] = {{PPCPORTTAG_NAME, reinterpret_cast<uintptr_t>(name.c_str())},
                             {TAG_END, 0}};
  PPCPort *port = PPCCreatePort(tags);  // says why when it fails
  if (port == nullptr) return nullptr;
  std::thread server([port] { corvix::serve(port); });
  corvix_host *h = corvix::connect_host(name);
  if (h == nullptr) {
    // Nobody else knows the private name: quit the server through a connection of our own.
    corvix_host *q = corvix::connect_host(name);
    if (q != nullptr) {
      const uint32_t block = corvix_host_alloc(q, 4, MEMF_CLEAR);
      corvix_host_send(q, 0, block);
      corvix_host_close(q);
      server.join();
    } else {
      server.detach();
    }
    return nullptr;
  }
  h->server = std::move(server);
  return h;
}
