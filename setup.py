# The extension: the library's sources and the binding, compiled with the
# library's floating-point rules (no contraction, no fast math), so that its
# values are the same bits as the tool's.
from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

LIBRARY = ["exact_test", "classic", "exact_compare", "log_probability", "tail_sum", "accurate",
           "odds_ratio", "double_double", "soft_extended", "library"]

# Built apart from CMake's build directories.
setup(options={"build": {"build_base": "build-python"}}, ext_modules=[Pybind11Extension(
    "fisher2x2._core",
    ["python/module.cpp"] + [f"src/{name}.cpp" for name in LIBRARY],
    include_dirs=["include", "src"],
    cxx_std=17,
    extra_compile_args=["-ffp-contract=off", "-fno-fast-math"],
)])
