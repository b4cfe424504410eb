"""Builds the extension module with the project's own CMake build, so that the package and the
library are compiled by one description with the same flags."""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).parent.resolve()


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     f"-DPYTHON_EXECUTABLE={sys.executable}", "-DCORVIX_BUILD_TESTS=OFF",
                     "-DCORVIX_BUILD_BENCH=OFF", "-DCORVIX_BUILD_PYTHON=ON"]
        configure += os.environ.get("CMAKE_ARGS", "").split()
        subprocess.check_call(configure)
        subprocess.check_call(["cmake", "--build", str(build), "--target", "corvix_python",
                               "-j", str(os.cpu_count() or 1)])
        built = next((build / "python" / "corvix").glob("_corvix*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    packages=["corvix"],
    package_dir={"": "python"},
    ext_modules=[CMakeExtension("corvix._corvix")],
    cmdclass={"build_ext": CMakeBuild},
    # Beside, not inside, the CMake build directory build/.
    options={"build": {"build_base": "build-python"}},
)
