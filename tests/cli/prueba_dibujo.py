#!/usr/bin/python3
"""The residual plot (--plot) as a reader uses it: coordinate axes, title, legend, north arrow, the
canvas's shape, the exaggeration and the labels. One group per run: prueba_dibujo.py ORIENTA GROUP."""
import json, math, os, random, re, shutil, statistics, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

ORIENTA, GRUPO = sys.argv[1:3]
ENVOLTORIO = os.environ.get("ORIENTA_ENVOLTORIO", "").split()
TMP = tempfile.mkdtemp()
S = "{http://www.w3.org/2000/svg}"


def conjunto(nombre, n, dim=2, ancho=800.0, alto=600.0, ruido=0.005, errores=(), semilla=1, ids=None, giro=0.02):
    """A file of n pairs from a known similarity (turned by giro radians, so that the target site
    keeps about the source's shape) with Gaussian noise; errores: (index, dx, dy) added to the
    target."""
    r = random.Random(semilla)
    lineas = []
    for k in range(n):
        x, y, z = r.uniform(0, ancho), r.uniform(0, alto), r.uniform(0, 50)
        a, s = giro, 1.00003
        X = 500000 + s * (math.cos(a) * x - math.sin(a) * y) + r.gauss(0, ruido)
        Y = 4100000 + s * (math.sin(a) * x + math.cos(a) * y) + r.gauss(0, ruido)
        Z = 200 + s * z + r.gauss(0, ruido)
        for i, dx, dy in errores:
            if i == k:
                X, Y = X + dx, Y + dy
        pid = ids[k] if ids and k < len(ids) else f"P{k}"
        fuente = f"{x:.4f} {y:.4f} {z:.4f}" if dim == 3 else f"{x:.4f} {y:.4f}"
        destino = f"{X:.4f} {Y:.4f} {Z:.4f}" if dim == 3 else f"{X:.4f} {Y:.4f}"
        lineas.append(f"{pid} {fuente} {destino}\n")
    ruta = os.path.join(TMP, nombre + ".txt")
    open(ruta, "w").write("".join(lineas))
    return ruta


def dibuja(orden, fichero, *opciones):
    """The fit's JSON document and the parsed plot."""
    svg = os.path.join(TMP, os.path.basename(fichero) + ".svg")
    r = subprocess.run(ENVOLTORIO + [ORIENTA, *orden.split(), *opciones, "--json", "--plot", svg, fichero],
                       capture_output=True, encoding="utf-8")
    assert r.returncode in (0, 1), f"{orden} {fichero}: exit {r.returncode}\n{r.stderr}"
    return json.loads(r.stdout), ET.parse(svg).getroot(), svg


def clase(e):
    return (e.get("class") or "").split()


def todos(raiz, etiqueta, nombre):
    return [e for e in raiz.iter(S + etiqueta) if nombre in clase(e)]


def texto(e):
    return "".join(e.itertext())


def factor(raiz):
    escala = texto(todos(raiz, "g", "escala")[0])
    return float(re.search(r"residuals ×([0-9.e+-]+)", escala).group(1))


def puntos(raiz):
    """Per point group: (circle, residual line, height bar or None, label or None)."""
    r = []
    for g in todos(raiz, "g", "puntos")[0].findall(S + "g"):
        punto = [e for e in g.findall(S + "circle") if "punto" in clase(e)][0]
        residuo = [e for e in g.findall(S + "line") if "residuo" in clase(e)][0]
        altura = [e for e in g.findall(S + "line") if "altura" in clase(e)]
        rotulo = [e for e in g.findall(S + "text") if "id" in clase(e)]
        r.append((punto, residuo, altura[0] if altura else None, rotulo[0] if rotulo else None))
    return r


def f(e, a):
    return float(e.get(a))


def largo(linea):
    return math.hypot(f(linea, "x2") - f(linea, "x1"), f(linea, "y2") - f(linea, "y1"))


SITIO_3D = conjunto("sitio3d", 15, dim=3, errores=[(6, 0.3, -0.2)], ids=["A&B<1>", 'q"2'])
CASOS = [  # command, file, options, model named in the title
    ("helmert3d", SITIO_3D, ["--snoop"], "helmert3d"),
    ("poly2d --kind affine", conjunto("carretera", 30, ancho=8000, alto=150, ruido=0.01), [], "affine2d"),
    ("helmert2d", conjunto("norte", 25, ancho=120, alto=3000), [], "helmert2d"),
    ("poly2d --kind 2", conjunto("cuadrado", 40, ancho=500, alto=500, semilla=3), [], "poly2d"),
    ("helmert2d", conjunto("lejos", 12, ancho=2.5, alto=1.5, ruido=0.0002, semilla=4), [], "helmert2d"),
]


def ejes():
    # Ticks are round coordinates, evenly spaced, spanning the points, placed where those
    # coordinates fall, with labels that do not run into each other; the grid is drawn.
    for orden, fichero, opciones, _ in CASOS:
        doc, raiz, _ = dibuja(orden, fichero, *opciones)
        assert todos(raiz, "path", "rejilla"), fichero
        ps = puntos(raiz)
        cx = [f(p[0], "cx") for p in ps]
        cy = [f(p[0], "cy") for p in ps]
        destinos = [[float(v) for v in l.split()[-(3 if "3d" in orden else 2):]] for l in open(fichero)]
        for eje, atributo, coord, px_puntos in (("x", "x", 0, cx), ("y", "y", 1, cy)):
            marcas = todos(raiz, "g", "marca-" + eje)
            assert len(marcas) >= 2, f"{fichero}: {len(marcas)} {eje} ticks"
            valores = [float(texto(m)) for m in marcas]
            rotulos_x = [m.find(S + "text") for m in marcas]
            marcas = [m.find(S + "line") for m in marcas]
            pasos = {round(b - a, 9) for a, b in zip(valores, valores[1:])}
            assert len(pasos) == 1, f"{fichero}: {eje} steps {pasos}"
            paso = pasos.pop()
            mantisa = paso / 10 ** math.floor(math.log10(paso) + 1e-9)
            assert min(abs(mantisa - m) for m in (1, 2, 5)) < 1e-6, f"{fichero}: step {paso}"
            assert all(abs(v / paso - round(v / paso)) < 1e-6 for v in valores), f"{fichero}: {valores}"
            sitio = [d[coord] for d in destinos]
            assert valores[0] - paso <= min(sitio) and valores[-1] + paso >= max(sitio), f"{fichero}: {valores} {sitio[:3]}"
            # Where each coordinate lands: two ticks give the scale, every point must follow it.
            p0, p1 = f(marcas[0], atributo + "1"), f(marcas[-1], atributo + "1")
            escala = (p1 - p0) / (valores[-1] - valores[0])
            assert (escala > 0) == (eje == "x"), f"{fichero}: north must be up"
            for s, p in zip(sitio, px_puntos):
                assert abs(p0 + (s - valores[0]) * escala - p) < 0.2, f"{fichero}: {eje} {s} drawn at {p}"
            if eje == "x":  # labels about 0.6 em a character at 11 px, with room between
                for a, b in zip(rotulos_x, rotulos_x[1:]):
                    hueco = f(b, "x") - f(a, "x") - 0.6 * 11 * (len(texto(a)) + len(texto(b))) / 2
                    assert hueco >= 8, f"{fichero}: x labels {texto(a)} {texto(b)} {hueco:.1f} px apart"


def titulo():
    # The title names the model, σ0 and the pairs used and excluded; the legend says what the
    # colours, the dashes and (3D) the height bars mean, and which way a positive height points;
    # a north arrow points up; ids are escaped.
    for orden, fichero, opciones, modelo in CASOS:
        doc, raiz, svg = dibuja(orden, fichero, *opciones)
        t = texto(todos(raiz, "g", "titulo")[0])
        assert modelo in t, t
        m = re.search(r"σ0 ([0-9.e+-]+)", t)
        assert m, f"no σ0 in the title {t!r}: the plot must be handed the fit (Dibujo::ajuste)"
        s0 = float(m.group(1))
        assert abs(s0 - doc["sigma0"]) <= 5e-4 * doc["sigma0"], f"{t}: {doc['sigma0']}"
        usados, excluidos = doc["used"], doc["pairs"] - doc["used"]
        assert f"{doc['pairs']} pairs: {usados} used, {excluidos} excluded" in t, t
        leyenda = " ".join(texto(e) for e in raiz.iter() if "leyenda" in clase(e))
        for palabra in ("used", "flagged", "excluded", "dashed", "cut"):
            assert palabra in leyenda, f"{fichero}: {palabra} not in {leyenda}"
        assert ("height" in leyenda and "up where positive" in leyenda) == ("3d" in orden), leyenda
        norte = todos(raiz, "g", "norte")[0]
        assert texto(norte).strip() == "N"
        xy = [float(v) for v in re.findall(r"-?\d+\.?\d*", norte.find(S + "path").get("d"))]
        ys = xy[1::2]
        assert ys[0] == min(ys) and ys.count(ys[0]) == 1, f"north arrow {xy}"
    # The height bar points up (smaller y on the page) for a positive vz, as the legend says.
    doc, raiz, svg = dibuja("helmert3d", SITIO_3D, "--snoop")
    for (_, _, barra, _), r in zip(puntos(raiz), doc["residuals"]):
        alto = f(barra, "y2") - f(barra, "y1")
        assert alto == 0 or (alto < 0) == (r["v"][2] > 0), (r, alto)
    ids = [texto(g.find(S + "title")) for g in todos(raiz, "g", "puntos")[0].findall(S + "g")]
    assert ids[:2] == ["A&B<1>", 'q"2'], ids[:2]
    # The same run writes the same bytes.
    primero = open(svg, "rb").read()
    dibuja("helmert3d", SITIO_3D, "--snoop")
    assert open(svg, "rb").read() == primero


def aspecto():
    # The frame follows the site's shape, within 1 : 4 and 4 : 1; so does the canvas, wide for a
    # site running east-west, tall for one running north-south.
    razones = []
    for i, (ancho, alto) in enumerate(((500, 500), (1000, 500), (3000, 500), (20000, 500), (500, 1200), (500, 40000))):
        doc, raiz, _ = dibuja("helmert2d", conjunto(f"forma{i}", 20, ancho=ancho, alto=alto, semilla=10 + i))
        marco = todos(raiz, "rect", "marco")[0]
        razon = f(marco, "width") / f(marco, "height")
        lienzo = f(raiz, "width") / f(raiz, "height")
        razones.append(razon)
        sitio = ancho / alto
        if sitio > 1.5:
            assert razon > 1.3 and lienzo > 1.2, (ancho, alto, razon, lienzo)
        if sitio < 1 / 1.5:
            assert razon < 1 / 1.3 and lienzo < 1, (ancho, alto, razon, lienzo)
        if sitio == 1:
            assert abs(razon - 1) < 0.05
    assert razones[0] < razones[1] < razones[2] and razones[4] > razones[5], razones
    assert razones[3] <= 4.01 and razones[5] >= 1 / 4.01 and abs(razones[2] / razones[3] - 1) < 0.3, razones


def exageracion():
    # The factor follows the typical residual: a 1 km blunder added to a set leaves it within one
    # round step, is excluded, and is drawn cut (dashed, shorter than the frame's margin) with its
    # length beside its id; the median vector is drawn a readable length, neither a dot nor a
    # spike; a set with residuals ten times larger gets a factor about ten times smaller.
    for dim, orden in ((2, "helmert2d"), (3, "helmert3d"), (2, "poly2d --kind affine")):
        limpio = conjunto(f"limpio{dim}{len(orden)}", 30, dim=dim, semilla=20)
        sucio = conjunto(f"sucio{dim}{len(orden)}", 30, dim=dim, semilla=20, errores=[(11, 800.0, -600.0)])
        ruidoso = conjunto(f"ruidoso{dim}{len(orden)}", 30, dim=dim, semilla=20, ruido=0.05)
        _, a, _ = dibuja(orden, limpio, "--snoop")
        doc, b, _ = dibuja(orden, sucio, "--snoop")
        _, c, _ = dibuja(orden, ruidoso, "--snoop")
        fa, fb, fc = factor(a), factor(b), factor(c)
        assert 0.4 <= fb / fa <= 2.5, f"{orden}: factor {fa} clean, {fb} with a blunder"
        assert 4 <= fa / fc <= 25, f"{orden}: factor {fa} at 5 mm, {fc} at 5 cm"
        assert doc["residuals"][11]["excluded"], doc["residuals"][11]
        ps = puntos(b)
        assert "cortado" in clase(ps[11][1]) and ps[11][1].get("stroke-dasharray"), ps[11][1].attrib
        assert "|v| 1000." in texto(ps[11][3]), texto(ps[11][3])
        usados = [largo(p[1]) for k, p in enumerate(ps) if k != 11]
        mediana = statistics.median(usados)
        assert 8 <= mediana <= 60, f"{orden}: median vector {mediana:.1f} px"
        assert largo(ps[11][1]) <= 6 * mediana, f"{orden}: blunder drawn {largo(ps[11][1]):.0f} px"
        assert sum("cortado" in clase(p[1]) for p in ps) <= 3, "cut vectors among the good pairs"
        marco = todos(b, "rect", "marco")[0]
        x0, y0 = f(marco, "x"), f(marco, "y")
        x1, y1 = x0 + f(marco, "width"), y0 + f(marco, "height")
        for p in ps:
            assert x0 <= f(p[1], "x2") <= x1 and y0 <= f(p[1], "y2") <= y1, p[1].attrib


def rotulos():
    # Each label stays off its own arrow and height bar (its box estimated at 0.6 em a character,
    # 10 px type), mostly on the side away from the vector.
    for orden, fichero, opciones, _ in CASOS[:4]:
        _, raiz, _ = dibuja(orden, fichero, *opciones)
        ps = puntos(raiz)
        assert all(p[3] is not None for p in ps), f"{fichero}: a point without its label"
        opuestos = 0
        for punto, residuo, barra, rotulo in ps:
            x, y = f(rotulo, "x"), f(rotulo, "y")
            w = 0.6 * 10 * len(texto(rotulo))
            x0 = {"start": x, "end": x - w, "middle": x - w / 2}[rotulo.get("text-anchor")]
            caja = (x0, y - 8, x0 + w, y + 2.5)
            for linea in [residuo] + ([barra] if barra is not None else []):
                for i in range(41):
                    t = i / 40
                    px = f(linea, "x1") + t * (f(linea, "x2") - f(linea, "x1"))
                    py = f(linea, "y1") + t * (f(linea, "y2") - f(linea, "y1"))
                    assert not (caja[0] < px < caja[2] and caja[1] < py < caja[3]), \
                        f"{fichero}: label {texto(rotulo)} on its {clase(linea)[0]} at ({px:.1f}, {py:.1f})"
            ex, ey = f(residuo, "x2") - f(residuo, "x1"), f(residuo, "y2") - f(residuo, "y1")
            centro = ((caja[0] + caja[2]) / 2 - f(punto, "cx"), (caja[1] + caja[3]) / 2 - f(punto, "cy"))
            opuestos += centro[0] * ex + centro[1] * ey <= 0
        assert opuestos >= 0.75 * len(ps), f"{fichero}: {opuestos} of {len(ps)} labels away from their vector"
    # Crowded, the ids move to the tooltips; every point keeps its vector.
    doc, raiz, _ = dibuja("helmert2d", conjunto("multitud", 3000, semilla=5))
    ps = puntos(raiz)
    assert len(ps) == 3000 and sum(p[3] is not None for p in ps) <= 10
    assert "tooltip" in " ".join(texto(e) for e in raiz.iter() if "leyenda" in clase(e))


def png():
    # A renderer reads the plot: rsvg-convert turns it into a non-empty PNG.
    if shutil.which("rsvg-convert") is None:
        print("prueba_dibujo: rsvg-convert not found (scripts/prepara installs librsvg2-bin); PNG check skipped")
        return
    for orden, fichero, opciones, _ in CASOS[:2]:
        _, _, svg = dibuja(orden, fichero, *opciones)
        salida = svg + ".png"
        r = subprocess.run(["rsvg-convert", "-o", salida, svg], capture_output=True, encoding="utf-8")
        assert r.returncode == 0 and r.stderr == "", r.stderr
        datos = open(salida, "rb").read()
        assert datos[:8] == b"\x89PNG\r\n\x1a\n" and len(datos) > 5000, len(datos)


GRUPOS = {"ejes": ejes, "titulo": titulo, "aspecto": aspecto, "exageracion": exageracion, "rotulos": rotulos,
          "png": png}
try:
    GRUPOS[GRUPO]()
finally:
    shutil.rmtree(TMP, ignore_errors=True)
print(f"prueba_dibujo {GRUPO}: ok")
