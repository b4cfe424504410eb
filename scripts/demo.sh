#!/usr/bin/env bash
# The demonstration: start a real corvixd, convert a real YUV frame through it with command 2,
# write the picture, and end the server with command 0.
set -euo pipefail
build=${1:-build}
out=demo-out
mkdir -p "$out"
export CORVIX_RUNTIME_DIR=${CORVIX_RUNTIME_DIR:-$(mktemp -d /tmp/corvix-demo-XXXXXX)}
port=demo-$$
"$build/corvixd" --port "$port" &
server=$!
for _ in $(seq 100); do [ -S "$CORVIX_RUNTIME_DIR/$port" ] && break; sleep 0.05; done
"$build/examples/host_demo" "$port" examples/media/astronaut_512x512.yuv411p 512 512 \
  "$out/astronaut.ppm" --quit
wait "$server"
echo "corvixd ended with exit code $?; picture: $out/astronaut.ppm"
