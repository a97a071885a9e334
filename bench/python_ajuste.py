#!/usr/bin/python3
"""Python's 3D and 2D similarity fits side by side in one run with what a numpy user would write instead
(Umeyama's SVD on centred arrays, the scale from the singular values), at several n; and the fit
on dask arrays of a point set split into blocks, against the same fit in one process: on dask's
threaded scheduler, then on a LocalCluster of two worker processes that make the pairs chunk by
chunk themselves.

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
    en_cluster(n)


def pico_mb():
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def calienta():
    P = np.random.default_rng(0).uniform(0, 1, (10, 3))
    return orienta.helmert3d(P, P).sigma0


def en_cluster(n, trozo=250_000):
    """The fit on a cluster of two worker processes, the pairs made on the workers chunk by chunk
    (no worker is sent the whole set): parameters and σ0 against the fit of the same pairs in one
    process, and each worker's peak memory over what it held before."""
    import dask
    import dask.array as da
    from dask.distributed import Client, LocalCluster

    from orienta import dask as od
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cl, \
            Client(cl) as c:
        rs = da.random.RandomState(7)
        S = rs.uniform(-1000, 1000, size=(n, 3), chunks=(trozo, 3)) + np.array([5e5, 4.5e6, 300])
        g = np.array([[0.0, -1, 0], [1, 0, 0], [0, 0, 1]])
        T = S @ g.T * 1.0002 + np.array([12.5, -7.25, 3.0]) + rs.normal(0, 0.01, size=(n, 3), chunks=(trozo, 3))
        c.run(calienta)  # each worker loads the library before its peak is read
        antes = c.run(pico_mb)
        f = od.helmert3d(S, T)
        despues = c.run(pico_mb)
        Sn, Tn = dask.compute(S, T)
    h = orienta.helmert3d(Sn, Tn)
    # The translation at the origin carries the scale's and the angles' rounding times the
    # coordinates' 4.5·10⁶ m: it is judged against them, and the map where the points are.
    dt = np.max(abs(f.parameters[:3] - h.parameters[:3]))
    da_ = np.max(abs(f.parameters[3:6] - h.parameters[3:6]))
    ds = abs(f.parameters[6] / h.parameters[6] - 1)
    dmapa = np.max(abs(f.apply(Sn) - h.apply(Sn)))
    chunk_mb = trozo * 3 * 8 * 2 / 2**20
    crece = max(despues[w] - antes[w] for w in despues)
    print(f"\n{n:,} pairs in chunks of {trozo:,} on a LocalCluster of 2 worker processes, against the fit in one "
          f"process: scale {ds:.1e} relative, angles {da_:.1e} rad, sigma0 {abs(f.sigma0 / h.sigma0 - 1):.1e} "
          f"relative, translation at the origin {dt:.1e} m ({dt / np.max(abs(Sn)):.1e} of the coordinates), the maps "
          f"{dmapa:.1e} m apart at the points; the largest worker peak grew {crece:.0f} MB "
          f"({crece / chunk_mb:.1f} chunks of sources and targets, {chunk_mb:.0f} MB each)")


if __name__ == "__main__":
    main()
