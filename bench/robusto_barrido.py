#!/usr/bin/python3
"""The breakdown sweep of the robust fits, seeded: for each model, pair count and share of
blunders (uniform 0.5–100 m on good pairs of 1 cm noise), TRIALS sets; a trial is good when the
image of the good points' centroid lies within 3σ of the true one (σ propagated from the fit,
apply(precision=True)), and clean when no good pair is left out. The threshold is family-wise:
the |v| that any good pair of the n exceeds with probability 0.05 (the library's default, √χ²
at 0.99 a pair, leaves out one good pair in a hundred). Data snooping alone (--snoop-alpha 0.05)
on the same sets beside it.

    PYTHONPATH=python /usr/bin/python3 bench/robusto_barrido.py [TRIALS]
"""
import math
import sys
import warnings

import numpy as np

import orienta

MODELOS = {"helmert3d": (orienta.helmert3d, 3), "helmert2d": (orienta.helmert2d, 2),
           "affine2d": (orienta.affine2d, 2)}


def conjunto(rng, dim, n, fraccion, juntos=False):
    S = rng.uniform(-500, 500, (n, dim)) + [2e5, 1e5, 0][:dim]
    a = rng.uniform(-np.pi, np.pi)
    c, s = np.cos(a), np.sin(a)
    R = np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]])[:dim, :dim]
    verdad = lambda P: P @ R.T * 1.0001 + [4e5, 4.5e6, 100][:dim]  # noqa: E731
    T = verdad(S) + rng.normal(0, 0.01, (n, dim))
    malos = rng.permutation(n)[:int(round(fraccion * n))]
    d = rng.normal(size=(len(malos), dim))
    if juntos:  # one shift for all: blunders that mask each other (a block matched to the wrong place)
        T[malos] += d[0] / np.linalg.norm(d[0]) * 5.0
    else:
        T[malos] += d / np.linalg.norm(d, axis=1, keepdims=True) * rng.uniform(0.5, 100, (len(malos), 1))
    buenos = np.ones(n, bool)
    buenos[malos] = False
    return S, T, buenos, verdad


def cola_chi2(x, dim):
    """P(χ²(dim) > x) for dim 2 and 3."""
    if dim == 2:
        return math.exp(-x / 2)
    return math.erfc(math.sqrt(x / 2)) + math.sqrt(2 * x / math.pi) * math.exp(-x / 2)


def umbral_familiar(n, dim, alfa=0.05):
    bajo, alto = 0.0, 400.0
    for _ in range(100):
        medio = 0.5 * (bajo + alto)
        bajo, alto = (medio, alto) if cola_chi2(medio, dim) > alfa / n else (bajo, medio)
    return math.sqrt(alto)


def juzga(fit, S, buenos, verdad, fuera):
    c = S[buenos].mean(axis=0)
    y, C = fit.apply(c, precision=True)
    z = np.abs(y - verdad(c)) / np.sqrt(np.diag(C))
    return bool(np.all(z <= 3)), not np.any(fuera & buenos)


def main():
    ensayos = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    print(f"{ensayos} seeded trials each; good: the good centroid's image within 3 sigma of the truth; "
          "clean: no good pair left out")
    print("| model | n | blunders | msac good | msac clean | snooping good | snooping clean |")
    print("|---|---|---|---|---|---|---|")
    casos = [(nombre, n, f, False) for nombre in MODELOS for n in (20, 100, 1000) for f in (0.0, 0.2, 0.4, 0.6)]
    casos += [(nombre, 100, f, True) for nombre in MODELOS for f in (0.2, 0.4)]
    for nombre, n, fraccion, juntos in casos:
        ajusta, dim = MODELOS[nombre]
        if True:
            if True:
                rng = np.random.default_rng([n, int(100 * fraccion), int(juntos), len(nombre)])
                cuenta = np.zeros(4)
                for k in range(ensayos):
                    S, T, buenos, verdad = conjunto(rng, dim, n, fraccion, juntos)
                    sigma = np.full(n, 0.01)
                    fit = ajusta(S, T, sigma=sigma, robust="msac", seed=k, threshold=0.01 * umbral_familiar(n, dim))
                    cuenta[:2] += juzga(fit, S, buenos, verdad, ~fit.inliers)
                    with warnings.catch_warnings():
                        warnings.simplefilter("ignore")
                        try:
                            sn = ajusta(S, T, sigma=sigma, snoop=orienta.sidak_threshold(0.05, n * dim))
                            cuenta[2:] += juzga(sn, S, buenos, verdad, sn.excluded)
                        except orienta.FitError:
                            pass
                p = 100 * cuenta / ensayos
                print(f"| {nombre} | {n} | {fraccion:.0%}{' one shift' if juntos else ''} | {p[0]:.1f} % | {p[1]:.1f} % | {p[2]:.1f} % | {p[3]:.1f} % |")
                sys.stdout.flush()


if __name__ == "__main__":
    main()
