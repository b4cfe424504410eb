// The serving loop: one routine per message, word 0 written, caches flushed, reply; codes 0
// and 1 end it.
#ifndef CORVIX_SERVER_SERVER_H
#define CORVIX_SERVER_SERVER_H

#include "corvix/commands.h"
#include "corvix/platform.h"

namespace corvix {

// The name hosts find the server by.
inline constexpr char kPortName[] = CORVIX_PORT_NAME;
// The graphics library version the start-up asks for.
inline constexpr uint32_t kGraphicsVersion = 39;

// Serves `port` until a quit command (or a stop signal, see stop_on_signals), then deletes
// it. Returns the exit code (0). One worker takes one message at a time; more run the
// commands of different hosts at the same time, each host's in order.
int serve(PPCPort *port, int workers = 1);
// Creates the port `name` and serves it with `workers`. When the port cannot be made, says why in one line
// on standard error and returns 0 if another server serves the name, 1 otherwise.
int run_server(const char *name, int workers = 1);

}  // namespace corvix

#endif
