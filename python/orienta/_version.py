"""The package's version: the one project(orienta VERSION …) declares in the top-level CMakeLists.txt.

CMake replaces this file with one holding the number as a literal in the build tree's copy of the
package and in the installed one. This source-tree form, imported from a checkout
(PYTHONPATH=python), reads the number from the CMakeLists.txt two folders up; a copy that pip
installed from this folder has no CMakeLists.txt beside it and takes the number from its own
distribution's metadata instead. It imports nothing of the package, so that pyproject.toml can
take the version from it without loading the library.
"""

import os
import re


def _lee():
    raiz = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
    try:
        with open(os.path.join(raiz, "CMakeLists.txt"), encoding="utf-8") as f:
            encontrada = re.search(r"^project\(\s*orienta\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", f.read(), re.M)
    except OSError:
        encontrada = None
    if encontrada:
        return encontrada.group(1)
    from importlib import metadata
    try:
        return metadata.version("orienta")
    except metadata.PackageNotFoundError:
        return "unknown"


VERSION = _lee()
