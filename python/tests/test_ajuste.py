import json
import os
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest

import orienta
from conftest import RAIZ, desalinea, lee_pares, mismos_bits

# (name, control file, dim, fit, the command-line tool's arguments for the same fit)
MODELOS = [
    ("helmert3d", "control3d.txt", 3, orienta.helmert3d, ["helmert3d", "--units", "rad"]),
    ("rigid3d", "control3d.txt", 3, orienta.rigid3d, ["helmert3d", "--rigid", "--units", "rad"]),
    ("helmert2d", "control2d.txt", 2, orienta.helmert2d, ["helmert2d", "--units", "rad"]),
    ("affine2d", "control2d.txt", 2, orienta.affine2d, ["poly2d", "--kind", "affine"]),
    ("poly2d-2", "control2d.txt", 2, lambda s, t, **k: orienta.poly2d(s, t, 2, **k), ["poly2d", "--kind", "2"]),
    ("poly2d-3", "control2d.txt", 2, lambda s, t, **k: orienta.poly2d(s, t, 3, **k), ["poly2d", "--kind", "3"]),
]
AJUSTES = [pytest.param(m[3], m[2], id=m[0]) for m in MODELOS]  # (fit, dim), for generated pairs


def corre(*orden):
    """The tool's standard output; an exit status other than 0 fails the test."""
    return subprocess.run([str(x) for x in orden], capture_output=True, text=True, check=True).stdout


def iguales(a, b):
    """Same model, dimension and every double of the record, NaN equal to NaN."""
    ra, rb = a.record, b.record
    return (ra.modelo, ra.dim) == (rb.modelo, rb.dim) and mismos_bits(
        *(np.frombuffer(bytes(r), dtype=np.float64, offset=8) for r in (ra, rb)))


@pytest.fixture(scope="module", params=MODELOS, ids=[m[0] for m in MODELOS])
def caso(request, datos):
    _, archivo, dim, ajusta, argumentos = request.param
    ruta = os.path.join(datos, archivo)
    S, T = lee_pares(ruta, dim)
    return ajusta(S, T), S, T, ruta, argumentos


def test_fit_equals_the_command_line_tool_bit_for_bit(caso, herramienta):
    ajuste, S, T, ruta, argumentos = caso
    doc = json.loads(corre(herramienta, *argumentos, "--json", ruta))
    assert iguales(orienta.load(doc), ajuste)
    propio, claves = json.loads(ajuste.to_json()), ("method", "pairs", "used", "redundancy")
    assert [propio[c] for c in claves] == [doc[c] for c in claves]
    assert mismos_bits([propio["sigma0"], propio["vtpv"]], [doc["sigma0"], doc["vtpv"]])
    assert mismos_bits([r["v"] for r in doc["residuals"]], ajuste.residuals)
    assert mismos_bits([r["w"] for r in doc["residuals"]], ajuste.w)


def test_the_tool_applies_a_python_fit_and_its_precision_as_python_does(caso, herramienta, tmp_path):
    # The tool's images of the record Python wrote, both ways, are Python's bits; the σ Python
    # propagates equal the tool's, and the record read back carries the covariance; the points'
    # own covariance adds J_x·Σx·J_xᵀ.
    ajuste, S, dim = caso[0], caso[1], caso[0].dim
    puntos = np.vstack([S, S.mean(axis=0) + 500.0])
    n, t, p = len(puntos), tmp_path / "t.json", tmp_path / "p.txt"
    t.write_text(ajuste.to_json())
    np.savetxt(p, puntos, fmt="%r")
    for sentido, extra in ((False, []), (True, ["--inverse"])):
        leido = np.loadtxt(corre(herramienta, "apply", *extra, t, p).splitlines(), ndmin=2)
        assert mismos_bits(leido, ajuste.apply(puntos, inverse=sentido))
    imagen, C = ajuste.apply(puntos, precision=True)
    assert C.shape == (n, dim, dim) and np.allclose(C, np.swapaxes(C, 1, 2), rtol=0, atol=0)
    assert np.array_equal(imagen, ajuste.apply(puntos))
    sigma = np.loadtxt(corre(herramienta, "apply", "--precision", t, p).splitlines(), ndmin=2)[:, dim:2 * dim]
    assert np.allclose(sigma, np.sqrt(np.diagonal(C, axis1=1, axis2=2)), rtol=1e-12, atol=0)
    assert np.allclose(orienta.load(str(t)).apply(puntos, precision=True)[1], C, rtol=1e-12, atol=0)
    # Into a caller's arrays, rows apart as a wider array's, the same bits.
    ancho = np.full((n, dim + 1, dim, dim), np.nan)
    _, C4 = ajuste.apply(puntos, precision=True, out=np.empty_like(puntos), covariance_out=ancho[:, 0])
    assert C4.base is ancho and mismos_bits(C4, C)
    if ajuste.model in ("helmert3d", "helmert2d", "affine2d"):
        sx = np.broadcast_to(np.diag(np.linspace(1e-4, 4e-4, dim)), (n, dim, dim))
        _, C3 = ajuste.apply(puntos, precision=True, point_covariance=sx)
        A = ajuste.matrix
        assert np.allclose(C3 - C, A @ sx @ A.T, rtol=1e-9, atol=1e-15)


@pytest.mark.parametrize("llamada, mensaje", [
    (lambda f: orienta.load(json.loads(f.to_json())["transform"] | {"parameter_covariance": [[1.0]]}), "parameter_covariance"),
    (lambda f: orienta.load({k: v for k, v in json.loads(f.to_json())["transform"].items()
                             if k != "parameter_covariance"}).apply([1.0, 2.0, 3.0], precision=True), "no parameter covariance"),
    (lambda f: f.apply([1.0, 2.0, 3.0], inverse=True, precision=True), "forward"),
    (lambda f: f.apply([1.0, 2.0, 3.0], covariance_out=np.empty((3, 3))), "precision=True"),
    (lambda f: f.apply([[1.0, 2.0, 3.0]], precision=True, covariance_out=np.empty((3, 3))), "shape"),
    (lambda f: f.apply([[1.0, 2.0, 3.0]], precision=True, covariance_out=np.empty((1, 3, 3)).transpose(0, 2, 1)),
     "contiguous"),
    (lambda f: (lambda b: f.apply(b[:3].reshape(1, 3), precision=True, covariance_out=b.reshape(1, 3, 3)))(np.ones(9)),
     "overlaps"),
])
def test_precision_refusals(llamada, mensaje, datos):
    S, T = lee_pares(os.path.join(datos, "control3d.txt"), 3)
    with pytest.raises(ValueError, match=mensaje):
        llamada(orienta.helmert3d(S, T))


def test_json_round_trip_is_exact_in_every_form(caso, tmp_path):
    ajuste = caso[0]
    texto, ruta = ajuste.to_json(), tmp_path / "t.json"
    ruta.write_text(texto)
    desnudo = json.loads(texto)["transform"]
    for fuente in (texto, ruta, str(ruta), texto.encode(), desnudo, {"transform": desnudo, "rms": 1}):
        leido = orienta.load(fuente)
        assert iguales(leido, ajuste) and json.loads(leido.to_json()) == {"transform": desnudo}
    copia = pickle.loads(pickle.dumps(ajuste))  # as dask.delayed and multiprocessing send it
    assert iguales(copia, ajuste) and mismos_bits(copia.covariance, ajuste.covariance)


def test_apply_reads_any_layout_writes_where_asked_and_inverts(caso):
    ajuste, S = caso[0], caso[1]
    n, dim = S.shape
    referencia = ajuste.apply(S)
    ancho = np.zeros((n, dim + 3))
    ancho[:, 1:dim + 1] = S
    assert mismos_bits(ajuste.apply(ancho[:, 1:dim + 1]), referencia)            # a column block, no copy
    assert mismos_bits(ajuste.apply(S[::-1])[::-1], referencia)                  # reversed rows
    assert mismos_bits(ajuste.apply(S.tolist()), referencia)                    # a nested list
    assert mismos_bits(ajuste.apply(desalinea(S)), referencia)                  # as dask's buffers may be
    assert mismos_bits(ajuste.apply(S[0]), referencia[0])                        # one point
    en_sitio = S.copy()
    assert ajuste.apply(en_sitio, out=en_sitio) is en_sitio and mismos_bits(en_sitio, referencia)
    f32 = S.astype(np.float32)
    assert mismos_bits(ajuste.apply(f32), ajuste.apply(f32.astype(np.float64)))
    # Forward then back is the identity, by each road to the inverse.
    P = S + np.random.default_rng(1).normal(scale=50, size=S.shape)
    ida = ajuste.apply(P)
    tol = 1e-12 * np.abs(ida).max()  # some thousand units in the last place of the largest coordinate
    np.testing.assert_allclose(ajuste.inverse().apply(ida), P, rtol=0, atol=tol)
    np.testing.assert_allclose(ajuste.apply(ida, inverse=True), P, rtol=0, atol=tol)
    np.testing.assert_allclose(ajuste.inverse().apply(P, inverse=True), ida, rtol=0, atol=tol)


def test_weights_reach_the_fit(datos):
    S, T = lee_pares(os.path.join(datos, "control3d.txt"), 3)
    n = len(S)
    assert iguales(orienta.helmert3d(S, T, sigma=0.01), orienta.helmert3d(S, T, sigma=np.full(n, 0.01)))
    assert orienta.helmert3d(S, T, sigma=np.column_stack([np.full(n, 0.01), np.full(n, 0.03)])).redundancy == 3 * n - 7


def _nube(n, semilla, dim=3):
    g = np.random.default_rng(semilla)
    S = g.uniform(-500, 500, (n, dim)) + [4.5e6, 5.2e5, 310.0][:dim]
    return S, S * 1.00002 + [12.5, -7.25, 3.0][:dim] + g.normal(0, 0.01, (n, dim))


@pytest.mark.parametrize("ajusta,dim", AJUSTES)
def test_per_pair_arrays_on_demand_equal_those_of_the_snooping_pass(ajusta, dim):
    # Without snooping the arrays come from a later pass over the caller's arrays; with a threshold
    # no pair exceeds, the library writes them in its last pass. The two must be the same numbers.
    S, T = _nube(300, dim, dim)
    tarde, junto = ajusta(S, T), ajusta(S, T, snoop=1e9)
    assert junto.excluded_count == 0 and tarde.pairs == 300
    for campo in ("residuals", "w", "qvv", "redundancy_numbers"):
        assert mismos_bits(getattr(tarde, campo), getattr(junto, campo)), campo
    assert mismos_bits(tarde.parameters, junto.parameters) and tarde.vtpv == junto.vtpv
    # The redundancy numbers add up to the redundancy; v is the transformed source minus target.
    assert abs(tarde.redundancy_numbers.sum() - tarde.redundancy) < 1e-9 * tarde.redundancy
    assert np.max(abs(tarde.residuals - (tarde.apply(S) - T))) < 1e-9


def test_the_family_wise_threshold_keeps_a_clean_set_and_finds_a_blunder():
    S, T = _nube(3000, 9)
    k = orienta.sidak_threshold(0.05, 3 * 3000)
    assert abs(k - 4.5373) < 1e-4  # 0.05 over 9,000 tests: each at 5.7e-6, two-sided
    assert orienta.helmert3d(S, T, snoop=True).excluded_count > 0 and orienta.helmert3d(S, T, snoop=k).excluded_count == 0
    T[1234, 2] += 0.2
    assert np.flatnonzero(orienta.helmert3d(S, T, snoop=k).excluded).tolist() == [1234]


# A similarity fitted to a mirror image: flagged, with a rotation still proper; near-mirrors of
# one swapped axis in 2D and 3D, a rotated right-handed set (the exact 2D mirror is refused: MALOS).
_CUADRO = np.array([[0, 0], [10, 0], [0, 10], [10, 10], [5, 5.0]])
ESPEJOS = [
    (orienta.helmert2d, _CUADRO, _CUADRO[:, ::-1] + [[0, 0], [0.1, 0], [0, 0], [0, 0], [0, 0.2]], True),
    (orienta.helmert2d, _CUADRO, _CUADRO @ [[0, -1], [1, 0]] * 2 + 7, False),
    (orienta.helmert3d, np.c_[_CUADRO, [0, 1, 2, 3, 9]], np.c_[-_CUADRO[:, 0], _CUADRO[:, 1], [0, 1, 2, 3, 9]], True),
    (orienta.helmert3d, np.c_[_CUADRO, [0, 1, 2, 3, 9]], np.c_[_CUADRO[:, ::-1], [0, 1, 2, 3, 9]] * [1, 1, -1], False),
]


@pytest.mark.parametrize("ajusta,S,T,espejado", ESPEJOS)
def test_mirrored_input_is_flagged(ajusta, S, T, espejado, recwarn):
    f, d = ajusta(S, T), S.shape[1]
    assert f.reflected == espejado and ("mirrored input" in f.summary()) == espejado
    f.residual_table(dataframe=False)
    assert any("mirrored input" in str(w.message) for w in recwarn) == espejado
    assert np.isclose(np.linalg.det(f.rotation[:d, :d]), 1.0)


def test_exports_are_the_tools(caso, herramienta, tmp_path):
    # Python and the tool print one library's text, byte for byte; models without the form refuse.
    # A polynomial's horner needs the area: a fit's result takes the box of its source points, the
    # tool is given the same box, and a loaded record without it refuses.
    f, doc = caso[0], tmp_path / "t.json"
    doc.write_text(f.to_json())
    zona = []
    if f.model == "poly2d":
        zona = ["--area", ",".join(repr(float(x)) for x in f._zona_por_omision())]
        with pytest.raises(ValueError, match="needs area"):
            orienta.load(str(doc)).to_proj()
    for formato, metodo, tiene, extra in (("proj", f.to_proj, True, zona),
                                          ("world", f.world_file, f.model in ("helmert2d", "affine2d"), [])):
        r = subprocess.run([herramienta, "export", formato, *extra, str(doc)], capture_output=True, text=True)
        if tiene:
            assert r.returncode == 0 and metodo() + ("\n" if formato == "proj" else "") == r.stdout
        else:
            assert r.returncode == 2
            with pytest.raises(ValueError):
                metodo()


def test_the_tools_reliability_against_the_hat_matrix(herramienta, datos):
    # The affine is linear: r = 1 − diag(H), H = X(XᵀX)⁻¹Xᵀ with rows (1, x, y) for each axis, and
    # MDB = δ0·σ0/√r with δ0 = 3.29 + 0.8416; the report flags r < 0.1 as uncontrolled.
    ruta = os.path.join(datos, "control2d.txt")
    S, T = lee_pares(ruta, 2)
    doc = json.loads(corre(herramienta, "poly2d", "--kind", "affine", "--json", ruta))
    X = np.c_[np.ones(len(S)), S - S.mean(axis=0)]
    r = 1 - np.einsum("ij,ji->i", X, np.linalg.solve(X.T @ X, X.T))
    delta0 = 3.29 + 0.8416212335729143
    assert doc["reliability"]["delta0"] == pytest.approx(delta0)
    assert np.allclose([f["r"] for f in doc["residuals"]], np.c_[r, r], rtol=0, atol=1e-12)
    assert np.allclose([f["mdb"] for f in doc["residuals"]], delta0 * doc["sigma0"] / np.sqrt(np.c_[r, r]),
                       rtol=1e-12, atol=0)
    # With σ of plan and height, each coordinate's own σ; snooping's excluded pairs have none.
    S3, T3 = lee_pares(os.path.join(datos, "control3d.txt"), 3)
    sig = np.c_[np.full(len(S3), 0.01), np.full(len(S3), 0.03)]
    f = orienta.helmert3d(S3, T3, sigma=sig)
    assert np.allclose(f.minimal_detectable_bias() * np.sqrt(f.redundancy_numbers) / delta0, sig[:, [0, 0, 1]])
    filas = [l for l in corre(herramienta, "poly2d", "--kind", "3", ruta).splitlines() if l.startswith("  V1")]
    assert filas and all(("uncontrolled" in l) == (float(l.split()[6]) < 0.1) for l in filas)


def test_the_report_states_what_the_fit_found(datos):
    S, T = lee_pares(os.path.join(datos, "control3d.txt"), 3)
    T[4, 2] += 0.5  # a blunder in one height: snooping finds it alone, with σ or σ0; no snooping, nothing
    assert orienta.helmert3d(S, T, snoop=True).excluded.tolist() == [k == 4 for k in range(len(S))]
    assert not orienta.helmert3d(S, T).excluded.any()
    ids = [f"CP{k:02d}" for k in range(1, len(S) + 1)]
    f = orienta.helmert3d(S, T, sigma=0.004, snoop=True, ids=ids)
    assert f.ids == tuple(ids) and f.threshold == 3.29
    texto = f.summary()
    for cifra in (f"used 9 of 10 pairs, redundancy {f.redundancy}, sigma0 {f.sigma0:.4f}", f"chi2 {f.chi2:.3f}",
                  f"({(f.scale - 1) * 1e6:.4f} ppm)", "kappa (deg)".ljust(16) + f" {np.degrees(f.angles[2]):20.8f}",
                  "excluded by data snooping (|w| > 3.29), residuals against the final fit: CP05"):
        assert cifra in texto, cifra
    filas = {l.split()[0]: l for l in texto.splitlines() if l.startswith("  CP")}
    assert filas["CP05"].endswith("excluded") and not any(l.endswith("*") for l in filas.values())
    mdb = np.nanmax(f.minimal_detectable_bias(), axis=1)
    assert all(float(filas[i].split()[9]) == pytest.approx(m, abs=5e-5) for i, m in zip(ids, mdb) if i != "CP05")
    # Units: the same angle in gon, and sexagesimal degrees.
    assert "kappa (gon)".ljust(16) + f" {np.degrees(f.angles[2]) / 0.9:20.8f}" in f.summary(units="gon")
    assert "\u00b0" in f.summary(units="dms")
    # A 2D similarity far from unit scale prints the factor, not parts per million.
    g = orienta.helmert2d(S[:, :2], S[:, :2] * 0.25 + T[:, :2] * 1e-9)
    assert "scale " + " " * 3 in g.summary() and "ppm" not in g.summary()


def test_a_bad_pair_is_named_by_its_index():
    S, T = _nube(40, 8)
    T[17, 1] = np.inf
    with pytest.raises(orienta.FitError, match="first at pair 17") as e:
        orienta.helmert3d(S, T)
    assert e.value.pair == 17 and e.value.status == -3


S3 = np.arange(30.0).reshape(10, 3) ** 1.5
S2 = S3[:, :2].copy()
LINEA = np.column_stack([np.arange(5.0), 2 * np.arange(5.0), np.zeros(5)])
MALOS = [
    (lambda: orienta.helmert3d(S2, S2), ValueError, r"source must have shape \(n, 3\)"),
    (lambda: orienta.helmert2d(S2, S2[:-1]), ValueError, "same number of points"),
    (lambda: orienta.helmert2d(S2, S2, sigma=np.ones((10, 2))), ValueError, "sigma must be"),
    (lambda: orienta.helmert3d(S3, S3, sigma=np.ones(11)), ValueError, "sigma must be"),
    (lambda: orienta.helmert2d(S2, S2, snoop=-1), ValueError, "snoop must be"),
    (lambda: orienta.helmert2d(S2, S2, snoop="x"), TypeError, "snoop must be"),
    (lambda: orienta.poly2d(S2, S2, 4), ValueError, "order must be 1, 2 or 3"),
    (lambda: orienta.helmert2d(S2[:1], S2[:1]), orienta.FitError, r"status -2"),
    (lambda: orienta.helmert2d(_CUADRO[:4], _CUADRO[:4, ::-1]), orienta.FitError, "mirror image"),
    (lambda: orienta.helmert3d(LINEA, LINEA), orienta.FitError, r"status -5"),
    (lambda: orienta.helmert2d(np.full((3, 2), np.nan), S2[:3]), orienta.FitError, r"status -3"),
    (lambda: orienta.load('{"transform": {"model": "helmert9d"}}'), ValueError, "helmert9d"),
    (lambda: orienta.load({"model": "helmert2d", "dim": 2, "source_centroid": [0, 0], "target_centroid": [0, 0],
                           "matrix": [[1, 0]], "scale": 1, "angles": [0]}), ValueError, "transform 'matrix': must be 2 rows"),
    (lambda: orienta.load("{ not json"), ValueError, "not a valid JSON"),
    (lambda: orienta.load(42), TypeError, "load takes"),
    (lambda: orienta.helmert2d(S2, S2 * 2).apply(S3), ValueError, r"points must have shape \(n, 2\)"),
    (lambda: orienta.helmert2d(S2, S2 * 2).apply(S2, out=np.empty((10, 2), np.float32)), TypeError, "float64"),
    (lambda: orienta.helmert2d(S2, S2 * 2).apply(S2, out=S2[::-1]), ValueError, "overlaps"),
    (lambda: orienta.poly2d(S2, S2 + 1, 2).inverse().to_json(), ValueError, "inverse of a polynomial"),
    (lambda: orienta.helmert3d(S3, S3 * 2, ids=["a"] * 9), ValueError, "ids has 9 entries for 10 pairs"),
    (lambda: orienta.poly2d(S2, S2 * 2, 2, ids=[1.5] * 10), TypeError, "ids must hold str"),
    (lambda: orienta.helmert2d(S2, S2 * 2, ids="P1"), TypeError, "not a single string"),
    (lambda: orienta.helmert2d(S2, S2 * 2).summary(units="grad"), ValueError, "units must be one of"),
    (lambda: orienta.sidak_threshold(1.5, 10), ValueError, "alpha"),
    (lambda: orienta.helmert3d(S3, S3, robust="lmeds", threshold=1.0), ValueError, "robust must be"),
    (lambda: orienta.helmert3d(S3, S3, robust="msac"), ValueError, "needs threshold"),
    (lambda: orienta.helmert3d(S3, S3, robust="msac", threshold=-1.0), ValueError, "positive distance"),
    (lambda: orienta.helmert3d(S3, S3, robust="msac", threshold=1.0, seed=-1), ValueError, "seed must be"),
    (lambda: orienta.helmert3d(S3, S3, threshold=1.0), ValueError, "only with robust"),
]


@pytest.mark.parametrize("llamada,error,mensaje", MALOS, ids=[m[2] for m in MALOS])
def test_bad_arguments_raise_the_documented_exceptions(llamada, error, mensaje):
    with pytest.raises(error, match=mensaje):
        llamada()


def test_the_readme_example_runs_as_written(tmp_path):
    with open(os.path.join(RAIZ, "README.md"), encoding="utf-8") as f:
        texto = f.read()
    codigo = re.search(r"^## Python\n.*?^```python\n(.*?)^```", texto, re.M | re.S).group(1)
    assert len(codigo.splitlines()) <= 10
    (tmp_path / "examples").symlink_to(os.path.join(RAIZ, "examples"))  # it reads examples/data/…
    subprocess.run([sys.executable, "-c", codigo], cwd=tmp_path, check=True, capture_output=True)
    assert orienta.load(tmp_path / "site.json").model == "helmert3d"


def _con_errores_groseros(dim, n=60, fraccion=0.4, semilla=3):
    rng = np.random.default_rng(semilla)
    S = rng.uniform(-500, 500, (n, dim)) + ([2e5, 1e5, 0][:dim])
    c, s = np.cos(0.4), np.sin(0.4)
    R = np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]])[:dim, :dim]
    T = S @ R.T * 1.0001 + [4e5, 4.5e6, 100][:dim] + rng.normal(0, 0.01, (n, dim))
    malos = rng.permutation(n)[:int(fraccion * n)]
    T[malos] += rng.uniform(5, 80, (len(malos), dim)) * rng.choice([-1, 1], (len(malos), dim))
    buenos = np.setdiff1d(np.arange(n), malos)
    return S, T, buenos


@pytest.mark.parametrize("ajusta, dim", AJUSTES)
def test_robust_fits_keep_the_good_pairs_and_equal_their_clean_fit(ajusta, dim):
    S, T, buenos = _con_errores_groseros(dim)
    limpio = ajusta(S[buenos], T[buenos])
    for metodo in ("msac", "danish"):
        fit = ajusta(S, T, robust=metodo, threshold=0.1, seed=5)
        assert np.array_equal(np.flatnonzero(fit.inliers), buenos), metodo
        if metodo == "msac":
            assert iguales(fit, limpio) and fit.used == len(buenos) and np.array_equal(fit.excluded, ~fit.inliers)
        else:
            assert fit.weights[~fit.inliers].max() < 1e-6 and fit.robust["settled"]
            assert np.allclose(fit.apply(S[buenos]), limpio.apply(S[buenos]), rtol=0, atol=1e-6)
    assert iguales(*(ajusta(S, T, robust="msac", threshold=0.1, seed=5) for _ in range(2)))

