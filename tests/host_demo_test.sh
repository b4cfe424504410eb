#!/usr/bin/env bash
# The C example host against a real corvixd: it converts a frame with command 2 and quits the
# server with command 0; the picture equals the tool's conversion of the same frame.
set -euo pipefail
build=$1 src=$2
dir=$(mktemp -d /tmp/corvix-host-demo-XXXXXX)
export CORVIX_RUNTIME_DIR=$dir
"$build/corvixd" --port demo >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; rm -rf "$dir"' EXIT
for _ in $(seq 200); do [ -S "$dir/demo" ] && break; sleep 0.01; done
frame="$src/examples/media/astronaut_512x512.yuv411p"
"$build/examples/host_demo" demo "$frame" 512 512 "$dir/host.ppm" --quit | grep -q "word 0 = 123"
wait "$server"
"$build/corvix" yuv2rgb --size 512x512 --chroma 4 "$frame" "$dir/tool.ppm"
cmp "$dir/host.ppm" "$dir/tool.ppm"
echo "1 passed, 0 failed"
