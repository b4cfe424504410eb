// The corvix tool against a real corvixd process: the same bytes as with the embedded server,
// every shared block handed back, and the server ended with command 0.
#include <chrono>
#include <thread>

#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

class CliServer : public CliTest {};

// Live blocks of the server's whole segment, once the count has settled (a host that just
// exited is reclaimed when the server notices its connection close).
uint32_t settled_blocks(Host &h, uint32_t expected) {
  uint32_t blocks = 0;
  for (int i = 0; i < 100; ++i) {
    corvix_host_stats(h.get(), &blocks, nullptr);
    if (blocks == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return blocks;
}

TEST_F(CliServer, AServerProcessGivesTheBytesOfTheEmbeddedOne) {
  ServerProcess server;
  Host h(server.name());
  ASSERT_TRUE(h.ok());
  uint32_t baseline = 0;
  corvix_host_stats(h.get(), &baseline, nullptr);
  const std::string still = media_path("astronaut_512x512.yuv411p");
  const std::string coffee = image_path("coffee.ppm");
  const std::vector<std::vector<std::string>> runs = {
      {"yuv2rgb", "--size", "512x512", still},
      {"yuv2rgb", "--size", "512x512", "--resize", "640x360", still},
      {"scale", "--size", "123x45", coffee},
      {"correct", "--contrast", "80", "--brightness", "30", coffee},
      {"remap", coffee},
  };
  int n = 0;
  for (const std::vector<std::string> &run : runs) {
    const std::string embedded = path("e" + std::to_string(n) + ".pnm");
    const std::string before = path("b" + std::to_string(n) + ".pnm");
    const std::string after = path("a" + std::to_string(n++) + ".pnm");
    std::vector<std::string> args = run;
    args.push_back(embedded);
    ASSERT_EQ(corvix(args).code, 0) << run[0];
    // --port before the operation's name and after it.
    args.back() = before;
    args.insert(args.begin(), {"--port", server.name()});
    Result r = corvix(args);
    ASSERT_EQ(r.code, 0) << run[0] << r.err;
    args = run;
    args.insert(args.end(), {"--port", server.name(), after});
    r = corvix(args);
    ASSERT_EQ(r.code, 0) << run[0] << r.err;
    EXPECT_EQ(file_bytes(before), file_bytes(embedded)) << run[0];
    EXPECT_EQ(file_bytes(after), file_bytes(embedded)) << run[0];
    EXPECT_FALSE(file_bytes(embedded).empty());
    // Every block the tool had in the server went back when it ended.
    EXPECT_EQ(settled_blocks(h, baseline), baseline) << run[0];
  }
}

TEST_F(CliServer, QuitEndsTheServerWithCommandZero) {
  ServerProcess server;
  const Result r = corvix({"quit", "--port", server.name()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("quit"), std::string::npos) << r.err;
  EXPECT_EQ(server.wait_exit(5000), 0);
  // Now nobody answers on that port: a failure (exit 1) that names it, and no output.
  const Result gone =
      corvix({"--port", server.name(), "invert", image_path("coffee.ppm"), path("out.ppm")});
  EXPECT_EQ(gone.code, 1);
  EXPECT_NE(gone.err.find("no server answers on port '" + server.name() + "'"), std::string::npos)
      << gone.err;
  EXPECT_FALSE(exists(path("out.ppm")));
  const Result again = corvix({"-q", "quit", "--port", server.name()});
  EXPECT_EQ(again.code, 1);
}

}  // namespace
}  // namespace corvix::test::cli
