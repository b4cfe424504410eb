#include "server/server.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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

// The port stays with the thread that serves it: it alone waits on the port, takes
// messages and replies, so connections, pending replies and the release of a host that left
// need no lock. Workers only run commands and hand each message back. A host never has two
// messages in work (its next request is not read before its reply), so its commands keep
// their order; and the release of a host that died waits for the reply to its command in
// work, so its blocks never go while a command uses them.
class Workers {
 public:
  Workers(PPCPort *port, int count) : port_(port) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
  }
  ~Workers() {
    {
      std::lock_guard<std::mutex> g(lock_);
      closing_ = true;
    }
    wake_workers_.notify_all();
    for (std::thread &t : threads_) t.join();
  }
  Workers(const Workers &) = delete;
  Workers &operator=(const Workers &) = delete;

  void start(PPCMessage *msg) {
    {
      std::lock_guard<std::mutex> g(lock_);
      todo_.push_back(msg);
    }
    wake_workers_.notify_one();
  }

  // Hands back the messages no worker has started, unrun, their senders told the server is
  // ending.
  void cancel() {
    std::lock_guard<std::mutex> g(lock_);
    for (PPCMessage *msg : todo_) {
      set_message_status(msg, -ESHUTDOWN);
      done_.push_back(msg);
    }
    todo_.clear();
  }

  // Messages whose commands are done (with `block`, waits for one); sets `quit` once one of
  // them was a quit command.
  std::vector<PPCMessage *> finished(bool block, bool *quit) {
    std::unique_lock<std::mutex> g(lock_);
    if (block) wake_server_.wait(g, [this] { return !done_.empty(); });
    std::vector<PPCMessage *> out;
    out.swap(done_);
    *quit = *quit || quit_;
    return out;
  }

 private:
  void work() {
    for (;;) {
      PPCMessage *msg = nullptr;
      {
        std::unique_lock<std::mutex> g(lock_);
        wake_workers_.wait(g, [this] { return closing_ || !todo_.empty(); });
        if (todo_.empty()) return;
        msg = todo_.front();
        todo_.pop_front();
      }
      const bool quit = handle(msg);
      PPCCacheFlushAll();
      {
        // The port is woken under the lock: the server cannot see the message, end and
        // delete the port before the wake is done.
        std::lock_guard<std::mutex> g(lock_);
        done_.push_back(msg);
        quit_ = quit_ || quit;
        wake_port(port_);
      }
      wake_server_.notify_one();
    }
  }

  PPCPort *port_;
  std::mutex lock_;
  std::condition_variable wake_workers_, wake_server_;
  std::deque<PPCMessage *> todo_;
  std::vector<PPCMessage *> done_;
  bool quit_ = false, closing_ = false;
  std::vector<std::thread> threads_;
};

void delete_port(PPCPort *port) {
  while ((PPCDeletePort(port) & 0xFFFF) == 0) {
  }
}

// Serves with `count` workers. Every message the port has is handed on at once, so a worker
// that is done goes on with the next without waiting for this thread. A quit or a stop
// signal ends the intake; the commands in work finish and are replied to before the port
// goes, and those not yet started are refused.
int serve_with_workers(PPCPort *port, int count) {
  Workers workers(port, count);
  int in_work = 0;
  bool ending = false;
  for (;;) {
    for (PPCMessage *msg : workers.finished(ending && in_work > 0, &ending)) {
      PPCReplyMessage(msg);
      --in_work;
    }
    if (!ending && stop_signal() != 0) ending = true;
    if (ending) {
      workers.cancel();
      if (in_work == 0) break;
      continue;
    }
    for (PPCMessage *msg; (msg = PPCGetMessage(port)) != nullptr; ++in_work) workers.start(msg);
    wait_port(port, true);
  }
  delete_port(port);
  return 0;
}

}  // namespace

int serve(PPCPort *port, int workers) {
  if (workers > 1) return serve_with_workers(port, workers);
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
  delete_port(port);
  return 0;
}

int run_server(const char *name, int workers) {
  PortFailure why;
  PPCPort *port = open_port(name, &why);
  if (port == nullptr) {
    // What the caller asked for holds when another server serves the name; otherwise no
    // server serves it, and that is a failure.
    std::fprintf(stderr, "corvixd: port '%s': %s\n", name, why.reason.c_str());
    return why.taken ? 0 : 1;
  }
  return serve(port, workers);
}

}  // namespace corvix
