#!/usr/bin/env bash
# The demo runs to its end, and its page shows what it says: every picture the page names
# exists and decodes at the size the page gives it (or a whole multiple, for enlarged ones),
# and every figure carries the command line that made it.
#   gallery_test.sh BUILD_DIR      (run from the top of the source tree)
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d /tmp/corvix-gallery-test-XXXXXX)
trap 'rm -rf "$out"' EXIT
scripts/demo.sh "$build" "$out" > "$out.log" 2>&1 || { cat "$out.log"; rm -f "$out.log"; exit 1; }
rm -f "$out.log"
/usr/bin/python3 - "$out" <<'PY'
import html, os, re, sys
from PIL import Image

out = sys.argv[1]
with open(os.path.join(out, "index.html"), encoding="utf-8") as f:
    page = f.read()
figures = re.findall(r"<figure\b.*?</figure>", page, re.S)
failures = []
pictures = 0
for figure in figures:
    code = " ".join(re.findall(r"<code>(.*?)</code>", figure, re.S))
    command = html.unescape(re.sub(r"<[^>]*>", "", code))
    if "corvix" not in command.split():
        failures.append("a figure without its corvix command line: %r" % command)
    for tag in re.findall(r"<img\b[^>]*>", figure):
        img = {k: html.unescape(v) for k, v in re.findall(r'([\w-]+)="([^"]*)"', tag)}
        pictures += 1
        path = os.path.join(out, img["src"])
        try:
            with Image.open(path) as im:
                im.load()
                w, h = im.size
        except Exception as e:  # missing or undecodable
            failures.append("%s: %s" % (img["src"], e))
            continue
        pw, ph = int(img["width"]), int(img["height"])
        if pw % w or ph % h or pw // w != ph // h:
            failures.append("%s is %dx%d, shown as %dx%d" % (img["src"], w, h, pw, ph))
        if not img.get("alt"):
            failures.append("%s has no alt text" % img["src"])
if pictures != len(re.findall(r"<img\b", page)):
    failures.append("a picture outside any figure")
if len(figures) < 30 or pictures < 40:
    failures.append("only %d figures and %d pictures" % (len(figures), pictures))
for f in failures:
    print("FAIL", f)
print("%d figures, %d pictures checked" % (len(figures), pictures))
sys.exit(1 if failures else 0)
PY
