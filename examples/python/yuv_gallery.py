#!/usr/bin/env python3
"""The demo's job in Python: raw YUV 4:1:1 frames converted and scaled through a server, every
server command's effect, then the library's own operations, written as a gallery page.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/yuv_gallery.py [--port NAME] [OUT]

Without --port a server is started inside this process; with it, a running corvixd does the
work (corvixd --port NAME &). Writes OUT/index.html (default demo-py) with one PNG per step.
"""

import argparse
import html
import pathlib
import time

import numpy as np
from PIL import Image

import corvix

ROOT = pathlib.Path(__file__).resolve().parents[2]
MEDIA = ROOT / "examples" / "media"


def read_yuv(path, width, height, chroma=4):
    """Frames of raw planar YUV as ffmpeg writes them: Y, then U (Cb), then V (Cr)."""
    data = np.fromfile(path, np.uint8)
    luma, plane = width * height, width * height // chroma
    frame = luma + 2 * plane
    for start in range(0, data.size - frame + 1, frame):
        f = data[start:start + frame]
        yield (f[:luma].reshape(height, width),
               f[luma:luma + plane].reshape(height, -1),
               f[luma + plane:].reshape(height, -1))


class Gallery:
    def __init__(self, out):
        self.out = pathlib.Path(out)
        self.out.mkdir(parents=True, exist_ok=True)
        self.sections = []

    def section(self, title):
        self.sections.append((title, []))
        print(title)

    def step(self, title, code, work):
        """Runs `work` (returning one image or several) and records its pictures."""
        start = time.perf_counter()
        result = work()
        seconds = time.perf_counter() - start
        images = result if isinstance(result, list) else [result]
        names = []
        for i, image in enumerate(images):
            name = f"{len(self.sections)}-{len(self.sections[-1][1])}-{i}.png"
            Image.fromarray(np.asarray(image)).save(self.out / name)
            names.append(name)
        self.sections[-1][1].append((title, code, seconds, names))
        print(f"  {title:<58} {seconds:.3f} s")
        return result

    def write(self):
        parts = ["<!doctype html><meta charset=utf-8><title>corvix from Python</title>",
                 "<style>body{font-family:sans-serif;background:#222;color:#ddd}"
                 "figure{display:inline-block;margin:8px;vertical-align:top}"
                 "img{max-width:320px;image-rendering:pixelated}code{color:#9cf}</style>",
                 "<h1>corvix from Python</h1>"]
        for title, steps in self.sections:
            parts.append(f"<h2>{html.escape(title)}</h2>")
            for step, code, seconds, names in steps:
                imgs = "".join(f'<img src="{n}">' for n in names)
                parts.append(f"<figure>{imgs}<figcaption>{html.escape(step)} ({seconds * 1e3:.1f}"
                             f" ms)<br><code>{html.escape(code)}</code></figcaption></figure>")
        (self.out / "index.html").write_text("\n".join(parts) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", help="a running corvixd's port (default: a server in this process)")
    parser.add_argument("out", nargs="?", default="demo-py")
    args = parser.parse_args()
    g = Gallery(args.out)
    host = corvix.Host(args.port) if args.port else corvix.Host.embedded()
    with host:
        g.section("YUV 4:1:1 video frames, converted and scaled in the server")
        y, u, v = next(read_yuv(MEDIA / "astronaut_512x512.yuv411p", 512, 512))
        # Planes in shared memory: the server reads them where they are.
        planes = [host.array(p.shape) for p in (y, u, v)]
        for shared, p in zip(planes, (y, u, v)):
            shared[:] = p
        a = g.step("One frame, 512x512 (command 2)", "host.yuv2rgb(y, u, v)",
                   lambda: host.yuv2rgb(*planes))
        g.step("Scaled to 256x160 while converting (command 10)",
               "host.yuv2rgb(y, u, v, resize=(256, 160))",
               lambda: host.yuv2rgb(*planes, resize=(256, 160)))
        clip = list(read_yuv(MEDIA / "astronaut_zoom_224x168.yuv411p", 224, 168))
        g.step(f"A {len(clip)}-frame clip, frame by frame (command 2)",
               "[host.yuv2rgb(*f) for f in frames]",
               lambda: [host.yuv2rgb(*f) for f in clip])
        photo = corvix.load(ROOT / "tests" / "images" / "coffee.ppm")
        b = g.step("Scale a colour frame (command 9)", "host.scale(photo, (512, 512))",
                   lambda: host.scale(photo, (512, 512)))

        g.section("Every server command")
        cube = g.step("Colour cube indices (command 4)", "host.remap(a)", lambda: host.remap(a))
        palette = corvix.scale(photo, (4, 4))
        pens = host.array(cube.shape)
        pens[:] = cube
        g.step("Cube indices to a 16-colour palette's pens (command 6), shown in its colours",
               "host.pens(frame, palette=palette)",
               lambda: palette.reshape(-1, 3)[host.pens(pens, palette=palette)])
        g.step("Scale a one-byte frame (command 3)", "host.scale(cube, (128, 128))",
               lambda: host.scale(cube, (128, 128)))

        def in_place(call):
            frame = host.array(a.shape)
            frame[:] = a
            call(frame)
            return frame
        g.step("Contrast 140%, brightness -10 (command 5)",
               "host.correct(f, contrast=140, brightness=-10)",
               lambda: in_place(lambda f: host.correct(f, contrast=140, brightness=-10)))
        g.step("Cross-fade half way (command 7)", "host.fade(a, b, level=128)",
               lambda: host.fade(a, b, level=128))
        g.step("Line doubling (command 8)", "host.deinterlace(f)",
               lambda: in_place(host.deinterlace))
        g.step("Dark levels raised to 101 (command 11)", "host.raise_levels(f, 100)",
               lambda: in_place(lambda f: host.raise_levels(f, 100)))
        g.step("Dark bytes give way to the other frame (command 12)",
               "host.fadeover(f, b, 110)", lambda: in_place(lambda f: host.fadeover(f, b, 110)))
        g.step("A quarter turn clockwise (command 13)", "host.turn(a)", lambda: host.turn(a))
        g.step("Mirrored left to right (command 14)", "host.mirror(f, horizontal=True)",
               lambda: in_place(lambda f: host.mirror(f, horizontal=True)))
        g.step("Inverted (command 15)", "host.invert(f)", lambda: in_place(host.invert))
        g.step("Each channel stretched from 40..200 (command 16)",
               "host.stretch(f, red=(40, 200), green=(40, 200), blue=(40, 200))",
               lambda: in_place(lambda f: host.stretch(f, red=(40, 200), green=(40, 200),
                                                       blue=(40, 200))))
        levels = host.levels(a)
        print("  levels (command 17):", levels)
        flat = corvix.correct(photo.copy(), contrast=40)
        g.step("A flat picture stretched back automatically (command 18)",
               "host.autolevel(f)", lambda: [flat, host.autolevel(_shared(host, flat))])

    g.section("The graphics library, in this process")
    g.step("Rotated by 30 degrees", "corvix.rotate(a, 30, background=(40, 40, 72))",
           lambda: corvix.rotate(a, 30, background=(40, 40, 72)))
    g.step("Sheared", "corvix.shear(a, shift=(0, 160), background=(255, 255, 255))",
           lambda: corvix.shear(a, shift=(0, 160), background=(255, 255, 255)))
    g.step("A cut reaching past the edge", "corvix.cut(a, (260, 260, 380, -40))",
           lambda: corvix.cut(a, (260, 260, 380, -40)))
    g.step("Smoothed, 12 passes", "corvix.smooth(a, passes=12)",
           lambda: corvix.smooth(a, passes=12))
    g.step("Ordered dither, Bayer 16x16", "corvix.dither(a, method=5)",
           lambda: corvix.dither(a, method=5))
    g.step("A scaled blit", "corvix.blit(d, photo, at=(300, 330), size=(192, 128))",
           lambda: corvix.blit(a.copy(), photo, at=(300, 330), size=(192, 128)))
    g.step("A line and a box of dots",
           "corvix.line(d, (0, 511), (511, 0)); corvix.box(d, (40, 40), (200, 160), step=4)",
           lambda: corvix.box(corvix.line(a.copy(), (0, 511), (511, 0), colour=(255, 220, 0)),
                              (40, 40), (200, 160), step=4, colour=(0, 255, 255)))
    y2, u2, v2 = corvix.rgb2yuv(photo, chroma=4)
    g.step("A photograph made into YUV 4:1:1 planes and back", "corvix.yuv2rgb(*corvix.rgb2yuv(photo))",
           lambda: corvix.yuv2rgb(y2, u2, v2))
    g.write()
    print(f"gallery: {g.out / 'index.html'}")


def _shared(host, image):
    frame = host.array(image.shape)
    frame[:] = image
    return frame


if __name__ == "__main__":
    main()
