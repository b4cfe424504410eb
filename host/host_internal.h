// The host connection as the host library and an in-process server share it: the server
// side starts an embedded server and connects through the same code as any host.
#ifndef CORVIX_HOST_HOST_INTERNAL_H
#define CORVIX_HOST_HOST_INTERNAL_H

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "corvix/host.h"

struct corvix_host {
  int fd = -1;
  uint8_t *base = nullptr;
  std::string port;
  std::mutex lock;     // one request in flight per connection
  std::thread server;  // an embedded server, told to quit and joined at close
};

namespace corvix {

// Connects to the port `name` and maps its segment. Null (errno and the failure reason set)
// when no server answers within the open timeout, or it refuses the connection.
corvix_host *connect_host(const std::string &name);

}  // namespace corvix

#endif
