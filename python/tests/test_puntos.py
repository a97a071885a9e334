import io
import json
import subprocess
import sys
import types

import numpy as np
import pytest

import orienta
from conftest import mismos_bits


def lee(texto, **k):
    return orienta.read_points(io.StringIO(texto), **k)


# (text, keywords, ids, coords, names)
BUENOS = [
    ("CP1 1.5 2 3 4\nCP2 5 6 7 8.25\n", {}, ("CP1", "CP2"), [[1.5, 2, 3, 4], [5, 6, 7, 8.25]], ("x", "y", "X", "Y")),
    ('"P 101";1;2;3;4\n"P-""2";5;6;7;8\n', {}, ("P 101", 'P-"2'), [[1, 2, 3, 4], [5, 6, 7, 8]], None),
    ('"12";1;2;3;4\n', {}, ("12",), [[1, 2, 3, 4]], None),                      # a quoted number is an id
    ("id,E,N,e,n\n101,1.5,2,3,4\n", {}, ("101",), [[1.5, 2, 3, 4]], ("E", "N", "e", "n")),
    ("\ufeff# a comment\n\n1.5\t2 ,3;4  # trailing\n", {}, None, [[1.5, 2, 3, 4]], None),
    ("P1;1,5;-2,25;3e2;4\n", {"decimal_comma": True}, ("P1",), [[1.5, -2.25, 300, 4]], None),
    ("7 1 2 3 4 5\n", {}, ("7",), [[1, 2, 3, 4, 5]], ("x", "y", "X", "Y", "sigma")),  # a whole number is an id
    ("7 1 2 3 4 5\n", {"ids": False}, None, [[7, 1, 2, 3, 4, 5]], ("x", "y", "z", "X", "Y", "Z")),
    ("10 20 30\n", {"dim": 3}, None, [[10, 20, 30]], ("x", "y", "z")),       # only the point reading fits
    ("10 20\n", {}, None, [[10, 20]], ("x", "y")),
    ("+1 -2 1e-400 .5\n", {"ids": False}, None, [[1, -2, 0, 0.5]], None),
    ("h a b c d e\n9 8 1 2 3 4\n", {"columns": "id,-,x,y,X,Y"}, ("9",), [[1, 2, 3, 4]], ("x", "y", "X", "Y")),
    ("1 2 3 4 5\n", {"columns": ["E", "N", "-", "e", "n"]}, None, [[1, 2, 4, 5]], ("E", "N", "e", "n")),
]


@pytest.mark.parametrize("texto,claves,ids,coords,nombres", BUENOS)
def test_good_lists_read_as_the_tool_reads_them(texto, claves, ids, coords, nombres):
    p = lee(texto, **claves)
    assert p.ids == ids
    assert p.coords.dtype == np.float64 and p.coords.tolist() == coords
    if nombres is not None:
        assert p.names == nombres


# (text, keywords, the message, file, line and column first)
MALOS = [
    ("P1 1 2 3 4\nP2 1 2 3\n", {}, r"<stream>:2:9: 4 columns where line 1 set the layout .*5 columns"),
    ("P1 1 2 3 4\n12.5 1 2 3 4\n", {}, r"<stream>:2:1: '12.5' in the id column has a fraction.*ids=False"),
    ("P1 0x1A 2 3 4\n", {}, r":1:4: '0x1A' is a hexadecimal number"),
    ("P1 nan 2 3 4\n", {}, r":1:4: 'nan' is not a finite number"),
    ("P1 -inf 2 3 4\n", {}, r":1:4: '-inf' is not a finite number"),
    ("P1 1e400 2 3 4\n", {}, r":1:4: '1e400' is not a finite number"),
    ("P1 1,5 2 3 4\n", {}, r":1:4: '1,5' looks like a number with a decimal comma"),
    ("P1;1.5;2;3;4\n", {"decimal_comma": True}, r":1:4: '1.5' has a '.', but with decimal_comma=True"),
    ('P1 "1" 2 3 4\n', {}, r":1:4: '1' is quoted: a number is written bare"),
    ('"P1 1 2 3 4\n', {}, r":1:1: unterminated quote"),
    ('"P1"x 1 2\n', {}, r":1:5: text after a closing quote"),
    ("P1,,1,2\n", {}, r":1:4: empty column before ','"),
    ("P1 1 2 ;\n", {}, r":1:9: empty column after the last separator"),
    ("x y X Y\n1.5 2 3\n", {}, r":2:1: the header row on line 1 names 4 columns, this first data line has 3"),
    ("x y\nx y\n", {}, r":2:1: a line without a single number"),
    ("P1 1 2 3 4\n", {"ids": False}, r":1:1: 'P1' is not a number, and this file is read with ids=False"),
    ("P1 1 2 3 4 5 6 7 8 9 10\n", {"dim": 3}, r":1:20: expected 3 coordinates .* after an id; found 11 columns"),
    ("P1\n", {}, r":1:3: an id 'P1' and no coordinates"),
    ("P1 1 2 3 4 x\n", {}, r":1:12: 'x' is not a number"),
    ("# nothing\n\n", {}, r"<stream>: no data lines"),
    ("1 2 3\n", {"columns": "x,y"}, r":1:5: 3 columns where columns= names 2"),
    ("1 2\n", {"columns": "x,x"}, r"columns names 'x' twice"),
    ("1 2\n", {"columns": "id,x", "ids": False}, r"ids=False but columns names an id column"),
]


@pytest.mark.parametrize("texto,claves,mensaje", MALOS, ids=[m[2] for m in MALOS])
def test_bad_lists_are_refused_naming_line_column_and_cause(texto, claves, mensaje):
    with pytest.raises(ValueError, match=mensaje):
        lee(texto, **claves)


def test_undecodable_bytes_name_their_line():
    with pytest.raises(ValueError, match=r"<stream>:2: not utf-8 text"):
        orienta.read_points(io.BytesIO(b"P1 1 2 3 4\nP\xe92 1 2 3 4\n"))
    assert orienta.read_points(io.BytesIO("P\xe92 1 2 3 4\n".encode("latin-1")), encoding="latin-1").ids == ("P\xe92",)


def test_pairs_by_count_by_name_and_their_sigma():
    p = lee("A 1 2 3 4 5 6 0.01 0.03\n")
    S, T, sig = p.pairs()
    assert S.tolist() == [[1, 2, 3]] and T.tolist() == [[4, 5, 6]] and sig.tolist() == [[0.01, 0.03]]
    # columns= picks by role, whatever the file's order; a header row is read by position.
    q = lee("9 4 5 6 1 2 3 0.02\n", columns="id,X,Y,Z,x,y,z,sigma")
    assert q.source.tolist() == [[1, 2, 3]] and q.target.tolist() == [[4, 5, 6]] and q.sigma.tolist() == [0.02]
    h = lee("id X Y x y\nA 4 5 1 2\n")
    assert h.source.tolist() == [[4, 5]]
    for llamada, mensaje in ((lambda: lee("A 1 2 3\n").pairs(), "3 numeric columns"),
                             (lambda: lee("A 1 2 3 4\n").pairs(3), "holds 2D pairs, not 3D"),
                             (lambda: lee("1 2 3 4 5\n", columns="x,y,X,Y,q").pairs(), "column 'q' is none of"),
                             (lambda: lee("A 1 2 3 4 1\n\nB 1 2 3 4 0\n").sigma,
                              r"<stream>:3: sigma 0.0 \(column 6\) must be positive")):
        with pytest.raises(ValueError, match=mensaje):
            llamada()


def test_a_repeated_id_is_warned_about():
    with pytest.warns(UserWarning, match=r"<stream>:3: point id 'A' repeats line 1"):
        lee("A 1 2\nB 1 2\nA 3 4\n")


# The tool's cross-check: (file text, read_points keywords, the tool's options, dim)
def _pares(dim, n=9, semilla=3):
    g = np.random.default_rng(semilla)
    S = g.uniform(-300, 300, (n, dim)) + [5000.0, 3000.0, 100.0][:dim]
    a = 0.3
    R = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])[:dim, :dim]
    return S, 1.0001 * S @ R.T + [4.5e5, 4.4e6, 50.0][:dim] + g.normal(0, 0.01, (n, dim))


def _tabla(dim, sep=" ", ids="P{k}", cabecera=None, sigma=0, coma=False, extra=False):
    S, T = _pares(dim)
    filas = [] if cabecera is None else [cabecera]
    for k in range(len(S)):
        numeros = [repr(float(x)) for x in (*S[k], *T[k])] + [repr(0.01 * (k + 1))] * sigma
        campos = ([ids.format(k=k + 1)] if ids else []) + (["code"] if extra else []) + numeros
        filas.append(sep.join(campos).replace(".", "," if coma else "."))  # ids and "code" hold no '.'
    return "# control\n\n" + "\n".join(filas) + "\n"


CRUCES = [
    ("blanks, ids", _tabla(3), {}, [], 3),
    ("header, ';', quoted ids", _tabla(2, ";", '"S {k}"', "id;x;y;X;Y"), {}, [], 2),
    ("commas, no ids, header", _tabla(2, ",", None, "x,y,E,N"), {}, [], 2),
    ("decimal comma", _tabla(3, ";", "{k}", coma=True), {"decimal_comma": True}, ["--decimal-comma"], 3),
    ("tabs, sigma", _tabla(2, "\t", "V{k}", sigma=1), {}, ["--sigma"], 2),
    ("plan and height sigma", _tabla(3, " ", "{k}0", sigma=2), {}, ["--sigma"], 3),
    ("columns", _tabla(3, " ", "C{k}", sigma=1, extra=True), {"columns": "id,-,x,y,z,X,Y,Z,sigma"},
     ["--columns", "id,-,x,y,z,X,Y,Z,sigma"], 3),
]


@pytest.mark.parametrize("texto,claves,opciones,dim", [c[1:] for c in CRUCES], ids=[c[0] for c in CRUCES])
def test_read_then_fit_equals_the_tool_on_the_same_file(texto, claves, opciones, dim, herramienta, tmp_path):
    ruta = tmp_path / "pares.txt"
    ruta.write_text(texto)
    orden = "helmert3d" if dim == 3 else "helmert2d"
    doc = json.loads(subprocess.run([herramienta, orden, "--units", "rad", *opciones, "--json", str(ruta)],
                                    capture_output=True, text=True, check=True).stdout)
    p = orienta.read_points(ruta, **claves)
    ajuste = (orienta.helmert3d if dim == 3 else orienta.helmert2d)(p.source, p.target, sigma=p.sigma, ids=p)
    assert bytes(orienta.load(doc).record) == bytes(ajuste.record)
    assert mismos_bits(doc["sigma0"], ajuste.sigma0) and doc["redundancy"] == ajuste.redundancy
    assert [r["id"] for r in doc["residuals"]] == list(p.ids or [None] * len(p))
    assert mismos_bits([r["mdb"] for r in doc["residuals"]], ajuste.residual_table(dataframe=False)[
        ["mdb" + e for e in "xyz"[:dim]]].tolist())


def test_residual_table_without_pandas_is_a_structured_array(monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)  # import pandas then fails, installed or not
    S, T = _pares(3, 12)
    T[5, 2] += 0.3
    f = orienta.helmert3d(S, T, snoop=True, ids=[f"Q{k}" for k in range(12)])
    t = f.residual_table()
    assert isinstance(t, np.ndarray) and t.shape == (12,)
    assert t.dtype.names == ("id", "vx", "vy", "vz", "wx", "wy", "wz", "rx", "ry", "rz", "mdbx", "mdby", "mdbz",
                             "excluded", "uncontrolled")
    assert t["id"].tolist() == list(f.ids)
    for campo, a in (("v", f.residuals), ("w", f.w), ("r", f.redundancy_numbers), ("mdb", f.minimal_detectable_bias())):
        assert mismos_bits(np.column_stack([t[campo + e] for e in "xyz"]), a), campo
    assert t["excluded"].tolist() == [k == 5 for k in range(12)]
    assert not t["uncontrolled"].any()
    # A fit with about as many parameters as observations leaves pairs uncontrolled.
    justo = orienta.poly2d(S[:11, :2], T[:11, :2], 3).residual_table()
    r = justo[["rx", "ry"]].tolist()
    assert justo["uncontrolled"].tolist() == [min(x) < 0.1 for x in r] and justo["uncontrolled"].any()
    assert justo["id"][0] == "pair 0"


def test_residual_table_as_a_dataframe_carries_the_same_columns(monkeypatch):
    class Marco:  # what the table hands to pandas.DataFrame, caught
        def __init__(self, columnas):
            self.columnas, self.attrs = columnas, {}

    monkeypatch.setitem(sys.modules, "pandas", types.SimpleNamespace(DataFrame=Marco))
    S, T = _pares(2, 8)
    f = orienta.helmert2d(S, T, ids=lee("".join(f"Q{k} 1 2 3 4\n" for k in range(8))))
    marco, tabla = f.residual_table(), f.residual_table(dataframe=False)
    assert list(marco.columnas) == list(tabla.dtype.names)
    assert marco.columnas["id"].dtype == object and marco.columnas["id"].tolist() == [f"Q{k}" for k in range(8)]
    assert marco.attrs == {"model": "helmert2d", "threshold": 3.29, "sigma0": f.sigma0, "reflected": False}
