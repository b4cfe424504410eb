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
import html.parser, os, sys
from PIL import Image

out = sys.argv[1]

class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.figures = []  # [pictures, command text]
        self.in_code = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "figure":
            self.figures.append([[], ""])
        elif tag == "img":
            assert self.figures, "a picture outside any figure: %s" % a.get("src")
            self.figures[-1][0].append(a)
        elif tag == "code" and self.figures:
            self.in_code = True

    def handle_endtag(self, tag):
        if tag == "code":
            self.in_code = False

    def handle_data(self, data):
        if self.in_code:
            self.figures[-1][1] += data

page = Page()
with open(os.path.join(out, "index.html"), encoding="utf-8") as f:
    page.feed(f.read())
failures = []
pictures = 0
for shown, command in page.figures:
    words = command.split()
    if "corvix" not in words:
        failures.append("a figure without its corvix command line: %r" % command)
    for img in shown:
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
if len(page.figures) < 30 or pictures < 40:
    failures.append("only %d figures and %d pictures" % (len(page.figures), pictures))
for f in failures:
    print("FAIL", f)
print("%d figures, %d pictures checked" % (len(page.figures), pictures))
sys.exit(1 if failures else 0)
PY
