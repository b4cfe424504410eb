// What the server loop needs of a port beyond the kernel's calls: who sent a message, the
// status its reply carries, why a port could not be made, connection limits and a clean end
// on a signal.
#ifndef CORVIX_PLATFORM_PORT_H
#define CORVIX_PLATFORM_PORT_H

#include <cstdint>
#include <string>

#include "corvix/platform.h"

namespace corvix {

// The owner id of the connection that sent the message (its blocks carry that owner).
uint32_t message_owner(const PPCMessage *msg);
// A negative status makes the host's send fail with it (for example an argument block that
// is not the host's).
void set_message_status(PPCMessage *msg, int32_t status);

// Why open_port failed: `taken` when a live server already holds the name.
struct PortFailure {
  bool taken = false;
  std::string reason;
};
// PPCCreatePort for the name, saying why it failed.
PPCPort *open_port(const char *name, PortFailure *why);

// Connection limits of ports made from now on: connections of one host process, and of all
// hosts together (0: derived from the descriptor limit). Past them a new host is refused.
struct PortLimits {
  int per_process = 64;
  int total = 0;
};
void set_port_limits(const PortLimits &limits);

// PPCWaitPort, which it is with `take`: serves the port's hosts (connections, memory
// requests, replies waiting for room, background work) until a command is queued (only with
// `take`), wake_port is called, or a stop signal arrives (then 0). Without `take` queued
// commands wait: a server whose workers are all busy waits for one of them instead. Only the
// thread that owns the port calls it.
uint32_t wait_port(PPCPort *port, bool take);
// Ends the owner thread's current or next wait_port. Safe from any thread.
void wake_port(PPCPort *port);

// SIGINT, SIGTERM and SIGHUP end the wait of every port of this process (PPCWaitPort
// returns 0) instead of the process, so the server can remove its name. Call from the main
// thread before any other thread starts.
void stop_on_signals();
// The signal that asked to stop, or 0.
int stop_signal();

}  // namespace corvix

#endif
