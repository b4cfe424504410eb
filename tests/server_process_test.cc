// The server as a real process: lifecycle, command 2 on a photograph, concurrency, peer death
// and hostile argument blocks.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "tests/support.h"

namespace corvix {
namespace {

using test::Host;
using test::ServerProcess;

bool holds(const Host &h, uint32_t address, const std::vector<uint8_t> &bytes) {
  return std::equal(bytes.begin(), bytes.end(), h.at(address));
}

// Codes outside the table are replied to without work, command 2 gives the library's bytes,
// and a second server cannot take the name.
TEST(ServerProcess, ConvertsAPhotographLikeTheLibraryAndKeepsItsName) {
  ServerProcess server;
  ServerProcess second({"--port", server.name()}, false);  // the later --port wins
  EXPECT_EQ(second.wait_exit(5000), 0);
  Host h(server.name());
  ASSERT_TRUE(h.ok());
  const test::Image im = test::load_image("astronaut.ppm");
  const auto n = static_cast<uint32_t>(im.width * im.height);
  for (uint32_t group : {4u, 1u}) {
    const test::Planes p = test::image_planes(im, group);
    std::vector<uint8_t> expected(3 * p.y.size(), 0), blank(expected.size(), 0xEE);
    fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), expected.data(), n, group);
    const uint32_t y = h.put(p.y), cr = h.put(p.cr), cb = h.put(p.cb), out = h.put(blank);
    const uint32_t block = h.args({y, cr, cb, out, n, group});
    for (int32_t code : {-1, 19, INT32_MIN, 1000}) {  // outside the table: nothing may run
      h.set_word(block, 0, 0xDEADBEEF);
      EXPECT_EQ(h.send(code, block), 0);
      EXPECT_EQ(h.word(block, 0), 0u) << code;
      EXPECT_TRUE(holds(h, out, blank)) << code;
    }
    EXPECT_EQ(h.send(2, block), 0);
    EXPECT_TRUE(holds(h, out, expected)) << "group " << group;
    for (uint32_t a : {y, cr, cb, out, block}) h.free(a);
  }
  EXPECT_EQ(h.blocks(), 0u);
}

// Codes 0 and 1 reply 123 and end the server with exit code 0, as does a start that finds the
// graphics library too old (after saying so).
TEST(ServerProcess, QuitCodesAndAnOldGraphicsLibraryEndWithExitCodeZero) {
  for (int32_t code : {0, 1}) {
    ServerProcess server;
    Host h(server.name());
    ASSERT_TRUE(h.ok());
    const uint32_t block = h.args({});
    ASSERT_EQ(h.send(code, block), 0);
    EXPECT_EQ(h.word(block, 0), 123u);
    EXPECT_EQ(server.wait_exit(5000), 0);
    EXPECT_EQ(corvix_host_open(server.name().c_str()), nullptr) << "port still reachable";
    EXPECT_LT(h.send(15, block), 0) << "a send after the quit must fail, not hang";
  }
  setenv("CORVIX_GRAPHICS_VERSION", "30", 1);
  ServerProcess old({}, false);
  unsetenv("CORVIX_GRAPHICS_VERSION");
  EXPECT_EQ(old.wait_exit(5000), 0);
  EXPECT_EQ(old.output(), "Can't open version 39 of graphics.library\n");
}

// Two hosts work at once while a third, streaming commands, is killed: they get their own
// results, and the server reclaims the dead host's blocks and keeps serving.
TEST(ServerProcess, HostsAtOnceAndAHostKilledMidStream) {
  ServerProcess server;
  Host watcher(server.name());
  uint32_t before = 0, after = 0;
  ASSERT_EQ(corvix_host_stats(watcher.get(), &before, nullptr), 0);
  const pid_t child = fork();
  if (child == 0) {
    Host h(server.name());
    if (!h.ok()) _exit(3);
    const uint32_t n = 1 << 20, c = h.alloc(n / 4, 0);
    const uint32_t block = h.args({h.alloc(n, 0), c, c, h.alloc(3 * n, 0), n, 4});
    for (;;) h.send(2, block);
  }
  auto work = [&](uint8_t luma) {
    Host h(server.name());
    const std::vector<uint8_t> y(4096, luma), c(1024, 128);
    const uint32_t out = h.alloc(3 * 4096);
    const uint32_t block = h.args({h.put(y), h.put(c), h.put(c), out, 4096, 4});
    std::vector<uint8_t> expect(3 * 4096);
    fx_yuvtorgb_ll(y.data(), c.data(), c.data(), expect.data(), 4096, 4);
    for (int round = 0; round < 200; ++round) {
      std::memset(h.at(out), 0, 3 * 4096);
      if (!h.ok() || h.send(2, block) != 0 || !holds(h, out, expect)) return false;
    }
    return true;
  };
  auto a = std::async(std::launch::async, work, uint8_t{40});
  auto b = std::async(std::launch::async, work, uint8_t{200});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child host failed before it was killed";
  EXPECT_TRUE(a.get());
  EXPECT_TRUE(b.get());
  for (int i = 0; i < 200; ++i) {  // the server notices hang-ups on its next turn
    ASSERT_EQ(corvix_host_stats(watcher.get(), &after, nullptr), 0);
    if (after == before) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(after, before);
  EXPECT_EQ(watcher.send(19, watcher.args({})), 0);
}

TEST(ServerProcess, ASendFailsPromptlyWhenTheServerDies) {
  ServerProcess server;
  Host h(server.name());
  const uint32_t block = h.args({});
  server.signal(SIGSTOP);  // the command waits unanswered
  auto sent = std::async(std::launch::async, [&] { return h.send(19, block); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.signal(SIGKILL);
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  EXPECT_LT(sent.get(), 0);
}

// Argument blocks and words that name memory the host does not own: nothing runs, nothing is
// written, the server keeps serving. So do malformed datagrams and a host flooding its quota.
TEST(ServerProcess, HostileArgumentsDatagramsAndFloodsAreRefused) {
  ServerProcess server({"--quota", "4194304"});
  Host h(server.name()), other(server.name());
  const std::vector<uint8_t> sentinel(192, 0xEE);
  // Planes and output of 192 bytes: 64 pixels in groups of 4 fit.
  const uint32_t Y = h.put(sentinel), C = h.put(sentinel), out = h.put(sentinel);
  const uint32_t foreign = other.put(sentinel), freed = h.alloc(192);
  // Every block is made before `freed` goes, so nothing reuses its place.
  const std::pair<const char *, uint32_t> cases[] = {
      {"destination in the reserved prefix", h.args({Y, C, C, 0x10, 64, 4})},
      {"null plane", h.args({0, C, C, out, 64, 4})},
      {"destination past the segment's end", h.args({Y, C, C, 0xFFFFFF00u, 64, 4})},
      {"count whose size wraps", h.args({Y, C, C, out, 0xFFFFFFF0u, 4})},
      {"destination short of the last whole group", h.args({Y, C, C, out + 6, 62, 4})},
      {"another host's block", h.args({Y, C, C, foreign, 64, 4})},
      {"a block already freed", h.args({Y, C, C, freed, 64, 4})},
      {"an interior range running past its block", h.args({Y + 160, C, C, out, 64, 4})},
  };
  const uint32_t short_block = h.alloc(8), other_block = other.args({});
  other.set_word(other_block, 0, 0xDEADBEEF);
  h.free(freed);
  for (const auto &[what, block] : cases) {
    h.set_word(block, 0, 0xDEADBEEF);
    EXPECT_EQ(h.send(2, block), 0) << what;
    EXPECT_EQ(h.word(block, 0), 0u) << what;
    EXPECT_TRUE(holds(h, out, sentinel) && holds(other, foreign, sentinel)) << what;
  }
  // The argument block itself: not the host's, null, too short for the words the command
  // reads. No write at all, an error for the sender.
  for (uint32_t bad : {0u, 0x10u, 0xFFFFFFFCu, other_block, freed, short_block})
    EXPECT_LT(h.send(2, bad), 0) << bad;
  EXPECT_EQ(other.word(other_block, 0), 0xDEADBEEFu);
  // Memory requests the host has no right to.
  const uint32_t mine = h.blocks();
  other.free(out);
  EXPECT_EQ(h.blocks(), mine);
  EXPECT_EQ(h.send(19, h.args({})), 0) << "the server still serves";
  // A raw connection sending datagrams of the wrong size gets error replies.
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{AF_UNIX, {}};
  std::strcpy(a.sun_path, (test::runtime_dir() + "/" + server.name()).c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  char hello[64], junk[64] = {};
  ASSERT_EQ(recv(fd, hello, sizeof hello, 0), 16);
  ASSERT_EQ(send(fd, junk, sizeof junk, 0), 64);
  int32_t reply[4] = {};
  ASSERT_EQ(recv(fd, reply, sizeof reply, 0), 16);
  EXPECT_LT(reply[1], 0);
  close(fd);
  // A host that exhausts its quota gets 0; another host still gets memory.
  Host greedy(server.name());
  int got = 0;
  while (greedy.alloc(1 << 20) != 0) ++got;
  EXPECT_EQ(got, 4);
  EXPECT_NE(h.alloc(1 << 20), 0u);
}

}  // namespace
}  // namespace corvix
