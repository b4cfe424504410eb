// corvixd: the image-processing server. Serves the port "VODARAVID" until a host sends
// command 0 or 1, or a signal (SIGINT, SIGTERM, SIGHUP) asks it to stop; either way it
// removes its socket and lock file.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvix/corvix.h"
#include "corvix/platform.h"
#include "core/parallel.h"
#include "corvix/threads.h"
#include "platform/memory.h"
#include "platform/port.h"
#include "platform/protocol.h"
#include "server/server.h"

namespace {

void usage(std::FILE *to) {
  std::fprintf(to,
               "Usage: corvixd [OPTION]...\n"
               "Serve image-processing commands to host processes of this user on the port\n"
               "\"%s\": hosts share memory with the server and send it command codes 0 to\n"
               "18; codes 0 and 1 end the server.\n"
               "\n"
               "  --port NAME             serve the port NAME instead of \"%s\"\n"
               "  --quota BYTES           shared memory one host process may hold (default\n"
               "                          1073741824)\n"
               "  --max-per-process N     connections one host process may hold (default 64)\n"
               "  --max-connections N     connections of all hosts together (default: from the\n"
               "                          descriptor limit, at most 4096)\n"
               "  --threads N             threads one command may use, 1 to 256 (default:\n"
               "                          CORVIX_THREADS, else every core it may run on)\n"
               "  --workers N             commands of different hosts run at the same time\n"
               "                          on N threads, 1 to 256 (default 1: one command at a\n"
               "                          time); each host's commands still run in order\n"
               "  --help                  show this help and exit\n"
               "  --version               show the version and exit\n"
               "\n"
               "The port is a socket in the runtime directory: $CORVIX_RUNTIME_DIR, else\n"
               "$XDG_RUNTIME_DIR/corvix, else /tmp/corvix-UID (here: %s). It is made with\n"
               "mode 0700 and refused when it is not a directory of this user closed to others.\n"
               "\n"
               "Exit status: 0 after a quit command, or when another server already serves the\n"
               "port; 1 when the port cannot be served; 2 for a usage error.\n",
               corvix::kPortName, corvix::kPortName, corvix::protocol::runtime_dir_path().c_str());
}

int usage_error(const char *format, const char *what) {
  std::fprintf(stderr, "corvixd: ");
  std::fprintf(stderr, format, what);
  std::fprintf(stderr, " (try --help)\n");
  return 2;
}

// A whole decimal number within [low, high], or false.
bool number(const char *text, unsigned long long low, unsigned long long high,
            unsigned long long *out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char *end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  const char *name = corvix::kPortName;
  corvix::PortLimits limits;
  int workers = 1;
  for (int i = 1; i < argc; ++i) {
    const char *opt = argv[i];
    if (std::strcmp(opt, "--help") == 0) {
      usage(stdout);
      return 0;
    }
    if (std::strcmp(opt, "--version") == 0) {
      std::printf("corvixd %s\n", CORVIX_VERSION_STRING);
      return 0;
    }
    const bool takes_value =
        std::strcmp(opt, "--port") == 0 || std::strcmp(opt, "--quota") == 0 ||
        std::strcmp(opt, "--max-per-process") == 0 || std::strcmp(opt, "--max-connections") == 0 ||
        std::strcmp(opt, "--threads") == 0 || std::strcmp(opt, "--workers") == 0;
    if (!takes_value) return usage_error("unknown argument '%s'", opt);
    if (i + 1 >= argc) return usage_error("option %s needs a value", opt);
    const char *value = argv[++i];
    unsigned long long n = 0;
    if (std::strcmp(opt, "--port") == 0) {
      name = value;
    } else if (std::strcmp(opt, "--quota") == 0) {
      if (!number(value, 0, corvix::kSegmentSize, &n))
        return usage_error("--quota needs a number of bytes up to 4294967296, not '%s'", value);
      corvix::set_host_quota(n);
    } else if (std::strcmp(opt, "--threads") == 0) {
      const int32_t count = corvix::parse_thread_count(value);
      if (count == 0) return usage_error("--threads takes a count from 1 to 256, not '%s'", value);
      corvix_set_threads(count);
    } else if (std::strcmp(opt, "--workers") == 0) {
      if (!number(value, 1, 256, &n))
        return usage_error("--workers takes a count from 1 to 256, not '%s'", value);
      workers = static_cast<int>(n);
    } else {
      if (!number(value, 1, 1 << 20, &n))
        return usage_error("a connection limit is a number from 1 to 1048576, not '%s'", value);
      (std::strcmp(opt, "--max-per-process") == 0 ? limits.per_process : limits.total) =
          static_cast<int>(n);
    }
  }
  Library *gfx = OpenLibrary("graphics.library", corvix::kGraphicsVersion);
  if (gfx == nullptr) {
    std::printf("Can't open version %ld of ", static_cast<long>(corvix::kGraphicsVersion));
    std::printf("graphics.library\n");
    return 0;
  }
  corvix::set_port_limits(limits);
  corvix::stop_on_signals();
  const int code = corvix::run_server(name, workers);
  CloseLibrary(gfx);
  if (const int sig = corvix::stop_signal(); sig != 0) {
    // The name is gone; end the way the signal would have ended the server.
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
  }
  return code;
}
