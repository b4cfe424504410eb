// The corvix tool against a real corvixd process: the same bytes as with the embedded server, every
// shared block handed back, and the server ended with command 0.
#include <chrono>
#include <thread>

#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

class CliServer : public CliTest {};

TEST_F(CliServer, AServerProcessGivesTheBytesOfTheEmbeddedOneAndQuits) {
  ServerProcess server;
  Host h(server.name());
  ASSERT_TRUE(h.ok());
  uint32_t baseline = 0, blocks = 0;
  corvix_host_stats(h.get(), &baseline, nullptr);
  const std::string still = media_path("astronaut_512x512.yuv411p");
  const std::string coffee = image_path("coffee.ppm");
  // The conversion and the scaling conversion; the frames' layout is read in the tool.
  const std::vector<std::vector<std::string>> runs = {
      {"yuv2rgb", "--chroma", "4", "--size", "512x512", still},
      {"yuv2rgb", "--chroma", "4", "--size", "512x512", "--resize", "640x360", still},
      {"scale", "--size", "123x45", coffee},
      {"correct", "--contrast", "80", "--brightness", "30", coffee},
      {"remap", coffee},
  };
  for (const std::vector<std::string> &run : runs) {
    SCOPED_TRACE(run[0]);
    std::vector<std::string> args = run;
    args.push_back("-");
    const std::string embedded = ok(args);
    EXPECT_FALSE(embedded.empty());
    // --port before the operation's name and after it.
    for (const size_t at : {size_t{0}, run.size()}) {
      std::vector<std::string> with = args;
      with.insert(with.begin() + static_cast<long>(at), {"--port", server.name()});
      EXPECT_TRUE(ok(with) == embedded);
    }
    // Every block the tool had in the server went back when it ended (the server reclaims a host's
    // blocks once it notices the connection close).
    for (int i = 0; i < 100; ++i) {
      corvix_host_stats(h.get(), &blocks, nullptr);
      if (blocks == baseline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(blocks, baseline);
  }
  // Command 0 ends the server.
  const Result r = corvix({"quit", "--port", server.name()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("quit"), std::string::npos) << r.err;
  EXPECT_EQ(server.wait_exit(5000), 0);
  // Now nobody answers on that port: a failure that names it, and no output.
  refused({"invert", "--port", server.name(), image_path("coffee.ppm"), path("out.ppm")}, 1,
          "no server answers on port '" + server.name() + "'", path("out.ppm"));
  EXPECT_EQ(corvix({"-q", "quit", "--port", server.name()}).code, 1);
}

}  // namespace
}  // namespace corvix::test::cli
