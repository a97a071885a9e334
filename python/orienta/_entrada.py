"""Argument checks and the one conversion an argument may need before it reaches C."""

import numpy as np

_MAX_N = 2**32 - 1  # counts are uint32_t in C


def _flotante(a, nombre):
    """a as an ndarray of float32 or float64; other real numbers become float64 (a copy)."""
    a = np.asarray(a)
    if a.dtype in (np.float64, np.float32):
        return a
    if a.dtype.kind in "iuf":
        return a.astype(np.float64)
    raise TypeError(f"{nombre} must hold real numbers, not {a.dtype}")


def escalares(a, nombre, forma, dtype, inplace=False):
    """A C-contiguous array of dtype with `forma` or the same number of elements, ready for C.

    With inplace the caller's own array is returned (C will overwrite it), and nothing may be
    converted: it must already be a writable, C-contiguous ndarray of dtype.
    """
    tam = int(np.prod(forma))
    if inplace:
        if not isinstance(a, np.ndarray):
            raise TypeError(f"{nombre} must be a numpy array when inplace=True")
        if a.dtype != dtype:
            raise TypeError(f"{nombre} must be {np.dtype(dtype)} when inplace=True, not {a.dtype}")
        if not (a.flags.c_contiguous and a.flags.aligned and a.flags.writeable):
            raise ValueError(f"{nombre} must be C-contiguous, aligned and writable when inplace=True")
    else:
        a = np.array(_flotante(a, nombre), dtype=dtype, order="C")  # a copy: C may write into it
    if a.size != tam:
        raise ValueError(f"{nombre} must have shape {forma} (or {tam} elements), got {a.shape}")
    return a


def dtype_comun(*arrays):
    """float32 when every array is float32, float64 otherwise."""
    return np.float32 if all(a.dtype == np.float32 for a in arrays) else np.float64


def puntos(a, nombre, dim, dtype=None, contado=True):
    """a as an (n, dim) array C can read in place: x, y (, z) adjacent, rows any whole stride apart.

    Such an array (C-contiguous, a column block of a wider array, rows reversed or skipped) is
    passed as it is. Anything else is copied once into a C-contiguous array; so are integers and
    other real types (to float64) and, when dtype is given, the other float precision. contado
    says the count goes to C as a uint32_t, which ctypes would silently truncate.
    """
    a = _flotante(a, nombre)
    if a.ndim != 2 or a.shape[1] != dim:
        raise ValueError(f"{nombre} must have shape (n, {dim}), got {a.shape}")
    if contado and a.shape[0] > _MAX_N:
        raise ValueError(f"{nombre} has {a.shape[0]} points; at most {_MAX_N} fit in one call")
    if dtype is not None and a.dtype != dtype:
        a = a.astype(dtype)
    t = a.itemsize
    if a.strides[1] != t or a.strides[0] % t or a.ctypes.data % t:
        # A copy, not np.ascontiguousarray: that returns a contiguous but misaligned array (as
        # dask's network buffers often are) unchanged.
        a = np.array(a, order="C")
    return a


def cuenta(n, nombre):
    if n > _MAX_N:
        raise ValueError(f"{nombre} has {n} entries; at most {_MAX_N} fit in one call")
    return n


def mismo_numero(nombre_a, a, nombre_b, b):
    if a.shape[0] != b.shape[0]:
        raise ValueError(f"{nombre_a} and {nombre_b} must have the same number of points "
                         f"({a.shape[0]} and {b.shape[0]})")


def identificadores(ids, n):
    """ids as a tuple of n str, or None: a sequence of str (or whole numbers, point numbers), or
    anything with an ``ids`` attribute holding one (the PointList of read_points)."""
    if ids is None:
        return None
    if hasattr(ids, "ids") and not isinstance(ids, (str, np.ndarray)):
        ids = ids.ids
        if ids is None:
            return None
    if isinstance(ids, (str, bytes)):
        raise TypeError("ids must be a sequence of str, one a pair, not a single string")
    r = []
    for i in ids:
        if isinstance(i, (str, np.str_)):
            r.append(str(i))
        elif isinstance(i, (int, np.integer)) and not isinstance(i, (bool, np.bool_)):
            r.append(str(int(i)))
        else:
            raise TypeError(f"ids must hold str (or whole numbers), not {type(i).__name__}")
    if len(r) != n:
        raise ValueError(f"ids has {len(r)} entries for {n} pairs")
    return tuple(r)
