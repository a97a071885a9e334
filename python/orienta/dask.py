"""Carrying a transformation through dask arrays of points, on any dask scheduler or cluster.

The transformation travels to the workers as its JSON record (small and exact), and each worker
loads the library itself when it first imports orienta; nothing but text and arrays is pickled.
"""

import functools

import dask.array as da
import numpy as np

from . import _ajuste

__all__ = ["apply"]


@functools.lru_cache(maxsize=32)
def _desde_json(texto):
    # One parse per worker process and transformation, not one per block.
    return _ajuste.load(texto)


def _aplica_bloque(bloque, texto, inversa):
    return _desde_json(texto).apply(bloque, inverse=inversa)


def apply(transform, array, inverse=False):
    """Applies a transformation to a dask array of points, block by block.

    Parameters
    ----------
    transform : Transformation or str
        A fitted or loaded transformation, or its JSON text (as ``to_json`` or ``orienta … --json``
        write it).
    array : dask.array.Array or array_like, shape (n, dim)
        Points chunked by rows; chunks that split the columns are joined first. Each block is
        handled as ``Transformation.apply`` handles an array (float32 or integers read as float64).
    inverse : bool
        Apply the inverse.

    Returns
    -------
    dask.array.Array
        float64, shape (n, dim), with the row chunks of array. Each block equals, bit for bit,
        ``transform.apply`` on the same rows.

    Raises
    ------
    TypeError
        transform is neither a Transformation nor JSON text.
    ValueError
        array is not (n, dim) for the transformation's dim, or the JSON is not a transformation.
    """
    if isinstance(transform, str):
        t = _ajuste.load(transform)
    elif isinstance(transform, _ajuste.Transformation):
        t = transform
    else:
        raise TypeError(f"transform must be an orienta.Transformation or its JSON text, not {type(transform).__name__}")
    inversa = bool(inverse)
    if t.is_inverse:
        # The record travels forward; the direction travels as the flag.
        t, inversa = _ajuste.Transformation(t.record), not inversa
    texto = t.to_json()
    a = array if isinstance(array, da.Array) else da.asarray(array)
    if a.ndim != 2 or a.shape[1] != t.dim:
        raise ValueError(f"array must have shape (n, {t.dim}) for a {t.model}, got {a.shape}")
    if a.dtype.kind not in "iuf":
        raise TypeError(f"array must hold real numbers, not {a.dtype}")
    if len(a.chunks[1]) > 1:
        a = a.rechunk({1: -1})
    return a.map_blocks(_aplica_bloque, texto, inversa, dtype=np.float64, meta=np.empty((0, t.dim)))
