#!/usr/bin/python3
"""The residual plot (--plot) as a reader uses it: coordinate axes, title, legend, north arrow, the
canvas's shape, the exaggeration and the labels. One group per run: prueba_dibujo.py ORIENTA GROUP."""
import json, math, os, random, re, shutil, statistics, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

ORIENTA, GRUPO = sys.argv[1:3]
ENVOLTORIO = os.environ.get("ORIENTA_ENVOLTORIO", "").split()
TMP = tempfile.mkdtemp()
S = "{http://www.w3.org/2000/svg}"


def conjunto(nombre, n, dim=2, ancho=800.0, alto=600.0, ruido=0.005, errores=(), semilla=1, ids=(), giro=0.02):
    """A file of n pairs from a known similarity (turned by giro radians, so that the target site
    keeps about the source's shape) with Gaussian noise; errores: (index, dx, dy) added to the
    target."""
    r = random.Random(semilla)
    c, s, lineas = 1.00003 * math.cos(giro), 1.00003 * math.sin(giro), []
    for k in range(n):
        x, y, z = r.uniform(0, ancho), r.uniform(0, alto), r.uniform(0, 50)
        X = 500000 + c * x - s * y + r.gauss(0, ruido) + sum(dx for i, dx, _ in errores if i == k)
        Y = 4100000 + s * x + c * y + r.gauss(0, ruido) + sum(dy for i, _, dy in errores if i == k)
        Z = 200 + 1.00003 * z + r.gauss(0, ruido)
        lineas.append(" ".join([ids[k] if k < len(ids) else f"P{k}"] + [f"{v:.4f}" for v in (x, y, z)[:dim] + (X, Y, Z)[:dim]]))
    ruta = os.path.join(TMP, nombre + ".txt")
    open(ruta, "w").write("\n".join(lineas) + "\n")
    return ruta


def dibuja(orden, fichero, *opciones):
    """The fit's JSON document, the parsed plot and its path."""
    svg = os.path.join(TMP, os.path.basename(fichero) + ".svg")
    r = subprocess.run(ENVOLTORIO + [ORIENTA, *orden.split(), *opciones, "--json", "--plot", svg, fichero],
                       capture_output=True, encoding="utf-8")
    assert r.returncode in (0, 1), f"{orden} {fichero}: exit {r.returncode}\n{r.stderr}"
    return json.loads(r.stdout), ET.parse(svg).getroot(), svg


def clase(e):
    return (e.get("class") or "").split() if e is not None else []


def todos(raiz, etiqueta, nombre):
    return [e for e in raiz.iter(S + etiqueta) if nombre in clase(e)]


def texto(e):
    return "".join(e.itertext())


def leyenda(raiz):
    return " ".join(texto(e) for e in raiz.iter() if "leyenda" in clase(e))


def factor(raiz):
    return float(re.search(r"residuals ×([0-9.e+-]+)", texto(todos(raiz, "g", "escala")[0])).group(1))


def puntos(raiz):
    """Per point group: (circle, residual line, height bar or None, label or None)."""
    def uno(g, etiqueta, nombre):
        e = [e for e in g.findall(S + etiqueta) if nombre in clase(e)]
        return e[0] if e else None
    return [(uno(g, "circle", "punto"), uno(g, "line", "residuo"), uno(g, "line", "altura"), uno(g, "text", "id"))
            for g in todos(raiz, "g", "puntos")[0].findall(S + "g")]


def f(e, a):
    return float(e.get(a))


def largo(linea):
    return math.hypot(f(linea, "x2") - f(linea, "x1"), f(linea, "y2") - f(linea, "y1"))


def marco(raiz):
    m = todos(raiz, "rect", "marco")[0]
    return f(m, "x"), f(m, "y"), f(m, "x") + f(m, "width"), f(m, "y") + f(m, "height")


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
    # coordinates fall, with labels that do not run into each other; the grid is drawn. Every
    # pair has its vector (and in 3D its height bar); the blunder, excluded, is drawn cut, vector
    # and bar, and the rest whole.
    for orden, fichero, opciones, _ in CASOS:
        doc, raiz, _ = dibuja(orden, fichero, *opciones)
        assert todos(raiz, "path", "rejilla"), fichero
        ps = puntos(raiz)
        for (_, residuo, barra, _), r in zip(ps, doc["residuals"], strict=True):
            assert (barra is not None) == ("3d" in orden) and residuo is not None, fichero
            assert {"cortado" in clase(e) for e in (residuo, barra) if e is not None} == {r["excluded"]}, r
        destinos = [[float(v) for v in l.split()[-(3 if "3d" in orden else 2):]] for l in open(fichero)]
        for eje, coord in (("x", 0), ("y", 1)):
            grupos = todos(raiz, "g", "marca-" + eje)
            assert len(grupos) >= 2, f"{fichero}: {len(grupos)} {eje} ticks"
            valores = [float(texto(m)) for m in grupos]
            pasos = {round(b - a, 9) for a, b in zip(valores, valores[1:])}
            assert len(pasos) == 1, f"{fichero}: {eje} steps {pasos}"
            paso = pasos.pop()
            mantisa = paso / 10 ** math.floor(math.log10(paso) + 1e-9)
            assert min(abs(mantisa - m) for m in (1, 2, 5)) < 1e-6, f"{fichero}: step {paso}"
            assert all(abs(v / paso - round(v / paso)) < 1e-6 for v in valores), f"{fichero}: {valores}"
            sitio = [d[coord] for d in destinos]
            assert valores[0] - paso <= min(sitio) and valores[-1] + paso >= max(sitio), f"{fichero}: {valores} {sitio[:3]}"
            # Where each coordinate lands: two ticks give the scale, every point must follow it.
            p0, p1 = (f(grupos[k].find(S + "line"), eje + "1") for k in (0, -1))
            escala = (p1 - p0) / (valores[-1] - valores[0])
            assert (escala > 0) == (eje == "x"), f"{fichero}: north must be up"
            for s, p in zip(sitio, ps):
                assert abs(p0 + (s - valores[0]) * escala - f(p[0], "c" + eje)) < 0.2, f"{fichero}: {eje} {s} drawn at {p[0].attrib}"
            rotulos = [m.find(S + "text") for m in grupos]
            for a, b in zip(rotulos, rotulos[1:]) if eje == "x" else ():  # about 0.6 em a character at 11 px, with room between
                hueco = f(b, "x") - f(a, "x") - 0.6 * 11 * (len(texto(a)) + len(texto(b))) / 2
                assert hueco >= 8, f"{fichero}: x labels {texto(a)} {texto(b)} {hueco:.1f} px apart"


def titulo():
    # The title names the model, σ0 and the pairs used and excluded; the legend says what the
    # colours, the dashes and (3D) the height bars mean, and which way a positive height points;
    # a north arrow points up; ids are escaped.
    for orden, fichero, opciones, modelo in CASOS:
        doc, raiz, svg = dibuja(orden, fichero, *opciones)
        t = texto(todos(raiz, "g", "titulo")[0])
        m = re.search(r"σ0 ([0-9.e+-]+)", t)
        assert modelo in t and m, f"{t!r}: the plot must be handed the fit (Dibujo::ajuste)"
        assert abs(float(m.group(1)) - doc["sigma0"]) <= 5e-4 * doc["sigma0"], f"{t}: {doc['sigma0']}"
        assert f"{doc['pairs']} pairs: {doc['used']} used, {doc['pairs'] - doc['used']} excluded" in t, t
        texto_leyenda = leyenda(raiz)
        for palabra in ("used", "flagged", "excluded", "dashed", "cut"):
            assert palabra in texto_leyenda, f"{fichero}: {palabra} not in {texto_leyenda}"
        assert ("height" in texto_leyenda and "up where positive" in texto_leyenda) == ("3d" in orden), texto_leyenda
        norte = todos(raiz, "g", "norte")[0]
        assert texto(norte).strip() == "N"
        ys = [float(v) for v in re.findall(r"-?\d+\.?\d*", norte.find(S + "path").get("d"))][1::2]
        assert ys[0] == min(ys) and ys.count(ys[0]) == 1, f"north arrow {ys}"
    # The height bar points up (smaller y on the page) for a positive vz, as the legend says.
    doc, raiz, svg = dibuja("helmert3d", SITIO_3D, "--snoop")
    for (_, _, barra, _), r in zip(puntos(raiz), doc["residuals"], strict=True):
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
        _, raiz, _ = dibuja("helmert2d", conjunto(f"forma{i}", 20, ancho=ancho, alto=alto, semilla=10 + i))
        x0, y0, x1, y1 = marco(raiz)
        razon, lienzo, sitio = (x1 - x0) / (y1 - y0), f(raiz, "width") / f(raiz, "height"), ancho / alto
        razones.append(razon)
        assert sitio <= 1.5 or (razon > 1.3 and lienzo > 1.2), (ancho, alto, razon, lienzo)
        assert sitio >= 1 / 1.5 or (razon < 1 / 1.3 and lienzo < 1), (ancho, alto, razon, lienzo)
        assert sitio != 1 or abs(razon - 1) < 0.05, razon
    assert razones[0] < razones[1] < razones[2] and razones[4] > razones[5], razones
    assert razones[3] <= 4.01 and razones[5] >= 1 / 4.01 and abs(razones[2] / razones[3] - 1) < 0.3, razones


def exageracion():
    # The factor follows the typical residual: a 1 km blunder added to a set leaves it within one
    # round step, is excluded, and is drawn cut (dashed, shorter than the frame's margin) with its
    # length beside its id; the median vector is drawn a readable length, neither a dot nor a
    # spike; a set with residuals ten times larger gets a factor about ten times smaller.
    for dim, orden in ((2, "helmert2d"), (3, "helmert3d"), (2, "poly2d --kind affine")):
        nombre = f"{dim}{len(orden)}"
        (_, a, _), (doc, b, _), (_, c, _) = (dibuja(orden, conjunto(prefijo + nombre, 30, dim=dim, semilla=20, **k), "--snoop")
                                             for prefijo, k in (("limpio", {}), ("sucio", {"errores": [(11, 800.0, -600.0)]}),
                                                                ("ruidoso", {"ruido": 0.05})))
        fa, fb, fc = factor(a), factor(b), factor(c)
        assert 0.4 <= fb / fa <= 2.5, f"{orden}: factor {fa} clean, {fb} with a blunder"
        assert 4 <= fa / fc <= 25, f"{orden}: factor {fa} at 5 mm, {fc} at 5 cm"
        assert doc["residuals"][11]["excluded"], doc["residuals"][11]
        ps = puntos(b)
        assert "cortado" in clase(ps[11][1]) and ps[11][1].get("stroke-dasharray"), ps[11][1].attrib
        assert "|v| 1000." in texto(ps[11][3]), texto(ps[11][3])
        mediana = statistics.median(largo(p[1]) for k, p in enumerate(ps) if k != 11)
        assert 8 <= mediana <= 60, f"{orden}: median vector {mediana:.1f} px"
        assert largo(ps[11][1]) <= 6 * mediana, f"{orden}: blunder drawn {largo(ps[11][1]):.0f} px"
        assert sum("cortado" in clase(p[1]) for p in ps) <= 3, "cut vectors among the good pairs"
        x0, y0, x1, y1 = marco(b)
        assert all(x0 <= f(p[1], "x2") <= x1 and y0 <= f(p[1], "y2") <= y1 for p in ps), orden


def rotulos():
    # Each label stays off its own arrow and height bar (its box estimated at 0.6 em a character,
    # 10 px type), mostly on the side away from the vector.
    for orden, fichero, opciones, _ in CASOS[:4]:
        ps = puntos(dibuja(orden, fichero, *opciones)[1])
        assert all(p[3] is not None for p in ps), f"{fichero}: a point without its label"
        opuestos = 0
        for punto, residuo, barra, rotulo in ps:
            x, y, w = f(rotulo, "x"), f(rotulo, "y"), 0.6 * 10 * len(texto(rotulo))
            x0 = {"start": x, "end": x - w, "middle": x - w / 2}[rotulo.get("text-anchor")]
            caja = (x0, y - 8, x0 + w, y + 2.5)
            for linea in (residuo, barra) if barra is not None else (residuo,):
                for t in (i / 40 for i in range(41)):
                    px = f(linea, "x1") + t * (f(linea, "x2") - f(linea, "x1"))
                    py = f(linea, "y1") + t * (f(linea, "y2") - f(linea, "y1"))
                    assert not (caja[0] < px < caja[2] and caja[1] < py < caja[3]), \
                        f"{fichero}: label {texto(rotulo)} on its {clase(linea)[0]} at ({px:.1f}, {py:.1f})"
            ex, ey = f(residuo, "x2") - f(residuo, "x1"), f(residuo, "y2") - f(residuo, "y1")
            opuestos += ((caja[0] + caja[2]) / 2 - f(punto, "cx")) * ex + ((caja[1] + caja[3]) / 2 - f(punto, "cy")) * ey <= 0
        assert opuestos >= 0.75 * len(ps), f"{fichero}: {opuestos} of {len(ps)} labels away from their vector"
    # Crowded, the ids move to the tooltips; every point keeps its vector.
    _, raiz, _ = dibuja("helmert2d", conjunto("multitud", 3000, semilla=5))
    ps = puntos(raiz)
    assert len(ps) == 3000 and sum(p[3] is not None for p in ps) <= 10 and all(p[1] is not None for p in ps)
    assert "tooltip" in leyenda(raiz)


def png():
    # A renderer reads the plot: rsvg-convert turns it into a non-empty PNG.
    if shutil.which("rsvg-convert") is None:
        print("prueba_dibujo: rsvg-convert not found (scripts/prepara installs librsvg2-bin); PNG check skipped")
        return
    for orden, fichero, opciones, _ in CASOS[:2]:
        svg = dibuja(orden, fichero, *opciones)[2]
        r = subprocess.run(["rsvg-convert", "-o", svg + ".png", svg], capture_output=True, encoding="utf-8")
        assert r.returncode == 0 and r.stderr == "", r.stderr
        datos = open(svg + ".png", "rb").read()
        assert datos[:8] == b"\x89PNG\r\n\x1a\n" and len(datos) > 5000, len(datos)


GRUPOS = {"ejes": ejes, "titulo": titulo, "aspecto": aspecto, "exageracion": exageracion, "rotulos": rotulos, "png": png}
try:
    GRUPOS[GRUPO]()
finally:
    shutil.rmtree(TMP, ignore_errors=True)
print(f"prueba_dibujo {GRUPO}: ok")
