#!/usr/bin/python3
"""The tool's fit of 10⁶ 3D pairs from a text file against `orienta apply` on the same 10⁶ points,
side by side in one run: wall time (medians of interleaved runs) and each child's peak resident
memory, for the table report, --json, the pairs piped in, data snooping and the plot.

    /usr/bin/python3 bench/herramienta.py build/rel/tools/orienta/orienta [N]

Needs GNU time (Debian's package time) for the peaks.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

from medianas import medianas  # bench/, the script's own folder


def corre(args, entrada=None):
    """Runs the tool once; returns its peak resident memory in MB. GNU time measures it: a child
    forked from this process would start with this process's resident set (numpy and all)."""
    with open(entrada or os.devnull, "rb") as e:
        r = subprocess.run(["/usr/bin/time", "-f", "%M"] + args, stdin=e, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
    assert r.returncode == 0, (args, r.stderr)
    return int(r.stderr.split()[-1]) / 1024


def main():
    orienta = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 10**6
    rng = np.random.default_rng(1)
    S = rng.uniform(-1000, 1000, (n, 3)) + [5e5, 4.5e6, 100]
    a = 0.01
    R = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])
    T = (1 + 2e-6) * S @ R.T + [100, -50, 20] + rng.normal(0, 0.01, (n, 3))
    d = tempfile.mkdtemp()
    pares, puntos, registro = (os.path.join(d, f) for f in ("pares.txt", "puntos.txt", "t.json"))
    ids = np.char.add("P", np.arange(n).astype(str))
    np.savetxt(pares, np.column_stack([ids, np.char.mod("%.4f", np.hstack([S, T]))]), fmt="%s")
    np.savetxt(puntos, np.column_stack([ids, np.char.mod("%.4f", S)]), fmt="%s")
    with open(registro, "w") as f:
        subprocess.run([orienta, "helmert3d", "--json", pares], stdout=f, check=True)
    del S, T, ids
    svg = os.path.join(d, "r.svg")
    casos = {"apply": ([orienta, "apply", registro, puntos], None),
             "helmert3d": ([orienta, "helmert3d", pares], None),
             "helmert3d --json": ([orienta, "helmert3d", "--json", pares], None),
             "helmert3d < pipe": ([orienta, "helmert3d"], pares),
             "helmert3d --json < pipe": ([orienta, "helmert3d", "--json"], pares),
             "helmert3d --snoop": ([orienta, "helmert3d", "--snoop", pares], None),
             "helmert3d --plot": ([orienta, "helmert3d", "--plot", svg, pares], None)}
    picos = {k: 0.0 for k in casos}

    def caso(k):
        def f():
            picos[k] = max(picos[k], corre(*casos[k]))
        return f

    t = medianas({k: caso(k) for k in casos}, 5)
    print(f"{n:,} pairs, {os.path.getsize(pares) / 1e6:.0f} MB of text\n")
    print("| command | wall | / apply | peak |")
    print("|---|---|---|---|")
    for k in casos:
        print(f"| `orienta {k}` | {t[k]:.2f} s | {t[k] / t['apply']:.1f} | {picos[k]:.0f} MB |")


if __name__ == "__main__":
    main()
