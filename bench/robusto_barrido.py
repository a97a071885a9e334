#!/usr/bin/python3
"""The breakdown sweep of the robust fits, seeded: for each model, pair count and share of
blunders (uniform 0.5–100 m on good pairs of 1 cm noise), TRIALS sets. A trial is good when the
fitted transformation lies within 3σ of the true one: the Mahalanobis distance of its parameter
error (against the parameters fitted to the noise-free pairs) under the fit's cofactors Q (σ
given, a priori: the covariance over σ0²) inside the region that holds 99.73 % of a normal error,
as ±3σ does in one dimension; an exact estimator is good in 99.73 % of the trials. A trial is
clean when no good pair is left out. The threshold is family-wise: the |v| that any good pair of
the n exceeds with probability ALPHA (at the default 0.01 the library's own default threshold from
σ is used, which is that rule). Data snooping alone (--snoop-alpha ALPHA) on the same sets beside
it, over at most 200 of them at n = 10⁴ (each exclusion costs it one pass). Pair counts and model
names after ALPHA narrow the sweep.

    PYTHONPATH=python /usr/bin/python3 bench/robusto_barrido.py [TRIALS [ALPHA [N | MODEL ...]]]
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


def cola_gamma(a, x):
    """The regularized upper incomplete gamma Q(a, x), by its series (x here stays below ~60)."""
    if x <= 0:
        return 1.0
    termino = suma = 1.0 / a
    k = 0
    while termino > 1e-17 * suma:
        k += 1
        termino *= x / (a + k)
        suma += termino
    return 1.0 - math.exp(a * math.log(x) - x - math.lgamma(a)) * suma


def umbral_familiar(n, dim, alfa=0.05):
    bajo, alto = 0.0, 400.0
    for _ in range(100):
        medio = 0.5 * (bajo + alto)
        bajo, alto = (medio, alto) if cola_gamma(dim / 2, medio / 2) > alfa / n else (bajo, medio)
    return math.sqrt(alto)


def cuantil_chi2(p, u):
    """x with P(χ²(u) ≤ x) = p, by bisection."""
    bajo, alto = 0.0, 200.0
    for _ in range(200):
        medio = 0.5 * (bajo + alto)
        bajo, alto = (medio, alto) if 1.0 - cola_gamma(u / 2, medio / 2) < p else (bajo, medio)
    return alto


TRES_SIGMA = math.erf(3 / math.sqrt(2))  # 0.9973: the share of a normal error within ±3σ


def lineal(nombre, psi):
    """The linear part of the map from its parameters after the translation (angles and scale, or
    the affine's matrix)."""
    if nombre == "affine2d":
        return np.reshape(psi, (2, 2))
    if nombre == "helmert2d":
        a, s = psi
        return s * np.array([[np.cos(a), -np.sin(a)], [np.sin(a), np.cos(a)]])
    w, p, k, s = psi
    X = np.array([[1, 0, 0], [0, np.cos(w), -np.sin(w)], [0, np.sin(w), np.cos(w)]])
    Y = np.array([[np.cos(p), 0, np.sin(p)], [0, 1, 0], [-np.sin(p), 0, np.cos(p)]])
    Z = np.array([[np.cos(k), -np.sin(k), 0], [np.sin(k), np.cos(k), 0], [0, 0, 1]])
    return s * Z @ Y @ X


def juzga(nombre, fit, cierto, c, buenos, fuera):
    # The parameters taken about the good sources' centroid c: the image of c and the linear
    # part. At the origin, ~10⁵ m away, the translation carries the square of the angle's error
    # times that lever, which the linear covariance cannot describe with three or twenty pairs;
    # about c the error is as linear as the fit's own statistics assume.
    d = fit.dim
    e = fit.parameters - cierto.parameters
    for k, nombre_p in enumerate(fit.parameter_names):
        if nombre_p in ("omega", "phi", "kappa", "rotation"):
            e[k] = math.remainder(e[k], 2 * math.pi)
    e[:d] = fit.apply(c) - cierto.apply(c)
    psi = fit.parameters[d:]
    G = np.eye(len(e))
    for k in range(len(psi)):
        h = np.zeros(len(psi))
        h[k] = 1e-7 * max(1.0, abs(psi[k]))
        G[:d, d + k] = (lineal(nombre, psi + h) @ c - lineal(nombre, psi - h) @ c) / (2 * h[k])
    Q = G @ (fit.covariance / fit.sigma0 ** 2) @ G.T
    m2 = float(e @ np.linalg.solve(Q, e))
    return m2 <= cuantil_chi2(TRES_SIGMA, len(e)), not np.any(fuera & buenos)


def main():
    ensayos = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    alfa = float(sys.argv[2]) if len(sys.argv) > 2 else 0.01
    tallas = [int(x) for x in sys.argv[3:] if x.isdigit()] or [3, 20, 100, 1000, 10000]
    modelos = [x for x in sys.argv[3:] if not x.isdigit()] or list(MODELOS)
    ensayos_depuracion = 200
    print(f"{ensayos} seeded trials each (snooping at n = 10^4: {min(ensayos, ensayos_depuracion)}), alpha {alfa}; "
          "good: the transformation within 3 sigma of the truth; clean: no good pair left out")
    print("| model | n | blunders | msac good | msac clean | snooping good | snooping clean |")
    print("|---|---|---|---|---|---|---|")
    casos = []
    for nombre in modelos:
        for n in tallas:
            # Three pairs leave a 3D similarity or an affine two redundant coordinates (or none):
            # a blunder among them has nothing to be told from, so only the clean set is run.
            for f in ((0.0,) if n < 10 else (0.0, 0.2, 0.4, 0.6)):
                if n == 3 and nombre == "affine2d":
                    continue
                casos.append((nombre, n, f, False))
    casos += [(nombre, 100, f, True) for nombre in modelos for f in (0.2, 0.4)]
    for nombre, n, fraccion, juntos in casos:
        ajusta, dim = MODELOS[nombre]
        rng = np.random.default_rng([n, int(100 * fraccion), int(juntos), len(nombre)])
        cuenta, hechos = np.zeros(4), np.zeros(4)
        umbral = None if alfa == 0.01 else 0.01 * umbral_familiar(n, dim, alfa)
        for k in range(ensayos):
            S, T, buenos, verdad = conjunto(rng, dim, n, fraccion, juntos)
            sigma = np.full(n, 0.01)
            cierto = ajusta(S, verdad(S))
            fit = ajusta(S, T, sigma=sigma, robust="msac", seed=k, threshold=umbral)
            cuenta[:2] += juzga(nombre, fit, cierto, S[buenos].mean(axis=0), buenos, ~fit.inliers)
            hechos[:2] += 1
            if n >= 10000 and k >= ensayos_depuracion:
                continue
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                try:
                    sn = ajusta(S, T, sigma=sigma, snoop=orienta.sidak_threshold(alfa, n * dim))
                    cuenta[2:] += juzga(nombre, sn, cierto, S[buenos].mean(axis=0), buenos, sn.excluded)
                except orienta.FitError:
                    pass
            hechos[2:] += 1
        p = 100 * cuenta / hechos
        print(f"| {nombre} | {n} | {fraccion:.0%}{' one shift' if juntos else ''} | {p[0]:.1f} % | {p[1]:.1f} % "
              f"| {p[2]:.1f} % | {p[3]:.1f} % |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
