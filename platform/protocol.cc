// The hello: the one record that carries a descriptor (the segment's), as SCM_RIGHTS.
#include "platform/protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace corvix::protocol {
namespace {

struct HelloMessage {
  iovec iov;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
  explicit HelloMessage(Reply *hello) : iov{hello, sizeof *hello} {
    header.msg_iov = &iov;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
  }
};

}  // namespace

bool send_hello(int socket_fd, Reply hello, int segment_fd) {
  HelloMessage m(&hello);
  cmsghdr *cm = CMSG_FIRSTHDR(&m.header);
  cm->cmsg_level = SOL_SOCKET;
  cm->cmsg_type = SCM_RIGHTS;
  cm->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(cm), &segment_fd, sizeof segment_fd);
  return sendmsg(socket_fd, &m.header, MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(sizeof hello);
}

int receive_hello(int socket_fd, Reply *hello) {
  HelloMessage m(hello);
  const ssize_t n = recvmsg(socket_fd, &m.header, MSG_CMSG_CLOEXEC);
  const cmsghdr *cm = CMSG_FIRSTHDR(&m.header);
  if (cm == nullptr || cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(cm), sizeof fd);
  if (n != static_cast<ssize_t>(sizeof *hello) || hello->kind != kHello || hello->value != kMagic) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace corvix::protocol
