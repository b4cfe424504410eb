"""A connection to an image server: a running corvixd reached by its port name, or one
started inside this process. Arrays made by host.array() are views on shared blocks; the
server's commands work on them in place, without a copy."""

import numpy as np

from . import _corvix
from ._table import Binder, write_preview

PORT_NAME = _corvix.PORT_NAME
QUIT_ANSWER = 123

# Command codes.
QUIT, YUVTORGB, SCALE_CHUNKY, REMAP24, CORRECT, REMAP8, FADE, DEINTERLACE = 0, 2, 3, 4, 5, 6, 7, 8
SCALE, YUVSCALE, RAISE, FADEOVER, TURN, MIRROR, INVERT, STRETCH = 9, 10, 11, 12, 13, 14, 15, 16
LEVELS, AUTOLEVEL = 17, 18


class _Command:
    """The records and temporary blocks of one command, released when it is done."""

    def __init__(self, handle):
        self.h = handle
        self.blocks = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for b in self.blocks:
            try:
                self.h.free(b)
            except _corvix.Error:
                break  # the host is closed or the server gone: nothing is left to free

    def address(self, array, name, writable):
        """The shared address of a contiguous array: its own when it is a host array; an
        array the server only reads is copied into a block for the command."""
        addr = self.h.address(array)
        if addr == 0:
            if writable:
                raise ValueError(f"{name}: the server changes it in place, so it must be an "
                                 "array of this host (host.array)")
            addr = self.h.put(array)
            self.blocks.append(addr)
        return addr

    def frame(self, array, name, pixels, writable):
        """An image argument as (address, width, height, bytes per pixel): send() makes the
        Bitmap record of it in the argument block."""
        a, w, h, bpp = _corvix.image_info(array, name, pixels, writable)
        return self.address(a, name, writable), w, h, bpp

    def bytes(self, array, name, writable=False):
        return self.address(array, name, writable)


def _in_place(code, pixels, words=lambda v: []):
    def run(h, c, arrays, v):
        h.send(code, words(v), c.frame(arrays[0], "image", pixels, True))
        return arrays[0]
    return run


def _correct(v):
    return [v["contrast"] & 0xFFFFFFFF, (v["brightness"] + 256) & 0xFFFFFFFF,
            0xFFFF if v.get("negative") else 0]


def _mirror(h, c, arrays, v):
    vertical, horizontal = bool(v.get("vertical")), bool(v.get("horizontal"))
    if not (vertical or horizontal):
        raise ValueError("mirror(): give vertical=True, horizontal=True or both")
    h.send(MIRROR, [int(vertical), int(horizontal)], c.frame(arrays[0], "image", "colour", True))
    return arrays[0]


def _stretch(h, c, arrays, v):
    words = []
    for name in ("red", "green", "blue", "master"):
        low, high = v[name]
        # The stretch computes (high - low) x 255 in 32 bits.
        if max(abs(low), abs(high)) > 4000000:
            raise ValueError(f"{name}: bounds must lie within -4000000..4000000")
        words += [low & 0xFFFFFFFF, high & 0xFFFFFFFF]
    h.send(STRETCH, words, c.frame(arrays[0], "image", "colour", True))
    return arrays[0]


def _scale(h, c, arrays, v):
    frame = c.frame(arrays[0], "image", "either", False)
    code = SCALE if frame[3] == 3 else SCALE_CHUNKY
    return h.take_bitmap(h.send(code, list(v["size"]), frame), "scale")


def _turn(h, c, arrays, v):
    turn = {"90": 0, "180": 1, "270": 2}[v["angle"]]
    return h.take_bitmap(h.send(TURN, [turn], c.frame(arrays[0], "image", "colour", False)),
                         "turn")


def _two_frames(c, arrays, writable):
    a, w, hh, bpp = _corvix.image_info(arrays[0], "a", "either", writable)
    b, w2, h2, bpp2 = _corvix.image_info(arrays[1], "b", "either", False)
    if (w, hh, bpp) != (w2, h2, bpp2):
        raise ValueError(f"b: expected the shape of a {a.shape}, got {b.shape}")
    return a, b, w, hh, bpp


def _fade(h, c, arrays, v):
    a, b, w, hh, bpp = _two_frames(c, arrays, False)
    out = h.array(a.shape)
    h.send(FADE, [c.bytes(a, "a"), c.bytes(b, "b"), h.address(out), v["level"], w, hh, bpp])
    return out


def _fadeover(h, c, arrays, v):
    a, b, w, hh, bpp = _two_frames(c, arrays, True)
    h.send(FADEOVER, [c.bytes(b, "b"), v["level"] & 0xFFFFFFFF], c.frame(a, "a", "either", True))
    return arrays[0]


def _levels(h, c, arrays, v):
    frame = c.frame(arrays[0], "image", "colour", False)
    channels = {"average": 0, "red": 1, "green": 2, "blue": 3}

    def measure(name):
        return h.take_range(h.send(LEVELS, [channels[name]], frame))
    if "channel" in v:
        return measure(v["channel"])
    return {name: measure(name) for name in ("red", "green", "blue", "average")}


def _pen_block(h, c, v):
    palette = v.get("palette")
    if palette is None:
        return 0
    if isinstance(palette, str):
        palette = _corvix.load(palette)
    return c.bytes(np.frombuffer(_corvix.palette_pens(palette), np.uint8), "palette")


def _remap(h, c, arrays, v):
    frame = c.frame(arrays[0], "image", "colour", False)
    w, hh = frame[1], frame[2]
    out = h.array((hh, w))
    h.send(REMAP24, [h.address(out), _pen_block(h, c, v), 3 * w * hh], frame)
    return out


def _pens(h, c, arrays, v):
    frame, w, hh, _ = _corvix.image_info(arrays[0], "frame", "grey", True)
    if frame.size and frame.max() > 215:
        raise ValueError(f"frame: holds {int(frame.max())}, which is no cube index (0..215)")
    table = _pen_block(h, c, v)
    h.send(REMAP8, [c.address(frame, "frame", True), table, w * hh])
    return arrays[0]


def _yuv2rgb(h, c, arrays, v):
    group = int(v["chroma"])
    y, u, vv, w, hh = _corvix.yuv_planes(*arrays, v.get("size"), group)
    py, pu, pv = c.bytes(y, "y"), c.bytes(u, "u"), c.bytes(vv, "v")
    # The Cr (V) plane goes in second: byte 0 comes out blue.
    if "resize" in v:
        out = h.take_bitmap(h.send(YUVSCALE, [py, pv, pu, w, hh, *v["resize"], group]), "yuv2rgb")
    else:
        out = h.array((hh, w, 3))
        h.send(YUVTORGB, [py, pv, pu, h.address(out), w * hh, group])
    if not v.get("raw"):
        _corvix.swap_outer(out)
    return out


def _quit(h, c, arrays, v):
    answer = h.send(QUIT, [])
    if answer != QUIT_ANSWER:
        raise _corvix.Error(f"the server on port '{h.port}' answered {answer} to quit, "
                            f"not {QUIT_ANSWER}")


# Every operation that a server command performs: its image arguments, whether it changes
# the first in place, and how it fills the argument words.
OPERATIONS = {
    "yuv2rgb": (("y", "u", "v"), False, _yuv2rgb),
    "scale": (("image",), False, _scale),
    "remap": (("image",), False, _remap),
    "pens": (("frame",), True, _pens),
    "correct": (("image",), True, _in_place(CORRECT, "either", _correct)),
    "fade": (("a", "b"), False, _fade),
    "raise": (("image",), True,
              _in_place(RAISE, "either", lambda v: [v["level"] & 0xFFFFFFFF])),
    "fadeover": (("a", "b"), True, _fadeover),
    "deinterlace": (("image",), True, _in_place(DEINTERLACE, "colour")),
    "turn": (("image",), False, _turn),
    "mirror": (("image",), True, _mirror),
    "invert": (("image",), True, _in_place(INVERT, "either")),
    "levels": (("image",), False, _levels),
    "stretch": (("image",), True, _stretch),
    "autolevel": (("image",), True, _in_place(AUTOLEVEL, "colour")),
    "quit": ((), False, _quit),
}
_DERIVED = {"yuv2rgb": ("size",)}


def _method(name):
    arrays, in_place, run = OPERATIONS[name]
    derived = _DERIVED.get(name, ())
    binder = Binder(name, arrays, derived)
    check = _corvix.check

    def method(self, *args, **kwargs):
        images, texts = binder.bind(args, kwargs)
        values = check(name, texts, list(derived))
        h = self._handle
        with _Command(h) as c:
            result = run(h, c, images, values)
        if "preview" in values:
            write_preview(result, values.get("palette"), values["preview"])
        return result

    return binder.document(method, in_place, first=("self",))


class Host:
    """A connection to a server.

    Host(port) connects to a running corvixd serving `port` ("VODARAVID" unless told
    otherwise); Host.embedded() starts a server inside this process. Use it in a with block,
    or call close(). Arrays from host.array() stay readable after the host is closed or the
    server died; commands then raise corvix.Error.
    """

    def __init__(self, port=PORT_NAME):
        self._handle = _corvix.HostHandle.open(str(port))

    @classmethod
    def embedded(cls):
        host = cls.__new__(cls)
        host._handle = _corvix.HostHandle.embedded()
        return host

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        state = "closed" if self.closed else f"port {self.port!r}"
        return f"<corvix.Host {state}>"

    def close(self):
        """Disconnects; an embedded server ends once no array of it is left."""
        self._handle.close()

    @property
    def closed(self):
        return self._handle.closed

    @property
    def port(self):
        return self._handle.port

    def array(self, shape):
        """A new uint8 array of `shape`, filled with zeros, on a shared block (no copy): the
        server's commands work on it in place. The block is released when the array goes."""
        if isinstance(shape, int):
            shape = (shape,)
        return self._handle.array([int(n) for n in shape])

    def address(self, array):
        """The shared address of an array's first byte (0 when it is not on this host's
        memory): for argument words of send()."""
        return self._handle.address(array)

    def send(self, code, words=()):
        """Sends command `code` with argument words 1.. (at most 9 unsigned 32-bit values)
        and returns word 0 of the reply. Raises corvix.Error when the server is gone or
        refuses the block."""
        return self._handle.send(int(code), [int(w) & 0xFFFFFFFF for w in words])

    def stats(self):
        """(live blocks of the server's segment, live blocks of this host)"""
        return self._handle.stats()


for _name in OPERATIONS:
    _m = _method(_name)
    setattr(Host, _m.__name__, _m)
del _name, _m
