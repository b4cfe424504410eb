#!/usr/bin/env python3
"""Writes the command fuzzer's seeds: one well-formed command per code, in the input format
that tests/command_fuzz.cc reads (blocks and sizes, the argument block, the code, nine words,
then words written into blocks at offsets). Rerun after changing the format:
    python3 tests/corpus/command_seeds.py tests/corpus/command"""
import os
import struct
import sys


def blk(b, off=0):      # the address of the sender's block b, plus off (0..199)
    return bytes([0, b, off])


def foreign(b, off=0):  # the address of the fence after block b: another host's bytes
    return bytes([1, b, off])


def raw(v):             # any 32-bit value
    return bytes([2]) + struct.pack(">I", v & 0xFFFFFFFF)


def small(v):           # -128..127
    return bytes([3, v & 0xFF])


def seed(sizes, args, code, words, patches=()):
    out = bytes([len(sizes) - 1]) + b"".join(struct.pack(">H", s) for s in sizes)
    out += bytes([args, code + 3])
    words = list(words) + [small(0)] * (9 - len(words))
    out += b"".join(words)
    for b, off, w in patches:
        out += bytes([b, off]) + w
    return out


def frame(rec, pixels, w, h, bpp):  # a Bitmap record in block rec naming block pixels
    return [(rec, 0, blk(pixels)), (rec, 4, small(w)), (rec, 8, small(h)), (rec, 12, small(bpp))]


F = frame(1, 0, 7, 5, 3)  # blocks: 0 pixels (105 bytes), 1 record, then the argument block
SEEDS = {
    "02-yuvtorgb": seed([12, 3, 3, 36, 40], 4, 2,
                        [blk(0), blk(1), blk(2), blk(3), small(11), small(4)]),
    "03-scale": seed([35, 16, 40], 2, 3, [blk(1), small(9), small(8)], frame(1, 0, 7, 5, 1)),
    "04-remap24": seed([63, 16, 21, 216, 40], 4, 4, [blk(1), blk(2), blk(3), small(61)],
                       frame(1, 0, 21, 1, 3)),
    "05-correct": seed([105, 16, 40], 2, 5, [blk(1), small(120), raw(256 - 300), raw(0xFFFF)], F),
    "06-remap8": seed([37, 256, 40], 2, 6, [blk(0), blk(1), small(37)]),
    "07-fadeover": seed([105, 105, 105, 40], 3, 7,
                        [blk(0), blk(1), blk(2), small(64), small(7), small(5), small(3)]),
    "08-deinterlace": seed([126, 16, 40], 2, 8, [blk(1)], frame(1, 0, 7, 6, 3)),
    "09-scalecopy": seed([105, 16, 40], 2, 9, [blk(1), small(9), small(8)], F),
    "10-yuvscale": seed([50, 17, 17, 40], 3, 10,
                        [blk(0), blk(1), blk(2), small(10), small(5), small(13), small(7),
                         small(3)]),
    "11-specialfade": seed([105, 16, 40], 2, 11, [blk(1), small(99)], F),
    "12-specialfadeover": seed([105, 16, 105, 40], 3, 12, [blk(1), blk(2), small(120)], F),
    "13-rotangle": seed([105, 16, 40], 2, 13, [blk(1), small(0)], F),
    "14-mirror": seed([105, 16, 40], 2, 14, [blk(1), small(1), small(1)], F),
    "15-invert": seed([105, 16, 40], 2, 15, [blk(1)], F),
    "16-minmax": seed([105, 16, 40], 2, 16,
                      [blk(1), small(10), raw(200), small(30), raw(180), raw(250), small(5),
                       small(20), raw(240)], F),
    "17-findminmax": seed([105, 16, 40], 2, 17, [blk(1), small(0)], F),
    "18-autolevel": seed([105, 16, 40], 2, 18, [blk(1)], F),
    # Refusals: a code no command has, a frame naming another host's bytes, a short block.
    "19-unknown": seed([40], 0, 19, []),
    "20-foreign-frame": seed([16, 40], 1, 15, [blk(0)],
                             [(0, 0, foreign(0)), (0, 4, small(4)), (0, 8, small(4)),
                              (0, 12, small(3))]),
    "21-short-args": seed([105, 16, 7], 2, 15, [blk(1)], F),
}

if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                                "command")
    os.makedirs(target, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(target, name), "wb") as f:
            f.write(data)
