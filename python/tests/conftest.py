import os
import shutil

import numpy as np
import pytest

RAIZ = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="session")
def datos():
    return os.environ.get("ORIENTA_DATOS", os.path.join(RAIZ, "examples", "data"))


@pytest.fixture(scope="session")
def herramienta():
    """The command-line tool of the same build as the library."""
    ruta = os.environ.get("ORIENTA_CLI") or shutil.which("orienta")
    if not ruta:
        raise RuntimeError("set ORIENTA_CLI to the command-line tool")
    return ruta


def lee_pares(ruta, dim):
    """Source and target columns of a bundled control file (id, source…, target…)."""
    tabla = np.loadtxt(ruta, comments="#", usecols=range(1, 2 * dim + 1))
    return tabla[:, :dim].copy(), tabla[:, dim:].copy()


def mismos_bits(a, b):
    """Bitwise equality of float arrays, NaN equal to NaN whatever its payload."""
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and bool(np.all((a.view(np.uint64) == b.view(np.uint64)) | (np.isnan(a) & np.isnan(b))))


def desalinea(a):
    """A C-contiguous copy of a whose data starts one byte off its type's alignment, as arrays
    deserialized from dask's network buffers may."""
    a = np.asarray(a)
    crudo = np.empty(a.nbytes + 1, dtype=np.uint8)
    b = crudo[1:].view(a.dtype).reshape(a.shape)
    b[...] = a
    assert not b.flags.aligned
    return b
