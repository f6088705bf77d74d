"""Builds the Python package idut with CMake: the compiled module idut._idut and the libraries it
links (libidut, libidut_reader) go beside the package's Python files, and the module finds them
through its own directory wherever the package is installed.

Environment: CMAKE_ARGS adds arguments to the configure step (a compiler launcher such as
-DCMAKE_CXX_COMPILER_LAUNCHER=ccache, say); CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs.
The CMake build tree stays in build-python/ of the checkout, so a second install only rebuilds
what changed."""
import os
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(idut VERSION ([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    """Configures and builds the module's target only; tests, benchmarks and tools are left out."""

    def build_extension(self, ext):
        build = os.path.join(SOURCE, "build-python", "cmake")
        configure = ["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                     f"-DPython3_EXECUTABLE={sys.executable}", "-DIDUT_PYTHON_PACKAGE=ON",
                     "-DIDUT_BUILD_TESTS=OFF", "-DIDUT_BUILD_BENCH=OFF", "-DIDUT_BUILD_FUZZ=OFF"]
        if shutil.which("ninja") and not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            configure += ["-G", "Ninja"]
        configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", build, "--target", "idut_python", "-j", jobs], check=True)
        # The module under the name setuptools expects, the libraries under their sonames.
        with open(os.path.join(build, "python-package-files.txt"), encoding="utf-8") as f:
            module, *libraries = f.read().split()
        destination = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        os.makedirs(destination, exist_ok=True)
        shutil.copyfile(module, self.get_ext_fullpath(ext.name))
        for library in libraries:
            shutil.copyfile(library, os.path.join(destination, os.path.basename(library)))


setup(
    version=version(),
    packages=["idut"],
    package_dir={"idut": "python/idut"},
    ext_modules=[Extension("idut._idut", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python/setuptools"}},
    zip_safe=False,
)
