// The records a host and a server exchange over a port's socket (SOCK_SEQPACKET, one record
// per datagram, native byte order: both ends are on one machine). Pixel data and argument
// blocks never travel here; they live in the shared segment.
#ifndef CORVIX_PLATFORM_PROTOCOL_H
#define CORVIX_PLATFORM_PROTOCOL_H

#include <cerrno>
#include <cstdint>
#include <string>

namespace corvix::protocol {

constexpr uint32_t kMagic = 0x43565831;  // "CVX1"

enum Kind : uint32_t {
  kHello = 1,  // server -> host on connect, with the segment's descriptor attached
  kSend = 2,   // a command: code, argument block
  kAlloc = 3,  // a shared block: size, attribute
  kFree = 4,   // release: address
  kStats = 5,  // live blocks of the whole segment, and of this host
};

struct Request {
  uint32_t kind;
  int32_t code;
  uint32_t arg0;  // block, size or address
  uint32_t arg1;  // attribute
};

struct Reply {
  uint32_t kind;   // kHello, or the request's kind
  int32_t status;  // 0, or a negative errno value
  uint32_t value;  // an allocated address; for kHello the protocol magic
  uint32_t owner;  // for kHello: the host's owner id (diagnostics)
};

static_assert(sizeof(Request) == 16 && sizeof(Reply) == 16);

// A hello with a negative status and no descriptor refuses the connection.
constexpr int32_t kRefusedProcessLimit = -EUSERS;       // too many connections from that process
constexpr int32_t kRefusedServerLimit = -ECONNREFUSED;  // too many connections in all

// Sends the hello with the segment's descriptor attached (never blocks).
bool send_hello(int socket_fd, Reply hello, int segment_fd);
// Receives a hello: the descriptor it carried (close-on-exec), or -1 when the record is not a
// hello of this protocol or carries none (a refusal: *hello holds its status).
int receive_hello(int socket_fd, Reply *hello);

// The runtime directory holding the ports' sockets: $CORVIX_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/corvix, else /tmp/corvix-<uid>. Made with mode 0700 when missing; refused
// (empty result, *error set) when it is not a directory of ours closed to group and others.
std::string runtime_dir(std::string *error);
// The same directory's path, neither made nor checked.
std::string runtime_dir_path();
// The socket path of a port name; empty (and *error set) for a bad name or a path too long.
std::string socket_path(const std::string &name, std::string *error);

}  // namespace corvix::protocol

#endif
