"""The one table: every operation of the tool is a function, every option a keyword; and bad
arguments raise the documented exceptions, leaving every array as it was."""

import keyword

import numpy as np
import pytest

import corvix
from conftest import picture


def test_every_operation_has_its_function_and_the_hosted_ones_a_host_method():
    assert len(corvix._table.TABLE) >= 26
    for name, op in corvix._table.TABLE.items():
        pyname = corvix._table.function_name(name)
        assert callable(getattr(corvix, pyname)) and not keyword.iskeyword(pyname)
        # Only the operations a server command performs are the host's.
        assert hasattr(corvix.Host, pyname) == ("(command" in op["summary"]), name


def test_defaults_and_positional_options_come_from_the_table(rng):
    a = picture(rng)
    np.testing.assert_array_equal(corvix.rotate(a, 30), corvix.rotate(a, angle=30.0,
                                                                        background="0,0,0"))
    np.testing.assert_array_equal(corvix.turn(a), corvix.turn(a, angle=90))
    np.testing.assert_array_equal(corvix.fade(a, 255 - a), corvix.fade(a, 255 - a, level=128))
    np.testing.assert_array_equal(corvix.cut(a, "5x4-1+2"), corvix.cut(a, (5, 4, -1, 2)))


BAD = [
    # (call, exception, words its message holds)
    (lambda a, g: corvix.invert([[1, 2]]), TypeError, "image"),
    (lambda a, g: corvix.invert(a.astype(np.float32)), TypeError, "uint8"),
    (lambda a, g: corvix.rotate(np.zeros((4, 4, 4), np.uint8), 3), ValueError, "image"),
    (lambda a, g: corvix.mirror(g, vertical=True), ValueError, "(H, W, 3)"),
    (lambda a, g: corvix.invert(a[:, ::2]), ValueError, "C-contiguous"),
    (lambda a, g: corvix.invert(np.broadcast_to(a, a.shape)), ValueError, "read-only"),
    (lambda a, g: corvix.fade(a, a[1:]), ValueError, "b"),
    (lambda a, g: corvix.fade(a, a, level=256), ValueError, "level"),
    (lambda a, g: corvix.fade(a, a, level=1.5), TypeError, "level"),
    (lambda a, g: corvix.fade(a, a, level=True), TypeError, "level"),
    (lambda a, g: corvix.rotate(a, float("nan")), ValueError, "angle"),
    (lambda a, g: corvix.rotate(a, 30, background=(1, 2)), ValueError, "background"),
    (lambda a, g: corvix.scale(a, (0, 5)), ValueError, "size"),
    (lambda a, g: corvix.turn(a, angle=45), ValueError, "angle"),
    (lambda a, g: corvix.turn(a, angel=90), TypeError, "angel"),
    (lambda a, g: corvix.mirror(a), ValueError, "vertical"),
    (lambda a, g: corvix.mirror(a, horizontal=1), TypeError, "horizontal"),
    (lambda a, g: corvix.shear(a, shift=(-1, 3)), ValueError, "shift"),
    (lambda a, g: corvix.stretch(a, red=(0, 4000001)), ValueError, "red"),
    (lambda a, g: corvix.pens(g, palette=a[:2, :2]), ValueError, "cube index"),
    (lambda a, g: corvix.remap(a, palette=np.zeros((257, 3), np.uint8)), ValueError, "palette"),
    (lambda a, g: corvix.blit(a, a, alpha=5, transparency=5), ValueError, "exclude"),
    (lambda a, g: corvix.blit(a, g), ValueError, "src"),
    (lambda a, g: corvix.blit(a, a, light=(1, 2, 3)), ValueError, "256"),
    (lambda a, g: corvix.yuv2rgb(g, g, g, chroma=4), ValueError, "u: expected 230 bytes"),
    (lambda a, g: corvix.yuv2rgb(g.ravel(), g, g), TypeError, "size"),
    # Flat planes do not tell their layout (4:2:0 has the byte count of 4:1:1).
    (lambda a, g: corvix.yuv2rgb(g[:, :36], g[:, :9].ravel(), g[:, :9].ravel()), ValueError,
     "chroma"),
    (lambda a, g: corvix.yuv2rgb(g, g, g, chroma=1, pix_fmt="yuv444p"), ValueError, "give one"),
    (lambda a, g: corvix.yuv2rgb(g, g, g, pix_fmt="nv12"), ValueError, "pix_fmt"),
    (lambda a, g: corvix.rgb2yuv(a, pix_fmt="yuv410p"), ValueError, "pix_fmt"),
    (lambda a, g: corvix.cut(a, (2, 2, 2147483647, 0)), ValueError, "rect"),
]


@pytest.mark.parametrize("call,error,words", BAD, ids=[f"{i}-{b[2]}" for i, b in enumerate(BAD)])
def test_bad_arguments_raise_and_change_nothing(rng, call, error, words):
    a, g = picture(rng), picture(rng, channels=1)
    a0, g0 = a.copy(), g.copy()
    with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")):
        call(a, g)
    np.testing.assert_array_equal(a, a0)
    np.testing.assert_array_equal(g, g0)


def test_a_refusal_carries_the_librarys_reason(rng, tmp_path):
    with pytest.raises(corvix.Error, match="cannot read") as e:
        corvix.load(tmp_path / "missing.ppm")
    assert len(str(e.value)) > len("cannot read ''") + len(str(tmp_path))
    # A result too large for the library: refused, not a crash.
    with pytest.raises((corvix.Error, MemoryError)):
        corvix.scale(picture(rng), (60000, 60000))
    # Saving leaves nothing behind on failure.
    with pytest.raises(corvix.Error, match="empty"):
        corvix.save(np.zeros((0, 4, 3), np.uint8), tmp_path / "empty.ppm")
    with pytest.raises(corvix.Error):
        corvix.save(picture(rng), tmp_path / "no-such-dir" / "x.ppm")
    assert not any(tmp_path.iterdir())


@pytest.mark.parametrize("nth", [1, 2])
def test_memory_running_out_raises_and_leaks_nothing(rng, nth):
    a = picture(rng)
    before = corvix._corvix.alloc_stats()
    corvix._corvix.alloc_fail_nth(nth)  # the record, then the pixel buffer
    # MemoryError where the routine records why it failed, corvix.Error where it does not.
    with pytest.raises((MemoryError, corvix.Error)):
        corvix.rotate(a, 10)
    corvix._corvix.alloc_fail_nth(0)
    assert corvix._corvix.alloc_stats() == before


def test_results_are_the_librarys_buffers_and_read_only_inputs_may_be_views(rng):
    a = picture(rng, 30, 40)
    before = corvix._corvix.alloc_stats()[0]
    out = corvix.turn(a)
    assert out.base is not None and not out.flags.owndata
    assert corvix._corvix.alloc_stats()[0] == before + 2  # the record and its pixels
    del out
    assert corvix._corvix.alloc_stats()[0] == before
    view = a[::2, ::-1]
    np.testing.assert_array_equal(corvix.turn(view), corvix.turn(np.ascontiguousarray(view)))
    np.testing.assert_array_equal(corvix.rotate(a[..., :3], 5), corvix.rotate(a, 5))
