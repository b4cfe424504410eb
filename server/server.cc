#include "server/server.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "corvix/platform.h"
#include "platform/memory.h"
#include "platform/port.h"
#include "server/call.h"

namespace corvix {

namespace {

constexpr uint32_t kQuitResult = CORVIX_QUIT_ANSWER;

// Runs one message; returns true for a quit command. Nothing is written anywhere unless the
// argument block, as far as the command reads it, is a live block of the sender.
bool handle(PPCMessage *msg) {
  const auto code = static_cast<int32_t>(PPCGetMessageAttr(msg, PPCMSGTAG_MSGID));
  const uint32_t block = PPCGetMessageAttr(msg, PPCMSGTAG_DATA);
  const uint32_t owner = message_owner(msg);
  const Command *command = find_command(code);
  const int words = command != nullptr ? command->words : 0;
  if (!owned_range(owner, block, 4 * (uint64_t{1} + static_cast<uint64_t>(words)))) {
    set_message_status(msg, -EFAULT);
    return false;
  }
  uint8_t *base = segment_pointer(block);
  // Words are copied once; the routine never sees the host change them under it.
  uint32_t copy[Call::kWords + 1] = {};
  for (int i = 1; i <= words; ++i) copy[i] = corvix_get_be32(base + 4 * i);
  uint32_t result = 0;
  bool quit = false;
  if (code == 0 || code == 1) {
    result = kQuitResult;
    quit = true;
  } else if (command != nullptr) {
    Call call(owner, copy);
    OwnerScope scope(owner);  // what the routine allocates belongs to the host
    result = command->run(call);
  }
  corvix_put_be32(base, result);
  return quit;
}

}  // namespace

int serve(PPCPort *port) {
  bool quit = false;
  while (!quit) {
    PPCWaitPort(port);
    PPCMessage *msg = PPCGetMessage(port);
    if (msg == nullptr) {
      if (stop_signal() != 0) break;  // a signal ends the service like a quit command
      continue;
    }
    quit = handle(msg);
    PPCCacheFlushAll();
    PPCReplyMessage(msg);
  }
  while ((PPCDeletePort(port) & 0xFFFF) == 0) {
  }
  return 0;
}

int run_server(const char *name) {
  PortFailure why;
  PPCPort *port = open_port(name, &why);
  if (port == nullptr) {
    // What the caller asked for holds when another server serves the name; otherwise no
    // server serves it, and that is a failure.
    std::fprintf(stderr, "corvixd: port '%s': %s\n", name, why.reason.c_str());
    return why.taken ? 0 : 1;
  }
  return serve(port);
}

}  // namespace corvix
