"""Fitting and applying transformations on dask arrays of points, on any scheduler or cluster.

A fit runs in passes over the blocks: each block's pairs become a fixed-size record of their
statistics (1 KB, whatever the block's size), the records are merged pairwise in a tree, the
fit is solved once from the total, and one more pass gives vᵀPv; data snooping adds one pass
per pair it excludes. The per-pair arrays of the result (residuals, w …) are dask arrays,
computed only when asked for. A transformation travels to the workers as its JSON record or
its solution as plain bytes, and each worker loads the library itself when it first imports
orienta; nothing but bytes, text and arrays is pickled.
"""

import ctypes
import functools
import math

import dask
import dask.array as da
import numpy as np

from . import _ajuste
from . import _biblioteca as _b
from . import _registro as _r
from ._entrada import puntos

__all__ = ["apply", "helmert3d", "rigid3d", "helmert2d", "affine2d", "poly2d"]


@functools.lru_cache(maxsize=32)
def _desde_json(texto):
    # One parse per worker process and transformation, not one per block.
    return _ajuste.load(texto)


def _aplica_bloque(bloque, texto, inversa):
    return _desde_json(texto).apply(bloque, inverse=inversa)


def apply(transform: "_ajuste.Transformation | str", array: "da.Array | np.ndarray",
          inverse: bool = False) -> da.Array:
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


# ------------------------------------------------------------------------------------------------
# Fitting


def _bloque(dim, s, t, g):
    # One block's pairs as the C functions read them; a scalar σ is spread over the block here.
    S = puntos(s, "source", dim, np.float64)
    T = puntos(t, "target", dim, np.float64)
    if g is None:
        return S, T, None, 0
    g = np.asarray(g, dtype=np.float64)
    if g.ndim == 0:
        g = np.full(S.shape[0], float(g))
    g = np.require(g.reshape(S.shape[0], -1), np.float64, ["C_CONTIGUOUS", "ALIGNED"])
    return S, T, g, g.shape[1]


def _acumula(modelo, dim, desde, s, t, g):
    S, T, g, por_par = _bloque(dim, s, t, g)
    a = _b.Acumulador()
    p = _ajuste._pares(S, T, g, por_par)
    _ajuste._comprueba(_b.funcion("orienta_acumulador_inicia")(ctypes.byref(a), modelo, por_par), S.shape[0])
    _ajuste._comprueba(_b.funcion("orienta_acumulador_anade")(ctypes.byref(a), ctypes.byref(p)), S.shape[0],
                       modelo, p, desde)
    return bytes(a)


def _une(a, b):
    r = _b.Acumulador.from_buffer_copy(a)
    _ajuste._comprueba(_b.funcion("orienta_acumulador_une")(ctypes.byref(r), ctypes.byref(_b.Acumulador.from_buffer_copy(b))), 0)
    return bytes(r)


def _excluidos(n, locales):
    e = np.zeros(n, dtype=np.uint8)
    e[list(locales)] = 1
    return e


def _observa(solucion, campo, escala, dim, locales, s, t, g):
    # One block's per-pair array (campo "v", "w", "qvv", "r"); its vᵀPv and snooping candidate
    # (campo None): the largest |v|/√q_vv among its pairs in the fit; or its vᵀPv alone
    # (campo "vtpv", no per-pair array written).
    S, T, g, por_par = _bloque(dim, s, t, g)
    n = S.shape[0]
    sol = _b.Solucion.from_buffer_copy(solucion)
    excluido = _excluidos(n, locales)
    solo = campo == "vtpv"
    a = None if solo else np.empty((n, dim))
    obs = None if solo else ctypes.byref(_b.Observaciones(**{campo or "w": ctypes.cast(a.ctypes.data, _b.pd)}))
    vtpv = ctypes.c_double()
    _ajuste._comprueba(_b.funcion("orienta_residuos")(ctypes.byref(sol), ctypes.byref(_ajuste._pares(S, T, g, por_par)),
                                                      excluido.ctypes.data, escala, obs, ctypes.byref(vtpv)), n)
    if solo:
        return vtpv.value, -1.0, -1
    if campo is not None:
        return a
    a = np.abs(a)
    a[np.isnan(a)] = -1.0  # the observations the fit does not control (r ≈ 0)
    a[excluido.astype(bool)] = -1.0
    mayor = a.max(axis=1, initial=-1.0)
    k = int(np.argmax(mayor)) if n else 0
    return (vtpv.value, float(mayor[k]), k) if n and mayor[k] >= 0 else (vtpv.value, -1.0, -1)


class _PasadaDask:
    """The per-pair arrays of a fit on dask arrays: built lazily, block by block."""

    def __init__(self, bloques, filas, dim, solucion, escala, excluidos):
        self.n, self.dim = sum(filas), dim
        self._bloques, self._filas, self._sol, self._escala = bloques, filas, solucion, escala
        self._locales = excluidos
        self._hechos = {}

    def _arma(self, f, forma, dtype):
        partes = [da.from_delayed(dask.delayed(f)(k, *b), shape=forma(m), dtype=dtype)
                  for k, (b, m) in enumerate(zip(self._bloques, self._filas))]
        return da.concatenate(partes) if partes else da.zeros(forma(0), dtype=dtype)

    def lee(self, campo):
        if campo not in self._hechos:
            sol, escala, dim = self._sol, self._escala, self.dim
            self._hechos[campo] = self._arma(
                lambda k, s, t, g: _observa(sol, campo, escala, dim, self._locales.get(k, ()), s, t, g),
                lambda m: (m, dim), np.float64)
        return self._hechos[campo]

    def sigmas(self):
        dim = self.dim
        return self._arma(lambda k, s, t, g: _ajuste._sigma_por_coordenada(*_bloque(dim, s, t, g)[2:], len(s), dim),
                          lambda m: (m, dim), np.float64)

    @property
    def excluido(self):
        return self._arma(lambda k, s, t, g: _excluidos(len(s), self._locales.get(k, ())), lambda m: (m,), np.uint8)


def _como_dask(a, nombre, filas=None):
    a = a if isinstance(a, da.Array) else da.asarray(a)
    if a.dtype.kind not in "iuf":
        raise TypeError(f"{nombre} must hold real numbers, not {a.dtype}")
    if filas is not None:
        a = a.rechunk({0: filas} if a.ndim == 1 else {0: filas, 1: -1})
    return a


def _ajusta(modelo, dim, source, target, sigma, snoop):
    S = _como_dask(source, "source")
    if S.ndim != 2 or S.shape[1] != dim:
        raise ValueError(f"source must have shape (n, {dim}), got {S.shape}")
    S = S.rechunk({1: -1})
    T = _como_dask(target, "target")
    if T.shape != S.shape:
        raise ValueError(f"target must have the shape of source, {S.shape}, got {T.shape}")
    T = T.rechunk({0: S.chunks[0], 1: -1})
    n, filas = S.shape[0], S.chunks[0]
    g = None
    if sigma is None or np.ndim(sigma) == 0:
        if sigma is not None and not isinstance(sigma, (int, float, np.integer, np.floating)):
            raise TypeError(f"sigma must hold real numbers, not {type(sigma).__name__}")
        G = [None if sigma is None else float(sigma)] * len(filas)
    else:
        g = _como_dask(sigma, "sigma")
        formas = [(n,), (n, 1)] + ([(n, 2)] if dim == 3 else [])
        if g.shape not in formas:
            raise ValueError(f"sigma must be a number or have shape {' or '.join(map(str, formas))}, got {g.shape}")
        g = _como_dask(g, "sigma", filas)
        G = list(g.to_delayed().ravel())
    bloques = list(zip(S.to_delayed().ravel(), T.to_delayed().ravel(), G))
    umbral = _ajuste._umbral(snoop)
    info = _r.modelo(modelo)
    if n < info.min_pairs:
        raise _ajuste.FitError(_r.E_POCOS)

    # The statistics of every block, merged pairwise: a tree of depth log2(blocks).
    inicios = np.concatenate([[0], np.cumsum(filas)[:-1]]).astype(int)
    capa = [dask.delayed(_acumula)(modelo, dim, int(d), *b) for d, b in zip(inicios, bloques)]
    while len(capa) > 1:
        capa = [dask.delayed(_une)(capa[i], capa[i + 1]) if i + 1 < len(capa) else capa[i] for i in range(0, len(capa), 2)]
    a = _b.Acumulador.from_buffer_copy(capa[0].compute())
    s = _b.Solucion()
    _ajuste._comprueba(_b.funcion("orienta_resuelve")(ctypes.byref(a), ctypes.byref(s)), n)

    # Data snooping as in one process: while the worst controlled observation exceeds the
    # threshold (times σ0 without a priori σ), its pair leaves the statistics and the fit is
    # solved again; it stops where removing the pair would leave no redundancy or a degenerate set.
    locales, excluidos = {}, 0
    while True:
        sol = bytes(s)
        que = None if umbral > 0 else "vtpv"  # the candidate only when snooping
        pasadas = dask.compute(*[dask.delayed(_observa)(sol, que, 1.0, dim, locales.get(k, ()), *b)
                                 for k, b in enumerate(bloques)])
        vtpv = math.fsum(p[0] for p in pasadas)
        if umbral == 0:
            break
        k = max(range(len(pasadas)), key=lambda i: pasadas[i][1])
        mayor, local = pasadas[k][1], pasadas[k][2]
        r = dim * s.n - info.num_parameters
        escala = 1.0 if s.sigmas_por_par > 0 else math.sqrt(vtpv / r)
        if local < 0 or not mayor > umbral * escala or dim * (s.n - 1) - info.num_parameters < 1:
            break
        i = int(inicios[k]) + local
        uno = _bloque(dim, *dask.compute(S[i:i + 1], T[i:i + 1], G[k] if g is None else g[i:i + 1]))
        b, t = _b.Acumulador.from_buffer_copy(a), _b.Solucion()
        if (_b.funcion("orienta_acumulador_quita")(ctypes.byref(b), ctypes.byref(_ajuste._pares(*uno))) != 0
                or _b.funcion("orienta_resuelve")(ctypes.byref(b), ctypes.byref(t)) != 0):
            break
        a, s = b, t
        locales.setdefault(k, set()).add(local)
        excluidos += 1

    e = _b.Estadisticas()
    _ajuste._comprueba(_b.funcion("orienta_cierra")(ctypes.byref(s), vtpv, excluidos, umbral, ctypes.byref(e)), n)
    escala = 1.0 if e.con_sigma else e.sigma0
    locales = {k: tuple(sorted(v)) for k, v in locales.items()}
    return _ajuste.FitResult(s.t, e, _PasadaDask(bloques, list(filas), dim, bytes(s), escala, locales))


_DOC = """{que} on dask arrays, in passes over their blocks.

The same fit as orienta.{nombre} on the whole arrays, to rounding (the blocks' statistics are
merged, not summed in one order). Each block is read once to accumulate, once for vᵀPv, and once
more for every pair data snooping excludes; persist the arrays first if computing them is costly.

Parameters
----------
source, target : dask.array.Array or array_like, shape (n, {dim})
    Matched points, chunked by rows; target is rechunked to source's rows.{extra}
sigma : float or dask.array.Array or array_like, optional
    As for orienta.{nombre}: one number, or one σ per pair{sigma3d}.
snoop : None, bool or float, optional
    As for orienta.{nombre}.

Returns
-------
FitResult
    Its parameters, statistics and covariance computed; residuals, w, qvv, redundancy_numbers
    and excluded are dask arrays with source's row chunks, computed when asked for.

Raises
------
The exceptions of orienta.{nombre}; FitError.pair is the pair's index in the whole array.
"""


def helmert3d(source: "da.Array | np.ndarray", target: "da.Array | np.ndarray", sigma=None,
              snoop: "bool | float | None" = None) -> _ajuste.FitResult:
    return _ajusta(_ajuste._HELMERT3D, 3, source, target, sigma, snoop)


def rigid3d(source: "da.Array | np.ndarray", target: "da.Array | np.ndarray", sigma=None,
            snoop: "bool | float | None" = None) -> _ajuste.FitResult:
    return _ajusta(_ajuste._RIGIDO3D, 3, source, target, sigma, snoop)


def helmert2d(source: "da.Array | np.ndarray", target: "da.Array | np.ndarray", sigma=None,
              snoop: "bool | float | None" = None) -> _ajuste.FitResult:
    return _ajusta(_ajuste._HELMERT2D, 2, source, target, sigma, snoop)


def affine2d(source: "da.Array | np.ndarray", target: "da.Array | np.ndarray", sigma=None,
             snoop: "bool | float | None" = None) -> _ajuste.FitResult:
    return _ajusta(_ajuste._AFIN2D, 2, source, target, sigma, snoop)


def poly2d(source: "da.Array | np.ndarray", target: "da.Array | np.ndarray", order: int, sigma=None,
           snoop: "bool | float | None" = None) -> _ajuste.FitResult:
    if order not in (1, 2, 3) or isinstance(order, bool):
        raise ValueError(f"order must be 1, 2 or 3, got {order!r}")
    return _ajusta({1: _ajuste._AFIN2D, 2: _ajuste._POLI2D_2, 3: _ajuste._POLI2D_3}[order], 2, source, target, sigma,
                   snoop)


for _f, _que, _dim in ((helmert3d, "Seven-parameter 3D similarity", 3), (rigid3d, "Six-parameter 3D rigid motion", 3),
                       (helmert2d, "Four-parameter 2D similarity", 2), (affine2d, "Six-parameter 2D affine", 2),
                       (poly2d, "Centred 2D polynomial of order 1, 2 or 3", 2)):
    _f.__doc__ = _DOC.format(que=_que, nombre=_f.__name__, dim=_dim,
                             extra="\norder : {1, 2, 3}" if _f is poly2d else "",
                             sigma3d=", (n,) or (n, 2) for plan and height" if _dim == 3 else ", (n,)")
