import os
import re

import numpy as np
import pytest

import orienta
from orienta import _biblioteca
from conftest import RAIZ, desalinea, mismos_bits

rng = np.random.default_rng(20261206)
N = 7


def test_every_header_function_has_a_wrapper():
    with open(os.path.join(RAIZ, "include", "orienta.h"), encoding="utf-8") as f:
        nombres = re.findall(r"^ORIENTA_API [^(;]*?[ *]([^ *(]+)\(", f.read(), re.M)
    # The described functions; orienta_* extensions are reached through the fitting API.
    nombres = [n for n in nombres if not n.startswith("orienta_")]
    assert len(nombres) == 39
    assert [n for n in nombres if not callable(getattr(orienta, n, None))] == []


def test_every_public_function_is_annotated():
    import inspect
    firmas = {n: inspect.signature(f) for n in orienta.__all__ if inspect.isfunction(f := getattr(orienta, n))}
    assert [n for n, s in firmas.items() if s.return_annotation is inspect.Signature.empty
            or any(p.annotation is inspect.Parameter.empty for p in s.parameters.values())] == []


@pytest.fixture
def espia(monkeypatch):
    """Records which C function each call reaches, with its arguments."""
    llamadas = []
    for nombre, fn in list(_biblioteca.c.items()):
        def registra(*args, _fn=fn, _nombre=nombre):
            llamadas.append((_nombre, args))
            return _fn(*args)
        monkeypatch.setitem(_biblioteca.c, nombre, registra)
    return llamadas


def _r(*forma, dtype=np.float64):
    return rng.normal(size=forma).astype(dtype)


# (case, builds (origen, destino, the address C must receive or None for a copy), Hel2Dg___ function)
CAPAS = [
    ("two packed arrays", lambda: ((S := _r(N, 2)), _r(N, 2), S.ctypes.data), "pp_dbl"),
    ("halves of one (n, 4) array", lambda: ((A := _r(N, 4))[:, :2], A[:, 2:], A.ctypes.data), "p_dbl"),
    # x, y and a third column: rows alternate source, target
    ("rows of one array alternating", lambda: ((B := _r(2 * N, 3))[0::2, :2], B[1::2, :2], B.ctypes.data), "g_dbl"),
    ("column blocks, equal strides", lambda: ((W := _r(N, 5))[:, 0:2], W[:, 2:4], W.ctypes.data), "gg_dbl"),
    ("reversed views", lambda: ((S := _r(N, 2))[::-1], _r(N, 2)[::-1], S.ctypes.data + (N - 1) * 16), "gg_dbl"),
    ("different strides", lambda: ((W := _r(N, 3))[:, 1:], _r(N, 2), W.ctypes.data + 8), "mixed_dbl"),
    ("float32 pair", lambda: ((S := _r(N, 2, dtype=np.float32)), _r(N, 2, dtype=np.float32), S.ctypes.data), "pp_fl"),
    ("float32 with float64 reads as float64", lambda: (_r(N, 2, dtype=np.float32), _r(N, 2), None), "pp_dbl"),
    ("integers read as float64", lambda: ((E := np.arange(2 * N).reshape(N, 2)), E * 2 + 5, None), "pp_dbl"),
    ("misaligned arrays are copied", lambda: (desalinea(_r(N, 2)), desalinea(_r(N, 2)), None), "pp_dbl"),
]


@pytest.mark.parametrize("caso,hace,esperada", CAPAS, ids=[c[0] for c in CAPAS])
def test_hel2dg_reaches_the_layout_that_reads_the_arrays_in_place(espia, caso, hace, esperada):
    S, T, direccion = hace()
    r = orienta.hel2dg(S, T)
    assert [nombre for nombre, _ in espia] == ["Hel2Dg___" + esperada]
    if direccion is not None:
        assert espia[0][1][0] == direccion  # the caller's memory, not a copy
    else:
        assert espia[0][1][0] % np.dtype(np.float64).itemsize == 0  # a fresh, aligned copy
    # Every layout returns the same bits as the pointer layout on the same points.
    precision = esperada.rsplit("_", 1)[1]
    dtype = np.float32 if precision == "fl" else np.float64
    referencia = getattr(orienta, f"Hel2Dg___ptr_{precision}")(np.asarray(S, dtype), np.asarray(T, dtype))
    assert type(r) is type(referencia) and bytes(r) == bytes(referencia)


def test_named_layouts_agree_bit_for_bit():
    for p, dtype in (("dbl", np.float64), ("fl", np.float32)):
        S, T = _r(N, 2, dtype=dtype), _r(N, 2, dtype=dtype)
        A = np.hstack([S, T])
        B = np.empty((2 * N, 2), dtype)
        B[0::2], B[1::2] = S, T
        f = {c: getattr(orienta, f"Hel2Dg___{c}_{p}") for c in ("ptr", "p", "pp", "g", "gg", "mixed")}
        registros = [f["ptr"](S, T), f["p"](A), f["pp"](S, T), f["g"](B), f["gg"](S, T), f["mixed"](A[:, :2], T)]
        assert len({bytes(r) for r in registros}) == 1, p


def _sc(angulos):
    a = np.asarray(angulos)
    return np.ravel(np.column_stack([np.sin(a), np.cos(a)]))


# (function, argument, what the argument holds after an in-place call)
SC = _sc([0.1, -0.4, 2.0])
P = [0.3, -0.2, 0.5]
EN_SITIO = [
    (orienta.MatrizRotGT_κωφ, np.array(SC), lambda a: SC[[4, 5, 0, 1, 2, 3]]),
    (orienta.MatrizRot_κωφ, np.array([0.1, -0.4, 2.0]), lambda a: [2.0, 0.1, -0.4]),
    (orienta.MatrizRot_20, np.array(P), lambda a: np.sin(np.linalg.norm(P)) / np.linalg.norm(P) * np.array(P)),
    (orienta.MatrizRot_24, np.array(P), lambda a: np.sqrt(1 - np.dot(P, P) / 4) * np.array(P)),
    (orienta.MatrizRot_26, np.array(P), lambda a: 4 * np.array(P) / (4 + np.dot(P, P))),
    (orienta.MatrizDeltafl_dbl, np.array(P, np.float32), lambda a: 4 * np.array(P) / (4 + np.dot(P, P))),
    (orienta.Orvinvsim3_dbl, np.array([[4.0, 1, 0.5], [1, 3, 0.2], [0.5, 0.2, 2]]), np.linalg.inv),
    (orienta.convierte_en_R_dbl, np.diag([2.0, 2.0, 2.0]), lambda a: np.eye(3)),
]


@pytest.mark.parametrize("fn,arg,despues", EN_SITIO, ids=[e[0].__name__ for e in EN_SITIO])
def test_overwriting_functions_touch_the_callers_array_only_when_asked(fn, arg, despues):
    antes = arg.copy()
    copia = fn(arg)
    assert mismos_bits(arg, antes)
    en_sitio = fn(arg, inplace=True)
    como_tupla = lambda r: r if isinstance(r, tuple) else (r,)  # noqa: E731
    assert all(mismos_bits(a, b) for a, b in zip(como_tupla(copia), como_tupla(en_sitio)))
    np.testing.assert_allclose(arg, np.reshape(despues(antes), arg.shape), rtol=1e-6, atol=1e-7)


def test_polynomial_point_and_3d_centring_in_place():
    t = orienta.Trans_Polinomica2D___puntosxy_dbl(_r(N, 2), _r(N, 2), 9)
    assert t.tipo == 7  # the C function lowers a kind above 7
    punto = np.array([0.25, -0.5])
    imagen = orienta.transforma_punto2D_dbl(t, punto)
    assert mismos_bits(punto, [0.25, -0.5]) and not mismos_bits(imagen, punto)
    orienta.transforma_punto2D_dbl(t, punto, inplace=True)
    assert mismos_bits(punto, imagen)

    S3 = rng.normal(size=(12, 3))
    T3 = 2 * S3 @ orienta.MatrizRotGT_ωφκ(_sc([0.01, -0.02, 0.7])).T + 100 + rng.normal(scale=1e-3, size=(12, 3))
    a, b = S3.copy(), T3.copy()
    leido = orienta.Hel3Dg___ptr_dbl(S3, T3)
    assert mismos_bits(S3, a) and mismos_bits(T3, b)
    estado, hel, _ = orienta.Hel3Dg___ptr_dbl(S3, T3, centrar_en_sitio=True)
    assert estado == leido[0] == 0
    np.testing.assert_allclose(T3.mean(axis=0), 0, atol=1e-12)
    np.testing.assert_allclose(np.array(hel.centro_destino), np.array(leido[1].centro_destino), rtol=1e-15)


def test_library_recovery_functions_pass_through_getoffset():
    giro = orienta.MatrizRotGT_ωφκ(_sc([0.2, 0.1, 2.5]))  # κ beyond a quarter turn
    angulos, codigo = orienta.Getoffset_matriz(giro)
    assert codigo != 0 and np.all(np.abs(angulos) < np.pi / 2)
    vacio, codigo_solo = orienta.Getoffset_matriz(giro, None)
    assert np.all(np.isnan(vacio)) and codigo_solo == codigo & 1
    vector, _ = orienta.Getoffset_matriz(giro, orienta.Gmatriz_24_seg)
    assert np.linalg.norm(vector) <= 2


_S2 = np.random.default_rng(2).normal(size=(12, 2))
_S3 = np.random.default_rng(3).normal(size=(12, 3))
_t_fl = orienta.Trans_Polinomica2D___puntosxy_fl(_S2, 2 * _S2, 3)
# The functions no other test reaches, with the type, dtype and shape their results must have:
# a wrong prototype would crash, raise, or come back in another precision.
RESTO = [
    (lambda: orienta.MatrizRotGT_κwκ(_sc([0.1, 0.2, 0.3])), np.float64, (3, 3)),
    (lambda: orienta.MatrizRot_28([0.1, 0.2, 0.3]), np.float64, (3, 3)),
    (lambda: orienta.MatrizDeltafl_fl([0.1, 0.2, 0.3])[0], np.float32, (3, 3)),
    (lambda: orienta.Orvinvsim3_fl(np.eye(3)), np.float32, (3, 3)),
    (lambda: orienta.convierte_en_R_fl(2 * np.eye(3))[0], np.float32, (3, 3)),
    (lambda: orienta.Gmedio(_S3), np.float64, (3,)),
    (lambda: orienta.Gmedio_pesos(_S3, np.ones((12, 3))), np.float64, (3,)),
    (lambda: orienta.transforma_punto2D_fl(_t_fl, [0.5, 0.5]), np.float32, (2,)),
    (lambda: orienta.Hel3Dg___ptr_fl(_S3, 2 * _S3)[2], np.float32, (3, 3)),
    (lambda: orienta.Hel2D___Hel2Dg_dbl(orienta.hel2dg(_S2, 2 * _S2)), orienta.Hel2D_dbl, None),
    (lambda: orienta.Hel2D___Hel2Dg_fl(orienta.hel2dg(_S2.astype(np.float32), _S2.astype(np.float32))),
     orienta.Hel2D_fl, None),
    (lambda: orienta.Hel3Dg___ptr_fl(_S3, 2 * _S3)[1], orienta.Hel3Dg_fl, None),
]


@pytest.mark.parametrize("llamada,tipo,forma", RESTO)
def test_the_remaining_functions_return_their_documented_types(llamada, tipo, forma):
    r = llamada()
    if forma is None:
        assert type(r) is tipo
    else:
        assert r.dtype == tipo and r.shape == forma and np.all(np.isfinite(r))


S0 = np.zeros((4, 3))
MALOS = [
    (lambda: orienta.hel2dg(np.zeros((3, 3)), np.zeros((3, 2))), ValueError, r"origen must have shape \(n, 2\)"),
    (lambda: orienta.hel2dg(np.zeros((3, 2)), np.zeros((4, 2))), ValueError, "same number of points"),
    (lambda: orienta.hel2dg(np.zeros((3, 2), complex), np.zeros((3, 2))), TypeError, "origen must hold real"),
    (lambda: orienta.Hel2Dg___g_dbl(np.zeros((3, 2))), ValueError, "even number"),
    (lambda: orienta.MatrizRotGT_ωφκ([1.0, 2.0, 3.0]), ValueError, r"sc must have shape \(6,\)"),
    (lambda: orienta.MatrizRot_20([1.0, 2.0, 3.0], inplace=True), TypeError, "p must be a numpy array"),
    (lambda: orienta.MatrizRot_20(np.zeros(3, np.float32), inplace=True), TypeError, "p must be float64"),
    (lambda: orienta.Orvinvsim3_dbl(np.eye(3).T[:, ::-1], inplace=True), ValueError, "C-contiguous"),
    (lambda: orienta.Getoffset_matriz(np.eye(3), np.eye(3)), TypeError, "recuperar must be"),
    (lambda: orienta.Hel2D___Hel2Dg_dbl(orienta.Hel2Dg_fl()), TypeError, "g must be a Hel2Dg_dbl"),
    (lambda: orienta.Gmedio_pesos(np.zeros((3, 3)), np.zeros((2, 3))), ValueError, "pesos must have the shape"),
    (lambda: orienta.Trans_Polinomica2D___puntosxy_dbl(np.zeros((3, 2)), np.zeros((3, 2)), -1), ValueError, "tipo"),
    (lambda: orienta.Hel3Dg___ptr_dbl(S0, S0, centrar_en_sitio=True), ValueError, "overlap"),
    (lambda: orienta.Hel3Dg___ptr_dbl(S0.astype(np.float32), S0.copy(), centrar_en_sitio=True), TypeError,
     "origen must be a writable float64"),
    (lambda: orienta.Hel3Dg___ptr_dbl(np.zeros((4, 6))[:, ::2], S0.copy(), centrar_en_sitio=True), ValueError,
     "adjacent"),
]


@pytest.mark.parametrize("llamada,error,mensaje", MALOS, ids=[m[2] for m in MALOS])
def test_bad_arguments_raise_naming_the_argument(llamada, error, mensaje):
    with pytest.raises(error, match=mensaje):
        llamada()


@pytest.mark.parametrize("variable,mensaje", [
    ("/no/such/liborienta.so.1", "ORIENTA_LIBRARY='/no/such/liborienta.so.1' cannot be loaded"),
    (None, r"ORIENTA_LIBRARY \(not set\).*the system's loader"),
])
def test_a_missing_library_is_an_import_error_naming_what_was_tried(tmp_path, variable, mensaje):
    import shutil
    import subprocess
    import sys
    shutil.copytree(os.path.dirname(orienta.__file__), tmp_path / "orienta")  # away from any build tree
    entorno = {k: v for k, v in os.environ.items() if k not in ("ORIENTA_LIBRARY", "LD_LIBRARY_PATH")}
    entorno.update(PYTHONPATH=str(tmp_path), **({"ORIENTA_LIBRARY": variable} if variable else {}))
    r = subprocess.run([sys.executable, "-c", "import orienta"], env=entorno, capture_output=True, text=True)
    assert r.returncode != 0 and re.search("ImportError: orienta: .*" + mensaje, r.stderr, re.S)
