"""The library's described functions, one Python function per exported C function.

Each keeps its C name and its C behaviour bit for bit; numpy arrays take the place of pointers.
Matrices come back as (3, 3) arrays by rows, triples as (3,) arrays, records as the ctypes records
of ``orienta.h``. A C function that overwrites an argument works on a copy unless ``inplace=True``
is given, in which case the argument must be a writable C-contiguous array of the exact dtype and
is changed as the C function documents.
"""

from __future__ import annotations

import ctypes
from typing import Any, Callable, Tuple, Union

import numpy as np
from numpy.typing import ArrayLike

from . import _biblioteca as _b
from ._entrada import cuenta, dtype_comun, escalares, mismo_numero, puntos

__all__ = [
    "MatrizRotGT_ωφκ", "MatrizRotGT_κωφ", "MatrizRotGT_κwκ", "MatrizRot_κωφ",
    "MatrizRot_20", "MatrizRot_24", "MatrizRot_26", "MatrizRot_28", "MatrizDeltafl_dbl", "MatrizDeltafl_fl",
    "Gmatriz_ωφκ_seg", "Gmatriz_24_seg", "Getoffset_matriz",
    "Orvinvsim3_dbl", "Orvinvsim3_fl", "convierte_en_R_dbl", "convierte_en_R_fl",
    "Gmedio", "Gmedio_pesos",
    "Hel2D___Hel2Dg_dbl", "Hel2D___Hel2Dg_fl",
    "transforma_punto2D_dbl", "transforma_punto2D_fl",
    "Trans_Polinomica2D___puntosxy_dbl", "Trans_Polinomica2D___puntosxy_fl",
    "Hel3Dg___ptr_dbl", "Hel3Dg___ptr_fl", "hel2dg",
] + [f"Hel2Dg___{capa}_{p}" for capa in ("ptr", "p", "pp", "g", "gg", "mixed") for p in ("dbl", "fl")]

_F64, _F32 = np.float64, np.float32


def _terna(t: Any) -> np.ndarray:
    return np.array(t.v, dtype=_F64)


def _nueva_matriz(dtype: type = _F64) -> np.ndarray:
    return np.zeros((3, 3), dtype=dtype)


# ------------------------------------------------------------------------------------------------
# Rotation matrices from angles and from vectors


def _desde_senos(nombre: str, reordena: bool) -> Callable[..., np.ndarray]:
    def fn(sc: ArrayLike, inplace: bool = False) -> np.ndarray:
        sc = escalares(sc, "sc", (6,), _F64, inplace and reordena)
        m = _nueva_matriz()
        _b.c[nombre](sc.ctypes.data, m.ctypes.data)
        return m
    fn.__name__ = fn.__qualname__ = nombre
    return fn


MatrizRotGT_ωφκ = _desde_senos("MatrizRotGT_ωφκ", False)
MatrizRotGT_ωφκ.__doc__ = """M = Rz(κ)·Ry(φ)·Rx(ω) from sines and cosines.

Parameters
----------
sc : array_like, 6 floats
    (sin ω, cos ω, sin φ, cos φ, sin κ, cos κ), used as given (not normalised).

Returns
-------
ndarray, shape (3, 3)
"""
MatrizRotGT_κωφ = _desde_senos("MatrizRotGT_κωφ", True)
MatrizRotGT_κωφ.__doc__ = """M = Ry(φ)·Rx(ω)·Rz(κ) from sines and cosines.

Parameters
----------
sc : array_like, 6 floats
    (sin ω, cos ω, sin φ, cos φ, sin κ, cos κ).
inplace : bool
    The C function reorders sc to (κ, ω, φ) pairs. False (default) leaves the caller's sc alone;
    True reorders it, which needs a writable C-contiguous float64 array.

Returns
-------
ndarray, shape (3, 3)
"""
MatrizRotGT_κwκ = _desde_senos("MatrizRotGT_κwκ", False)
MatrizRotGT_κwκ.__doc__ = """M = Rz(κ₂)·Rx(w)·Rz(κ₁) from (sin κ₁, cos κ₁, sin w, cos w, sin κ₂, cos κ₂).

Returns
-------
ndarray, shape (3, 3)
"""


def MatrizRot_κωφ(angulos: ArrayLike, inplace: bool = False) -> np.ndarray:
    """M = Ry(φ)·Rx(ω)·Rz(κ) from the angles (ω, φ, κ) in radians.

    Parameters
    ----------
    angulos : array_like, 3 floats
    inplace : bool
        True lets the C function reorder the caller's float64 array to (κ, ω, φ).

    Returns
    -------
    ndarray, shape (3, 3)
    """
    a = escalares(angulos, "angulos", (3,), _F64, inplace)
    m = _nueva_matriz()
    _b.c["MatrizRot_κωφ"](a.ctypes.data, m.ctypes.data)
    return m


def _desde_vector(nombre: str, sobrescribe: bool, doc: str) -> Callable[..., np.ndarray]:
    def fn(p: ArrayLike, inplace: bool = False) -> np.ndarray:
        v = escalares(p, "p", (3,), _F64, inplace and sobrescribe)
        m = _nueva_matriz()
        _b.c[nombre](v.ctypes.data, m.ctypes.data)
        return m
    fn.__name__ = fn.__qualname__ = nombre
    fn.__doc__ = doc + """
Returns
-------
ndarray, shape (3, 3)
"""
    return fn


_EN_SITIO = """inplace : bool
    The C function overwrites p (see orienta.h); True lets it overwrite the caller's float64 array,
    False (default) works on a copy.
"""
MatrizRot_20 = _desde_vector("MatrizRot_20", True, "Rotation from the type-20 vector p = θ·n.\n\n"
                             "Parameters\n----------\np : array_like, 3 floats\n" + _EN_SITIO)
MatrizRot_24 = _desde_vector("MatrizRot_24", True, "Rotation from the type-24 vector p = 2·sin(θ/2)·n, "
                             "|p| ≤ 2.\n\nParameters\n----------\np : array_like, 3 floats\n" + _EN_SITIO)
MatrizRot_26 = _desde_vector("MatrizRot_26", True, "Rotation from the type-26 vector p = 2·tan(θ/2)·n.\n\n"
                             "Parameters\n----------\np : array_like, 3 floats\n" + _EN_SITIO)
MatrizRot_28 = _desde_vector("MatrizRot_28", False, "Rotation from the type-28 vector of doubled "
                             "arcsines.\n\nParameters\n----------\np : array_like, 3 floats (only read)\n")


def _delta(nombre: str, dtype_matriz: type) -> Callable[..., Tuple[np.ndarray, np.float32]]:
    def fn(p: ArrayLike, inplace: bool = False) -> Tuple[np.ndarray, np.float32]:
        v = escalares(p, "p", (3,), _F32, inplace)
        m = _nueva_matriz(dtype_matriz)
        norma2 = _b.c[nombre](v.ctypes.data, m.ctypes.data)
        return m, np.float32(norma2)
    fn.__name__ = fn.__qualname__ = nombre
    return fn


_DOC_DELTA = """Type-26 rotation from a float32 vector, {cual}.

Parameters
----------
p : array_like, 3 floats
    Converted to float32 unless inplace.
inplace : bool
    True lets the C function overwrite the caller's float32 array with 4·p/(4 + |p|²).

Returns
-------
M : ndarray, shape (3, 3), {dtype}
norma2 : numpy.float32
    |p|² of p as passed in.
"""
MatrizDeltafl_dbl = _delta("MatrizDeltafl_dbl", _F64)
MatrizDeltafl_dbl.__doc__ = _DOC_DELTA.format(cual="mixed precision, nine doubles out", dtype="float64")
MatrizDeltafl_fl = _delta("MatrizDeltafl_fl", _F32)
MatrizDeltafl_fl.__doc__ = _DOC_DELTA.format(cual="wholly in single precision", dtype="float32")

# ------------------------------------------------------------------------------------------------
# Angles and vectors from a matrix


def Gmatriz_ωφκ_seg(M: ArrayLike) -> np.ndarray:
    """(ω, φ, κ) in radians of M = Rz(κ)·Ry(φ)·Rx(ω), stable near φ = ±π/2.

    Parameters
    ----------
    M : array_like, shape (3, 3) or 9 floats by rows

    Returns
    -------
    ndarray, shape (3,)
    """
    m = escalares(M, "M", (3, 3), _F64)
    return _terna(_b.c["Gmatriz_ωφκ_seg"](m.ctypes.data))


def Gmatriz_24_seg(M: ArrayLike) -> np.ndarray:
    """The type-24 vector 2·sin(θ/2)·n of the rotation M, stable near half a turn.

    Parameters
    ----------
    M : array_like, shape (3, 3) or 9 floats by rows

    Returns
    -------
    ndarray, shape (3,)
    """
    m = escalares(M, "M", (3, 3), _F64)
    return _terna(_b.c["Gmatriz_24_seg"](m.ctypes.data))


def _direccion(fn: Any) -> int:
    return ctypes.cast(fn, ctypes.c_void_p).value


def Getoffset_matriz(M: ArrayLike, recuperar: Any = Gmatriz_ωφκ_seg) -> Tuple[np.ndarray, int]:
    """Takes whole quarter and half turns about z out of M, then recovers what remains.

    Parameters
    ----------
    M : array_like, shape (3, 3) or 9 floats by rows
    recuperar : orienta.Gmatriz_ωφκ_seg, orienta.Gmatriz_24_seg or None
        The recovery function the C code calls. Passing Gmatriz_ωφκ_seg hands the C function its
        own address, which selects its angle-side handling of the half turn. None stores only the
        quarter-turn code and returns NaN. Python callables cannot be called back (ctypes cannot
        return a record from a callback) and raise TypeError.

    Returns
    -------
    terna : ndarray, shape (3,)
    codigo : int
        Bit 0: a quarter turn was taken out; bit 1: a half turn.
    """
    if recuperar is None:
        direccion = None
    elif recuperar is Gmatriz_ωφκ_seg or recuperar is Gmatriz_24_seg:
        direccion = _direccion(_b.c[recuperar.__name__])
    else:
        raise TypeError("recuperar must be orienta.Gmatriz_ωφκ_seg, orienta.Gmatriz_24_seg or None")
    m = escalares(M, "M", (3, 3), _F64)
    codigo = ctypes.c_uint32(0)
    t = _b.c["Getoffset_matriz"](m.ctypes.data, direccion, ctypes.addressof(codigo))
    return _terna(t), codigo.value


# ------------------------------------------------------------------------------------------------
# 3×3 utilities


def _utilidad(nombre: str, dtype: type, devuelve_indice: bool) -> Callable[..., Any]:
    def fn(M: ArrayLike, inplace: bool = False) -> Union[np.ndarray, Tuple[np.ndarray, int]]:
        m = escalares(M, "M", (3, 3), dtype, inplace)
        r = _b.c[nombre](m.ctypes.data)
        m = m.reshape(3, 3)
        return (m, int(r)) if devuelve_indice else m
    fn.__name__ = fn.__qualname__ = nombre
    return fn


_DOC_INVERSA = """Inverse of a symmetric 3×3 matrix ({p}), reading only its upper triangle.

Parameters
----------
M : array_like, shape (3, 3) or 9 floats by rows
inplace : bool
    True overwrites the caller's C-contiguous {dt} array; False (default) returns a new one.

Returns
-------
ndarray, shape (3, 3), {dt}
"""
_DOC_R = """Nearest proper rotation to a near-rotation ({p}), by the longest line.

Parameters
----------
M : array_like, shape (3, 3) or 9 floats by rows
inplace : bool
    True overwrites the caller's C-contiguous {dt} array; False (default) returns a new one.

Returns
-------
R : ndarray, shape (3, 3), {dt}
indice : int
    The index (0, 1, 2) of the rebuilt line.
"""
Orvinvsim3_dbl = _utilidad("Orvinvsim3_dbl", _F64, False)
Orvinvsim3_dbl.__doc__ = _DOC_INVERSA.format(p="double precision", dt="float64")
Orvinvsim3_fl = _utilidad("Orvinvsim3_fl", _F32, False)
Orvinvsim3_fl.__doc__ = _DOC_INVERSA.format(p="single precision", dt="float32")
convierte_en_R_dbl = _utilidad("convierte_en_R_dbl", _F64, True)
convierte_en_R_dbl.__doc__ = _DOC_R.format(p="double precision", dt="float64")
convierte_en_R_fl = _utilidad("convierte_en_R_fl", _F32, True)
convierte_en_R_fl.__doc__ = _DOC_R.format(p="single precision", dt="float32")

# ------------------------------------------------------------------------------------------------
# Angle means


def _ternas(a: ArrayLike, nombre: str, dtype: type) -> np.ndarray:
    a = np.asarray(a)
    if a.ndim != 2 or a.shape[1] != 3:
        raise ValueError(f"{nombre} must have shape (n, 3), got {a.shape}")
    cuenta(a.shape[0], nombre)
    listo = a.dtype == dtype and a.flags.c_contiguous and a.flags.aligned
    return a if listo else escalares(a, nombre, a.shape, dtype)


def Gmedio(angulos: ArrayLike) -> np.ndarray:
    """Per-component mean of angle triplets across the ±π wrap-around.

    Parameters
    ----------
    angulos : array_like, shape (n, 3)
        Radians; read as float64 (copied once if not C-contiguous float64).

    Returns
    -------
    ndarray, shape (3,)
        NaN in every component for n = 0.
    """
    a = _ternas(angulos, "angulos", _F64)
    return _terna(_b.c["Gmedio"](a.ctypes.data, a.shape[0]))


def Gmedio_pesos(angulos: ArrayLike, pesos: ArrayLike) -> np.ndarray:
    """Weighted per-component mean of angle triplets across the ±π wrap-around.

    Parameters
    ----------
    angulos : array_like, shape (n, 3)
        Radians, float64.
    pesos : array_like, shape (n, 3)
        One weight per angle. The C function reads float32; other dtypes are rounded to float32
        once, as the C code would on storing them.

    Returns
    -------
    ndarray, shape (3,)
    """
    a = _ternas(angulos, "angulos", _F64)
    w = _ternas(pesos, "pesos", _F32)
    if w.shape != a.shape:
        raise ValueError(f"pesos must have the shape of angulos {a.shape}, got {w.shape}")
    return _terna(_b.c["Gmedio_pesos"](a.ctypes.data, a.shape[0], w.ctypes.data))


# ------------------------------------------------------------------------------------------------
# 2D similarity: six layouts in two precisions


def _punteros(origen: np.ndarray, destino: np.ndarray) -> np.ndarray:
    """The 2n pointers P[2k] → source point k, P[2k+1] → target point k, built without a loop."""
    n = origen.shape[0]
    p = np.empty(2 * n, dtype=np.uintp)
    k = np.arange(n, dtype=np.int64)
    p[0::2] = (origen.ctypes.data + k * origen.strides[0]).astype(np.uintp)
    p[1::2] = (destino.ctypes.data + k * destino.strides[0]).astype(np.uintp)
    return p


def _pareja(S: ArrayLike, T: ArrayLike, dtype: type, contiguas: bool = False) -> Tuple[np.ndarray, np.ndarray]:
    S = puntos(S, "origen", 2, dtype)
    T = puntos(T, "destino", 2, dtype)
    mismo_numero("origen", S, "destino", T)
    if contiguas:
        S, T = np.ascontiguousarray(S), np.ascontiguousarray(T)
    return S, T


def _hel2dg_capas(p: str, dtype: type) -> dict:
    sufijo = "_" + p

    def ptr(origen: ArrayLike, destino: ArrayLike) -> Any:
        S, T = _pareja(origen, destino, dtype)
        P = _punteros(S, T)
        return _b.c["Hel2Dg___ptr" + sufijo](P.ctypes.data, S.shape[0])

    def p_(A: ArrayLike) -> Any:
        A = np.ascontiguousarray(puntos(A, "A", 4, dtype))
        return _b.c["Hel2Dg___p" + sufijo](A.ctypes.data, A.shape[0])

    def pp(origen: ArrayLike, destino: ArrayLike) -> Any:
        S, T = _pareja(origen, destino, dtype, contiguas=True)
        return _b.c["Hel2Dg___pp" + sufijo](S.ctypes.data, T.ctypes.data, S.shape[0])

    def g(B: ArrayLike) -> Any:
        B = puntos(B, "B", 2, dtype)
        if B.shape[0] % 2:
            raise ValueError(f"B must hold an even number of points (source, target alternating), got {B.shape[0]}")
        return _b.c["Hel2Dg___g" + sufijo](B.ctypes.data, B.strides[0], B.shape[0] // 2)

    def gg(origen: ArrayLike, destino: ArrayLike) -> Any:
        S, T = _pareja(origen, destino, dtype)
        if S.strides[0] != T.strides[0]:
            S, T = np.ascontiguousarray(S), np.ascontiguousarray(T)
        return _b.c["Hel2Dg___gg" + sufijo](S.ctypes.data, T.ctypes.data, S.strides[0], S.shape[0])

    def mixed(origen: ArrayLike, destino: ArrayLike) -> Any:
        S, T = _pareja(origen, destino, dtype)
        return _b.c["Hel2Dg___mixed" + sufijo](S.ctypes.data, S.strides[0], T.ctypes.data, T.strides[0],
                                              S.shape[0])

    dt = np.dtype(dtype).name
    docs = {
        "ptr": "origen, destino : array_like, shape (n, 2)\n    Passed as 2n pointers, one per point.",
        "p": "A : array_like, shape (n, 4)\n    Packed records (source x, y, target x, y); copied once "
             "unless C-contiguous.",
        "pp": "origen, destino : array_like, shape (n, 2)\n    Each copied once unless C-contiguous.",
        "g": "B : array_like, shape (2n, 2)\n    Source and target points alternating, rows any whole "
             "stride apart.",
        "gg": "origen, destino : array_like, shape (n, 2)\n    Rows any whole stride apart, the same for "
              "both (both are copied once when the strides differ).",
        "mixed": "origen, destino : array_like, shape (n, 2)\n    Rows any whole stride apart, each its own.",
    }
    funciones = {}
    for capa, fn in (("ptr", ptr), ("p", p_), ("pp", pp), ("g", g), ("gg", gg), ("mixed", mixed)):
        nombre = f"Hel2Dg___{capa}{sufijo}"
        fn.__name__ = fn.__qualname__ = nombre
        fn.__doc__ = (f"Centred 2D similarity ({dt}) from pairs in the `{capa}` layout.\n\n"
                      f"Parameters\n----------\n{docs[capa]}\n    Converted to {dt} once if needed.\n\n"
                      f"Returns\n-------\nHel2Dg_{p}\n")
        funciones[nombre] = fn
    return funciones


globals().update(_hel2dg_capas("dbl", _F64))
globals().update(_hel2dg_capas("fl", _F32))


def hel2dg(origen: ArrayLike, destino: ArrayLike) -> Any:
    """Centred 2D similarity, through whichever C layout reads the arrays without copying.

    Parameters
    ----------
    origen, destino : array_like, shape (n, 2)
        Source and target points. Both float32 selects the single-precision estimator; any other
        mix is read as float64 (float32 or integer arrays converted once). Rows may lie any whole
        number of elements apart (column blocks of wider arrays, reversed or strided views).

    Returns
    -------
    Hel2Dg_dbl or Hel2Dg_fl
        The same record, bit for bit, as the function of that precision named after the layout.

    Notes
    -----
    The layout follows from the memory: the two halves of one packed (n, 4) array use `p`, source
    and target rows of one array alternating use `g`, two packed arrays `pp`, equal strides `gg`,
    anything else `mixed`.
    """
    S = np.asarray(origen)
    T = np.asarray(destino)
    dtype = dtype_comun(S, T)
    S, T = _pareja(S, T, dtype)
    sufijo = "_fl" if dtype == _F32 else "_dbl"
    t, n = S.itemsize, S.shape[0]
    ds, dt = S.strides[0], T.strides[0]
    salto = T.ctypes.data - S.ctypes.data
    if ds == dt == 4 * t and salto == 2 * t:
        return _b.c["Hel2Dg___p" + sufijo](S.ctypes.data, n)
    if ds == dt and ds % (2 * t) == 0 and salto == ds // 2 and salto > 0:
        return _b.c["Hel2Dg___g" + sufijo](S.ctypes.data, salto, n)
    if ds == dt == 2 * t:
        return _b.c["Hel2Dg___pp" + sufijo](S.ctypes.data, T.ctypes.data, n)
    if ds == dt:
        return _b.c["Hel2Dg___gg" + sufijo](S.ctypes.data, T.ctypes.data, ds, n)
    return _b.c["Hel2Dg___mixed" + sufijo](S.ctypes.data, ds, T.ctypes.data, dt, n)


def _plana(nombre: str, registro: type) -> Callable[[Any], Any]:
    def fn(g: Any) -> Any:
        if not isinstance(g, registro):
            raise TypeError(f"g must be a {registro.__name__} record, not {type(g).__name__}")
        return _b.c[nombre](ctypes.byref(g))
    fn.__name__ = fn.__qualname__ = nombre
    fn.__doc__ = f"""The plain form (tx, ty, escala, cos_giro, sen_giro) of a centred 2D similarity.

Parameters
----------
g : {registro.__name__}

Returns
-------
{nombre.split('___')[0]}_{nombre.rsplit('_', 1)[1]}
"""
    return fn


Hel2D___Hel2Dg_dbl = _plana("Hel2D___Hel2Dg_dbl", _b.Hel2Dg_dbl)
Hel2D___Hel2Dg_fl = _plana("Hel2D___Hel2Dg_fl", _b.Hel2Dg_fl)

# ------------------------------------------------------------------------------------------------
# 2D polynomial


def _transforma(nombre: str, registro: type, dtype: type) -> Callable[..., np.ndarray]:
    def fn(t: Any, punto: ArrayLike, inplace: bool = False) -> np.ndarray:
        if not isinstance(t, registro):
            raise TypeError(f"t must be a {registro.__name__} record, not {type(t).__name__}")
        p = escalares(punto, "punto", (2,), dtype, inplace)
        _b.c[nombre](ctypes.byref(t), p.ctypes.data)
        return p
    fn.__name__ = fn.__qualname__ = nombre
    fn.__doc__ = f"""The image of one point through a polynomial record.

Parameters
----------
t : {registro.__name__}
punto : array_like, 2 floats
inplace : bool
    True lets the C function overwrite the caller's C-contiguous {np.dtype(dtype).name} point.

Returns
-------
ndarray, shape (2,)

Notes
-----
One call per point: for point sets use a fitted transformation's ``apply``, one C call per array.
"""
    return fn


transforma_punto2D_dbl = _transforma("transforma_punto2D_dbl", _b.Trans_Polinomica2D_dbl, _F64)
transforma_punto2D_fl = _transforma("transforma_punto2D_fl", _b.Trans_Polinomica2D_fl, _F32)


def _polinomica(nombre: str, registro: type, dtype: type) -> Callable[..., Any]:
    def fn(origen: ArrayLike, destino: ArrayLike, tipo: int) -> Any:
        tipo = int(tipo)
        if not 0 <= tipo < 2**32:
            raise ValueError(f"tipo must fit in 32 unsigned bits, got {tipo}")
        S, T = _pareja(origen, destino, dtype)
        P = _punteros(S, T)
        t = registro(tipo=tipo)
        _b.c[nombre](ctypes.byref(t), P.ctypes.data, S.shape[0])
        return t
    fn.__name__ = fn.__qualname__ = nombre
    fn.__doc__ = f"""Fits a 2D polynomial record of the given kind to point pairs.

Parameters
----------
origen, destino : array_like, shape (n, 2)
    Converted to {np.dtype(dtype).name} once if needed.
tipo : int
    0 constant, 1 rigid, 2 similarity, 3 affine (4, 5 as affine), 6 second, 7 third order; the
    record holds 7 for anything above.

Returns
-------
{registro.__name__}
    Degenerate pairs give NaN coefficients, as in C.
"""
    return fn


Trans_Polinomica2D___puntosxy_dbl = _polinomica("Trans_Polinomica2D___puntosxy_dbl",
                                                _b.Trans_Polinomica2D_dbl, _F64)
Trans_Polinomica2D___puntosxy_fl = _polinomica("Trans_Polinomica2D___puntosxy_fl",
                                               _b.Trans_Polinomica2D_fl, _F32)

# ------------------------------------------------------------------------------------------------
# 3D similarity


def _hel3dg(nombre: str, registro: type, dtype: type) -> Callable[..., Tuple[int, Any, np.ndarray]]:
    def fn(origen: ArrayLike, destino: ArrayLike, aprox_general: bool = False,
           centrar_en_sitio: bool = False) -> Tuple[int, Any, np.ndarray]:
        if centrar_en_sitio:
            # The C function overwrites the points: they must be the caller's own arrays, and no
            # point may be referenced twice (it would be reduced once per reference).
            for nom, a in (("origen", origen), ("destino", destino)):
                if not isinstance(a, np.ndarray) or a.dtype != dtype or not a.flags.writeable:
                    raise TypeError(f"{nom} must be a writable {np.dtype(dtype).name} array when "
                                    "centrar_en_sitio=True")
            if np.shares_memory(origen, destino):
                raise ValueError("origen and destino overlap; with centrar_en_sitio=True every point "
                                 "must be referenced once")
            S, T = puntos(origen, "origen", 3), puntos(destino, "destino", 3)
            if S is not origen or T is not destino:
                raise ValueError("origen and destino must have x, y, z adjacent and be aligned when "
                                 "centrar_en_sitio=True")
            if any(a.strides[0] == 0 and a.shape[0] > 1 for a in (S, T)):
                raise ValueError("rows with stride 0 repeat one point; centrar_en_sitio=True needs distinct points")
        else:
            S, T = puntos(origen, "origen", 3, dtype), puntos(destino, "destino", 3, dtype)
        mismo_numero("origen", S, "destino", T)
        P = _punteros(S, T)
        hel = registro()
        inv = np.full(9, np.nan, dtype=_F32)
        estado = _b.c[nombre](P.ctypes.data, S.shape[0], ctypes.byref(hel), int(bool(aprox_general)),
                              int(bool(centrar_en_sitio)), inv.ctypes.data)
        if estado == -2:
            raise MemoryError(f"{nombre}: the scratch area was refused")
        return int(estado), hel, inv.reshape(3, 3)
    fn.__name__ = fn.__qualname__ = nombre
    dt = np.dtype(dtype).name
    fn.__doc__ = f"""Centred 3D similarity (seven-parameter Helmert) from point pairs, in {dt}.

Parameters
----------
origen, destino : array_like, shape (n, 3)
    Converted to {dt} once if needed, unless centrar_en_sitio.
aprox_general : bool
    Start from the linear least-squares map made orthonormal (used from 9 pairs on).
centrar_en_sitio : bool
    True lets the C function overwrite every point with itself minus its set's centroid; origen
    and destino must then be distinct, writable {dt} arrays with x, y, z adjacent.

Returns
-------
estado : int
    0 converged, 1 written but not the best fit, -1 something not finite.
hel : {registro.__name__}
inversa_normal : ndarray, shape (3, 3), float32
    The inverse Newton matrix of the last step.

Raises
------
MemoryError
    When the C function's scratch area is refused (status -2).
"""
    return fn


Hel3Dg___ptr_dbl = _hel3dg("Hel3Dg___ptr_dbl", _b.Hel3Dg_dbl, _F64)
Hel3Dg___ptr_fl = _hel3dg("Hel3Dg___ptr_fl", _b.Hel3Dg_fl, _F32)
