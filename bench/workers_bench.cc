// Eight hosts, each on its own connection, sending a mix of commands on PAL and HD frames to
// a real corvixd: aggregate commands per second with one worker and with two. Arguments:
// workers; threads a command may use (0: every core the process may run on); frames: 0 the
// whole mix, 1 only its PAL commands, 2 only its HD ones (most of these stream whole HD
// frames through memory, so two cores share one memory's speed).
//
//   build/bench/workers_bench --benchmark_counters_tabular=true

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/support.h"
#include "core/parallel.h"
#include "corvix/host.hpp"

namespace corvix::bench {
namespace {

constexpr int kHosts = 8;

// One host's frames and its round of commands: five on PAL frames, four on HD ones.
struct MixedHost {
  Host h;
  struct Step {
    int32_t code;
    uint32_t block;
    bool makes;  // word 0 names a new record to free (a Bitmap, or a LevelRange with pixels 0)
  };
  std::vector<Step> round;

  MixedHost(const std::string &port, int index, int64_t frames) : h(Host::open(port.c_str())) {
    if (!h) return;
    const auto frame = [&](Size s) {
      const std::vector<uint8_t> photo = photo_frame(s, 3);
      return h.bitmap(h.put(photo.data(), photo.size()), s.width, s.height, 3);
    };
    const uint32_t pal = frame(kPal), other = frame(kPal), hd = frame(kHd);
    const uint32_t n = kPal.width * kPal.height;
    const std::vector<uint8_t> luma = photo_frame(kPal, 1), chroma(n / 4, 128);
    const uint32_t y = h.put(luma.data(), n), c = h.put(chroma.data(), chroma.size());
    const auto px = [&](uint32_t record) { return h.pixels_of(record); };
    round = {
        {CORVIX_CMD_YUVTORGB, h.args({y, c, c, px(pal), n, 4}), false},
        {CORVIX_CMD_FADEOVER, h.args({px(pal), px(other), px(other), 30, 720, 576, 3}), false},
        {CORVIX_CMD_MIRROR, h.args({pal, 1, 1}), false},
        {CORVIX_CMD_FINDMINMAX, h.args({pal, 0}), true},
        {CORVIX_CMD_AUTOLEVEL, h.args({other}), false},
        {CORVIX_CMD_CORRECT, h.args({hd, 110, 256 + 4, 0}), false},
        {CORVIX_CMD_INVERT, h.args({hd}), false},
        {CORVIX_CMD_ROTANGLE, h.args({hd, 0}), true},
        {CORVIX_CMD_SCALECOPY, h.args({pal, 1920, 1080}), true},
    };
    if (frames == 1) round.resize(5);
    if (frames == 2) round.erase(round.begin(), round.begin() + 5);
    // Hosts start at different places in the round, so the mix is mixed at every moment.
    std::rotate(round.begin(), round.begin() + index % round.size(), round.end());
  }

  bool run_round() {
    for (const Step &s : round) {
      if (h.send(s.code, s.block) != 0) return false;
      if (!s.makes) continue;
      const uint32_t made = h.word(s.block, 0);
      if (made == 0) return false;
      if (s.code == CORVIX_CMD_FINDMINMAX)
        h.free(made);
      else
        h.free_bitmap(made);
    }
    return true;
  }
};

void BM_EightHostsMixedCommands(benchmark::State &state) {
  const auto workers = std::to_string(state.range(0));
  std::vector<std::string> args = {"--workers", workers};
  // (The benchmarks' environment holds CORVIX_THREADS=1: the default is given outright.)
  const int64_t threads = state.range(1) != 0 ? state.range(1) : available_cores();
  args.insert(args.end(), {"--threads", std::to_string(threads)});
  Daemon daemon(args);
  std::vector<std::unique_ptr<MixedHost>> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.push_back(std::make_unique<MixedHost>(daemon.name(), i, state.range(2)));
    if (!hosts.back()->h) {
      state.SkipWithError("corvixd did not start");
      return;
    }
  }
  // Enough rounds that the hosts finishing last (a free rotation of HD takes milliseconds)
  // leave a worker idle for only a small part of each iteration.
  constexpr int kRounds = 12;
  bool ok = true;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    std::vector<char> done(kHosts, 1);
    for (int i = 0; i < kHosts; ++i)
      threads.emplace_back([&, i] {
        for (int r = 0; r < kRounds; ++r) done[i] = done[i] && hosts[i]->run_round();
      });
    for (std::thread &t : threads) t.join();
    for (char d : done) ok = ok && d != 0;
  }
  if (!ok) state.SkipWithError("a command failed");
  const double commands =
      static_cast<double>(state.iterations()) * kHosts * kRounds * hosts[0]->round.size();
  state.counters["commands_per_s"] = benchmark::Counter(commands, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EightHostsMixedCommands)
    ->ArgNames({"workers", "threads", "frames"})
    ->ArgsProduct({{1, 2}, {1, 0}, {0}})
    ->ArgsProduct({{1, 2}, {1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

}  // namespace
}  // namespace corvix::bench
