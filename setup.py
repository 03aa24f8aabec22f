"""Builds the package velmora with scikit-build: the existing CMake build makes
the compiled module velmora._velmora and the program velmora, installed into
the package beside the Python modules of python/velmora.

    python3 -m venv --system-site-packages venv      # Debian: /usr/bin/python3
    venv/bin/pip install --no-build-isolation .      # or -e . for an editable install

The version is the CMake project's (CMakeLists.txt), the one place it is written.
"""

import os
import re
import sys

import setuptools
from skbuild import setup
from skbuild import setuptools_wrap

HERE = os.path.dirname(os.path.abspath(__file__))


def project_version():
    """The VERSION of CMakeLists.txt's project() command."""
    with open(os.path.join(HERE, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"^project\(\s*velmora\s+VERSION\s+([0-9][0-9.]*)", f.read(), re.MULTILINE)
    if not match:
        raise RuntimeError("CMakeLists.txt: no 'project(velmora VERSION x.y ...)' line to take the version from")
    return match.group(1)


def cmake_args():
    """CMake options of the package's build: the module and the program, no tests."""
    args = ["-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF", "-DVELMORA_PYTHON=ON"]
    # pybind11 from a package index (build isolation) carries its CMake files
    # in the Python package; Debian's pybind11-dev has them on CMake's path.
    try:
        import pybind11  # noqa: PLC0415

        args.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
    except (ImportError, AttributeError):
        pass
    return args


# setuptools (64 and later) installs a project in editable mode with its
# command editable_wheel, which scikit-build 0.16 does not know: it would skip
# CMake and leave the package without its compiled module. It is taken as
# scikit-build's own editable install, "develop": CMake runs, and the module
# and the program are copied into python/velmora. setuptools is then handed
# the source folder python/ itself, which the install puts on the path
# (scikit-build would hand it its install folder, where no .py file is).
_parse_arguments = setuptools_wrap._parse_setuptools_arguments
_setuptools_setup = setuptools.setup


def _parse_arguments_editable(setup_attrs):
    parsed = list(_parse_arguments(setup_attrs))
    commands = parsed[2]
    if "editable_wheel" in commands and "develop" not in commands:
        parsed[2] = [*commands, "develop"]
    return tuple(parsed)


def _setup_from_source(**attrs):
    attrs["package_dir"] = {"": "python"}
    return _setuptools_setup(**attrs)


if "editable_wheel" in sys.argv:
    setuptools_wrap._parse_setuptools_arguments = _parse_arguments_editable
    setuptools.setup = _setup_from_source

setup(
    version=project_version(),
    packages=["velmora"],
    package_dir={"": "python"},
    package_data={"velmora": ["py.typed", "*.pyi"]},
    cmake_args=cmake_args(),
    cmake_install_dir="python",  # CMake installs velmora/... where package_dir has the package
    cmake_languages=("CXX",),
    cmake_minimum_required_version="3.18",
)
