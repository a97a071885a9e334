"""The package's version: the one project(orienta VERSION …) declares in the top-level CMakeLists.txt.

CMake replaces this file with one holding the number as a literal in the build tree's copy of the
package and in the installed one. This source-tree form, imported from a checkout
(PYTHONPATH=python), reads the number from the CMakeLists.txt two folders up. Away from a checkout
it falls back on what packaging left: an unpacked source distribution's PKG-INFO one folder up,
else the installed distribution's metadata (a copy pip installed from python/). It imports nothing
of the package, so that pyproject.toml can take the version from it without loading the library.
"""

import os
import re


def _busca(ruta, patron):
    try:
        with open(ruta, encoding="utf-8") as f:
            encontrada = re.search(patron, f.read(), re.M)
    except OSError:
        return None
    return encontrada.group(1) if encontrada else None


def _lee():
    paquete = os.path.dirname(os.path.abspath(__file__))
    cmake = os.path.join(paquete, os.pardir, os.pardir, "CMakeLists.txt")
    version = _busca(cmake, r"^project\(\s*orienta\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)")
    version = version or _busca(os.path.join(paquete, os.pardir, "PKG-INFO"), r"^Version:\s*(\S+)")
    if version:
        return version
    from importlib import metadata
    try:
        return metadata.version("orienta")
    except metadata.PackageNotFoundError:
        return "unknown"


VERSION = _lee()
