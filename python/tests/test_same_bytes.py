"""Every operation gives the bytes of the command-line tool on the same input, in this process
and through a server; files agree with Pillow's, mirror aliases with numpy."""

import numpy as np
import pytest
from PIL import Image

import corvix
from conftest import picture

# (function, inputs, keywords, the tool's command line). Inputs: a and b are colour pictures
# of 37 x 23, g a grey one, cube a frame of cube indices; PAL names a 16-colour palette file.
CASES = [
    ("invert", "a", {}, ["invert"]),
    ("correct", "a", dict(contrast=140, brightness=-10, negative=True),
     ["correct", "--contrast", 140, "--brightness", -10, "--negative"]),
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


@pytest.mark.parametrize("name,names,kwargs,argv", CASES, ids=[" ".join(map(str, c[3])) for c in CASES])
def test_in_process_and_through_a_server(tool, inputs, name, names, kwargs, argv):
    names = names.split()
    want = tool_result(tool, names, argv)
    arrays = [inputs[n].copy() for n in names]
    kw = {k: tool.file("pal.ppm") if v == "PAL" else v for k, v in kwargs.items()}
    got = getattr(corvix, name)(*arrays, **kw)
    np.testing.assert_array_equal(got, want)
    in_place = corvix._table.IMPLEMENTATIONS[argv[0]][1]
    assert (got is arrays[0]) == in_place
    if not hasattr(corvix.Host, name):
        return
    with corvix.Host.embedded() as host:
        shared = [host.array(a.shape) for a in arrays]
        for s, n in zip(shared, names):
            s[...] = inputs[n]
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


@pytest.mark.parametrize("fmt,chroma", [("yuv411p", 4), ("yuv422p", 2), ("yuv444p", 1), ("yuv420p", None)])
def test_every_layout_has_the_tools_bytes_both_ways(tool, rng, fmt, chroma):
    # 37x23: no width a multiple of the group, no height even; the edge groups are partial.
    image = picture(rng)
    Image.fromarray(image).save(tool.file("in.ppm"))
    tool("rgb2yuv", "--pix-fmt", fmt, tool.file("in.ppm"), tool.file("out.yuv"))
    planes = corvix.rgb2yuv(image, pix_fmt=fmt)
    flat = np.fromfile(tool.file("out.yuv"), np.uint8)
    np.testing.assert_array_equal(np.concatenate([p.ravel() for p in planes]), flat)
    # The same planes by chroma group, and (4:1:1) with no layout named.
    others = ([corvix.rgb2yuv(image, chroma=chroma)] if chroma else []) + \
        ([corvix.rgb2yuv(image)] if fmt == "yuv411p" else [])
    for other in others:
        np.testing.assert_array_equal(np.concatenate([p.ravel() for p in other]), flat)
    tool("yuv2rgb", "--pix-fmt", fmt, "--size", "37x23", tool.file("out.yuv"), tool.file("back.ppm"))
    want = np.asarray(Image.open(tool.file("back.ppm")))
    # Named, told by the planes' shapes, or a flat Y plane with its size; in this process and
    # through a server.
    for got in (corvix.yuv2rgb(*planes, pix_fmt=fmt), corvix.yuv2rgb(*planes),
                corvix.yuv2rgb(planes[0].ravel(), *planes[1:], size=(37, 23))):
        np.testing.assert_array_equal(got, want)
    with corvix.Host.embedded() as host:
        np.testing.assert_array_equal(host.yuv2rgb(*planes), want)
        # Resized, and blue first as the tool's raw stream: the pixels end its output file.
        for extra, kw in ((["--resize", "20x31"], dict(resize=(20, 31))), (["--raw"], dict(raw=True))):
            tool("yuv2rgb", "--pix-fmt", fmt, "--size", "37x23", *extra, tool.file("out.yuv"),
                 tool.file("x"))
            want = np.fromfile(tool.file("x"), np.uint8)
            for f in (corvix.yuv2rgb, host.yuv2rgb):
                got = f(*planes, **kw)
                assert got.shape == ((31, 20, 3) if "resize" in kw else (23, 37, 3))
                np.testing.assert_array_equal(got.ravel(), want[want.size - got.size:])


def test_mirror_aliases_agree_with_numpy(rng):
    a = picture(rng)
    np.testing.assert_array_equal(corvix.mirror(a.copy(), left_right=True), a[:, ::-1])
    np.testing.assert_array_equal(corvix.mirror(a.copy(), upside_down=True), a[::-1])


def test_files_agree_with_pillow(rng, tmp_path):
    a = picture(rng)
    # PPM and PNG both ways, lossless: a red/blue swap or a lossy path shows.
    for kind in ("ppm", "png"):
        Image.fromarray(a).save(tmp_path / f"a.{kind}")
        np.testing.assert_array_equal(corvix.load(tmp_path / f"a.{kind}"), a)
        corvix.save(255 - a, tmp_path / f"b.{kind}")
        np.testing.assert_array_equal(np.asarray(Image.open(tmp_path / f"b.{kind}")), 255 - a)
    # A one-byte image is written as the netpbm form of its kind (PGM), whatever the name.
    g = picture(rng, channels=1)
    corvix.save(g, tmp_path / "g.ppm")
    np.testing.assert_array_equal(np.asarray(Image.open(tmp_path / "g.ppm")), g)  # mode L
    np.testing.assert_array_equal(corvix.load(tmp_path / "g.ppm"), g)
    # Transparency composed over the background: alpha 0 gives the background exactly.
    rgba = np.zeros((3, 5, 4), np.uint8)
    rgba[..., 0] = 200
    Image.fromarray(rgba, "RGBA").save(tmp_path / "t.png")
    np.testing.assert_array_equal(corvix.load(tmp_path / "t.png", background=(1, 2, 3)),
                                  np.broadcast_to(np.array([1, 2, 3], np.uint8), (3, 5, 3)))
