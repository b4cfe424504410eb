// The server as a real process: lifecycle, command 2 on a photograph, concurrency, peer death
// and hostile argument blocks.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "tests/support.h"

namespace corvix {
namespace {

using test::Host;
using test::ServerProcess;

// Sends command 2 for a photograph's planes; returns the converted bytes.
std::vector<uint8_t> convert_through(Host &h, const test::Planes &p, uint32_t count,
                                     uint32_t group) {
  const uint32_t y = h.put(p.y), cr = h.put(p.cr), cb = h.put(p.cb);
  const uint32_t out = h.alloc(3 * static_cast<uint32_t>(p.y.size()), MEMF_CLEAR);
  const uint32_t block = h.args({y, cr, cb, out, count, group});
  EXPECT_EQ(h.send(2, block), 0);
  EXPECT_EQ(h.word(block, 0), 0u);
  std::vector<uint8_t> bytes(h.at(out), h.at(out) + 3 * p.y.size());
  for (uint32_t a : {y, cr, cb, out, block}) h.free(a);
  return bytes;
}

TEST(ServerProcess, ConvertsAPhotographLikeTheLibrary) {
  ServerProcess server;
  Host h(server.name());
  ASSERT_TRUE(h.ok());
  const test::Image im = test::load_image("astronaut.ppm");
  for (uint32_t group : {4u, 1u}) {
    const test::Planes p = test::image_planes(im, group);
    const auto n = static_cast<uint32_t>(im.width * im.height);
    std::vector<uint8_t> expected(3 * p.y.size(), 0);
    fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), expected.data(), n, group);
    EXPECT_EQ(convert_through(h, p, n, group), expected) << "group " << group;
  }
  EXPECT_EQ(h.blocks(), 0u);
}

TEST(ServerProcess, QuitCodesReply123AndEndWithExitCodeZero) {
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
}

TEST(ServerProcess, CodesOutsideTheTableAreRepliedWithoutWork) {
  ServerProcess server;
  Host h(server.name());
  const std::vector<uint8_t> y(8, 200), c(2, 128);
  const uint32_t out = h.put(std::vector<uint8_t>(24, 0xEE));
  for (int32_t code : {-1, 19, INT32_MIN, 1000}) {
    // Words that would be a valid command 2: nothing may run.
    const uint32_t block = h.args({h.put(y), h.put(c), h.put(c), out, 8, 4});
    corvix_put_be32(h.at(block), 0xDEADBEEF);
    EXPECT_EQ(h.send(code, block), 0);
    EXPECT_EQ(h.word(block, 0), 0u);
    EXPECT_EQ(std::vector<uint8_t>(h.at(out), h.at(out) + 24), std::vector<uint8_t>(24, 0xEE));
  }
}

TEST(ServerProcess, GraphicsLibraryTooOldEndsTheStartWithItsMessage) {
  setenv("CORVIX_GRAPHICS_VERSION", "30", 1);
  ServerProcess server({}, false);
  unsetenv("CORVIX_GRAPHICS_VERSION");
  EXPECT_EQ(server.wait_exit(5000), 0);
  EXPECT_EQ(server.output(), "Can't open version 39 of graphics.library\n");
}

TEST(ServerProcess, ASecondServerCannotTakeATakenName) {
  ServerProcess first;
  ServerProcess second({"--port", first.name()}, false);  // the later --port wins
  EXPECT_EQ(second.wait_exit(5000), 0);
  Host h(first.name());
  ASSERT_TRUE(h.ok());
  EXPECT_EQ(h.send(19, h.args({})), 0) << "the first server still serves";
}

TEST(ServerProcess, TwoHostsAtOnceEachGetTheirOwnResults) {
  ServerProcess server;
  auto work = [&](uint8_t luma) {
    Host h(server.name());
    if (!h.ok()) return false;
    const std::vector<uint8_t> y(4096, luma), c(1024, 128);
    const uint32_t out = h.alloc(3 * 4096);
    const uint32_t block = h.args({h.put(y), h.put(c), h.put(c), out, 4096, 4});
    for (int round = 0; round < 200; ++round) {
      std::memset(h.at(out), 0, 3 * 4096);
      if (h.send(2, block) != 0) return false;
      uint8_t expect[3];
      fx_yuvtorgb_ll(&luma, c.data(), c.data(), expect, 1, 1);
      for (int i = 0; i < 3 * 4096; ++i)
        if (h.at(out)[i] != expect[i % 3]) return false;
    }
    return true;
  };
  auto a = std::async(std::launch::async, work, uint8_t{40});
  auto b = std::async(std::launch::async, work, uint8_t{200});
  EXPECT_TRUE(a.get());
  EXPECT_TRUE(b.get());
}

TEST(ServerProcess, AHostKilledMidStreamLeavesTheServerServingAndItsBlocksReclaimed) {
  ServerProcess server;
  Host watcher(server.name());
  uint32_t before = 0;
  ASSERT_EQ(corvix_host_stats(watcher.get(), &before, nullptr), 0);
  const pid_t child = fork();
  if (child == 0) {
    corvix_host *h = corvix_host_open(server.name().c_str());
    if (h == nullptr) _exit(3);
    const uint32_t n = 1 << 20;
    const uint32_t y = corvix_host_alloc(h, n, 0), c = corvix_host_alloc(h, n / 4, 0);
    const uint32_t out = corvix_host_alloc(h, 3 * n, 0), block = corvix_host_alloc(h, 40, 0);
    auto *w = static_cast<uint8_t *>(corvix_host_pointer(h, block));
    const uint32_t words[] = {y, c, c, out, n, 4};
    for (int i = 0; i < 6; ++i) corvix_put_be32(w + 4 * (i + 1), words[i]);
    for (;;) corvix_host_send(h, 2, block);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child host failed before it was killed";
  uint32_t after = 0;
  for (int i = 0; i < 200; ++i) {  // the server notices the hang-up on its next turn
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
  auto sent = std::async(std::launch::async, [&] {
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t r = h.send(19, block);
    return std::make_pair(r, std::chrono::steady_clock::now() - t0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto killed = std::chrono::steady_clock::now();
  server.signal(SIGKILL);
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  const auto [r, took] = sent.get();
  EXPECT_LT(r, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(1));
  (void)took;
}

// Argument blocks and words that name memory the host does not own: nothing runs, nothing is
// written, the server keeps serving.
TEST(ServerProcess, HostileArgumentsAreRefused) {
  ServerProcess server;
  Host h(server.name()), other(server.name());
  const std::vector<uint8_t> y(64, 100), c(16, 128);
  const uint32_t Y = h.put(y), C = h.put(c), out = h.put(std::vector<uint8_t>(192, 0xEE));
  const uint32_t foreign = other.put(std::vector<uint8_t>(192, 0xEE));
  const uint32_t freed = h.alloc(192);
  struct Case {
    const char *what;
    std::vector<uint32_t> words;
  };
  const Case cases[] = {
      {"destination in the reserved prefix", {Y, C, C, 0x10, 64, 4}},
      {"null plane", {0, C, C, out, 64, 4}},
      {"destination past the segment's end", {Y, C, C, 0xFFFFFF00u, 64, 4}},
      {"count whose size wraps", {Y, C, C, out, 0xFFFFFFF0u, 4}},
      {"destination too small", {Y, C, C, out, 68, 4}},
      {"another host's block", {Y, C, C, foreign, 64, 4}},
      {"a block already freed", {Y, C, C, freed, 64, 4}},
      {"an interior range running past its block", {Y + 32, C, C, out, 64, 4}},
  };
  // Every block is made before `freed` goes, so nothing reuses its place.
  std::vector<uint32_t> blocks;
  for (const Case &c : cases) {
    blocks.push_back(h.args({}));
    for (size_t i = 0; i < c.words.size(); ++i)
      corvix_put_be32(h.at(blocks.back()) + 4 * (i + 1), c.words[i]);
    corvix_put_be32(h.at(blocks.back()), 0xDEADBEEF);
  }
  const uint32_t short_block = h.alloc(8);
  const uint32_t other_block = other.args({});
  corvix_put_be32(other.at(other_block), 0xDEADBEEF);
  h.free(freed);
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case &c = cases[k];
    const uint32_t block = blocks[k];
    EXPECT_EQ(h.send(2, block), 0) << c.what;
    EXPECT_EQ(h.word(block, 0), 0u) << c.what;
    EXPECT_EQ(std::vector<uint8_t>(h.at(out), h.at(out) + 192), std::vector<uint8_t>(192, 0xEE))
        << c.what;
    EXPECT_EQ(std::vector<uint8_t>(other.at(foreign), other.at(foreign) + 192),
              std::vector<uint8_t>(192, 0xEE))
        << c.what;
  }
  // The argument block itself: not the host's, null, too short for the words the command
  // reads. No write at all, an error for the sender.
  for (uint32_t bad : {0u, 0x10u, 0xFFFFFFFCu, other_block, freed, short_block}) {
    EXPECT_LT(h.send(2, bad), 0) << bad;
  }
  EXPECT_EQ(other.word(other_block, 0), 0xDEADBEEFu);
  // Memory requests the host has no right to.
  other.free(out);
  EXPECT_EQ(h.at(out)[0], 0xEE);
  EXPECT_NE(h.alloc(16), 0u) << "the server still serves";
  EXPECT_EQ(h.send(19, h.args({})), 0);
}

TEST(ServerProcess, MalformedDatagramsAndQuotaFloodsDoNotHurtOthers) {
  ServerProcess server({"--quota", "4194304"});
  // A raw connection sending datagrams of the wrong size gets error replies.
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  const std::string path = test::runtime_dir() + "/" + server.name();
  std::strcpy(a.sun_path, path.c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  char hello[64];
  ASSERT_EQ(recv(fd, hello, sizeof hello, 0), 16);
  char junk[64] = {};
  ASSERT_EQ(send(fd, junk, sizeof junk, 0), 64);
  int32_t reply[4] = {};
  ASSERT_EQ(recv(fd, reply, sizeof reply, 0), 16);
  EXPECT_LT(reply[1], 0);
  close(fd);
  // A host that exhausts its quota gets 0; another host still gets memory.
  Host greedy(server.name()), modest(server.name());
  int got = 0;
  while (greedy.alloc(1 << 20) != 0) ++got;
  EXPECT_EQ(got, 4);
  EXPECT_NE(modest.alloc(1 << 20), 0u);
}

}  // namespace
}  // namespace corvix
