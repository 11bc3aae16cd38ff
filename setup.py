# The extension: the library's sources and the binding, compiled with the
# library's floating-point rules (no contraction, no fast math), so that its
# values are the same bits as the tool's. The version is the header's.
import re
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

ROOT = Path(__file__).resolve().parent
HEADER = (ROOT / "include" / "fisher2x2.h").read_text()
VERSION = ".".join(re.search(rf"^#define FISHER2X2_VERSION_{part} (\d+)$", HEADER, re.M).group(1)
                   for part in ("MAJOR", "MINOR", "PATCH"))
# Every source of the library, as CMake builds it.
LIBRARY = sorted(str(p.relative_to(ROOT)) for p in (ROOT / "lib").glob("*/*.cpp"))

# Built apart from CMake's build directories.
setup(version=VERSION, options={"build": {"build_base": "build-python"}}, ext_modules=[Pybind11Extension(
    "fisher2x2._core",
    ["python/module.cpp"] + LIBRARY,
    include_dirs=["include", "lib"],
    cxx_std=17,
    extra_compile_args=["-ffp-contract=off", "-fno-fast-math"],
)])
