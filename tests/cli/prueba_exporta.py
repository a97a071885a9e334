#!/usr/bin/python3
"""`orienta export` as the other tools read it: PROJ operations (horner for the polynomials; cct
forward and inverse against `orienta apply`), world files through gdalinfo, control points through
gdal_translate and gdaltransform, the QGIS georeferencer's .points file, and the refusals. One
group per run: prueba_exporta.py ORIENTA GROUP."""
import json, math, os, random, re, shutil, subprocess, sys, tempfile

ORIENTA, GRUPO = sys.argv[1:3]
ENVOLTORIO = os.environ.get("ORIENTA_ENVOLTORIO", "").split()
TMP = tempfile.mkdtemp()


def corre(*args, entrada=None, estado=0):
    r = subprocess.run(ENVOLTORIO + [ORIENTA, *map(str, args)], input=entrada, capture_output=True, encoding="utf-8")
    assert r.returncode == estado, f"{args}: exit {r.returncode}, expected {estado}\n{r.stderr}"
    if estado == 2:
        assert r.stdout == "" and re.fullmatch(r"orienta: [^\n]+\n", r.stderr), f"{args}: {r.stdout!r} {r.stderr!r}"
    return r


def escribe(nombre, texto):
    open(os.path.join(TMP, nombre), "w").write(texto)
    return os.path.join(TMP, nombre)


def numeros(texto):
    return [[float(v) for v in l.split()] for l in texto.splitlines() if l.strip()]


def cerca(a, b, tol, que):
    assert abs(a - b) <= tol, f"{que}: {a} against {b} (tolerance {tol})"


# Control points of a scanned map: pixel and line 0 … 4000 (lines downwards) to UTM metres,
# 0.5 m a pixel, turned 0.03 rad, with a mild bow (order 2: under a metre at the corners; order 3
# a little more) and 5 cm of noise. derecho: y upwards instead (a similarity fits that unmirrored).
def imagen_a_mapa(x, y, orden, derecho=False):
    a, u, v, e = 0.03, (x - 2000) / 2000, (y - 2000) / 2000, 1 if derecho else -1
    X = 5e5 + 0.5 * (math.cos(a) * x - e * math.sin(a) * y) + 0.4 * u * u - 0.3 * u * v
    Y = 4.5e6 + 0.5 * (math.sin(a) * x + e * math.cos(a) * y) + 0.25 * v * v
    if orden == 3:
        X, Y = X + 0.3 * u ** 3 - 0.2 * u * v * v, Y + 0.2 * u * u * v + 0.15 * v ** 3
    return X, Y


def pares(nombre, orden, n=40, semilla=1, errores=(), ids=True, derecho=False):
    """The file and its rows (id, pixel, line, X, Y); errores: (index, dX, dY) added to the map."""
    r = random.Random(semilla)
    filas = []
    for k in range(n):
        x, y = r.uniform(0, 4000), r.uniform(0, 4000)
        X, Y = imagen_a_mapa(x, y, orden, derecho)
        X += r.gauss(0, 0.05) + sum(dx for i, dx, _ in errores if i == k)
        Y += r.gauss(0, 0.05) + sum(dy for i, _, dy in errores if i == k)
        filas.append((f"G{k:02d}", round(x, 3), round(y, 3), round(X, 3), round(Y, 3)))
    return escribe(nombre, "".join(" ".join(([f[0]] if ids else []) + [repr(v) for v in f[1:]]) + "\n" for f in filas)), filas


def ajuste(nombre, args, fichero):
    """The fit's record file and document."""
    texto = corre(*args, "--json", fichero).stdout
    return escribe(nombre, texto), json.loads(texto)


def linea(p, relleno=0):
    return " ".join(map(repr, p)) + " 0" * relleno + "\n"


def aplica(registro, puntos, inversa=False):
    return numeros(corre("apply", *(["--inverse"] if inversa else []), registro, entrada="".join(map(linea, puntos))).stdout)


def herramienta(*nombres):
    falta = [n for n in nombres if not shutil.which(n)]
    if falta:
        print(f"prueba_exporta: {' '.join(falta)} not found (scripts/prepara installs proj-bin and gdal-bin); {GRUPO} skipped")
    return not falta


def cct(operacion, puntos, inversa=False):
    r = subprocess.run(["cct", "-d", "10", *(["-I"] if inversa else []), *operacion],
                       input="".join(linea(p, 4 - len(p)) for p in puntos), capture_output=True, text=True, check=True)
    salida = numeros(r.stdout)
    assert len(salida) == len(puntos), r.stdout + r.stderr  # every point accepted (+range)
    return [q[:len(p)] for p, q in zip(puntos, salida)]


def malla(zona, n):
    x0, y0, x1, y1 = zona
    return [(x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * j / (n - 1)) for i in range(n) for j in range(n)]


def cerca_de_apply(otros, registro, puntos, que, inversa=False):
    """Each point the other tool gives against apply's, to a micrometre."""
    for p, q in zip(otros, aplica(registro, puntos, inversa), strict=True):
        for a, b in zip(p, q):
            cerca(a, b, 1e-6, que)


# ---------------------------------------------------------------------------------------------
# PROJ's horner: the polynomial forward exactly, the fitted inverse to the accuracy stated. The
# similarities and the affine: forward and back as apply moves them, for rotations of any size on
# projected coordinates.

def giro(w, p, k):
    cw, sw, cp, sp, ck, sk = math.cos(w), math.sin(w), math.cos(p), math.sin(p), math.cos(k), math.sin(k)
    return [[ck * cp, ck * sp * sw - sk * cw, ck * sp * cw + sk * sw],
            [sk * cp, sk * sp * sw + ck * cw, sk * sp * cw - ck * sw], [-sp, cp * sw, cp * cw]]


CASOS_LINEALES = [  # (fit arguments, linear part, translation)
    (["helmert3d"], [[1.00003 * x for x in fila] for fila in giro(2.0, -1.2, 2.9)], [4e5, -3e5, 120.0]),
    (["helmert3d", "--rigid"], giro(-0.4, 0.3, -2.2), [10.0, 20, 30]),
    (["helmert2d"], [[0.9996 * math.cos(2.5), -0.9996 * math.sin(2.5)], [0.9996 * math.sin(2.5), 0.9996 * math.cos(2.5)]],
     [-1.5e5, 2.2e6]),
    (["poly2d", "--kind", "affine"], [[1.0003, 0.0021], [-0.0017, 0.9989]], [12.0, -7]),
]

CASOS_HORNER = [  # (name, fit arguments, order of the data, blunders, --area or None)
    ("orden2", ["poly2d", "--kind", "2"], 2, (), None),
    ("orden3", ["poly2d", "--kind", "3"], 3, (), None),
    ("orden2_snoop", ["poly2d", "--kind", "2", "--snoop"], 2, ((7, 4.0, -3.0),), None),
    ("orden3_area", ["poly2d", "--kind", "3"], 3, (), (-100.0, -100.0, 4100.0, 4100.0)),
]


def horner():
    if not herramienta("cct"):
        return
    for nombre, args, orden, errores, area in CASOS_HORNER:
        registro, doc = ajuste(nombre + ".json", args, pares(nombre + ".txt", orden, errores=errores)[0])
        r = corre("export", "proj", *([] if area is None else [f"--area={','.join(map(repr, area))}"]), registro)
        operacion, m = r.stdout.split(), re.search(r"off by at most ([0-9.e+-]+)", r.stderr)
        assert operacion[0] == "+proj=horner" and "+deg=3" in operacion and m, r.stdout + r.stderr
        error = float(m.group(1))
        assert 0 <= error <= 1e-3, (nombre, error)  # a mild bow: far below a pixel
        zona, g = area or doc["source_extent"], random.Random(2)
        puntos = malla(zona, 9) + [(g.uniform(zona[0], zona[2]), g.uniform(zona[1], zona[3])) for _ in range(40)]
        cerca_de_apply(cct(operacion, puntos), registro, puntos, f"{nombre}: cct forward against apply")
        ida = aplica(registro, puntos)  # the points themselves, to the rounding, for the inverse
        peor = max(math.dist(p, q) for p, q in zip(cct(operacion, ida, inversa=True), aplica(registro, ida, inversa=True), strict=True))
        assert peor <= error * 1.0001 + 1e-9, f"{nombre}: cct -I off by {peor}, stated {error}"
        print(f"{nombre}: inverse stated {error:.3g} px, cct -I against apply --inverse {peor:.3g} px")
    base = [[5e5 + 40 * math.sin(1.3 * k), 4.5e6 + 30 * math.cos(2.1 * k), 300 + 7 * math.sin(0.7 * k)] for k in range(12)]
    for k, (args, M, T) in enumerate(CASOS_LINEALES):
        puntos = [p[:len(T)] for p in base]
        mapa = [[t + sum(m * x for m, x in zip(fila, p)) + 1e-3 * math.sin(5 * j + i) for i, (fila, t) in enumerate(zip(M, T))]
                for j, p in enumerate(puntos)]
        registro, _ = ajuste(f"lineal{k}.json", args, escribe(f"lineal{k}.txt", "".join(linea(p + q) for p, q in zip(puntos, mapa))))
        operacion = corre("export", "proj", registro).stdout.split()
        for inversa in (False, True):
            cerca_de_apply(cct(operacion, puntos[:5], inversa), registro, puntos[:5], f"{args} {inversa} through PROJ", inversa)
    # The order-2 record alone needs the area; the fit's own keeps the string the same.
    registro = os.path.join(TMP, "orden2.json")
    doc = json.load(open(registro))
    solo = escribe("solo.json", json.dumps(doc["transform"]))
    assert "--area" in corre("export", "proj", solo, estado=2).stderr
    zona = ",".join(repr(v) for v in doc["source_extent"])
    assert corre("export", "proj", "--area", zona, solo).stdout == corre("export", "proj", registro).stdout


def refusals_proj():
    fichero, _ = pares("r.txt", 2)
    registro, _ = ajuste("r.json", ["poly2d", "--kind", "2"], fichero)
    for opcion, que in (("--area=0,0,0,10", "empty or inverted"), ("--area=10,0,0,10", "empty or inverted"),
                        *((f"--area={a}", "four finite") for a in ("0,0,10", "0,0,10,nan", "0,0,10,inf", "a,b,c,d")),
                        *((f"--inverse-tolerance={t}", "--inverse-tolerance") for t in ("0", "-1", "x", "nan"))):
        assert que in corre("export", "proj", opcion, registro, estado=2).stderr, opcion
    # A tolerance the fitted inverse cannot meet: the string is still printed, with exit status 1.
    r = corre("export", "proj", "--inverse-tolerance=1e-15", registro, estado=1)
    assert r.stdout.startswith("+proj=horner") and "warning" in r.stderr and "--inverse-tolerance" in r.stderr
    # A strong bend over a wide area: the cubic inverse falls short of the default, and says so.
    lineas = "".join(f"{x} {y} {x + 4e-4 * x * x} {y + 3e-4 * x * y}\n" for x in range(0, 1001, 100) for y in range(0, 1001, 250))
    fuerte, _ = ajuste("fuerte.json", ["poly2d", "--kind", "2"], escribe("fuerte.txt", lineas))
    assert "warning" in corre("export", "proj", fuerte, estado=1).stderr
    # --area on a similarity is only checked; --area elsewhere is refused.
    afin, _ = ajuste("afin.json", ["poly2d", "--kind", "affine"], fichero)
    assert corre("export", "proj", "--area=0,0,10,10", afin).stdout == corre("export", "proj", afin).stdout
    assert "apply to export proj" in corre("export", "world", "--area=0,0,10,10", afin, estado=2).stderr
    assert "unknown format" in corre("export", "kml", afin, estado=2).stderr


# ---------------------------------------------------------------------------------------------
# The fit document's "source_extent": the source coordinates of the pairs used.

def extension():
    fichero, filas = pares("e.txt", 2, errores=((3, 50.0, 0.0),), derecho=True)
    for args, usados in ((["poly2d", "--kind", "2"], filas), (["poly2d", "--kind", "2", "--snoop"], filas[:3] + filas[4:]),
                         (["helmert2d"], filas)):
        doc = json.loads(corre(*args, "--json", fichero).stdout)
        assert doc["excluded"] == (["G03"] if "--snoop" in args else []), doc["excluded"]
        esperada = [min(f[1] for f in usados), min(f[2] for f in usados), max(f[1] for f in usados), max(f[2] for f in usados)]
        assert doc["source_extent"] == esperada, (args, doc["source_extent"], esperada)
    tres = escribe("e3.txt", "".join(f"{x} {y} {z} {x + 1e5} {y} {z + 7}\n" for x, y, z in
                                     ((0, 0, 1), (10, 0, 2), (0, 10, 3), (10, 10, 9), (5, 5, -4))))
    assert json.loads(corre("helmert3d", "--json", tres).stdout)["source_extent"] == [0, 0, -4, 10, 10, 9]


# ---------------------------------------------------------------------------------------------
# GDAL: a world file next to a raster, and control points through gdal_translate/gdaltransform.

def raster(nombre):
    """A 4 × 3 grey PGM, which GDAL reads with any world file beside it (NAME.wld)."""
    camino = os.path.join(TMP, nombre + ".pgm")
    open(camino, "wb").write(b"P5\n4 3\n255\n" + bytes(range(12)))
    return camino


def mundo():
    if not herramienta("gdalinfo"):
        return
    for nombre, args, derecho in (("afin", ["poly2d", "--kind", "affine"], False), ("similitud", ["helmert2d"], True)):
        registro, _ = ajuste(nombre + ".json", args, pares(nombre + ".txt", 1, derecho=derecho)[0])
        escribe("m_" + nombre + ".wld", corre("export", "world", registro).stdout)
        g = json.loads(subprocess.run(["gdalinfo", "-json", raster("m_" + nombre)], capture_output=True, text=True,
                                      check=True).stdout)["geoTransform"]
        # GDAL's pixel/line: the origin at the outer corner of the first pixel.
        puntos = [(0, 0), (4, 3), (0.5, 0.5), (1234.5, 3000.25), (4000, 0)]
        cerca_de_apply([(g[0] + p * g[1] + l * g[2], g[3] + p * g[4] + l * g[5]) for p, l in puntos], registro, puntos,
                       f"{nombre}: gdalinfo geoTransform")


CASOS_GCP = [  # (name, fit arguments, gdaltransform -order, blunders)
    ("afin", ["poly2d", "--kind", "affine"], 1, ()),
    ("orden2", ["poly2d", "--kind", "2"], 2, ()),
    ("orden3", ["poly2d", "--kind", "3"], 3, ()),
    ("orden2_snoop", ["poly2d", "--kind", "2", "--snoop"], 2, ((5, 3.0, 2.0), (17, -2.5, 0.0))),
    ("orden3_snoop", ["poly2d", "--kind", "3", "--snoop"], 3, ((11, 0.0, 5.0),)),
]


def gcp():
    if not herramienta("gdal_translate", "gdaltransform"):
        return
    for nombre, args, orden, errores in CASOS_GCP:
        fichero, filas = pares(nombre + ".txt", orden, errores=errores)
        registro, doc = ajuste(nombre + ".json", args, fichero)
        r = corre("export", "gcp", registro, fichero)
        fuera = [f"G{i:02d}" for i, _, _ in errores]
        assert doc["excluded"] == fuera and len(r.stdout.splitlines()) == len(filas) - len(errores), doc["excluded"]
        assert ("excluded by data snooping" in r.stderr and all(f"'{f}'" in r.stderr for f in fuera)) if errores else r.stderr == "", r.stderr
        vrt = os.path.join(TMP, nombre + ".vrt")
        subprocess.run(["gdal_translate", "-q", "-of", "VRT", *r.stdout.split(), raster("g_" + nombre), vrt], check=True)
        puntos = [(f[1], f[2]) for f in filas] + malla(doc["source_extent"], 6)
        t = subprocess.run(["gdaltransform", "-order", str(orden), vrt], input="".join(f"{x!r} {y!r}\n" for x, y in puntos),
                           capture_output=True, text=True, check=True)
        cerca_de_apply(numeros(t.stdout), registro, puntos, f"{nombre}: gdaltransform -order {orden} against apply")


# ---------------------------------------------------------------------------------------------
# QGIS's georeferencer: mapX,mapY,sourceX,sourceY,enable,dX,dY,residual, sourceY = -line.

def points():
    fichero, filas = pares("q.txt", 2, errores=((4, 3.0, -3.0),))
    registro, doc = ajuste("q.json", ["poly2d", "--kind", "2", "--snoop"], fichero)
    lineas = corre("export", "points", registro, fichero).stdout.splitlines()
    assert lineas[0] == "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual" and len(lineas) == len(filas) + 1
    for f, l, res in zip(filas, lineas[1:], doc["residuals"], strict=True):
        mapx, mapy, sx, sy, activo, dx, dy, total = map(float, l.split(","))
        assert (mapx, mapy, sx, sy) == (f[3], f[4], f[1], -f[2]), (l, f)
        assert l.split(",")[4] == ("0" if f[0] == "G04" else "1"), l
        cerca(dx, res["v"][0] / 0.5, 1e-3, "dX in pixels")  # 0.5 m a pixel
        cerca(dy, res["v"][1] / 0.5, 1e-3, "dY in pixels")
        cerca(total, math.hypot(dx, dy), 1e-9, "residual")
    # The bare record: every pair enabled.
    solo = escribe("q_solo.json", json.dumps(doc["transform"]))
    assert all(l.split(",")[4] == "1" for l in corre("export", "points", solo, fichero).stdout.splitlines()[1:])


def refusals_pares():
    # The pairs must be the fit's: count, ids, lines; any other file is refused, never listed.
    fichero, filas = pares("p.txt", 2)
    registro, _ = ajuste("p.json", ["poly2d", "--kind", "2"], fichero)
    texto = open(fichero).read().splitlines(keepends=True)
    for nombre, otro, que in (("menos", texto[:-1], "40 pairs|39 pairs"), ("id", [texto[0].replace("G00", "X00")] + texto[1:], "'X00'"),
                              ("linea", ["# a comment\n"] + texto, "line 2"), ("orden", [texto[1], texto[0]] + texto[2:], "'G01'")):
        f = escribe(f"p_{nombre}.txt", "".join(otro))
        for formato in ("gcp", "points"):
            e = corre("export", formato, registro, f, estado=2).stderr
            assert "is not the file of pairs" in e and re.search(que, e), (nombre, e)
    assert "missing PAIRS" in corre("export", "gcp", registro, estado=2).stderr
    tres = escribe("p3.txt", "".join(f"{x} {y} {z} {x + 1e5} {y} {z + 7}\n" for x, y, z in ((0, 0, 1), (10, 0, 2), (0, 10, 3), (10, 10, 9))))
    h3 = ajuste("p3.json", ["helmert3d"], tres)[0]
    assert "2D fit" in corre("export", "gcp", h3, tres, estado=2).stderr
    assert "world file holds" in corre("export", "world", h3, estado=2).stderr
    assert "takes one file" in corre("export", "proj", registro, fichero, estado=2).stderr
    # The same reading options as the fit: a decimal comma, no ids.
    coma = pares("coma.txt", 2, ids=False)[0]
    coma = escribe("coma.txt", open(coma).read().replace(".", ",").replace(" ", ";"))
    rc, _ = ajuste("coma.json", ["poly2d", "--kind", "2", "--decimal-comma"], coma)
    assert len(corre("export", "gcp", "--decimal-comma", rc, coma).stdout.splitlines()) == 40
    assert corre("export", "gcp", rc, coma, estado=2).stderr


GRUPOS = {"horner": horner, "rechazos_proj": refusals_proj, "extension": extension, "mundo": mundo, "gcp": gcp,
          "points": points, "rechazos_pares": refusals_pares}
try:
    GRUPOS[GRUPO]()
finally:
    shutil.rmtree(TMP, ignore_errors=True)
print(f"prueba_exporta {GRUPO}: ok")
