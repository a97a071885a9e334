"""The stored record: one rule, in the library, with the same verdict and the same words from the
command-line tool, from Python, and from C (orienta_valida)."""
import json
import math
import subprocess
import warnings

import numpy as np
import pytest

import orienta
from orienta import _registro
from conftest import lee_pares, mismos_bits


@pytest.fixture(scope="module")
def bases(datos):
    S3, T3 = lee_pares(f"{datos}/control3d.txt", 3)
    S2, T2 = lee_pares(f"{datos}/control2d.txt", 2)
    docs = {"h3": orienta.helmert3d(S3, T3), "h2": orienta.helmert2d(S2, T2), "p3": orienta.poly2d(S2, T2, 3)}
    return {k: json.loads(f.to_json())["transform"] for k, f in docs.items()}


# (record, how to spoil it, the field and cause every reader names)
ESTROPEADOS = [
    ("h3", lambda r: r["matrix"][0].__setitem__(0, r["matrix"][0][0] * 1.001), "'matrix': its parts disagree"),
    ("h3", lambda r: r["rotation"][1].__setitem__(1, r["rotation"][1][1] * 1.01), "'rotation': its parts disagree"),
    ("h3", lambda r: r["angles"].__setitem__(2, r["angles"][2] + 0.01), "'angles': its parts disagree"),
    ("h3", lambda r: r.pop("rotation"), "'rotation': lacks a field its model needs"),
    ("h3", lambda r: r["matrix"][2].__setitem__(2, None), "'matrix': a value the model uses is not a finite"),
    ("h3", lambda r: r.update(scale=None), "'scale': a value the model uses is not a finite"),
    ("h3", lambda r: r.update(scale=0, matrix=[[0] * 3] * 3), "'scale': the linear part is singular"),
    ("h3", lambda r: r.update(scale=-r["scale"]), "'scale': its parts disagree"),
    ("h3", lambda r: r.update(dim=2), "'dim': unknown model, or a dimension"),
    ("h3", lambda r: r.update(model="helmert4d"), "'model': unknown model 'helmert4d'"),
    ("h3", lambda r: r.update(matrix=[[1, 0, 0], [0, 1]]), "'matrix': must be 3 rows of 3 numbers"),
    ("h2", lambda r: r.update(model="affine2d"), "'scale': holds values its model has no place for"),
    ("h2", lambda r: r.update(angles=[]), "'angles': must be a list of 1 numbers"),
    ("p3", lambda r: r.update(order=2), "'coef_x': holds values its model has no place for"),
    ("p3", lambda r: (r.update(model="affine2d"), r.pop("order")), "'coef_x': holds values its model has no place"),
    ("p3", lambda r: r["coef_y"].__setitem__(1, r["coef_y"][1] * 2), "'matrix': its parts disagree"),
    ("p3", lambda r: r.update(matrix=[[1, 2], [2, 4]], coef_x=[1, 2] + [0] * 7, coef_y=[2, 4] + [0] * 7),
     "'matrix': the linear part is singular"),
    ("p3", lambda r: r["coef_x"].__setitem__(4, "1"), "'coef_x': must be a list of 9 numbers"),
    ("h3", lambda r: r.update(convention="coordinate frame"), "'convention': is 'coordinate frame', but these"),
    ("h2", lambda r: r.update(convention=1), "'convention': is not a string"),
    ("p3", lambda r: r.update(convention="position vector"), "'convention': a model without angles names no"),
]


@pytest.mark.parametrize("base,estropea,causa", ESTROPEADOS, ids=[c for _, _, c in ESTROPEADOS])
def test_tool_and_python_refuse_spoilt_records_alike(bases, base, estropea, causa, herramienta, tmp_path):
    registro = json.loads(json.dumps(bases[base]))
    estropea(registro)
    ruta = tmp_path / "t.json"
    ruta.write_text(json.dumps({"transform": registro}))
    r = subprocess.run([herramienta, "apply", str(ruta)], input="1.5 2.5 3.5\n" if base == "h3" else "1.5 2.5\n",
                       capture_output=True, text=True)
    assert r.returncode == 2 and r.stdout == ""
    with pytest.raises(ValueError) as e:
        orienta.load(ruta)
    # The same line after the tool's "orienta: ": file, field, cause.
    assert r.stderr == f"orienta: {e.value}\n"
    assert f"{ruta}: transform {causa}" in str(e.value)


def test_the_validator_in_c_passes_a_whole_record_and_names_the_field_it_refuses(bases):
    # The C validator on the C record directly (whole records read back as written: test_ajuste's
    # JSON round trip); a NaN in a field the model uses is refused.
    t = orienta.load({"transform": bases["h3"]}).record
    assert _registro.valida(t) == (0, None)
    t.rotacion[4] = math.nan
    assert _registro.valida(t) == (-13, "rotation")


def test_an_affine_at_the_ends_of_the_double_range_applies_but_has_no_inverse_in_doubles():
    registro = {"model": "affine2d", "dim": 2, "source_centroid": [0.0, 0.0], "target_centroid": [0.0, 0.0],
                "matrix": [[1.0, -0.25], [-0.05, 1.7976931348623157e308]]}
    t = orienta.load({"transform": registro})
    assert np.isfinite(t.apply(np.array([[1.0, 0.0]]))).all()
    with pytest.raises(ValueError, match="cannot be inverted: the linear part is singular"):
        t.inverse()


def test_the_model_table_comes_from_the_library():
    m = _registro.MODELOS
    assert [v.name for v in m.values()] == ["helmert3d", "helmert2d", "affine2d", "poly2d", "poly2d", "rigid3d"]
    assert [v.min_pairs for v in m.values()] == [3, 2, 3, 6, 10, 3]
    assert m[5].parameter_names[:4] == ("x0", "y0", "cx_dx", "cx_dy") and len(m[5].parameter_names) == 20
    assert m[1].fields == ("source_centroid", "target_centroid", "matrix", "scale", "rotation", "angles")


def test_apply_never_passes_a_non_finite_image_for_a_number(bases):
    poli = orienta.load({"transform": bases["p3"]})
    puntos = np.array([[5000.0, 3000.0], [1e200, 3000.0]])
    with pytest.warns(RuntimeWarning, match="not a finite number at 1 of 2"):
        imagen = poli.apply(puntos)
    assert np.isfinite(imagen[0]).all() and np.isnan(imagen[1]).all()
    with pytest.raises(ValueError, match="not a finite number"):
        poli.apply(puntos, errors="raise")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert np.isnan(poli.apply(puntos, errors="ignore")[1]).all()
        assert np.isfinite(poli.apply(puntos[:1])).all()  # an ordinary point: no warning


def test_order_1_is_the_affine_fit(datos):
    S, T = lee_pares(f"{datos}/control2d.txt", 2)
    a, b = orienta.affine2d(S, T), orienta.poly2d(S, T, 1)
    assert b.model == "affine2d" and bytes(a.record) == bytes(b.record)
    assert mismos_bits(a.covariance, b.covariance) and b.parameter_names == a.parameter_names


def test_the_statistics_have_english_names(datos):
    S, T = lee_pares(f"{datos}/control3d.txt", 3)
    f = orienta.helmert3d(S, T)
    assert (f.used, f.excluded_count, f.with_sigma, f.reflected) == (10, 0, False, False)
    assert np.allclose(f.translation, f.parameters[:3], rtol=0, atol=0)


def test_the_ctypes_records_have_the_sizes_of_the_c_header():
    # The header's static assertions fix these sizes; a field missing here would shift the rest.
    from orienta import _biblioteca as b
    import ctypes
    assert ctypes.sizeof(b.Acumulador) == 4 * 4 + 8 + 128 * 8
    assert ctypes.sizeof(b.Solucion) == 4 * 4 + 8 + 8 + ctypes.sizeof(b.Transformacion) + 176 * 8
    assert ctypes.sizeof(b.Transformacion) == 8 + 8 * (3 + 3 + 9 + 1 + 9 + 3 + 9 + 9)
