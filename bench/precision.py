#!/usr/bin/python3
"""The precision of transformed points against plain apply, side by side in one run: each model's
fit applied to n points with and without precision=True (each image's covariance, dim × dim, on
top of the image), into fresh arrays as a user calls it, and into arrays reused from call to call
(out=, covariance_out=) as a caller applying block after block does: the library's own cost.

    PYTHONPATH=python /usr/bin/python3 bench/precision.py [N ...]

Medians of 15 repetitions, interleaved. The last column is the floor under the fresh covariances:
a fresh (n, dim, dim) array filled with one value, its page faults and its writes and nothing else
(at 10⁶ points in 3D, 72 MB: past the size the allocator keeps for reuse, so every call maps and
faults it anew).
"""
import sys

import numpy as np

import orienta
from medianas import medianas  # bench/, the script's own folder


def main():
    tallas = [int(x) for x in sys.argv[1:]] or [10**5, 10**6]
    rng = np.random.default_rng(1)
    S3 = rng.uniform(-1000, 1000, (200, 3)) + [2e5, 0, 0]
    T3 = S3 @ np.array([[0, -1, 0], [1, 0, 0], [0, 0, 1.0]]).T * 1.0002 + [5e5, 4.5e6, 300] + rng.normal(0, 0.01, (200, 3))
    ajustes = {"helmert3d": orienta.helmert3d(S3, T3), "affine2d": orienta.affine2d(S3[:, :2], T3[:, :2]),
               "poly2d order 3": orienta.poly2d(S3[:, :2], T3[:, :2], 3)}
    print("| model | n | apply | apply(precision=True) | ratio | reused arrays: apply | with precision | ratio "
          "| fresh (n, dim, dim) filled |")
    print("|---|---|---|---|---|---|---|---|---|")
    for nombre, fit in ajustes.items():
        for n in tallas:
            P = rng.uniform(-1000, 1000, (n, fit.dim)) + S3[0, :fit.dim]
            Y, C = np.empty_like(P), np.empty((n, fit.dim, fit.dim))
            m = medianas({"plano": lambda: fit.apply(P), "precision": lambda: fit.apply(P, precision=True),
                          "plano_r": lambda: fit.apply(P, out=Y),
                          "precision_r": lambda: fit.apply(P, out=Y, precision=True, covariance_out=C),
                          "suelo": lambda: np.empty((n, fit.dim, fit.dim)).fill(0.0)})
            print(f"| {nombre} | {n} | {m['plano'] * 1e3:.1f} ms | {m['precision'] * 1e3:.1f} ms "
                  f"| {m['precision'] / m['plano']:.2f} | {m['plano_r'] * 1e3:.1f} ms | {m['precision_r'] * 1e3:.1f} ms "
                  f"| {m['precision_r'] / m['plano_r']:.2f} | {m['suelo'] * 1e3:.1f} ms |")

if __name__ == "__main__":
    main()
