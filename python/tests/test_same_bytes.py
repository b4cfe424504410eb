"""Every operation gives the bytes of the command-line tool on the same input, in this process
and through a server; where numpy, OpenCV or Pillow do the same job they agree too."""

import numpy as np
import pytest
from PIL import Image

import corvix
from conftest import ROOT, picture

# (function, inputs, keywords, the tool's command line). Inputs: a and b are colour pictures
# of 37 x 23, g a grey one, cube a frame of cube indices; PAL names a 16-colour palette file.
CASES = [
    ("invert", "a", {}, ["invert"]),
    ("invert", "g", {}, ["invert"]),
    ("correct", "a", dict(contrast=140, brightness=-10, negative=True),
     ["correct", "--contrast", 140, "--brightness", -10, "--negative"]),
    ("correct", "g", dict(contrast=-60), ["correct", "--contrast", -60]),
    ("raise_levels", "a", dict(level=100), ["raise", "--level", 100]),
    ("fade", "a b", dict(level=77), ["fade", "--level", 77]),
    ("fadeover", "a b", dict(level=110), ["fadeover", "--level", 110]),
    ("deinterlace", "a", {}, ["deinterlace"]),
    ("turn", "a", dict(angle=270), ["turn", "--angle", 270]),
    ("mirror", "a", dict(vertical=True, horizontal=True), ["mirror", "--vertical", "--horizontal"]),
    ("stretch", "a", dict(red=(40, 200), master=(250, 10)),
     ["stretch", "--red", "40,200", "--master", "250,10"]),
    ("autolevel", "a", {}, ["autolevel"]),
    ("scale", "a", dict(size=(50, 31)), ["scale", "--size", "50x31"]),
    ("scale", "g", dict(size=(19, 40)), ["scale", "--size", "19x40"]),
    ("remap", "a", {}, ["remap"]),
    ("remap", "a", dict(palette="PAL"), ["remap", "--palette", "PAL"]),
    ("pens", "cube", dict(palette="PAL"), ["pens", "--palette", "PAL"]),
    ("rotate", "a", dict(angle=30, background=(40, 40, 72)),
     ["rotate", "--angle", 30, "--background", "40,40,72"]),
    ("rotate", "g", dict(angle=-47.5), ["rotate", "--angle", -47.5]),
    ("shear", "a", dict(rows=(2, 20), shift=(0, 9), background=(255, 255, 255)),
     ["shear", "--rows", "2,20", "--shift", "0,9", "--background", "255,255,255"]),
    ("transpose", "a", {}, ["transpose"]),
    ("cut", "a", dict(rect=(20, 10, -5, 17)), ["cut", "--rect", "20x10-5+17"]),
    ("smooth", "a", dict(passes=3), ["smooth", "--passes", 3]),
    ("dither", "a", dict(method=5), ["dither", "--method", 5]),
    ("blit", "a b", dict(at=(-3, 4), transparency=30), ["blit", "--at", "-3,4", "--transparency", 30]),
    ("blit", "a b", dict(at=(2, 3), alpha=10), ["blit", "--at", "2,3", "--alpha", 10]),
    ("blit", "a b", dict(at=(5, -2), size=(20, 9), mask=100),
     ["blit", "--at", "5,-2", "--size", "20x9", "--mask", 100]),
    ("blit", "g g", dict(at=(30, 20)), ["blit", "--at", "30,20"]),
    ("line", "a", dict(from_=(0, 22), to=(36, 1), colour=(255, 220, 0)),
     ["line", "--from", "0,22", "--to", "36,1", "--colour", "255,220,0"]),
    ("box", "g", dict(from_=(3, 2), to=(30, 20), step=3, colour=(9, 0, 0)),
     ["box", "--from", "3,2", "--to", "30,20", "--step", 3, "--colour", "9,0,0"]),
]


@pytest.fixture
def inputs(rng, tool):
    images = {"a": picture(rng), "b": picture(rng), "g": picture(rng, channels=1),
              "cube": rng.integers(0, 216, (23, 37), dtype=np.uint8)}
    for name, image in images.items():
        Image.fromarray(image).save(tool.file(name + (".ppm" if image.ndim == 3 else ".pgm")))
    Image.fromarray(picture(rng, 4, 4)).save(tool.file("pal.ppm"))
    return images


def tool_result(tool, names, argv):
    files = [tool.file(n + (".pgm" if n in ("g", "cube") else ".ppm")) for n in names]
    argv = [tool.file("pal.ppm") if a == "PAL" else a for a in argv]
    tool(*argv, *files, tool.file("out"))
    return np.asarray(Image.open(tool.file("out")))


def python_args(tool, images, names, kwargs):
    arrays = [images[n].copy() for n in names]
    kw = {k: tool.file("pal.ppm") if v == "PAL" else v for k, v in kwargs.items()}
    return arrays, kw


@pytest.mark.parametrize("name,names,kwargs,argv", CASES, ids=[" ".join(map(str, c[3])) for c in CASES])
def test_in_process_and_through_a_server(tool, inputs, name, names, kwargs, argv):
    names = names.split()
    want = tool_result(tool, names, argv)
    arrays, kw = python_args(tool, inputs, names, kwargs)
    got = getattr(corvix, name)(*arrays, **kw)
    np.testing.assert_array_equal(got, want)
    in_place = corvix._table.IMPLEMENTATIONS[argv[0]][1]
    assert (got is arrays[0]) == in_place
    if not hasattr(corvix.Host, name):
        return
    with corvix.Host.embedded() as host:
        shared = [host.array(a.shape) for a in arrays]
        for s, a in zip(shared, python_args(tool, inputs, names, kwargs)[0]):
            s[...] = a
        del s
        baseline = host.stats()[1]
        got = getattr(host, name)(*shared, **kw)
        np.testing.assert_array_equal(got, want)
        assert (got is shared[0]) == in_place
        del got, shared
        assert host.stats()[1] == baseline - len(names), "a record or result block was kept"


def test_palette_as_an_array_or_a_file_and_the_previews(tool, inputs):
    palette = np.asarray(Image.open(tool.file("pal.ppm")))
    from_file = corvix.remap(inputs["a"], palette=tool.file("pal.ppm"))
    np.testing.assert_array_equal(corvix.remap(inputs["a"], palette=palette), from_file)
    np.testing.assert_array_equal(corvix.remap(inputs["a"], palette=palette.reshape(-1, 3)),
                                  from_file)
    # The preview files hold the tool's bytes.
    for options in ([], ["--palette", tool.file("pal.ppm")]):
        tool("remap", *options, "--preview", tool.file("want.ppm"), tool.file("a.ppm"),
             tool.file("out.pgm"))
        kw = {"palette": palette} if options else {}
        with corvix.Host.embedded() as host:
            for f in (corvix.remap, host.remap):
                f(inputs["a"], preview=tool.file("got.ppm"), **kw)
                assert open(tool.file("got.ppm"), "rb").read() == open(tool.file("want.ppm"), "rb").read()


def test_levels_as_the_tool_prints_them(tool, inputs):
    printed = tool("levels", tool.file("a.ppm")).split("\n")
    want = {line.split()[0]: tuple(map(int, line.split()[1:])) for line in printed if line}
    assert corvix.levels(inputs["a"]) == want
    assert corvix.levels(inputs["a"], channel="green") == want["green"]
    with corvix.Host.embedded() as host:
        assert host.levels(inputs["a"]) == want


YUV = ROOT / "examples" / "media" / "astronaut_512x512.yuv411p"


def planes(path, width, height, group):
    data = np.fromfile(path, np.uint8)
    n = width * height
    return (data[:n].reshape(height, width), data[n:n + n // group].reshape(height, -1),
            data[n + n // group:].reshape(height, -1))


@pytest.mark.parametrize("extra", [[], ["--resize", "256x160"], ["--raw"]])
def test_yuv2rgb(tool, extra):
    y, u, v = planes(YUV, 512, 512, 4)
    tool("yuv2rgb", "--size", "512x512", *extra, YUV, tool.file("out"))
    if "--raw" in extra:
        want = np.fromfile(tool.file("out"), np.uint8).reshape(512, 512, 3)
    else:
        want = np.asarray(Image.open(tool.file("out")))
    kw = {"resize": (256, 160)} if "--resize" in extra else {"raw": "--raw" in extra}
    np.testing.assert_array_equal(corvix.yuv2rgb(y, u, v, **kw), want)
    # A flat plane with its size, and the planes through a server.
    np.testing.assert_array_equal(corvix.yuv2rgb(y.ravel(), u, v, size=(512, 512), **kw), want)
    with corvix.Host.embedded() as host:
        np.testing.assert_array_equal(host.yuv2rgb(y, u, v, **kw), want)


@pytest.mark.parametrize("chroma", [4, 2, 1])
def test_rgb2yuv_writes_the_tools_planes_and_converts_back(tool, rng, chroma):
    image = picture(rng, 17, 36)
    Image.fromarray(image).save(tool.file("in.ppm"))
    tool("rgb2yuv", "--chroma", chroma, tool.file("in.ppm"), tool.file("out.yuv"))
    y, u, v = corvix.rgb2yuv(image, chroma=chroma)
    assert u.shape == (17, 36 // chroma)
    np.testing.assert_array_equal(np.concatenate([y.ravel(), u.ravel(), v.ravel()]),
                                  np.fromfile(tool.file("out.yuv"), np.uint8))
    if chroma == 1:  # no chroma is shared: back within the truncation of each term
        back = corvix.yuv2rgb(y, u, v, chroma=1).astype(int)
        assert np.abs(back - image).max() <= 3


def test_yuv2rgb_follows_the_bt601_formulas(rng):
    # Studio-range BT.601 with each term truncated toward zero before the sum, clamped; one
    # chroma sample per pixel, over every Y and every chroma value.
    y = np.tile(np.arange(256, dtype=np.uint8), (256, 1))
    cb = rng.permuted(y, axis=0)
    cr = rng.permuted(y, axis=1)
    Y, B, R = (y - 16.0) * 1.164, cb - 128.0, cr - 128.0
    t = np.trunc
    want = np.stack([t(Y) + t(R * 1.596), t(Y) - t(R * 0.813) - t(B * 0.391),
                     t(Y) + t(B * 2.018)], axis=-1).clip(0, 255)
    np.testing.assert_array_equal(corvix.yuv2rgb(y, cb, cr, chroma=1), want)


def test_peers_do_the_same_job(rng):
    import cv2
    a = picture(rng)
    np.testing.assert_array_equal(corvix.invert(a.copy()), 255 - a)
    np.testing.assert_array_equal(corvix.mirror(a.copy(), left_right=True), a[:, ::-1])
    np.testing.assert_array_equal(corvix.mirror(a.copy(), upside_down=True), cv2.flip(a, 0))
    np.testing.assert_array_equal(corvix.turn(a), np.rot90(a, -1))
    np.testing.assert_array_equal(corvix.turn(a, angle=180), np.rot90(a, 2))
    np.testing.assert_array_equal(corvix.turn(a, angle=270), cv2.rotate(a, cv2.ROTATE_90_COUNTERCLOCKWISE))
    np.testing.assert_array_equal(corvix.transpose(a), a.transpose(1, 0, 2))
    np.testing.assert_array_equal(corvix.cut(a, (10, 7, 5, 3)), a[3:10, 5:15])
    # Past the edges the cut is black.
    padded = np.zeros((23 + 8, 37 + 8, 3), np.uint8)
    padded[4:-4, 4:-4] = a
    np.testing.assert_array_equal(corvix.cut(a, (45, 31, -4, -4)), padded)
    # Nearest sample: column x shows column x * W / W', truncated.
    rows, cols = np.arange(40) * 23 // 40, np.arange(50) * 37 // 50
    np.testing.assert_array_equal(corvix.scale(a, (50, 40)), a[rows][:, cols])


def test_load_and_save_agree_with_pillow(rng, tmp_path):
    a = picture(rng)
    # Pillow's arrays are read-only: read as they are, refused in place.
    frozen = np.asarray(Image.fromarray(a))
    np.testing.assert_array_equal(corvix.turn(frozen), np.rot90(a, -1))
    with pytest.raises(ValueError, match="read-only"):
        corvix.invert(frozen)
    path = tmp_path / "a.ppm"
    Image.fromarray(a).save(path)
    loaded = corvix.load(path)
    np.testing.assert_array_equal(loaded, a)
    corvix.save(255 - a, tmp_path / "b.ppm")
    np.testing.assert_array_equal(np.asarray(Image.open(tmp_path / "b.ppm")), 255 - a)
