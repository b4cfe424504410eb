"""Python functions built from the command-line tool's operation table.

The extension hands over the tool's own table (names, options, kinds, bounds, fallbacks); each
operation becomes one function whose keyword arguments are the tool's options. Values are
turned into the tool's option text and checked by the tool's parsers, so a bound or a default
can change in one place only.
"""

import inspect
import keyword
import numbers
import operator
import os

import numpy as np

from . import _corvix

TABLE = {op["name"]: op for op in _corvix.table()}
IMPLEMENTATIONS = _corvix.implementations()

# Operation names that are Python keywords.
_RENAMED = {"raise": "raise_levels"}
# Other spellings of options: the routine's own words for the mirror's flags.
ALIASES = {"mirror": {"upside_down": "vertical", "left_right": "horizontal"}}

_TUPLES = {
    "size": (2, "(W, H)", "{}x{}"),
    "point": (2, "(X, Y)", "{},{}"),
    "range": (2, "(LOW, HIGH)", "{},{}"),
    "colour": (3, "(R, G, B)", "{},{},{}"),
}


def function_name(operation):
    """The Python name of a tool operation: raise becomes raise_levels."""
    return _RENAMED.get(operation, operation)


def keyword_name(option):
    """The keyword of a tool option: one that is a Python keyword takes a trailing '_'."""
    return option + "_" if keyword.iskeyword(option) else option


def _integer(value, where):
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{where}: expected an integer, got bool")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{where}: expected an integer, got {type(value).__name__}") from None


def _text(option, where, value):
    """The tool's text for a value, None for a flag that is off. Text in the tool's own syntax
    ("640x480", "40,40,72") is taken as it is; an object for an option of kind text (a palette
    array) is passed on untouched."""
    kind = option["kind"]
    if kind == "flag":
        if not isinstance(value, (bool, np.bool_)):
            raise TypeError(f"{where}: expected True or False, got {type(value).__name__}")
        return "" if value else None
    if kind == "text":
        return os.fspath(value) if isinstance(value, (str, os.PathLike)) else value
    if isinstance(value, str):
        return value
    if kind == "integer" or kind == "choice":
        return str(_integer(value, where))
    if kind == "number":
        if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
            raise TypeError(f"{where}: expected a number, got {type(value).__name__}")
        return repr(float(value))
    if kind == "rect":
        count, form = 4, "(W, H, X, Y)"
    else:
        count, form, pattern = _TUPLES[kind]
    try:
        items = list(value)
    except TypeError:
        raise TypeError(f"{where}: expected {form}, got {type(value).__name__}") from None
    if len(items) != count:
        raise ValueError(f"{where}: expected {form}, got {len(items)} values")
    items = [_integer(v, where) for v in items]
    if kind == "rect":
        w, h, x, y = items
        return f"{w}x{h}{x:+d}{y:+d}"
    return pattern.format(*items)


def _docstring(op, arrays, in_place):
    lines = [op["summary"][0].upper() + op["summary"][1:] + "."]
    if op["details"]:
        lines += ["", op["details"].replace("\n", " ")]
    lines += ["", "Changes " + arrays[0] + " in place and returns it." if in_place
              else "Returns a new array; the arguments are not changed."]
    if op["options"]:
        lines += ["", "Keyword arguments (the tool's options):"]
    for o in op["options"]:
        extra = []
        if o["required"]:
            extra.append("required")
        if o["fallback"] is not None:
            extra.append(f"default {o['fallback']}")
        if o["kind"] == "integer":
            extra.append(f"{o['min']}..{o['max']}")
        if o["choices"]:
            extra.append(o["choices"].replace("|", ", "))
        tail = f" ({'; '.join(extra)})" if extra else ""
        lines.append(f"  {keyword_name(o['name'])}: {o['kind']}, {o['help']}{tail}")
    return "\n".join(lines)


class Binder:
    """Matches a call's arguments to one operation: its image arguments come first, then its
    required options may follow positionally, in the table's order; every option is also a
    keyword."""

    def __init__(self, name, arrays, derived=()):
        self.op = TABLE[name]
        self.name = name
        self.python_name = function_name(name)
        self.arrays = list(arrays)
        self.options = {o["name"]: o for o in self.op["options"]}
        self.keywords = {keyword_name(n): n for n in self.options}
        self.keywords.update(ALIASES.get(name, {}))
        self.positional = [o["name"] for o in self.op["options"]
                           if o["required"] and o["name"] not in derived]

    def bind(self, args, kwargs):
        """(arrays, {option: text or object})"""
        fn = self.python_name + "()"
        n = len(self.arrays)
        if len(args) < n:
            missing = ", ".join(repr(a) for a in self.arrays[len(args):])
            raise TypeError(f"{fn} missing the image argument(s) {missing}")
        if len(args) > n + len(self.positional):
            raise TypeError(f"{fn} takes at most {n + len(self.positional)} positional "
                            f"arguments, got {len(args)}")
        given = dict(zip(self.positional, args[n:]))
        for key, value in kwargs.items():
            option = self.keywords.get(key)
            if option is None:
                raise TypeError(f"{fn} got an unexpected keyword argument '{key}'")
            if option in given:
                raise TypeError(f"{fn} got several values for '{key}'")
            given[option] = value
        texts = {}
        for option, value in given.items():
            if value is None:
                continue
            text = _text(self.options[option], keyword_name(option), value)
            if text is not None:
                texts[option] = text
        return tuple(args[:n]), texts

    def signature(self, first=()):
        P = inspect.Parameter
        params = [P(p, P.POSITIONAL_ONLY) for p in list(first) + self.arrays]
        params += [P(keyword_name(n), P.POSITIONAL_OR_KEYWORD) for n in self.positional]
        params += [P(keyword_name(o["name"]), P.KEYWORD_ONLY, default=None)
                   for o in self.op["options"] if o["name"] not in self.positional]
        return inspect.Signature(params)

    def document(self, function, in_place, first=()):
        function.__name__ = function.__qualname__ = self.python_name
        function.__doc__ = _docstring(self.op, self.arrays, in_place)
        function.__signature__ = self.signature(first)
        return function


def palette_colours(palette):
    """A palette given as a file name or as an array, as an (N, 3) array."""
    if isinstance(palette, str):
        palette = _corvix.load(palette)
    return np.asarray(palette, np.uint8).reshape(-1, 3)


def write_preview(frame, palette, path):
    """The colours a one-byte frame stands for, saved as an image: with a palette its pens'
    colours, without one the colour cube's (index 36 r + 6 g + b, each level 51 x step)."""
    if palette is None:
        steps = np.stack([frame // 36 % 6, frame // 6 % 6, frame % 6], axis=-1)
        colours = (steps * 51).astype(np.uint8)
    else:
        pens = palette_colours(palette)
        colours = np.zeros(frame.shape + (3,), np.uint8)
        known = frame < len(pens)
        colours[known] = pens[frame[known]]
    _corvix.save(colours, path)


def make_function(name):
    arrays, in_place, derived = IMPLEMENTATIONS[name]
    binder = Binder(name, arrays, derived)
    run = _corvix.run
    previews = "preview" in binder.options

    def function(*args, **kwargs):
        images, texts = binder.bind(args, kwargs)
        result = run(name, images, texts)
        if previews and "preview" in texts:
            write_preview(result, texts.get("palette"), texts["preview"])
        return result

    return binder.document(function, in_place)
