#!/usr/bin/python3
"""The command-line tool end to end: adjustment statistics, data snooping, apply, plots, and the
faults of the first round (float, tilted sets, collinear sets, ids, hex). One group per run:
prueba_cli.py ORIENTA DATA_DIR GROUP [RSS_LIMIT_MB]."""
import json, math, os, pty, random, re, subprocess, sys, tempfile, unicodedata
from statistics import NormalDist

ORIENTA, DATOS, GRUPO = sys.argv[1:4]
ENVOLTORIO = os.environ.get("ORIENTA_ENVOLTORIO", "").split()  # e.g. valgrind in CI
CONTROL = os.path.join(DATOS, "..", "..", "..", "examples", "data")
C2, C3 = (os.path.join(CONTROL, f"control{n}d.txt") for n in (2, 3))
TMP = tempfile.mkdtemp()


def corre(*args, entrada=None, estado=0):
    r = subprocess.run(ENVOLTORIO + [ORIENTA, *map(str, args)], input=entrada, capture_output=True,
                       encoding="utf-8", errors="surrogateescape")
    assert r.returncode == estado, f"{args}: exit {r.returncode}, expected {estado}\n{r.stderr}"
    if estado == 2:
        assert r.stdout == "" and re.fullmatch(r"orienta: [^\n]+\n", r.stderr), f"{args}: {r.stdout!r} {r.stderr!r}"
    return r


def ajusta(*args, estado=0, entrada=None):
    return json.loads(corre(*args, "--json", entrada=entrada, estado=estado).stdout)


def registro(*args):
    """The fit's JSON document, written to a file."""
    return escribe(corre(*args, "--json").stdout)


def d(nombre):
    return os.path.join(DATOS, nombre)


def cerca(a, b, tol, que):
    assert abs(a - b) <= tol, f"{que}: {a} against {b} (tolerance {tol})"


def numeros(texto):
    return [[float(v) for v in l.split()] for l in texto.splitlines()]


def filas(fichero):
    """The columns of every data line."""
    return [l.split() for l in open(fichero, encoding="utf-8") if l.strip() and not l.startswith("#")]


def escribe(texto):
    f = tempfile.NamedTemporaryFile("w", dir=TMP, delete=False, suffix=".txt")
    f.write(texto)
    f.close()
    return f.name


def estadisticas():
    # The bundled data: every statistic present and consistent with the others.
    demo = ajusta("demo")
    for orden, dim, u in (("helmert3d", 3, 7), ("helmert2d", 2, 4)):
        h = demo[orden]
        assert h["method"] == "adjustment" and h["used"] == h["pairs"]
        assert h["redundancy"] == dim * h["pairs"] - u and h["sigma0"] > 0
        nombres, C = list(h["parameters"]), h["covariance"]["matrix"]
        assert h["covariance"]["order"] == nombres and len(nombres) == u
        for i, n in enumerate(nombres):
            cerca(C[i][i], h["parameters"][n]["sd"] ** 2, 1e-9 * C[i][i], n)
            for k in range(u):
                cerca(C[i][k], C[k][i], 1e-12 * math.sqrt(C[i][i] * C[k][k]), "symmetry")
        assert all(len(r["v"]) == dim == len(r["w"]) and r["excluded"] is False for r in h["residuals"])
        if dim == 3:  # mean |v|² is the plan part plus the height part
            cerca(h["rms"] ** 2, h["rms_plan"] ** 2 + h["rms_height"] ** 2, 1e-12, "rms split")
    # Units reach the covariance: ω's sd in deg is the rad one times 180/π, its variance squared.
    rad, f = ajusta("helmert3d", "--units", "rad", C3), 180 / math.pi
    cerca(demo["helmert3d"]["parameters"]["omega"]["sd"], rad["parameters"]["omega"]["sd"] * f, 1e-12, "sd in deg")
    cerca(demo["helmert3d"]["covariance"]["matrix"][3][4], rad["covariance"]["matrix"][3][4] * f * f, 1e-15, "cov in deg")
    p = ajusta("poly2d", "--kind", "2", C2)
    assert p["redundancy"] == 24 - 12 and p["condition"] >= 1 and p["transform"]["order"] == 2
    # Numbers are written shortest-round-trip, as Python's repr: scripts compare them bit for bit.
    cifras = lambda t: t.lower().split("e")[0].replace("-", "").replace(".", "").strip("0")
    for numero in re.findall(r"-?\d[\d.eE+-]*", corre("demo", "--json").stdout):
        assert len(cifras(numero)) <= len(cifras(repr(float(numero)))), numero
    texto = corre("demo").stdout
    assert "sigma0" in texto and "correlations" in texto and re.search(r"kappa \(deg\) +97\.43\d+ +0\.0", texto)


def inclinado():
    # Five pairs tilted far from z: the adjustment recovers them; the described estimator cannot,
    # and says so with exit status 1 in double and in float.
    h = ajusta("helmert3d", d("inclinado5.txt"))
    for clave, valor in (("omega", 100), ("phi", -75), ("kappa", 30), ("scale_ppm", 400)):
        cerca(h[clave], valor, 1e-7, clave)
    for extra in ([], ["--float"]):
        r = corre("helmert3d", "--described", *extra, d("inclinado5.txt"), estado=1)
        assert "not the least-squares optimum" in r.stderr
    assert "needs at least 9 pairs" in corre("helmert3d", "--described", "--general", d("inclinado5.txt"), estado=1).stderr


def flotante():
    # --float reduces by double centroids: on UTM-sized targets it agrees with double to well
    # under a millimetre (it used to be off by decimetres), and the rounding rule lets it pass.
    for fichero in (d("levantamiento.txt"), C3):
        a, f = ajusta("helmert3d", fichero), ajusta("helmert3d", "--described", "--float", fichero)
        assert f["precision"] == "single" and f["method"] == "described"
        cerca(f["rms"], a["rms"], 1e-4, "rms")
        for x, y in zip(f["translation"], a["translation"], strict=True):
            cerca(x, y, 1e-3, "translation")
        cerca(f["scale_ppm"], a["scale_ppm"], 0.1, "scale")


def snooping():
    # Two planted blunders of 0.25 m: snooping excludes exactly those, with their residuals.
    h = ajusta("helmert3d", "--snoop", d("errores_plantados.txt"))
    assert h["excluded"] == ["P04", "P11"] and h["used"] == 12 and h["redundancy"] == 29
    cerca(h["rms"] ** 2, h["rms_plan"] ** 2 + h["rms_height"] ** 2, 1e-12, "rms of the pairs used")
    fuera = {r["id"]: r["v"] for r in h["residuals"] if r["excluded"]}
    cerca(fuera["P04"][0], -0.25, 0.02, "P04 x")
    cerca(fuera["P11"][2], 0.25, 0.02, "P11 z")
    sin = ajusta("helmert3d", d("errores_plantados.txt"))
    assert sin["excluded"] == [] and max(abs(w) for r in sin["residuals"] for w in r["w"]) > 3.29
    # With a priori σ, one or two a line: Baarda's w and the global test.
    datos = [l for l in open(d("errores_plantados.txt")) if not l.startswith("#")]
    con = lambda sigmas, lineas=datos: "".join(l.rstrip() + sigmas + "\n" for l in lineas)
    for sigmas in (" 0.003", " 0.003 0.005"):
        h = ajusta("helmert3d", "--sigma", "--snoop", entrada=con(sigmas))
        assert h["excluded"] == ["P04", "P11"] and "chi2" in h and 0 <= h["chi2_p"] <= 1
    for texto, causa in ((con(" 0.003", datos[:3]) + datos[3], ":4:"), (datos[0].rstrip() + " 0\n", "must be positive")):
        assert causa in corre("helmert3d", "--sigma", entrada=texto, estado=2).stderr
    # Family-wise: on 2,000 clean pairs (6,000 tests) the per-test threshold throws good points
    # out, the Šidák one for α = 0.05 keeps them and still finds a 0.25 m blunder.
    g = random.Random(4)
    lineas = []
    for k in range(2000):
        p = [g.uniform(-500, 500) + c for c in (5e5, 4.5e6, 300)]
        q = [x * 1.00001 + t + g.gauss(0, 0.01) for x, t in zip(p, (12.0, -7.0, 3.0))]
        lineas.append(f"P{k} " + " ".join(repr(x) for x in p + q))
    limpio = "\n".join(lineas) + "\n"
    familia = ajusta("helmert3d", "--snoop-alpha", "0.05", entrada=limpio)
    assert len(ajusta("helmert3d", "--snoop", entrada=limpio)["excluded"]) > 0 and familia["excluded"] == []
    cerca(familia["threshold"], NormalDist().inv_cdf(1 - (1 - 0.95 ** (1 / 6000)) / 2), 1e-9, "Sidak threshold")
    assert familia["threshold_alpha"] == 0.05
    campos = lineas[700].split()
    campos[6] = repr(float(campos[6]) + 0.25)
    lineas[700] = " ".join(campos)
    sucio = "\n".join(lineas) + "\n"
    texto = corre("helmert3d", "--snoop-alpha", "0.05", entrada=sucio).stdout
    assert "family-wise alpha 0.05 over 6000 tests), residuals against the final fit: P700\n" in texto
    assert ajusta("helmert3d", "--snoop-alpha", "0.05", entrada=sucio)["excluded"] == ["P700"]
    for malo, causa in ((["--snoop-alpha", "1"], "between 0 and 1"), (["--snoop", "3", "--snoop-alpha", "0.1"], "give one"),
                        (["--described", "--snoop-alpha", "0.1"], "drop --described")):
        assert causa in corre("helmert3d", *malo, entrada=limpio, estado=2).stderr


def aplica():
    # Forward through the fitted transform gives target + v; --inverse brings the input back.
    # Inverse tolerances in metres; the float record's R is orthonormal to float precision only.
    casos = (("helmert3d", [], C3, 1e-7), ("helmert2d", [], C2, 1e-7), ("poly2d", ["--kind", "affine"], C2, 1e-7),
             ("poly2d", ["--kind", "2"], C2, 1e-6), ("helmert3d", ["--described", "--float"], C3, 1e-4))
    for orden, args, ruta, tol in casos:
        doc, f = corre(orden, *args, "--json", ruta).stdout, filas(ruta)
        t, m = escribe(doc), (len(f[0]) - 1) // 2  # id, source, target
        ida = corre("apply", t, escribe("".join(" ".join(c[:1 + m]) + "\n" for c in f))).stdout
        vuelta = corre("apply", "--inverse", t, escribe(ida)).stdout.splitlines()
        for c, r, a, v in zip(f, json.loads(doc)["residuals"], ida.splitlines(), vuelta, strict=True):
            a, v = a.split(), v.split()
            assert c[0] == a[0] == v[0]
            for j in range(m):
                destino = float(c[1 + m + j])
                cerca(float(a[1 + j]), destino + r["v"][j], 1e-9 * max(1, abs(destino)), f"{orden} forward")
                cerca(float(v[1 + j]), float(c[1 + j]), tol, f"{orden} {args} inverse")
    # A bare transform object works too; a broken one is refused naming what is wrong.
    doc = ajusta("helmert2d", C2)
    assert corre("apply", escribe(json.dumps(doc["transform"])), entrada="1 2\n").stdout.count(" ") == 1
    del doc["transform"]["matrix"]
    for texto, causa in ((json.dumps(doc), "transform 'matrix': lacks a field"), ("{", "not a valid JSON document"), ("[]", "no 'transform'")):
        assert causa in corre("apply", escribe(texto), entrada="1 2\n", estado=2).stderr
    assert ":2:5: 4 columns where line 1 set the layout" in corre("apply", escribe(json.dumps(ajusta("demo")["helmert2d"])),
                                                                  entrada="1 2\nP 1 2 3\n", estado=2).stderr
    # --decimals N: each coordinate is the shortest output rounded to N decimals, carried columns
    # and ids untouched; out-of-range counts are refused.
    t, punto = registro("helmert2d", C2), "A 1000.5 -2000.25 h=3\n"
    exacto = corre("apply", t, entrada=punto).stdout.split()
    for n in (0, 3, 9):
        c = corre("apply", "--decimals", n, t, entrada=punto).stdout.split()
        assert c[0] == "A" and c[3] == "h=3" and all(x == f"{float(e):.{n}f}" for x, e in zip(c[1:3], exacto[1:3])), (n, c)
    for malo in ("-1", "18", "2.5"):
        assert "--decimals" in corre("apply", "--decimals", malo, t, entrada="1 2\n", estado=2).stderr


def pico(args, bloques=(), stdin=subprocess.DEVNULL):
    """Peak resident MB of one run that must succeed, fed the blocks through a pipe if any."""
    p = subprocess.Popen([ORIENTA, *args], stdin=subprocess.PIPE if bloques else stdin, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    for b in bloques:
        p.stdin.write(b)
    if bloques:
        p.stdin.close()
    errores = p.stderr.read()
    _, estado, uso = os.wait4(p.pid, 0)
    assert estado == 0 and (errores == b"" or args[0] != "apply"), errores
    return uso.ru_maxrss / 1024


def memoria(limite_mb):
    # apply streams: peak resident memory does not grow with the input, and nothing goes to
    # standard error when it is not a terminal.
    t = escribe(json.dumps(ajusta("demo")["helmert3d"]))
    bloque = "".join(f"P{k} {k * 0.25} {k * 0.5} 100.125\n" for k in range(10000)).encode()
    picos = [pico(["apply", t], [bloque] * (n // 10000)) for n in (20000, 1500000)]
    assert picos[1] - picos[0] < 8 and picos[1] < limite_mb, f"peak RSS {picos} MB"
    # A fit from a pipe keeps each pair once: coordinates, line, id and what is printed of it
    # (v, w), not the cofactors nor the slack of vectors grown by doubling; from a file it keeps
    # 8 bytes a pair (the repeated-id check), in every output mode. Under sanitizers only apply's
    # flatness is checked (their allocators keep freed blocks).
    if limite_mb <= 100:
        ficheros = [escribe("".join(f"P{k} {k * 0.25} {k * 0.5} {k % 7}.5 {k * 0.25 + 1} {k * 0.5 - 2} {k % 7}.25\n"
                                    for k in range(n))) for n in (20000, 220000)]
        for modo, limite in (("<", 200), ("", 16), ("--json", 16), ("--snoop --plot " + os.path.join(TMP, "m.svg"), 200)):
            if modo == "<":
                picos = [pico(["helmert3d"], stdin=open(f, "rb")) for f in ficheros]
            else:
                picos = [pico(["helmert3d", *modo.split(), f]) for f in ficheros]
            por_par = (picos[1] - picos[0]) * 2**20 / 200000
            assert por_par < limite, f"fit {modo} peak RSS {picos} MB: {por_par:.0f} bytes a pair"
    # On a terminal the same run reports progress on standard error.
    maestro, esclavo = pty.openpty()
    r = subprocess.run([ORIENTA, "apply", t], input=bloque * 7, stdout=subprocess.DEVNULL, stderr=esclavo)
    os.close(esclavo)
    assert r.returncode == 0 and b"orienta: apply" in os.read(maestro, 4096)


def flujo():
    # A file is read again instead of held; the report must be the one the pairs held in memory
    # (read from standard input) give, across blocks, with ids or without, σ of both kinds, in
    # every model that streams.
    def genera(n, dim, sigmas, ids):
        r = []
        for k in range(n):
            o = [4.5e5 + 37.1 * math.sin(k), 4.5e6 + 29.3 * math.cos(1.7 * k), 100 + k % 13]
            t = [o[0] * 0.99998 - o[1] * 2e-5 + 120 + 0.003 * math.sin(7 * k),
                 o[0] * 2e-5 + o[1] * 0.99998 - 80 + 0.002 * math.cos(5 * k), o[2] + 0.01 * math.sin(3 * k)]
            r.append(" ".join(([f"Q{k}"] if ids else []) + [repr(x) for x in o[:dim] + t[:dim] + [0.01, 0.02][:sigmas]]))
        return escribe("\n".join(r) + "\n")
    casos = [(["helmert3d"], genera(9000, 3, 0, True)), (["helmert3d", "--sigma"], genera(5000, 3, 2, True)),
             (["helmert3d", "--rigid", "--sigma"], genera(300, 3, 1, False)), (["helmert2d"], genera(4097, 2, 0, False)),
             (["poly2d", "--kind", "2"], genera(6000, 2, 0, True)), (["poly2d", "--kind", "affine"], genera(50, 2, 0, True))]
    for args, f in casos:
        # The QR factors of a polynomial merge block by block: equal to rounding, not in every
        # printed digit.
        assert corre(*args, f).stdout.replace(f, "<stdin>") == corre(*args, entrada=open(f).read()).stdout or args[0] == "poly2d", args
        a, b = ajusta(*args, f), ajusta(*args, entrada=open(f).read())
        for clave, x in a["parameters"].items():
            cerca(x["value"], b["parameters"][clave]["value"], 1e-9 * max(1, abs(x["value"])), f"{args} {clave}")
        # Residuals of millimetres on coordinates of 4.5·10⁶ m carry the coordinates' rounding
        # (1e-9 m): that, not the statistics' own, sets the tolerances.
        for clave in ("sigma0", "vtpv", "rms"):
            cerca(a[clave], b[clave], 1e-6 * abs(b[clave]), f"{args} {clave}")
        for ra, rb in zip(a["residuals"], b["residuals"], strict=True):
            assert ra["id"] == rb["id"] and ra["line"] == rb["line"]
            for clave, tol in (("v", 1e-8), ("w", 1e-5)):
                for x, y in zip(ra[clave], rb[clave]):
                    cerca(x, y, tol, f"{args} line {ra['line']} {clave}")
    # A file that changes between the passes is refused, not reported as two halves.
    f = genera(20000, 3, 0, True)
    p = subprocess.Popen(ENVOLTORIO + [ORIENTA, "helmert3d", f], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    with open(f, "a") as g:
        g.write("Z 1 2 3 4 5 6\n")
    salida, errores = p.communicate()
    assert p.returncode == 0 or b"changed while it was being read" in errores, errores


def espejo():
    # Mirrored input is said, in the table, the JSON and the exit status, in every way a fit is
    # run (file read twice, pipe, --described); --mirrored-ok accepts it; an exact 2D mirror
    # image is refused with its cause.
    plano = "A 0 0 0 0\nB 10 0 0 10.1\nC 0 10 10 0\nD 10 10 10 10\nE 5 5 5.2 5\n"
    espacio = "A 0 0 0 0 0 0\nB 10 0 0 -10 0 0\nC 0 10 0 0 10 0\nD 0 0 10 0 0 10\nE 5 5 5 -5 5 5\n"
    derecho = "A 0 0 0 1 2 3\nB 10 0 0 11 2 3\nC 0 10 0 1 12 3\nD 0 0 10 1 2 13.01\n"
    casos = [(["helmert2d"], plano, 1, True), (["helmert2d", "--mirrored-ok"], plano, 0, True),
             (["poly2d", "--kind", "similarity"], plano, 1, True), (["helmert3d"], espacio, 1, True),
             (["helmert3d", "--described"], espacio, 1, True), (["helmert3d", "--mirrored-ok"], espacio, 0, True),
             (["helmert3d"], derecho, 0, False)]
    for args, texto, estado, espejado in casos:
        for fichero, entrada in (([escribe(texto)], None), ([], texto)):
            r = corre(*args, *fichero, entrada=entrada, estado=estado)
            assert ("mirrored input" in r.stdout) == espejado and ("mirror image" in r.stderr) == espejado, (args, r)
            assert ajusta(*args, *fichero, entrada=entrada, estado=estado)["mirrored"] == espejado, args
    exacto = escribe("A 0 0 0 0\nB 10 0 0 10\nC 0 10 10 0\nD 10 10 10 10\n")
    for args in (["helmert2d"], ["helmert2d", "--mirrored-ok"]):
        assert "mirror image" in corre(*args, exacto, estado=2).stderr


def listas():
    # Two point lists joined by id fit as the one file of pairs does, whatever their order; points
    # in one list only are left out with a warning, or refused with --strict; an id twice in a
    # list is refused, naming both lines.
    f = filas(C3)
    local = escribe("id x y z\n" + "".join(" ".join(c[:4]) + "\n" for c in f))
    nacional = "".join(" ".join([c[0], *c[4:7], "0.01", "0.02"]) + "\n" for c in reversed(f))
    una = ajusta("helmert3d", "--sigma", escribe("".join(" ".join(c[:7] + ["0.01", "0.02"]) + "\n" for c in f)))
    for extra, aviso in (("", None), ("X9 1 2 3 0.01 0.02\n", "1 point of .* not in .*: X9 \\(left out\\)")):
        for destino, entrada in ((escribe(nacional + extra), None), ("-", nacional + extra)):
            r = corre("helmert3d", "--sigma", "--json", local, destino, entrada=entrada)
            assert json.loads(r.stdout)["transform"] == una["transform"]
            assert (aviso is None and r.stderr == "") or re.search(aviso, r.stderr), r.stderr
    assert "X9 (--strict)" in corre("helmert3d", "--strict", "--sigma", local, escribe(nacional + "X9 1 2 3 0.01 0.02\n"), estado=2).stderr
    assert ":3:1: point id 'A' repeats line 1" in corre("helmert3d", local, escribe("A 1 2 3\nB 4 5 6\nA 7 8 9\n"), estado=2).stderr
    for args, causa in ((["--ids", "no", local, local], "joined by their ids"), (["--strict", local], "--strict applies"),
                        ([local, local, local], "more than two input files"), (["-", "-"], "only one of the two")):
        assert causa in corre("helmert3d", *args, estado=2, entrada="").stderr, (args, causa)


def degenerados():
    # The same cause, exit status 2 and one line, in every mode.
    modos = ([], ["--described"], ["--described", "--float"])
    casos = (("helmert3d", "poligonal12.txt", modos + (["--described", "--general"],), "on one line"),
             ("helmert3d", "coincidentes3d.txt", modos, "coincide"), ("helmert2d", "coincidentes2d.txt", modos, "coincide"),
             ("poly2d --kind affine", "colineales2d.txt", modos, "on one line"),
             ("helmert3d", "enorme.txt", (["--described", "--float"],), "single precision"))
    for orden, fichero, variantes, causa in casos:
        for extra in variantes:
            r = corre(*orden.split(), *extra, d(fichero), estado=2)
            assert causa in r.stderr, f"{orden} {extra} {fichero}: {r.stderr}"


def texto():
    # Ids padded by display width, control characters escaped, repeats warned, no "-0.0000".
    r = corre("helmert3d", d("ids_anchos.txt"))
    assert "point id 'P4' repeats line 5" in r.stderr and "\x07" not in r.stdout and "P\\x07" in r.stdout
    ancho = lambda s: sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in s)
    lineas = [l for l in r.stdout.split("\n") if re.match(r"  (Ñandú|東京1|P\\x07|P4) ", l)]
    columnas = {ancho(re.match(r"(.*?\S)\s+-?\d+\.\d{4} ", l).group(0)) for l in lineas}
    assert len(lineas) == 5 and len(columnas) == 1, lineas
    assert "-0.0000" not in corre("helmert3d", "--described", d("ejemplo3d.txt")).stdout
    assert ":1:4: '0x1p3' is a hexadecimal number" in corre("helmert3d", entrada="P1 0x1p3 0 0 1 2 3\n", estado=2).stderr


# ---------------------------------------------------------------------------------------------
# No silent wrong answer: one table per class of fault, each hostile input beside the ordinary
# one that must keep working.

def perdida():
    # An output path that is an input is refused before anything is written, by inode, not name.
    datos = escribe(open(d("ejemplo3d.txt")).read())
    os.symlink(datos, datos + ".enlace")
    antes = open(datos).read()
    for plot in (datos, datos + ".enlace", os.path.join(os.path.dirname(datos), ".", os.path.basename(datos))):
        assert "would overwrite an input" in corre("helmert3d", "--plot", plot, datos, estado=2).stderr
        assert open(datos).read() == antes
    # The --json output's own file as the plot, standard output appended to the input, and
    # standard output that cannot be written: refused, and no plot left behind, half-made or whole.
    salida, puntos, plot = os.path.join(TMP, "salida.json"), escribe("P1 1 2 3\n"), os.path.join(TMP, "nuevo.svg")
    for args, fichero, modo, causa in ((["helmert3d", "--json", "--plot", salida, datos], salida, "w", "standard output's file"),
                                       (["apply", registro("helmert3d", d("ejemplo3d.txt")), puntos], puntos, "a",
                                        "standard output is this input file"),
                                       (["helmert3d", "--plot", plot, datos], "/dev/full", "w", "cannot write")):
        with open(fichero, modo) as f:
            r = subprocess.run(ENVOLTORIO + [ORIENTA, *args], stdout=f, stderr=subprocess.PIPE, encoding="utf-8")
        assert r.returncode == 2 and causa in r.stderr, r.stderr
    assert open(puntos).read() == "P1 1 2 3\n"
    assert not os.path.exists(plot) and not [f for f in os.listdir(TMP) if f.startswith(".orienta-")]
    # Beside them, the ordinary run: the plot appears, with a plain file's permissions, and an
    # existing plot is replaced (its mode kept).
    corre("helmert3d", "--plot", plot, datos)
    assert open(plot).read().startswith("<?xml") and os.stat(plot).st_mode & 0o777 == 0o666 & ~os.umask(0o22)
    os.chmod(plot, 0o640)
    corre("helmert3d", "--plot", plot, datos)
    assert os.stat(plot).st_mode & 0o777 == 0o640


def disposicion():
    # (command, file text, the ids the fit reads, or None for four 3D pairs). Ordinary files first.
    cuatro = lambda ids, s: "".join(f"{ids}{k} {x} {y} {z} {x + 10} {y + 20} {z + 30}{s}\n"
                                    for k, (x, y, z) in enumerate(((0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)), 1))
    ordinarios = (
        (["helmert2d", "--sigma"], "P1 0 0 10 20 0.01\nP2 1 0 11 20 0.01\nP3 0 1 10 21 0.02\n", ["P1", "P2", "P3"]),
        (["helmert2d", "--sigma"], "1 0 0 10 20 0.01\n2 1 0 11 20 0.01\n3 0 1 10 21 0.02\n", ["1", "2", "3"]),
        (["helmert2d"], "0.5 0 10 20\n1.5 0 11 20\n0.5 1 10 21\n", [None] * 3),
        (["helmert3d"], "0 0 0 10 20 30\r\n1 0 0 11 20 30 # a comment\r\n\t0\t1\t0\t10\t21\t30\n0 0 1 10 20 31\n", [None] * 4),
        (["helmert3d", "--sigma"], cuatro("P", " 0.01 0.02"), None), (["helmert3d", "--sigma", "--sigmas", "1"], cuatro("", " 0.01"), None),
        (["helmert3d", "--sigma", "--ids", "no"], cuatro("", " 0.01"), None),
        (["helmert2d", "--decimal-comma"], "P1;0,5;0;10;20\nP2\t1,5\t0\t11\t20\nP3 0,5 1 10 21,25\n", ["P1", "P2", "P3"]),
        (["helmert2d"], '"P 1",0,0,10,20\n"P ""2""", 1, 0, 11, 20\nP3,0,1,10,21\n', ["P 1", 'P "2"', "P3"]),
    )
    for args, texto, ids in ordinarios:
        h = ajusta(*args, entrada=texto)
        assert [r["id"] for r in h["residuals"]] == ids if ids else (h["redundancy"] == 3 * 4 - 7 and h["pairs"] == 4), (args, h)
    hostiles = (
        # 3D pairs without ids to a 2D command: x is no id, Z no σ.
        (["helmert2d", "--sigma"], "100.25 200.5 30.125 1100.25 1200.5 130.125\n", ":1:.*expected 4 numbers.*found 6"),
        (["poly2d", "--kind", "affine", "--sigma"], "10.5 20.5 3.5 11.5 21.5 4.5\n", ":1:.*expected 4 numbers.*found 6"),
        (["helmert2d", "--sigma"], "1000 2000 300 1010 2010 310\n1100.5 2000 300 1110.5 2010 310\n",
         ":2:1: '1100.5' in the id column has a fraction.*--ids no"),
        # One line with an extra number in an id-less file.
        (["helmert2d"], "0.5 0 10 20\n1.5 0 11 20\n7 0.5 1 10 21\n", ":3:.*5 columns where line 1 set the layout"),
        (["helmert3d"], "P1 0 0 0 10 20 30\n0 1 0 11 20 30\n", ":2:.*6 columns where line 1 set the layout"),
        # Decimal commas beside whole numbers, with blanks or ';' between columns.
        (["helmert2d"], "P1 12,5 100 3 4\n", ":1:4: '12,5' looks like a number with a decimal comma"),
        (["helmert2d"], "P1;0,5;0;10;20\n", "decimal comma.*--decimal-comma"),
        (["helmert2d", "--decimal-comma"], "P1 0.5 0 10 20\n", "has a '.'"),
        # Counts that read two ways, and counts that fit no reading.
        (["helmert3d", "--sigma"], "1 0 0 0 10 20 30 0.01\n", "8 columns read two ways.*--ids yes\\|no or --sigmas 1\\|2"),
        (["helmert3d", "--sigma", "--sigmas", "2"], "P1 0 0 0 10 20 30 0.01\n", "expected 6 numbers.*then plan and height sigma"),
        (["helmert2d", "--sigma"], "P1 0 0 10 20\n", "expected 4 numbers.*then 1 sigma"),
        (["helmert3d"], "P1 0 0 0 10 20 30 0.01\n", "expected 6 numbers.*found 8 columns"),
        (["helmert3d", "--ids", "no"], "P1 0 0 0 10 20 30\n", "expected 6 numbers.*found 7 columns"),
        (["helmert2d"], "id x y X Y\n0 0 10 20\n", "header row"),
        (["helmert2d"], '"P1 0 0 10 20\n', "unterminated quote"),
        (["helmert2d"], '"P1"x 0 0 10 20\n', "text after a closing quote"),
        (["helmert2d"], 'P1 "0.5" 0 10 20\n', "'0.5' is quoted: a number is written bare"),
    )
    for args, texto, patron in hostiles:
        assert re.search(patron, corre(*args, entrada=texto, estado=2).stderr), (args, texto)
    # A header row of names, in any separator, is skipped: the fit and apply read the data as
    # without it, from a file and from a pipe.
    datos = open(C2).read()
    sin = ajusta("helmert2d", entrada=datos)["transform"]
    t = escribe(json.dumps(sin))
    uno = corre("apply", t, entrada="A 1 2\n").stdout
    for cabecera, de_puntos in (("id x y E N\n", "id x y\n"), ("\"point id\";x;y;E;N\n", "\"point id\";x;y\n"),
                                ("# a comment\nname\tx\ty\tX\tY\n", "# a comment\nname\tx\ty\n")):
        for fichero, entrada in (([escribe(cabecera + datos)], None), ([], cabecera + datos)):
            assert ajusta("helmert2d", *fichero, entrada=entrada)["transform"] == sin
        assert corre("apply", t, entrada=de_puntos + "A 1 2\n").stdout == uno
    # apply: the first line settles it too; a 2D record carries z through, and a whole number
    # first reads two ways.
    t2 = registro("helmert2d", d("ejemplo2d.txt"))
    assert corre("apply", t2, entrada="0.5 0.25 7.125\n1.5 0 code\n").stdout.split("\n")[0].split()[2] == "7.125"
    assert corre("apply", t2, entrada="P1 0.5 0.25 7.125\n").stdout.startswith("P1 ")
    r = corre("apply", t2, entrada="1 2 3\n", estado=2)
    assert "3 columns read two ways" in r.stderr and "--ids yes|no" in r.stderr
    assert corre("apply", "--ids", "no", t2, entrada="1 2 3\n").stdout.split()[2] == "3"
    assert corre("apply", "--ids", "yes", t2, entrada="1 2 3\n").stdout.split()[0] == "1"


def registros():
    # Spoilt records are refused the same way by the tool and by Python: python/tests/test_registro.py.
    # The records every command writes pass, the described single-precision one included, and
    # poly2d --kind 1 is the affine fit and record.
    for args in (["helmert3d", "--described", "--float", C3], ["helmert2d", "--described", "--float", C2],
                 ["poly2d", "--kind", "2", "--described", C2], ["poly2d", "--kind", "rigid", C2]):
        t = registro(*args)
        assert corre("apply", "--ids", "no", t, entrada="1.5 2.5" + (" 3.5" if args[0] == "helmert3d" else "") + "\n").stdout
    a, b = ajusta("poly2d", "--kind", "affine", C2), ajusta("poly2d", "--kind", "1", C2)
    assert a["transform"] == b["transform"] and b["transform"]["model"] == "affine2d"
    # A constant map has no inverse: its record is refused as singular.
    assert "singular" in corre("apply", registro("poly2d", "--kind", "constant", C2), entrada="1.5 2\n", estado=2).stderr
    # apply reads a document only up to the end of its transform: what follows may be anything.
    doc = corre("helmert2d", "--json", d("ejemplo2d.txt")).stdout
    assert corre("apply", escribe(doc[:doc.index('"residuals"')] + "[[[ not JSON"), entrada="1.5 2\n").stdout


def no_finitos():
    # No point is printed as inf or nan with exit status 0.
    p3, h3 = registro("poly2d", "--kind", "3", C2), registro("helmert3d", C3)
    casos = ((p3, [], "P1 5000 3000\nP2 1e200 3000\n", ":2:1: the image of this point is not a finite number"),
             (p3, [], "P1 1e300 1e300\n", ":1:1: the image"),
             (h3, [], "P1 1 2 3\nP2 1.7e308 1.7e308 0\n", ":2:1: the image"),
             (h3, ["--inverse"], "P1 1 2 3\nP2 1.7e308 1.7e308 0\n", ":2:1: the inverse image"))
    for t, extra, texto, causa in casos:
        r = corre("apply", *extra, t, entrada=texto, estado=2)
        assert causa in r.stderr and "inf" not in r.stdout and "nan" not in r.stdout, r
    # A record holding 1e308: its images overflow, which is refused, never printed.
    doc = json.loads(open(h3).read())
    doc["transform"]["target_centroid"][:2] = [1.79e308, 1.79e308]
    r = corre("apply", escribe(json.dumps(doc)), entrada="P1 1 2 3\nP2 1e306 1e306 0\n", estado=2)
    assert "not a finite number" in r.stderr
    # Beside them the inverse of a polynomial past its fold (x' = x + x² has none below -1/4): an
    # answer, no preimage, printed as nan with exit status 1.
    pliegue = {"model": "poly2d", "order": 2, "source_centroid": [0, 0], "target_centroid": [0, 0],
               "matrix": [[1, 0], [0, 1]], "coef_x": [1, 0, 1] + [0] * 6, "coef_y": [0, 1] + [0] * 7}
    r = corre("apply", "--inverse", escribe(json.dumps(pliegue)), entrada="P1 2 0\nP2 -1 0\n", estado=1)
    assert r.stdout.split("\n")[1].split()[1:] == ["nan", "nan"] and "first at line 2" in r.stderr


def mensajes():
    # Every refusal names its real cause, the file and the line.
    puntos = [(0, 0), (100, 0), (0, 100), (100, 100)]
    con_sigma = lambda s: "".join(f"P{k} {x} {y} 0 {x + 5} {y + 7} 0 {s if k == 2 else 0.01}\n" for k, (x, y) in enumerate(puntos))
    casos = (
        (["helmert3d", "--sigma"], con_sigma(1e300), ":3: a sigma so small or so large"),
        (["helmert3d", "--sigma"], con_sigma(1e-300), ":3: a sigma so small or so large"),
        (["helmert3d"], "".join(f"P{k} {x * 1e-200} {y * 1e-200} 0 {x * 1e-200} {y * 1e-200} {k * 1e-200}\n"
                                for k, (x, y) in enumerate(puntos)), "coordinates too small"),
        (["helmert3d"], "".join(f"P{k} {x * 1e153} {y * 1e153} {k * 1e153} {x} {y} {k}\n" for k, (x, y) in enumerate(puntos)),
         r"coordinates too large.*\(line \d+ holds the largest"),
        (["helmert3d", "--snoop", "nan"], "", "--snoop needs a positive threshold"),
        (["helmert3d", "--snoop", "inf"], "", "--snoop needs a positive threshold"),
    )
    for args, texto, patron in casos:
        assert re.search(patron, corre(*args, entrada=texto, estado=2).stderr), args
    malo = escribe('{"transform": {"model": "helmert2d",\n  "matrix": [[1, 0], [0, 1]]\n  "scale": 1}}')
    r = corre("apply", malo, entrada="1 2\n", estado=2)
    assert re.search(re.escape(malo) + r":3:\d+: not a valid JSON document: .*expected", r.stderr), r.stderr


def readme():
    # Every output the README quotes is what the tool prints: each block that starts with
    # "$ orienta ..." is run from the checkout and compared line by line up to its "...".
    raiz = os.path.join(CONTROL, "..", "..")
    texto = open(os.path.join(raiz, "README.md"), encoding="utf-8").read()
    bloques = re.findall(r"^```\n\$ orienta ([^\n]*)\n(.*?)^```", texto, re.M | re.S)
    assert bloques
    for orden, citado in bloques:
        salida = subprocess.run(ENVOLTORIO + [ORIENTA, *orden.split()], cwd=raiz, capture_output=True, encoding="utf-8").stdout.split("\n")
        for k, linea in enumerate(citado.rstrip("\n").split("\n")):
            if linea.strip() == "...":
                break
            assert k < len(salida) and salida[k] == linea, f"README quotes {linea!r}, the tool prints {salida[k]!r}"


def columnas():
    # --columns names the file's columns: however the same pairs are laid out, the fit is the one
    # of the plain file; a layout that does not add up is refused before anything is read wrong.
    f, sig = filas(C3), ["0.01", "0.02"]
    plano = escribe("".join(" ".join(c[:7]) + "\n" for c in f))
    una, con_sigma = ajusta("helmert3d", plano), ajusta("helmert3d", "--sigma", escribe("".join(" ".join(c[:7] + sig) + "\n" for c in f)))
    casos = [("X,Y,Z,id,x,y,z", lambda c: c[4:7] + c[:4], "", una),
             ("id,-,x,y,z,-,X,Y,Z", lambda c: [c[0], "k1", *c[1:4], "9.5", *c[4:7]], "", una),
             ("x,y,z,X,Y,Z", lambda c: c[1:7], "", una),
             ("id,x,y,z,X,Y,Z,sigma_plan,sigma_height", lambda c: c[:7] + sig, "", con_sigma),
             ("id;x;y;z;X;Y;Z;sigma_plan;sigma_height", lambda c: c[:7] + sig, "Punto;E;N;H;E2;N2;H2;sp;sh\n", con_sigma)]
    for lista, fila, cabecera, esperado in casos:
        sep = ";" if ";" in lista else " "
        j = ajusta("helmert3d", "--columns", lista.replace(";", ","), escribe(cabecera + "".join(sep.join(fila(c)) + "\n" for c in f)))
        assert j["transform"] == esperado["transform"] and j["sigma0"] == esperado["sigma0"], lista
    malos = [(["--columns", "id,x,y,z,X,Y,H"], "unknown column 'H'"), (["--columns", "id,x,y,z,X,Y,Z,x"], "'x' twice"),
             (["--columns", "id,x,y,X,Y,Z"], "no 'z' column"), (["--columns", "id,x,y,z,X,Y,Z,-"], "1:[0-9]+: 7 columns where --columns names 8"),
             (["--columns", "x,y,z,X,Y,Z,-"], "1:1: 'CP01' is not a number, and this file is read without an id"),
             (["--ids", "no", "--columns", "id,x,y,z,X,Y,Z"], "--ids no but"), (["--sigma", "--columns", "id,x,y,z,X,Y,Z"], "names no sigma"),
             (["--columns", "id,x,y,z,X,Y,Z,sigma,sigma_plan"], "not both"), (["--columns", "id,x,y,z,X,Y,Z,sigma_plan"], "go together"),
             (["--columns", "id,x,y,z", plano], "one file")]
    for args, mensaje in malos:
        assert re.search(mensaje, corre("helmert3d", *args, plano, estado=2).stderr), args
    # apply: the named coordinates move, a column named '-' is carried through after them.
    t = registro("helmert3d", plano)
    directo = corre("apply", t, entrada="A 1 2 3\n").stdout.split()
    assert corre("apply", "--columns", "-,z,id,x,y", t, entrada="t1 3 A 1 2\n").stdout.split() == directo + ["t1"]
    assert "names no z" in corre("apply", "--columns", "id,x,y", t, entrada="A 1 2\n", estado=2).stderr


def imagen():
    # Pixel (column, row) to map, rows growing downwards: without saying so the similarity sees a
    # mirror image; with --image-rows-down it is the pixel size and turn, and the record maps
    # pixels as they are read. An affine or polynomial fitted either way is the same map, of the
    # same precision.
    a, s = 0.3, 0.25
    mapa = lambda c, r: (5e5 + s * (math.cos(a) * c + math.sin(a) * r), 4.5e6 + s * (math.sin(a) * c - math.cos(a) * r))
    puntos = [(2000 + 1900 * math.sin(1.7 * k), 1500 + 1400 * math.cos(2.9 * k)) for k in range(1, 16)]
    f = escribe("".join(f"P{k} {c} {r} {mapa(c, r)[0] + 1e-3 * math.sin(k)!r} {mapa(c, r)[1] + 1e-3 * math.cos(3 * k)!r}\n"
                        for k, (c, r) in enumerate(puntos)))
    assert "mirror image" in corre("helmert2d", f, estado=1).stderr
    r = corre("helmert2d", "--image-rows-down", f)
    assert r.stderr == "" and "image rows grow downwards" in r.stdout and "ppm" not in r.stdout.split("parameter")[1], r.stdout
    j = ajusta("helmert2d", "--image-rows-down", f)
    assert j["image_rows_down"] and j["transform"]["model"] == "affine2d" and j["mirrored"] is False
    cerca(j["scale"], s, 1e-6, "pixel size")
    prueba = [(0.0, 0.0), (4000.0, 3000.0), (1234.5, 17.25)]
    entrada = "".join(f"{c} {r}\n" for c, r in prueba)
    for (c, r), p in zip(prueba, numeros(corre("apply", escribe(json.dumps(j)), entrada=entrada).stdout), strict=True):
        for x, y in zip(p, mapa(c, r), strict=True):
            cerca(x, y, 0.01, "pixel to map")
    for tipo in ("affine", "2", "3"):
        directo, volteado = (numeros(corre("apply", "--precision", registro("poly2d", "--kind", tipo, *extra, f), entrada=entrada).stdout)
                             for extra in ([], ["--image-rows-down"]))
        for p, q in zip(directo, volteado, strict=True):
            for k, (x, y) in enumerate(zip(p[:4], q[:4])):
                cerca(x, y, 1e-6 if k < 2 else 1e-9 * x, f"kind {tipo} with rows down, column {k}")


def unidades():
    # The angles in every unit are the same angles; dms is written sexagesimal, its JSON in degrees;
    # a scale near 1 prints in ppm, one far from it as the factor.
    grados = ajusta("helmert3d", C3)
    for unidad, factor in (("rad", math.pi / 180), ("gon", 200 / 180), ("arcsec", 3600), ("dms", 1)):
        j = ajusta("helmert3d", "--units", unidad, C3)
        assert j["angle_unit"] == ("deg" if unidad == "dms" else unidad)
        for k in ("omega", "phi", "kappa"):
            cerca(j[k], grados[k] * factor, 1e-12 * max(1, abs(grados[k] * factor)), f"{k} in {unidad}")
    tabla = corre("helmert3d", "--units", "dms", C3).stdout
    m = re.search(r"^  kappa \(dms\) +(-?)(\d+)\u00b0(\d\d)'(\d\d\.\d{5})\"", tabla, re.M)
    assert m and "ppm)" in tabla, tabla
    cerca((int(m[2]) + int(m[3]) / 60 + float(m[4]) / 3600) * (-1 if m[1] else 1), grados["kappa"], 1e-8, "kappa read back from dms")


def precision():
    # apply --precision: σ of every coordinate from the covariance the fit's record carries, as
    # J·Σ·Jᵀ of the affine written out here; the 2D error ellipse keeps the trace, its major axis
    # is at least the minor; an older record without the covariance is refused for it and still
    # applies; a fit with --image-rows-down gives the points the precision of the plain fit.
    doc = ajusta("poly2d", "--kind", "affine", C2)
    t, C = escribe(json.dumps(doc)), doc["transform"]["parameter_covariance"]
    puntos = [(0.0, 0.0), (1234.5, -321.0), (5e4, 6e4)]
    lineas = corre("apply", "--precision", "--units", "deg", t,
                   entrada="".join(f"P{k} {x} {y} 12.5\n" for k, (x, y) in enumerate(puntos))).stdout.splitlines()
    for (x, y), fila in zip(puntos, lineas, strict=True):
        c = fila.split()
        assert c[3] == "12.5" and len(c) == 9, fila
        sx, sy, a, b, rumbo = map(float, c[4:])
        for s, J in ((sx, [1, 0, x, y, 0, 0]), (sy, [0, 1, 0, 0, x, y])):
            cerca(s, math.sqrt(sum(J[m] * C[m][l] * J[l] for m in range(6) for l in range(6))), 1e-9 * s, "sigma")
        cerca(a * a + b * b, sx * sx + sy * sy, 1e-9 * (a * a + b * b), "ellipse trace")
        assert a >= b >= 0 and 0 <= rumbo < 180, fila
    assert float(lineas[2].split()[4]) > float(lineas[0].split()[4]), "precision falls off away from the points"
    viejo = escribe(json.dumps(dict(doc, transform={k: v for k, v in doc["transform"].items()
                                                    if k not in ("parameter_covariance", "sigma0", "redundancy")})))
    assert "no parameter_covariance" in corre("apply", "--precision", viejo, entrada="1 2\n", estado=2).stderr
    assert corre("apply", viejo, entrada="1 2\n").stdout == corre("apply", t, entrada="1 2\n").stdout
    assert "forward" in corre("apply", "--precision", "--inverse", t, entrada="1 2\n", estado=2).stderr
    roto = escribe(json.dumps(dict(doc, transform=dict(doc["transform"], parameter_covariance=C[:-1]))))
    assert "parameter_covariance" in corre("apply", "--precision", roto, entrada="1 2\n", estado=2).stderr
    # Rows down (the affine: imagen): the similarity's record becomes an affine, its covariance
    # carried over; the similarity fitted to (x, -y) by hand and applied to (x, -y) gives its σ.
    a_mano = escribe("".join(" ".join([c[0], c[1], repr(-float(c[2])), c[3], c[4]]) + "\n" for c in filas(C2)))
    mano = numeros(corre("apply", "--precision", registro("helmert2d", "--mirrored-ok", a_mano),
                         entrada="".join(f"{x} {-y}\n" for x, y in puntos)).stdout)
    volteado = numeros(corre("apply", "--precision", registro("poly2d", "--kind", "similarity", "--image-rows-down", "--mirrored-ok", C2),
                             entrada="".join(f"{x} {y}\n" for x, y in puntos)).stdout)
    for p, q in zip(mano, volteado, strict=True):
        for u, v in zip(p[2:4], q[2:4]):
            cerca(u, v, 1e-9 * u, "similarity precision with rows down")


def robusto():
    # --robust on 40 % gross blunders: msac and ransac keep exactly the good pairs and their fit is
    # the plain fit of those pairs; danish weighs the blunders to nothing; huber says whether its
    # weights settled (exit 1 when not); the same seed gives the same document; bad options are
    # refused.
    c, s = math.cos(0.4), math.sin(0.4)
    malos = {k for k in range(40) if k % 5 < 2}
    lineas = []
    for k in range(40):
        x, y, z = 37.0 * k % 500 + 0.3 * k, 71.0 * k % 500 + 0.7 * k, 10 + k % 7
        e = [30 * math.sin(3 * k + i) + (10 if i == 0 else 0) if k in malos else 0.01 * math.sin(7 * k + i) for i in range(3)]
        lineas.append(f"P{k} {x} {y} {z} {4e5 + c * x - s * y + e[0]!r} {4.5e6 + s * x + c * y + e[1]!r} {100 + z + e[2]!r}\n")
    f = escribe("".join(lineas))
    limpio = ajusta("helmert3d", escribe("".join(l for k, l in enumerate(lineas) if k not in malos)))
    huber = subprocess.run(ENVOLTORIO + [ORIENTA, "helmert3d", "--robust", "huber", "--threshold", "0.1", "--json", f],
                           capture_output=True, text=True)
    assert (huber.returncode == 1) == (not json.loads(huber.stdout)["robust"]["settled"]), huber.stderr
    assert huber.returncode == 0 or "did not settle" in huber.stderr
    for metodo in ("msac", "ransac", "danish"):
        j = ajusta("helmert3d", "--robust", metodo, "--threshold", "0.1", f)
        assert sorted(p - 1 for p in j["robust"]["outlier_pairs"]) == sorted(malos), (metodo, j["robust"])
        if metodo == "danish":
            assert max(j["robust"]["weights"][k] for k in malos) < 1e-6 and j["robust"]["settled"]
            for a, b in zip(j["transform"]["source_centroid"], limpio["transform"]["source_centroid"], strict=True):
                assert abs(a - b) < 1e-6
        else:
            assert j["transform"] == limpio["transform"] and j["used"] == 24, metodo
            assert {r["id"] for r in j["residuals"] if r["excluded"]} == {f"P{k}" for k in malos}
    a1, a2 = (corre("helmert3d", "--robust", "msac", "--threshold", "0.1", "--seed", "42", "--json", f).stdout for _ in range(2))
    assert a1 == a2 and json.loads(a1)["robust"]["seed"] == 42
    assert "robust (msac, seed 1): 24 of 40 pairs kept" in corre("helmert3d", "--robust", "msac", "--threshold", "0.1", f).stdout
    for args, mensaje in ((["--robust", "msac"], "needs --threshold"), (["--robust", "lmeds", "--threshold", "1"], "unknown --robust"),
                          (["--threshold", "1"], "only with --robust"), (["--robust", "msac", "--threshold", "-1"], "positive distance"),
                          (["--robust", "msac", "--threshold", "1", "--snoop"], "replaces --snoop"),
                          (["--robust", "msac", "--threshold", "1", "--seed", "x"], "--seed takes"),
                          (["--robust", "msac", "--threshold", "1", "--described"], "does not combine")):
        assert mensaje in corre("helmert3d", *args, f, estado=2).stderr, args


grupos = {"estadisticas": estadisticas, "inclinado": inclinado, "flotante": flotante, "snooping": snooping, "aplica": aplica,
          "degenerados": degenerados, "texto": texto, "perdida": perdida, "disposicion": disposicion, "registros": registros,
          "no_finitos": no_finitos, "mensajes": mensajes, "readme": readme, "flujo": flujo, "espejo": espejo,
          "listas": listas, "columnas": columnas, "imagen": imagen, "unidades": unidades, "precision": precision,
          "robusto": robusto, "memoria": lambda: memoria(float(sys.argv[4]) if len(sys.argv) > 4 else 50)}
grupos[GRUPO]()
