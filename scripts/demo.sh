#!/usr/bin/env bash
# The demonstration: starts a real corvixd and does the application's job through it with the
# corvix tool, on the photograph and clip shipped in the repository. YUV 4:1:1 frames are
# converted and scaled, every server command shows its effect, then the graphics library's
# own operations; the server is ended with command 0, and demo-out/index.html shows one
# picture per step, captioned with the command that makes it and the time it took.
#
#   scripts/demo.sh [BUILD_DIR [OUT_DIR]]      (make demo runs it after building)
#
# Run from the top of the source tree. OUT_DIR (demo-out unless given) is made afresh.
set -euo pipefail
build=${1:-build}
out=${2:-demo-out}
corvix="$build/corvix"
for tool in "$corvix" "$build/corvixd" "$build/corvix_gallery"; do
  if [ ! -x "$tool" ]; then
    echo "demo: $tool is missing: build first (make build; the tool needs CLI11 and libpng)" >&2
    exit 1
  fi
done

rm -rf "$out"
mkdir -p "$out/frames"
manifest="$out/manifest.tsv"
: > "$manifest"

# A runtime directory of the demo's own, unless one is given; removed at the end.
made_runtime=""
if [ -z "${CORVIX_RUNTIME_DIR:-}" ]; then
  CORVIX_RUNTIME_DIR=$(mktemp -d /tmp/corvix-demo-XXXXXX)
  made_runtime=$CORVIX_RUNTIME_DIR
fi
export CORVIX_RUNTIME_DIR
trap '[ -z "$made_runtime" ] || rm -rf "$made_runtime"' EXIT
port=demo-$$
"$build/corvixd" --port "$port" &
server=$!
# Should anything fail, the server does not outlive the demo.
trap 'kill "$server" 2>/dev/null || true; [ -z "$made_runtime" ] || rm -rf "$made_runtime"' EXIT
for _ in $(seq 200); do [ -S "$CORVIX_RUNTIME_DIR/$port" ] && break; sleep 0.05; done
echo "corvixd (pid $server) serves port $port"

section=""
now() { date +%s%N; }

# step TITLE FILES -- ARGS...: runs `corvix ARGS` through the server and records it. FILES
# (blank-separated, relative to the output directory) are the pictures the gallery shows for
# the step, each perhaps with a way to show it (:detail=WxH+X+Y, :zoom=N, :planes=WxH:G; see
# examples/gallery/gallery.cc). The caption leaves out --port: run without it, corvix starts a
# server of its own and writes the same bytes.
step() {
  local title=$1 files=$2
  shift 3
  local start end seconds
  start=$(now)
  "$corvix" --port "$port" --quiet "$@"
  end=$(now)
  seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
  printf '  %-58s %s s\n' "$title" "$seconds"
  printf '%s\t%s\t%s\t%s\t%s\n' "$section" "$title" "corvix $*" "$seconds" "$files" >> "$manifest"
}

# pipe_step TITLE FILES PIPELINE: the same for a shell pipeline, in which "corvix" runs the
# tool through the server.
pipe_step() {
  local title=$1 files=$2 pipeline=$3
  local start end seconds
  start=$(now)
  CORVIX_RUN="$corvix --port $port --quiet" bash -c "set -eo pipefail; corvix() { \$CORVIX_RUN \"\$@\"; }; $pipeline"
  end=$(now)
  seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
  printf '  %-58s %s s\n' "$title" "$seconds"
  printf '%s\t%s\t%s\t%s\t%s\n' "$section" "$title" "$pipeline" "$seconds" "$files" >> "$manifest"
}

# text_step TITLE FILE -- ARGS...: the same for an operation that prints its result.
text_step() {
  local title=$1 file=$2
  shift 3
  local start end seconds
  start=$(now)
  "$corvix" --port "$port" "$@" > "$out/$file"
  end=$(now)
  seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
  printf '  %-58s %s s\n' "$title" "$seconds"
  printf '%s\t%s\t%s\t%s\t%s\n' "$section" "$title" "corvix $* > $out/$file" "$seconds" \
    "$file" >> "$manifest"
}

still=examples/media/astronaut_512x512.yuv411p
clip=examples/media/astronaut_zoom_224x168.yuv411p
photo=tests/images/coffee.ppm
a=$out/astronaut.ppm

section="YUV 4:1:1 video frames, converted and scaled in the server"
echo "$section"
step "One frame, 512x512 (command 2)" "astronaut.ppm" -- \
  yuv2rgb --pix-fmt yuv411p --size 512x512 "$still" "$a"
step "Scaled to 256x160 while converting (command 10)" "astronaut-small.ppm" -- \
  yuv2rgb --pix-fmt yuv411p --size 512x512 --resize 256x160 "$still" "$out/astronaut-small.ppm"
step "An 8-frame clip, frame by frame (command 2)" \
  "$(printf 'frames/zoom-%02d.ppm ' 1 2 3 4 5 6 7 8)" -- \
  yuv2rgb --pix-fmt yuv411p --size 224x168 "$clip" "$out/frames/zoom-%02d.ppm"
step "The clip doubled while converting (command 10)" "frames/big-01.ppm frames/big-08.ppm" -- \
  yuv2rgb --pix-fmt yuv411p --size 224x168 --resize 448x336 "$clip" "$out/frames/big-%02d.ppm"
step "Scale a colour frame (command 9)" "coffee-512.ppm" -- \
  scale --size 512x512 "$photo" "$out/coffee-512.ppm"
b=$out/coffee-512.ppm

section="Every server command"
echo "$section"
step "Colour cube indices, and their colours (command 4)" "cube-preview.ppm cube.pgm" -- \
  remap --preview "$out/cube-preview.ppm" "$a" "$out/cube.pgm"
step "A 16-colour palette taken from the photograph (command 9)" "palette.ppm:zoom=24" -- \
  scale --size 4x4 "$photo" "$out/palette.ppm"
step "Cube indices to the palette's pens (command 6)" "pens-preview.ppm" -- \
  pens --palette "$out/palette.ppm" --preview "$out/pens-preview.ppm" "$out/cube.pgm" \
  "$out/pens.pgm"
step "Scale a one-byte frame (command 3)" "cube-small.pgm" -- \
  scale --size 128x128 "$out/cube.pgm" "$out/cube-small.pgm"
step "Contrast 140%, brightness -10 (command 5)" "correct.ppm" -- \
  correct --contrast 140 --brightness -10 "$a" "$out/correct.ppm"
step "Negative through the correction (command 5)" "negative.ppm" -- \
  correct --negative "$a" "$out/negative.ppm"
step "Cross-fade half way (command 7)" "fade.ppm" -- \
  fade --level 128 "$a" "$b" "$out/fade.ppm"
step "Line doubling (command 8)" "deinterlace.ppm:detail=96x96+200+120" -- \
  deinterlace "$out/frames/big-08.ppm" "$out/deinterlace.ppm"
step "Dark levels raised to 101 (command 11)" "raise.ppm" -- \
  raise --level 100 "$a" "$out/raise.ppm"
step "Dark bytes give way to the other frame (command 12)" "fadeover.ppm" -- \
  fadeover --level 110 "$a" "$b" "$out/fadeover.ppm"
step "A quarter turn clockwise (command 13)" "turn.ppm" -- \
  turn --angle 90 "$a" "$out/turn.ppm"
step "Mirrored left to right (command 14)" "mirror.ppm" -- \
  mirror --horizontal "$a" "$out/mirror.ppm"
step "Inverted (command 15)" "invert.ppm" -- \
  invert "$a" "$out/invert.ppm"
step "Each channel stretched from 40..200 (command 16)" "stretch.ppm" -- \
  stretch --red 40,200 --green 40,200 --blue 40,200 "$a" "$out/stretch.ppm"
text_step "The lowest and highest levels (command 17)" "levels.txt" -- \
  levels "$a"
step "A flat picture, contrast 40% (command 5)" "flat.ppm" -- \
  correct --contrast 40 "$photo" "$out/flat.ppm"
step "...stretched back automatically (command 18)" "autolevel.ppm" -- \
  autolevel "$out/flat.ppm" "$out/autolevel.ppm"

section="The graphics library, in the tool's own process"
echo "$section"
step "Rotated by 30 degrees" "rotate.ppm" -- \
  rotate --angle 30 --background 40,40,72 "$a" "$out/rotate.ppm"
step "Sheared" "shear.ppm" -- \
  shear --shift 0,160 --background 255,255,255 "$a" "$out/shear.ppm"
step "Transposed" "transpose.ppm" -- \
  transpose "$photo" "$out/transpose.ppm"
step "A cut reaching past the edge" "cut.ppm" -- \
  cut --rect 260x260+380-40 "$a" "$out/cut.ppm"
step "Smoothed, 12 passes" "smooth.ppm:detail=128x128+190+150" -- \
  smooth --passes 12 "$a" "$out/smooth.ppm"
step "Ordered dither, Bayer 16x16" "dither5.ppm:detail=128x128+190+150" -- \
  dither --method 5 "$a" "$out/dither5.ppm"
step "Ordered dither, halftone" "dither3.ppm:detail=128x128+190+150" -- \
  dither --method 3 "$a" "$out/dither3.ppm"
step "A scaled blit" "blit.ppm" -- \
  blit --at 300,330 --size 192x128 "$a" "$photo" "$out/blit.ppm"
step "A blit whose brightness is its opacity" "blit-alpha.ppm" -- \
  blit --alpha 10 "$b" "$out/invert.ppm" "$out/blit-alpha.ppm"
step "A line" "line.ppm:detail=96x96+208+208" -- \
  line --from 0,511 --to 511,0 --colour 255,220,0 "$a" "$out/line.ppm"
step "A box as a grid of dots" "box.ppm:detail=96x96+24+24" -- \
  box --from 40,40 --to 200,160 --step 4 --colour 0,255,255 "$out/line.ppm" "$out/box.ppm"
step "A photograph made into YUV 4:1:1 planes" "coffee.yuv411p:planes=600x400:4" -- \
  rgb2yuv --pix-fmt yuv411p "$photo" "$out/coffee.yuv411p"
step "...and converted back (command 2)" "coffee-yuv.ppm" -- \
  yuv2rgb --pix-fmt yuv411p --size 600x400 "$out/coffee.yuv411p" "$out/coffee-yuv.ppm"

section="Video and pictures as people have them"
echo "$section"
step "Three frames as one y4m stream (yuv411p)" "" -- \
  rgb2yuv --pix-fmt yuv411p "$out/frames/zoom-01.ppm" "$out/frames/zoom-04.ppm" \
  "$out/frames/zoom-08.ppm" "$out/clip.y4m"
pipe_step "4:2:0 video from ffmpeg through the tool: the size comes from the stream" \
  "frames/y4m-1.ppm frames/y4m-3.ppm" \
  "ffmpeg -loglevel error -f yuv4mpegpipe -i $out/clip.y4m -pix_fmt yuv420p -f yuv4mpegpipe - | corvix yuv2rgb - $out/frames/y4m-%d.ppm"
# PNG and JPEG files need a tool that reads and writes them.
if "$corvix" --quiet cut --rect 1x1+0+0 "$photo" "$out/probe.png" 2>/dev/null &&
  [ "$(head -c 4 "$out/probe.png" | od -An -c | tr -d ' ')" = '211PNG' ]; then
  rm -f "$out/probe.png"
  pipe_step "A JPEG from ffmpeg turned, written as PNG (command 13)" "coffee-turned.png" \
    "ffmpeg -loglevel error -i $photo -q:v 3 -y $out/coffee.jpg && corvix turn --angle 90 $out/coffee.jpg $out/coffee-turned.png"
  pipe_step "y4m frames from ffmpeg straight to PNG files" "frames/png-1.png frames/png-3.png" \
    "ffmpeg -loglevel error -f yuv4mpegpipe -i $out/clip.y4m -f yuv4mpegpipe - | corvix yuv2rgb - $out/frames/png-%d.png"
else
  rm -f "$out/probe.png"
  echo "  (PNG and JPEG files: this corvix reads and writes only netpbm files, skipped)"
fi

section="The end"
echo "$section"
start=$(now)
"$corvix" --quiet quit --port "$port"
set +e
wait "$server"
code=$?
set -e
trap '[ -z "$made_runtime" ] || rm -rf "$made_runtime"' EXIT
end=$(now)
seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
echo "corvixd ended with exit code $code" > "$out/quit.txt"
printf '%s\t%s\t%s\t%s\t%s\n' "$section" "The server quits (command 0)" \
  "corvix quit --port $port" "$seconds" "quit.txt" >> "$manifest"
echo "  corvixd ended with exit code $code"

"$build/corvix_gallery" "$out" "$manifest"
echo "gallery: $out/index.html"
[ "$code" -eq 0 ]
