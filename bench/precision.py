#!/usr/bin/python3
"""The precision of transformed points against plain apply, side by side in one run: each model's
fit applied to n points with and without precision=True (each image's covariance, dim × dim, on
top of the image), into fresh arrays, as a user calls it.

    PYTHONPATH=python /usr/bin/python3 bench/precision.py [N ...]

Medians of 15 repetitions, interleaved.
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
    print("| model | n | apply | apply(precision=True) | ratio |")
    print("|---|---|---|---|---|")
    for nombre, fit in ajustes.items():
        for n in tallas:
            P = rng.uniform(-1000, 1000, (n, fit.dim)) + S3[0, :fit.dim]
            m = medianas({"plano": lambda: fit.apply(P), "precision": lambda: fit.apply(P, precision=True)})
            print(f"| {nombre} | {n} | {m['plano'] * 1e3:.1f} ms | {m['precision'] * 1e3:.1f} ms "
                  f"| {m['precision'] / m['plano']:.2f} |")


if __name__ == "__main__":
    main()
