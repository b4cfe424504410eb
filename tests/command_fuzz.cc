// Fuzz target for the server's command decoder. Each input is one command of a hostile host:
// the blocks it owns and their sizes, which of them is the argument block, the code, the nine
// words and the records and addresses written into its blocks. A server in this process runs
// it, with CORVIX_FUZZ_WORKERS workers (default 1). After each command:
//  - no byte outside the sender's blocks changed: a second host's fence blocks, allocated
//    between the sender's, keep their pattern, and so does the padding past each sender block;
//  - the reply is 0 or a refusal of the argument block, and word 0 is 0 or a record the
//    command made, which is the sender's and goes back with everything else (nothing leaks);
//  - the command's CPU time stays within what the bytes it may touch (its blocks and what
//    its quota lets it make) justify, so no loop runs on sizes that touch nothing.
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "corvix/commands.h"
#include "corvix/host.hpp"
#include "platform/memory.h"
#include "platform/range_allocator.h"
#include "server/server.h"

namespace {

// Stops the run, naming the condition that failed.
#define CHECK(cond) \
  ((cond) ? void() : (std::fprintf(stderr, "command_fuzz: %s fails\n", #cond), std::abort()))

constexpr uint64_t kQuota = uint64_t{1} << 20;  // what one host may hold, results included
constexpr int kMaxBlocks = 8;
constexpr uint32_t kMaxBlock = 4096;
constexpr uint32_t kFence = 48;
constexpr uint64_t kGranule = corvix::RangeAllocator::kGranule;  // blocks come in these steps
// CPU time a command may take: a constant for the reply and the tables, plus a generous time
// per byte it may touch (sanitizer builds included).
constexpr double kBaseSeconds = 0.25;
constexpr double kSecondsPerByte = 100e-9;

// Bytes of the input, read front to back; 0 once they run out.
struct Reader {
  const uint8_t *p;
  size_t n;
  uint8_t u8() { return n == 0 ? 0 : (--n, *p++); }
  uint32_t u16() {  // the operands of | may be read in either order: the high byte first
    const uint32_t high = u8();
    return high << 8 | u8();
  }
  uint32_t u32() {
    const uint32_t high = u16();
    return high << 16 | u16();
  }
};

struct World {
  corvix::Host sender, bystander;
};

World &world() {
  static World *w = [] {
    // A private runtime directory for the port, gone at exit with whatever the port left.
    static std::string dir = std::filesystem::temp_directory_path() / "corvix-fuzz-XXXXXX";
    CHECK(mkdtemp(dir.data()) != nullptr && setenv("CORVIX_RUNTIME_DIR", dir.c_str(), 1) == 0);
    corvix::set_host_quota(kQuota);
    const PPCTagItem tags[] = {{PPCPORTTAG_NAME, reinterpret_cast<uintptr_t>("fuzz")},
                               {TAG_END, 0}};
    PPCPort *port = PPCCreatePort(tags);
    CHECK(port != nullptr);
    const char *workers = std::getenv("CORVIX_FUZZ_WORKERS");
    static std::thread server(
        [=] { corvix::serve(port, workers != nullptr ? std::atoi(workers) : 1); });
    auto *made = new World{corvix::Host::open("fuzz"), corvix::Host::open("fuzz")};
    CHECK(made->sender && made->bystander);
    std::atexit([] {
      World &all = world();
      all.sender.send(CORVIX_CMD_QUIT, all.sender.args({}));
      server.join();
      std::filesystem::remove_all(dir);
    });
    return made;
  }();
  return *w;
}

uint8_t fence_byte(uint32_t k) { return static_cast<uint8_t>(0xC3 ^ (k * 29)); }

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One input's blocks: the sender's, and a foreign fence after each.
struct Layout {
  int count = 0;
  uint32_t addr[kMaxBlocks] = {}, size[kMaxBlocks] = {}, fence[kMaxBlocks] = {};

  // An offset byte: small values count from the start, the top 56 back from the end.
  static int64_t offset(uint8_t o, uint32_t size) {
    return o < 200 ? o : static_cast<int64_t>(size) - (o - 200);
  }
  // A word: an address in or near one of the sender's blocks or a fence, any 32-bit value,
  // or a small signed number.
  uint32_t word(Reader &r) const {
    switch (r.u8() % 4) {
      case 0: {
        const int b = r.u8() % count;
        return static_cast<uint32_t>(addr[b] + offset(r.u8(), size[b]));
      }
      case 1: {
        const int b = r.u8() % count;
        return static_cast<uint32_t>(fence[b] + offset(r.u8(), kFence));
      }
      case 2: return r.u32();
      default: return static_cast<uint32_t>(static_cast<int8_t>(r.u8()));
    }
  }
};

bool makes_record(int32_t code) {
  return code == CORVIX_CMD_SCALE || code == CORVIX_CMD_SCALECOPY || code == CORVIX_CMD_YUVSCALE ||
         code == CORVIX_CMD_ROTANGLE || code == CORVIX_CMD_FINDMINMAX;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  World &w = world();
  Reader r{data, size};
  Layout l;
  l.count = 1 + r.u8() % kMaxBlocks;
  uint64_t may_touch = kQuota;
  for (int i = 0; i < l.count; ++i) {
    l.size[i] = r.u16() % (kMaxBlock + 1);
    may_touch += l.size[i];
    l.addr[i] = w.sender.alloc(l.size[i], MEMF_ANY);
    l.fence[i] = w.bystander.alloc(kFence, MEMF_ANY);
    CHECK(l.addr[i] != 0 && l.fence[i] != 0);
    uint8_t *p = w.sender.at(l.addr[i]);
    for (uint32_t k = 0; k < l.size[i]; ++k) p[k] = static_cast<uint8_t>(k * 37 + i * 101 + 11);
    for (uint32_t k = 0; k < kFence; ++k) w.bystander.at(l.fence[i])[k] = fence_byte(k);
  }
  const int args = r.u8() % l.count;
  // Quitting would end this process's server: codes 0 and 1 become codes no command has.
  int32_t code = static_cast<int32_t>(r.u8() % 24) - 3;
  if (code == CORVIX_CMD_QUIT || code == CORVIX_CMD_QUIT_TOO) code = -4 - code;
  uint32_t words[10] = {0xDEADBEEF};
  for (int i = 1; i <= 9; ++i) words[i] = l.word(r);
  for (int i = 0; i <= 9 && 4 * i + 4 <= static_cast<int>(l.size[args]); ++i)
    corvix_put_be32(w.sender.at(l.addr[args]) + 4 * i, words[i]);
  // The rest of the input writes records: a word at an offset of one of the blocks.
  while (r.n > 0) {
    const int b = r.u8() % l.count;
    const int64_t at = Layout::offset(r.u8(), l.size[b]);
    const uint32_t v = l.word(r);
    if (at >= 0 && at + 4 <= l.size[b]) corvix_put_be32(w.sender.at(l.addr[b]) + at, v);
  }

  // The padding past each block belongs to no one else; snapshot it through the host's view.
  std::vector<uint8_t> padding[kMaxBlocks];
  for (int i = 0; i < l.count; ++i) {
    const uint64_t reserved = std::max(kGranule, (l.size[i] + kGranule - 1) / kGranule * kGranule);
    padding[i].assign(w.sender.at(l.addr[i] + l.size[i]), w.sender.at(l.addr[i] + reserved));
  }

  const double start = cpu_seconds();
  const int32_t status = w.sender.send(code, l.addr[args]);
  const double spent = cpu_seconds() - start;
  CHECK(spent <= kBaseSeconds + kSecondsPerByte * static_cast<double>(may_touch));
  CHECK(status == 0 || status == -EFAULT);

  for (int i = 0; i < l.count; ++i) {
    const uint32_t end = l.addr[i] + l.size[i];
    CHECK(std::equal(padding[i].begin(), padding[i].end(), w.sender.at(end)));
    for (uint32_t k = 0; k < kFence; ++k) CHECK(w.bystander.at(l.fence[i])[k] == fence_byte(k));
  }
  if (status == 0 && l.size[args] >= 4) {
    const uint32_t made = w.sender.word(l.addr[args], 0);
    CHECK(made == 0 || makes_record(code));
    if (made != 0 && code == CORVIX_CMD_FINDMINMAX) {
      w.sender.free(made);
    } else if (made != 0) {
      const Bitmap b = w.sender.read_bitmap(made);
      CHECK(b.width >= 0 && b.height >= 0 && b.bytes_per_pixel >= 0);
      w.sender.free_bitmap(made);
    }
  }
  for (int i = 0; i < l.count; ++i) {
    w.sender.free(l.addr[i]);
    w.bystander.free(l.fence[i]);
  }
  CHECK(w.sender.blocks() == 0 && w.bystander.blocks() == 0);
  return 0;
}
