/* A host in plain C: converts one raw YUV 4:1:1 frame through a running corvixd with
 * command 2, writes it as a PPM, and (with --quit) ends the server with command 0.
 *
 *   host_demo PORT FRAME.yuv411p WIDTH HEIGHT OUT.ppm [--quit]
 *
 * The frame is laid out as ffmpeg writes -pix_fmt yuv411p: Y, then Cb, then Cr planes.
 * WIDTH must be a multiple of 4, so that the planes' rows and the conversion's groups of four
 * pixels coincide. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "corvix/corvix.h"

static int fail(const char *what) {
  fprintf(stderr, "host_demo: %s\n", what);
  return 1;
}

int main(int argc, char **argv) {
  if (argc < 6) return fail("usage: host_demo PORT FRAME WIDTH HEIGHT OUT.ppm [--quit]");
  const long w = strtol(argv[3], NULL, 10), h = strtol(argv[4], NULL, 10);
  if (w <= 0 || h <= 0 || w % 4 != 0 || w * h > (1L << 26))
    return fail("WIDTH and HEIGHT must be positive, WIDTH a multiple of 4");
  const uint32_t n = (uint32_t)(w * h), chroma = n / 4;

  corvix_host *host = corvix_host_open(argv[1]);
  if (host == NULL) return fail("no server answers on that port");
  /* Shared blocks: the three planes, the destination and the argument block. */
  const uint32_t y = corvix_host_alloc(host, n, MEMF_ANY);
  const uint32_t cb = corvix_host_alloc(host, chroma, MEMF_ANY);
  const uint32_t cr = corvix_host_alloc(host, chroma, MEMF_ANY);
  const uint32_t out = corvix_host_alloc(host, 3 * n, MEMF_ANY);
  const uint32_t args = corvix_host_alloc(host, 40, MEMF_CLEAR);
  if (!y || !cb || !cr || !out || !args) return fail("the server refused shared memory");

  FILE *f = fopen(argv[2], "rb");
  if (f == NULL) return fail("cannot open the frame");
  const size_t got = fread(corvix_host_pointer(host, y), 1, n, f) +
                     fread(corvix_host_pointer(host, cb), 1, chroma, f) +
                     fread(corvix_host_pointer(host, cr), 1, chroma, f);
  fclose(f);
  if (got != n + 2 * chroma) return fail("the frame file is short");

  /* Command 2: Y, Cr, Cb, destination, pixel count, group size (big-endian words). */
  uint8_t *words = corvix_host_pointer(host, args);
  const uint32_t values[6] = {y, cr, cb, out, n, 4};
  for (int i = 0; i < 6; ++i) corvix_put_be32(words + 4 * (i + 1), values[i]);
  if (corvix_host_send(host, 2, args) != 0) return fail("command 2 failed");

  /* Byte 0 of each pixel is blue (Cr went in as the second plane); PPM wants red first. */
  FILE *o = fopen(argv[5], "wb");
  if (o == NULL) return fail("cannot write the output");
  fprintf(o, "P6\n%ld %ld\n255\n", w, h);
  const uint8_t *px = corvix_host_pointer(host, out);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t rgb[3] = {px[3 * i + 2], px[3 * i + 1], px[3 * i]};
    fwrite(rgb, 1, 3, o);
  }
  if (fclose(o) != 0) return fail("cannot write the output");
  printf("converted %ldx%ld through port %s into %s\n", w, h, argv[1], argv[5]);

  if (argc > 6 && strcmp(argv[6], "--quit") == 0) {
    corvix_host_send(host, 0, args);
    printf("server quit with word 0 = %u\n", corvix_get_be32(words));
  }
  corvix_host_close(host);
  return 0;
}
