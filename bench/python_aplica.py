#!/usr/bin/python3
"""Python's `Transformation.apply` on (n, 3) float64 points, side by side in one run with what a
numpy user would write instead (`P @ M.T + T`) and with copying the array (`np.copyto`), the
floor for anything that writes n×3 fresh doubles.

    PYTHONPATH=python /usr/bin/python3 bench/python_aplica.py [N ...]

Medians of 15 repetitions, interleaved; ratios against np.copyto into a fresh array and into a
preallocated one. Reading the timings: apply into a fresh array pays the page faults of the new
memory, as numpy does; apply(out=...) into memory already touched does not.
"""
import sys

import numpy as np

import orienta
from medianas import medianas  # bench/, the script's own folder


def main():
    tallas = [int(x) for x in sys.argv[1:]] or [10**5, 5 * 10**6]
    rng = np.random.default_rng(1)
    S = rng.uniform(-1000, 1000, (200, 3))
    fit = orienta.helmert3d(S, S @ np.array([[0, -1, 0], [1, 0, 0], [0, 0, 1.0]]).T * 1.0002 + [5e5, 4.5e6, 300])
    M, T = fit.matrix, fit.translation
    print("| n | apply / copyto (fresh) | apply(out=) / copyto(out=) | P @ M.T + T / apply |")
    print("|---|---|---|---|")
    for n in tallas:
        P = rng.uniform(-1000, 1000, (n, 3)) + [5e5, 4.5e6, 300]
        destino = np.empty_like(P)
        m = medianas({
            "apply": lambda: fit.apply(P),
            "apply_out": lambda: fit.apply(P, out=destino),
            "copyto": lambda: np.copyto(np.empty_like(P), P),
            "copyto_out": lambda: np.copyto(destino, P),
            "numpy": lambda: P @ M.T + T,
        })
        print(f"| {n} | {m['apply'] / m['copyto']:.2f} | {m['apply_out'] / m['copyto_out']:.2f} "
              f"| {m['numpy'] / m['apply']:.2f} |")


if __name__ == "__main__":
    main()
