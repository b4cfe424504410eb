#!/usr/bin/env bash
# cmake --install puts a usable library in place: a C program builds against it through
# pkg-config and through find_package(corvix), and runs.
set -euo pipefail
build=$1 src=$2
prefix=$(mktemp -d /tmp/corvix-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
cat > "$prefix/use.c" <<'C'
#include <corvix/corvix.h>
#include <stdio.h>
int main(void) {
  Bitmap *b = gx_allocbitmap(4, 3, 3);
  if (b == NULL || b->width != 4) return 1;
  gx_freebitmap(b);
  puts("ok");
  return 0;
}
C
cc "$prefix/use.c" -o "$prefix/use" $(pkg-config --cflags --libs corvix) -Wl,-rpath,"$(pkg-config --variable=libdir corvix)"
[ "$("$prefix/use")" = ok ]
# The static library, linked by what pkg-config --static says, needs no libcorvix.so at run time.
static=$(pkg-config --static --libs corvix | sed 's/-lcorvix\b/-l:libcorvix.a/')
cc "$prefix/use.c" -o "$prefix/use-static" $(pkg-config --cflags corvix) $static
[ "$("$prefix/use-static")" = ok ]
if ldd "$prefix/use-static" | grep -q libcorvix; then echo "use-static needs libcorvix.so"; exit 1; fi
# The tools come with their man pages and bash completion, where the build made them.
if [ -x "$build/corvix" ]; then
  [ -s "$prefix/share/bash-completion/completions/corvix" ]
  if command -v help2man >/dev/null; then
    for page in corvix corvixd; do
      grep -q '^\.SH NAME' "$prefix/share/man/man1/$page.1" || {
        echo "no man page for $page"
        exit 1
      }
    done
  fi
fi
mkdir "$prefix/consumer"
cat > "$prefix/consumer/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.20)
project(consumer C)
find_package(corvix REQUIRED)
add_executable(use ../use.c)
target_link_libraries(use corvix::corvix)
CM
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer/build" >/dev/null
[ "$(LD_LIBRARY_PATH="$(pkg-config --variable=libdir corvix)" "$prefix/consumer/build/use")" = ok ]
# The Python package, when built, lands in the interpreter's site directory under the prefix.
site=$(find "$prefix" -path '*-packages/corvix/__init__.py' | head -1)
if [ -n "$site" ]; then
  [ "$(cd "$prefix" && PYTHONPATH="$(dirname "$(dirname "$site")")" /usr/bin/python3 -c \
    'import corvix, numpy; print(int(corvix.invert(numpy.zeros((2, 2), numpy.uint8))[1, 1]))')" = 255 ]
fi
echo "1 passed, 0 failed"
