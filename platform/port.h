// What the server loop needs of a message beyond the kernel's calls: who sent it, and the
// status its reply carries.
#ifndef CORVIX_PLATFORM_PORT_H
#define CORVIX_PLATFORM_PORT_H

#include <cstdint>

#include "corvix/platform.h"

namespace corvix {

// The owner id of the connection that sent the message (its blocks carry that owner).
uint32_t message_owner(const PPCMessage *msg);
// A negative status makes the host's send fail with it (for example an argument block that
// is not the host's).
void set_message_status(PPCMessage *msg, int32_t status);

}  // namespace corvix

#endif
