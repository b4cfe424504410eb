"""The layouts of YUV planes on arrays, as the tool names them (ffmpeg's pixel formats).

The routines convert planes with one chroma row per picture row and one chroma sample per
`group` pixels (4, 2 or 1) along it. Other stored layouts, as the tool reads them from raw
files, are spread into that form first: 4:2:0 gives each picture row the chroma row of its
pair of rows, and a width that is no multiple of the group (chroma rows ceil(W / group)
samples long) gives every pixel its own sample, so the last pixels take the last, partial
group's.
"""

import re

import numpy as np

from . import _corvix

# ffmpeg's name: (picture columns per chroma sample, one chroma row for two picture rows)
LAYOUTS = {"yuv411p": (4, False), "yuv422p": (2, False), "yuv444p": (1, False),
           "yuv420p": (2, True)}
_GROUPS = {4: "yuv411p", 2: "yuv422p", 1: "yuv444p"}
DEFAULT = "yuv411p"


def _ceil(a, b):
    return -(-a // b)


def named_layout(texts, fn, default=None):
    """The layout chroma= or pix_fmt= names (removed from `texts`), `default` when neither."""
    chroma, fmt = texts.pop("chroma", None), texts.pop("pix-fmt", None)
    if chroma is not None and fmt is not None:
        raise ValueError(f"{fn}: chroma and pix_fmt name the same thing: give one")
    if chroma is not None:
        group = chroma.strip()
        if group not in ("4", "2", "1"):
            raise ValueError(f"chroma: expected 4, 2 or 1, got '{chroma}'")
        return _GROUPS[int(group)]
    if fmt is None:
        return default
    if fmt == "nv12":
        raise ValueError("pix_fmt: nv12 holds U and V in one plane of pairs: give its planes "
                         "as u=uv[:, 0::2], v=uv[:, 1::2] with pix_fmt='yuv420p'")
    if fmt not in LAYOUTS:
        raise ValueError(f"pix_fmt: expected one of {', '.join(LAYOUTS)}, got '{fmt}'")
    return fmt


def chroma_shape(layout, width, height):
    group, half = LAYOUTS[layout]
    return (_ceil(height, 2) if half else height), _ceil(width, group)


def _frame_size(y, texts):
    """(W, H) of the picture: y's shape, or size=."""
    if np.ndim(y) == 2:
        return np.shape(y)[1], np.shape(y)[0]
    if "size" not in texts:
        raise TypeError("yuv2rgb() needs size=(W, H) when y is not of shape (H, W)")
    match = re.fullmatch(r"\s*(\d+)\s*x\s*(\d+)\s*", texts["size"])
    if match is None:  # the tool's parser says what is wrong with it
        _corvix.check("yuv2rgb", {"size": texts["size"]}, ["size"])
        raise ValueError(f"size: expected (W, H), got '{texts['size']}'")
    return int(match[1]), int(match[2])


def _guess(u, width, height):
    """The layout whose chroma planes have u's shape. Where several fit (a frame one pixel
    high, or one or two wide) they convert to the same picture: the first is taken."""
    if np.ndim(u) == 2:
        for layout in LAYOUTS:
            if np.shape(u) == chroma_shape(layout, width, height):
                return layout
    raise ValueError(f"chroma: u of shape {np.shape(u)} fits no layout of a {width}x{height} "
                     f"frame (such as (H, W/4) for 4:1:1): give chroma= (4, 2, 1) or pix_fmt=")


def _spread(plane, name, layout, width, height):
    group, half = LAYOUTS[layout]
    rows, columns = chroma_shape(layout, width, height)
    a = np.asarray(plane)
    if a.dtype != np.uint8:
        raise TypeError(f"{name}: expected a uint8 array, got {a.dtype}")
    if a.size != rows * columns:
        raise ValueError(f"{name}: expected {rows * columns} bytes, such as shape "
                         f"({rows}, {columns}), got shape {a.shape}")
    a = a.reshape(rows, columns)
    if half:
        a = np.repeat(a, 2, axis=0)[:height]
    if width % group:
        a = np.repeat(a, group, axis=1)[:, :width]
    return np.ascontiguousarray(a)


def yuv2rgb_arguments(images, texts):
    """The planes and options the routine takes for a call of yuv2rgb: chroma= or pix_fmt=
    name the layout; without either, u's shape tells it."""
    y, u, v = images
    width, height = _frame_size(y, texts)
    layout = named_layout(texts, "yuv2rgb()")
    if layout is None:
        layout = _guess(u, width, height)
    group, half = LAYOUTS[layout]
    if half or width % group:
        u = _spread(u, "u", layout, width, height)
        v = _spread(v, "v", layout, width, height)
        group = group if width % group == 0 else 1
    texts["chroma"] = str(group)
    return (y, u, v), texts


def rgb2yuv(run, images, texts):
    """rgb2yuv: (y, u, v) in the layout chroma= or pix_fmt= names (4:1:1 without either).
    Each chroma sample is the mean over its group of pixels; a group reaching past the right
    or bottom edge repeats the last column or row."""
    layout = named_layout(texts, "rgb2yuv()", DEFAULT)
    group, half = LAYOUTS[layout]
    image = images[0]
    shape = np.shape(image)
    if not half and len(shape) == 3 and shape[1] % group == 0:
        return run("rgb2yuv", (image,), dict(texts, chroma=str(group)))
    y, _, _ = run("rgb2yuv", (image,), dict(texts, chroma="1"))  # checks the image
    a = np.asarray(image)[..., :3]
    height, width = y.shape
    down = 2 if half else 1
    rows, columns = chroma_shape(layout, width, height)
    padded = np.pad(a, ((0, rows * down - height), (0, columns * group - width), (0, 0)),
                    mode="edge")
    # Each group's pixels side by side, one group after the other along a row.
    groups = padded.reshape(rows, down, columns, group, 3).transpose(0, 2, 1, 3, 4)
    groups = np.ascontiguousarray(groups).reshape(rows, columns * down * group, 3)
    _, u, v = run("rgb2yuv", (groups,), dict(texts, chroma=str(down * group)))
    return y, u, v
