"""corvix.Host: arrays on shared blocks, commands in place, a server that dies, threads."""

import os
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import corvix
from conftest import ROOT, picture


def test_host_arrays_are_the_shared_memory_the_server_changes(rng):
    with corvix.Host.embedded() as host:
        a = host.array((23, 37, 3))
        assert a.dtype == np.uint8 and not a.any()
        a[:] = image = picture(rng)
        host.invert(a[5:9])  # a contiguous band of rows is a view on the same block
        np.testing.assert_array_equal(a[5:9], 255 - image[5:9])
        np.testing.assert_array_equal(a[:5], image[:5])
        # An array the server only reads may be anywhere; one it changes may not.
        np.testing.assert_array_equal(host.fade(a, image, level=255), image)
        with pytest.raises(ValueError, match="host.array"):
            host.invert(image)
        with pytest.raises(ValueError, match="C-contiguous"):
            host.invert(a[:, ::2])
        with pytest.raises(MemoryError):  # past the quota; still serving after
            host.array((1 << 31,))
        assert host.send(corvix._host.QUIT) == 123  # the raw call: the embedded server ends
        with pytest.raises(corvix.Error, match="gone"):
            host.invert(a)


def test_quit_ends_the_server_and_arrays_outlive_it_and_the_host(corvixd, rng):
    port, proc = corvixd
    host = corvix.Host(port)
    a = host.array((23, 37, 3))
    a[:] = image = picture(rng)
    host.mirror(a, vertical=True)
    corvix.quit(port)
    assert proc.wait(timeout=10) == 0
    np.testing.assert_array_equal(a, image[::-1])  # still mapped, still readable
    with pytest.raises(corvix.Error, match="gone"):
        host.invert(a)
    np.testing.assert_array_equal(a, image[::-1])
    host.close()
    with pytest.raises(corvix.Error, match="closed"):
        host.invert(a)
    a[0, 0] = 1  # the mapping lives as long as the array
    with pytest.raises(corvix.Error, match="no server"):
        corvix.Host(port)


def test_routines_run_side_by_side_in_threads(rng):
    image = picture(rng, 400, 500)
    # While a routine runs in another thread this one keeps running: were the GIL held, it
    # would stall for the whole routine once the switch interval (5 ms) handed the GIL over.
    worker = threading.Thread(target=corvix.smooth, args=(image,), kwargs={"passes": 4000})
    start = last = time.perf_counter()
    stall = 0.0
    worker.start()
    while worker.is_alive():
        now = time.perf_counter()
        stall, last = max(stall, now - last), now
    assert last - start > 0.1, "too short to tell"
    assert stall < 0.5 * (last - start), (stall, last - start)

    # Several at once through one host give what each gives alone.
    with corvix.Host.embedded() as host:
        frames = [host.array(image.shape) for _ in range(4)]
        for f in frames:
            f[:] = image
        threads = [threading.Thread(target=host.correct, args=(f,), kwargs={"contrast": 150})
                   for f in frames]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        want = corvix.correct(image.copy(), contrast=150)
        for f in frames:
            np.testing.assert_array_equal(f, want)


def test_the_example_writes_its_gallery(tmp_path):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(corvix.__file__)))
    done = subprocess.run([sys.executable, str(ROOT / "examples" / "python" / "yuv_gallery.py"),
                           str(tmp_path / "g")], capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    page = (tmp_path / "g" / "index.html").read_text()
    assert page.count("<img") >= 30
