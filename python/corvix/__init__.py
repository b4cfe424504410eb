"""corvix: the image routines of the corvix library on numpy arrays.

Images are uint8 arrays of shape (H, W, 3), three bytes a pixel in the library's order (red,
green, blue: the order of Pillow's arrays; reverse cv2's BGR frames with a[..., ::-1]), or
(H, W) for one byte a pixel (grey levels, cube indices, pens). Every operation of the `corvix`
command-line tool is a function here, with the tool's options as keyword arguments:

    img = corvix.load("photo.ppm")
    out = corvix.rotate(img, 30, background=(40, 40, 72))
    corvix.save(corvix.mirror(out, left_right=True), "out.ppm")

Operations that change an image in place say so and return the array they were given; the
others return new arrays (made by the library and handed over without a copy). Bad arguments
raise TypeError or ValueError naming the argument, a refusal or failure of the library raises
corvix.Error with its reason, and exhausted memory MemoryError. corvix.Host runs the server's
commands on shared memory.
"""

from . import _corvix
from ._corvix import Error
from ._host import PORT_NAME, Host
from ._table import IMPLEMENTATIONS, TABLE, function_name, keyword_name, make_function

__version__ = _corvix.VERSION

__all__ = ["Error", "Host", "PORT_NAME", "load", "save", "quit", "operations"]

for _name in IMPLEMENTATIONS:
    _f = make_function(_name)
    _f.__module__ = __name__
    globals()[_f.__name__] = _f
    __all__.append(_f.__name__)
del _name, _f


def load(path):
    """Reads an image file: a binary PPM as an (H, W, 3) array, red first. The array is the
    library's own buffer, handed over without a copy."""
    import os
    return _corvix.load(os.fspath(path))


def save(image, path):
    """Writes an (H, W, 3) image as a binary PPM. An existing file is replaced only once the
    new one is complete; on an error nothing is left behind."""
    import os
    _corvix.save(image, os.fspath(path))


def quit(port=PORT_NAME):
    """Ends the corvixd serving `port` (command 0)."""
    with Host(port) as host:
        host.quit()


def operations():
    """The tool's operations: {python name: (tool name, summary)}."""
    return {function_name(n): (n, op["summary"]) for n, op in TABLE.items()}
