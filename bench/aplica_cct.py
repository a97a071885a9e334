#!/usr/bin/python3
"""`orienta apply` against PROJ's `cct` with a helmert step, on the same file of 10⁶ points.

    bench/aplica_cct.py [ORIENTA] [N]

ORIENTA defaults to build/rel/tools/orienta/orienta. The transform is the bundled 3D fit; cct gets
the same translation, angles and scale as a seven-parameter helmert step (the operation count is
what matters, not the sign conventions). Each tool runs five times, alternating, output to
/dev/null; the medians of their CPU times (user + system) and their ratio are printed.
Needs Debian's proj-bin."""
import json, os, random, resource, statistics, subprocess, sys, tempfile

raiz = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
orienta = sys.argv[1] if len(sys.argv) > 1 else os.path.join(raiz, "build/rel/tools/orienta/orienta")
n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000

with tempfile.TemporaryDirectory() as tmp:
    doc = json.loads(subprocess.run([orienta, "demo", "--json", "--units", "deg"], capture_output=True, check=True).stdout)
    h = doc["helmert3d"]
    transformacion = os.path.join(tmp, "t.json")
    with open(transformacion, "w") as f:
        json.dump(h, f)
    puntos = os.path.join(tmp, "puntos.txt")
    rnd = random.Random(1)
    with open(puntos, "w") as f:
        for _ in range(n):
            f.write(f"{rnd.uniform(0, 500):.4f} {rnd.uniform(0, 500):.4f} {rnd.uniform(90, 120):.4f}\n")
    segundos = lambda g: g * 3600.0
    paso = ["+proj=helmert", f"+x={h['translation'][0]}", f"+y={h['translation'][1]}", f"+z={h['translation'][2]}",
            f"+rx={segundos(h['omega'])}", f"+ry={segundos(h['phi'])}", f"+rz={segundos(h['kappa'])}",
            f"+s={h['scale_ppm']}", "+convention=position_vector"]
    ordenes = {"orienta apply": [orienta, "apply", transformacion, puntos], "cct helmert": ["cct", *paso, puntos]}

    def cpu(orden):
        antes = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run(orden, stdout=subprocess.DEVNULL, check=True)
        despues = resource.getrusage(resource.RUSAGE_CHILDREN)
        return (despues.ru_utime - antes.ru_utime) + (despues.ru_stime - antes.ru_stime)

    tiempos = {k: [] for k in ordenes}
    for _ in range(5):
        for k, orden in ordenes.items():
            tiempos[k].append(cpu(orden))
    medianas = {k: statistics.median(v) for k, v in tiempos.items()}
    for k, m in medianas.items():
        print(f"{k:14s} median CPU {m:.3f} s over {n} points")
    print(f"ratio orienta apply / cct helmert: {medianas['orienta apply'] / medianas['cct helmert']:.3f}")
