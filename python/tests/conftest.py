import os
import pathlib
import subprocess

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

# Routines on one thread, set before the library first reads it: the GIL test measures a
# Python thread counting beside one routine, which on two cores must not share them with the
# routine's own helper threads. Results are the same at any count (the C suite proves it).
os.environ.setdefault("CORVIX_THREADS", "1")


@pytest.fixture(autouse=True)
def private_runtime_dir(tmp_path_factory, monkeypatch):
    """Ports of the tests' servers live in a directory of their own."""
    monkeypatch.setenv("CORVIX_RUNTIME_DIR", str(tmp_path_factory.mktemp("run")))


@pytest.fixture
def rng():
    return np.random.default_rng(7)


def picture(rng, height=23, width=37, channels=3):
    """Random bytes at a size that is no multiple of any vector width."""
    shape = (height, width, channels) if channels != 1 else (height, width)
    return rng.integers(0, 256, shape, dtype=np.uint8)


def build_tool(name):
    build = os.environ.get("CORVIX_BUILD_DIR", str(ROOT / "build"))
    path = pathlib.Path(build) / name
    if not path.exists():
        pytest.skip(f"{path} is not built")
    return path


class Tool:
    """The corvix command-line tool, on files in a temporary directory."""

    def __init__(self, tmp_path):
        self.exe = build_tool("corvix")
        self.dir = tmp_path

    def file(self, name):
        return str(self.dir / name)

    def __call__(self, *args):
        done = subprocess.run([str(self.exe), *map(str, args)], capture_output=True)
        assert done.returncode == 0, done.stderr.decode()
        return done.stdout.decode()


@pytest.fixture
def tool(tmp_path):
    return Tool(tmp_path)


@pytest.fixture
def corvixd(tmp_path):
    """Starts a corvixd on a port of its own; yields (port, process); never outlives the test."""
    exe = build_tool("corvixd")
    port = f"pytest-{os.getpid()}"
    proc = subprocess.Popen([str(exe), "--port", port])
    socket = pathlib.Path(os.environ["CORVIX_RUNTIME_DIR"]) / port
    for _ in range(200):
        if socket.exists():
            break
        subprocess.run(["sleep", "0.02"])
    yield port, proc
    if proc.poll() is None:
        proc.kill()
    proc.wait()
