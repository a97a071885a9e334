#!/usr/bin/python3
"""Python's 3D and 2D similarity fits side by side in one run with what a numpy user would write instead
(Umeyama's SVD on centred arrays, the scale from the singular values), at several n; and the fit
on dask arrays of a point set split into blocks, against the same fit in one process.

    PYTHONPATH=python /usr/bin/python3 bench/python_ajuste.py [N ...]

Medians of 15 interleaved repetitions (5 for the dask run). orienta's time includes σ0, the
parameter covariance and the global test; numpy's gives the transformation alone.
"""
import sys

import numpy as np

import orienta
from medianas import medianas  # bench/, the script's own folder


def umeyama(S, T):
    cs, ct = S.mean(axis=0), T.mean(axis=0)
    a, b = S - cs, T - ct
    U, d, Vt = np.linalg.svd(b.T @ a)
    e = np.ones(S.shape[1])
    e[-1] = np.sign(np.linalg.det(U) * np.linalg.det(Vt))
    R = (U * e) @ Vt
    s = (d * e).sum() / (a * a).sum()
    return R, s, ct - s * R @ cs


def nube(n, rng):
    S = rng.uniform(-1000, 1000, (n, 3)) + [5e5, 4.5e6, 300]
    g = np.array([[0.0, -1, 0], [1, 0, 0], [0, 0, 1]])
    return S, S @ g.T * 1.0002 + [12.5, -7.25, 3.0] + rng.normal(0, 0.01, (n, 3))


def main():
    tallas = [int(x) for x in sys.argv[1:]] or [100, 10**3, 10**5, 10**6]
    rng = np.random.default_rng(1)
    for dim, ajuste in ((3, orienta.helmert3d), (2, orienta.helmert2d)):
        print(f"\n| n | orienta.helmert{dim}d | numpy Umeyama {dim}D | numpy / orienta | max |ΔR| |")
        print("|---|---|---|---|---|")
        for n in tallas:
            S, T = nube(n, rng)
            S, T = np.ascontiguousarray(S[:, :dim]), np.ascontiguousarray(T[:, :dim])
            t = medianas({"orienta": lambda: ajuste(S, T), "numpy": lambda: umeyama(S, T)})
            dR = np.max(abs(ajuste(S, T).rotation[:dim, :dim] - umeyama(S, T)[0]))
            print(f"| {n:,} | {t['orienta'] * 1e6:,.0f} µs | {t['numpy'] * 1e6:,.0f} µs | "
                  f"{t['numpy'] / t['orienta']:.2f} | {dR:.1e} |")
    # Data snooping at scale: 10⁶ pairs, 100 planted blunders of 0.5–2 m, the family-wise threshold.
    n = 10**6
    S, T = nube(n, rng)
    malos = rng.choice(n, 100, replace=False)
    T[malos, 0] += rng.choice([-1, 1], 100) * rng.uniform(0.5, 2, 100)
    k = orienta.sidak_threshold(0.05, 3 * n)
    t = medianas({"fit": lambda: orienta.helmert3d(S, T), "snoop": lambda: orienta.helmert3d(S, T, snoop=k)}, 5)
    h = orienta.helmert3d(S, T, snoop=k)
    print(f"\n{n:,} pairs, 100 blunders: snooping at {k:.2f} {t['snoop']:.3f} s, {t['snoop'] / t['fit']:.1f}× the plain fit; "
          f"{h.excluded_count} excluded, the 100 among them: {set(malos) <= set(np.flatnonzero(h.excluded))}")
    try:
        import dask
        import dask.array as da
        from orienta import dask as od
    except ImportError:
        return
    n = 4 * 10**6
    S, T = nube(n, rng)
    dS, dT = da.from_array(S, chunks=(500_000, 3)), da.from_array(T, chunks=(500_000, 3))
    with dask.config.set(scheduler="threads"):
        t = medianas({"uno": lambda: orienta.helmert3d(S, T), "dask": lambda: od.helmert3d(dS, dT)}, 5)
        f, g = orienta.helmert3d(S, T), od.helmert3d(dS, dT)
    print(f"\n{n:,} pairs in 8 blocks, dask's threaded scheduler: {t['dask']:.3f} s against {t['uno']:.3f} s "
          f"in one call; the maps differ by {np.max(abs(f.apply(S) - g.apply(S))):.1e} m at the points")


if __name__ == "__main__":
    main()
