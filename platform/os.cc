// The 68k-call shim and the stand-in graphics library: a library is a table of vectors at
// negative offsets from its base, and PPCCallOS runs the vector the call record names with
// the record's registers.
#include <cstdlib>
#include <cstring>
#include <new>

#include "corvix/platform.h"

struct ColorMap {
  int32_t count;
  uint8_t rgb[1];  // count triplets follow
};

struct Library {
  const char *name;
  uint32_t version;
  uintptr_t (*find_color)(PPCCallRecord *);
};

namespace corvix {
namespace {

// Pen of least squared distance to the colour (top 8 bits of each left-justified component);
// the lowest pen wins ties. d4 limits the pens searched (-1: all of them).
uintptr_t find_color(PPCCallRecord *r) {
  const auto *map = reinterpret_cast<const ColorMap *>(r->caos_a[3]);
  if (map == nullptr) return 0;
  const int32_t want[3] = {static_cast<int32_t>((r->caos_d[1] >> 24) & 0xFF),
                           static_cast<int32_t>((r->caos_d[2] >> 24) & 0xFF),
                           static_cast<int32_t>((r->caos_d[3] >> 24) & 0xFF)};
  const auto limit = static_cast<int32_t>(static_cast<uint32_t>(r->caos_d[4]));
  int32_t pens = map->count;
  if (limit >= 0 && limit + 1 < pens) pens = limit + 1;
  int32_t best = 0;
  int64_t best_distance = INT64_MAX;
  for (int32_t pen = 0; pen < pens; ++pen) {
    int64_t d = 0;
    for (int c = 0; c < 3; ++c) {
      const int64_t e = map->rgb[3 * pen + c] - want[c];
      d += e * e;
    }
    if (d < best_distance) {
      best_distance = d;
      best = pen;
    }
  }
  return static_cast<uintptr_t>(best);
}

Library g_graphics{"graphics.library", 40, find_color};

}  // namespace
}  // namespace corvix

extern "C" {

uintptr_t PPCCallOS(PPCCallRecord *record) {
  if (record == nullptr || record->caos_a6 == nullptr) return 0;
  if (record->caos_offset == GFX_FINDCOLOR_OFFSET && record->caos_a6->find_color != nullptr)
    return record->caos_a6->find_color(record);
  return 0;
}

Library *OpenLibrary(const char *name, uint32_t version) {
  if (name == nullptr || std::strcmp(name, corvix::g_graphics.name) != 0) return nullptr;
  if (const char *v = std::getenv("CORVIX_GRAPHICS_VERSION"))
    corvix::g_graphics.version = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
  return corvix::g_graphics.version >= version ? &corvix::g_graphics : nullptr;
}

void CloseLibrary(Library *) {}

Library *corvix_gfxbase(void) {
  // Opened once, also when commands of several hosts ask at the same time.
  static Library *const base = OpenLibrary("graphics.library", 0);
  return base;
}

ColorMap *corvix_colormap_create(const uint8_t *rgb, int32_t count) {
  if (rgb == nullptr || count < 1 || count > 65536) return nullptr;
  const size_t bytes = offsetof(ColorMap, rgb) + 3 * static_cast<size_t>(count);
  auto *map = static_cast<ColorMap *>(std::malloc(bytes));
  if (map == nullptr) return nullptr;
  map->count = count;
  std::memcpy(map->rgb, rgb, 3 * static_cast<size_t>(count));
  return map;
}

void corvix_colormap_free(ColorMap *map) { std::free(map); }

}  // extern "C"
