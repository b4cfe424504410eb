// corvixd: the image-processing server. Serves the port "VODARAVID" until a host sends
// command 0 or 1. Options (for tests and side-by-side servers; none is needed):
//   --port NAME    serve another port name
//   --quota BYTES  shared memory each host may hold (default 1 GiB)
//   --threads N    threads one command may use, 1 to 256 (default: CORVIX_THREADS, else
//                  every core the process may run on)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corvix/platform.h"
#include "core/parallel.h"
#include "corvix/threads.h"
#include "platform/memory.h"
#include "server/server.h"

int main(int argc, char **argv) {
  const char *name = corvix::kPortName;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      name = argv[++i];
    } else if (std::strcmp(argv[i], "--quota") == 0 && i + 1 < argc) {
      corvix::set_host_quota(std::strtoull(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      const int32_t count = corvix::parse_thread_count(argv[++i]);
      if (count == 0) {
        std::fprintf(stderr, "corvixd: --threads takes a count from 1 to 256, not '%s'\n", argv[i]);
        return 2;
      }
      corvix_set_threads(count);
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: corvixd [--port NAME] [--quota BYTES] [--threads N]\n");
      return 0;
    } else {
      std::fprintf(stderr, "corvixd: unknown argument '%s' (try --help)\n", argv[i]);
      return 2;
    }
  }
  Library *gfx = OpenLibrary("graphics.library", corvix::kGraphicsVersion);
  if (gfx == nullptr) {
    std::printf("Can't open version %ld of ", static_cast<long>(corvix::kGraphicsVersion));
    std::printf("graphics.library\n");
    return 0;
  }
  const int code = corvix::run_server(name);
  CloseLibrary(gfx);
  return code;
}
