#!/usr/bin/python3
"""How far the fits are from the weighted least-squares optimum, computed independently in long
double: every model, every weighting (none, one σ, σ per pair, plan and height σ), with and without
data snooping, on projected coordinates (sources near 5·10⁵, 4.5·10⁶ m, targets 4·10⁵ m further).

The reference is a Gauss–Newton in long double (x87's 64-bit significand) from the fit's own
result, on the pairs the fit kept, each step solved by Householder QR of the weighted Jacobian
(never the normal equations), the points centred on their centroid first; the rotation is
updated by a rotation vector, so no angle convention enters. Reported, worst over the cases:
the scale (relative), the rotation (largest entry of ΔR, in radians), the translation at the
origin (metres) for the similarities and the affine, the images at the points for all.

    PYTHONPATH=python /usr/bin/python3 bench/exactitud.py [CASES]
"""
import sys
import warnings

import numpy as np

import orienta

L = np.longdouble


def minimos_cuadrados(A, b):
    """min ‖A·x − b‖ by Householder QR, in the arrays' precision."""
    A, b = A.copy(), b.copy()
    m, u = A.shape
    for k in range(u):
        v = A[k:, k].copy()
        nv = np.sqrt(np.sum(v * v))
        if nv == 0:
            continue
        v[0] += np.copysign(nv, v[0])
        v /= np.sqrt(np.sum(v * v))
        A[k:, k:] -= 2 * np.outer(v, v @ A[k:, k:])
        b[k:] -= 2 * v * (v @ b[k:])
    x = np.zeros(u, dtype=A.dtype)
    for k in reversed(range(u)):
        x[k] = (b[k] - A[k, k + 1:] @ x[k + 1:]) / A[k, k]
    return x


def cruz(a):
    """[a]× for each row of a: (n, 3, 3)."""
    z = np.zeros(len(a), dtype=a.dtype)
    return np.stack([np.stack([z, -a[:, 2], a[:, 1]], -1), np.stack([a[:, 2], z, -a[:, 0]], -1),
                     np.stack([-a[:, 1], a[:, 0], z], -1)], 1)


def gira(R, d):
    """R·exp([d]×), the series to third order (the steps here are below 1e-12 rad)."""
    K = cruz(d[None, :])[0]
    return R @ (np.eye(3, dtype=L) + K + K @ K / 2 + K @ K @ K / 6)


def monomios(a, orden):
    x, y = a[:, 0], a[:, 1]
    t = [np.ones_like(x), x, y]
    if orden >= 2:
        t += [x * x, x * y, y * y]
    if orden >= 3:
        t += [x * x * x, x * x * y, x * y * y, y * y * y]
    return np.stack(t, 1)


class Referencia:
    """The optimum of one model over pairs S → T with weights P (n, dim), in long double."""

    def __init__(self, modelo, fit, S, T, P):
        self.modelo, self.S, self.P = modelo, S.astype(L), P.astype(L)
        # Both sides centred: a residual formed at 4.5·10⁶ m would carry long double's rounding
        # there, 2.5e-13 m, into every step (3e-16 rad over a site of a kilometre).
        self.c, self.cT = np.mean(self.S, axis=0), np.mean(T.astype(L), axis=0)
        self.T = T.astype(L) - self.cT
        self.d = S.shape[1]
        a = self.S - self.c
        if modelo in ("affine2d", "poly2d2", "poly2d3"):
            # Linear in the parameters: one weighted QR, coordinate by coordinate, in units of
            # the site's spread so that the cubic's columns stay alike.
            self.escala_a = L(np.max(np.abs(a)))
            orden = {"affine2d": 1, "poly2d2": 2, "poly2d3": 3}[modelo]
            M = monomios(a / self.escala_a, orden)
            self.coef = [minimos_cuadrados(M * np.sqrt(self.P[:, k])[:, None], self.T[:, k] * np.sqrt(self.P[:, k]))
                         for k in range(2)]
            self.orden = orden
            return
        # Similarities: y = t + s·R·(x − c), from the fit's own result, rotated by vectors.
        # The double start made orthonormal in long double (Newton–Schulz), or its 1e-16 of
        # skew would stay in every rotation the steps give.
        self.R = fit.rotation.astype(L)
        for _ in range(3):
            self.R = self.R @ (3 * np.eye(self.d, dtype=L) - self.R.T @ self.R) / 2
        self.s = L(fit.scale) if modelo != "rigid3d" else L(1)
        self.t = fit.apply(self.c.astype(np.float64)).astype(L) - self.cT
        for _ in range(6):
            if self.paso(a) < 1e-30:
                break

    def paso(self, a):
        n, d = a.shape
        Ra = a @ self.R.T
        r = (self.t + self.s * Ra - self.T).reshape(-1)
        cols = [np.tile(np.eye(d, dtype=L), (n, 1))]
        if d == 3:
            cols.append((-self.s * (self.R @ cruz(a))).reshape(n * 3, 3))
        else:
            cols.append((self.s * Ra @ np.array([[0, 1], [-1, 0]], dtype=L)).reshape(-1, 1))
        if self.modelo != "rigid3d":
            cols.append(Ra.reshape(-1, 1))
        J = np.concatenate(cols, 1)
        w = np.sqrt(self.P.reshape(-1))
        x = minimos_cuadrados(J * w[:, None], -r * w)
        self.t = self.t + x[:d]
        if d == 3:
            self.R = gira(self.R, x[3:6])
        else:
            c, s = np.cos(x[2]), np.sin(x[2])
            self.R = self.R @ np.array([[c, -s], [s, c]], dtype=L)
        if self.modelo != "rigid3d":
            self.s = self.s + x[-1]
        return float(np.max(np.abs(x[d:]))) if len(x) > d else 0.0

    def imagen(self, X):
        a = X.astype(L) - self.c
        if hasattr(self, "coef"):
            M = monomios(a / self.escala_a, self.orden)
            return np.stack([M @ self.coef[0], M @ self.coef[1]], 1) + self.cT
        return self.t + self.s * a @ self.R.T + self.cT

    def matriz(self):
        """The affine's matrix."""
        return np.stack([self.coef[0][1:3], self.coef[1][1:3]]) / self.escala_a


MODELOS = {"helmert3d": (orienta.helmert3d, 3, 3), "rigid3d": (orienta.rigid3d, 3, 3),
           "helmert2d": (orienta.helmert2d, 2, 2), "affine2d": (orienta.affine2d, 2, 3),
           "poly2d2": (lambda S, T, **k: orienta.poly2d(S, T, 2, **k), 2, 6),
           "poly2d3": (lambda S, T, **k: orienta.poly2d(S, T, 3, **k), 2, 10)}


def giro3(w, p, k):
    X = np.array([[1, 0, 0], [0, np.cos(w), -np.sin(w)], [0, np.sin(w), np.cos(w)]])
    Y = np.array([[np.cos(p), 0, np.sin(p)], [0, 1, 0], [-np.sin(p), 0, np.cos(p)]])
    Z = np.array([[np.cos(k), -np.sin(k), 0], [np.sin(k), np.cos(k), 0], [0, 0, 1]])
    return Z @ Y @ X


def caso(rng, modelo, dim, n, pesos, depura):
    S = rng.uniform(-800, 800, (n, dim)) + [5e5, 4.5e6, 300][:dim]
    a, b, k = rng.uniform(-np.pi, np.pi, 3)
    R = giro3(a, b / 2, k) if dim == 3 else np.array([[np.cos(a), -np.sin(a)], [np.sin(a), np.cos(a)]])
    s = 1.0 if modelo == "rigid3d" else 1 + rng.uniform(-1e-4, 1e-4)
    c = S.mean(axis=0)
    T = (S - c) @ R.T * s + c + [4e5, 4e5, 50][:dim]
    if modelo.startswith("poly"):
        T[:, 0] += 1e-7 * (S[:, 1] - c[1]) ** 2
        T[:, 1] += 1e-10 * (S[:, 0] - c[0]) ** 3
    sig = {"none": None, "one": 0.01, "per pair": rng.uniform(0.005, 0.03, n),
           "plan and height": np.column_stack([rng.uniform(0.005, 0.02, n), rng.uniform(0.01, 0.05, n)])}[pesos]
    if sig is None:
        P = np.ones((n, dim))
        ruido = np.full((n, 1), 0.01)
    elif np.ndim(sig) == 0:
        P, ruido = np.full((n, dim), sig ** -2), np.full((n, 1), sig)
    elif np.ndim(sig) == 1:
        P, ruido = np.repeat(sig[:, None] ** -2, dim, 1), sig[:, None]
    else:
        P = np.column_stack([sig[:, 0], sig[:, 0], sig[:, 1]]) ** -2
        ruido = np.column_stack([sig[:, 0], sig[:, 0], sig[:, 1]])
    T = T + rng.normal(size=(n, dim)) * ruido
    if depura:
        T[rng.integers(n), 0] += 0.5
    return S, T, sig, P


def main():
    casos = int(sys.argv[1]) if len(sys.argv) > 1 else 40
    rng = np.random.default_rng(24)
    print(f"{casos} random cases of 3-20 pairs above each model's minimum and one of 1000, per row; worst "
          "deviation from the long-double optimum")
    print("| model | weights | snooping | scale | rotation (matrix) | translation at the origin | images |")
    print("|---|---|---|---|---|---|---|")
    for modelo, (ajusta, dim, minimo) in MODELOS.items():
        for pesos in ("none", "one", "per pair") + (("plan and height",) if dim == 3 else ()):
            for depura in (False, True):
                peor = np.zeros(4)
                for j in range(casos + 1):
                    n = 1000 if j == casos else minimo + int(rng.integers(1 if not depura else 3, 21))
                    S, T, sig, P = caso(rng, modelo, dim, n, pesos, depura)
                    with warnings.catch_warnings():
                        warnings.simplefilter("ignore")
                        try:
                            fit = ajusta(S, T, sigma=sig, snoop=True if depura else None)
                        except orienta.FitError:
                            continue
                    dentro = ~fit.excluded
                    ref = Referencia(modelo, fit, S[dentro], T[dentro], P[dentro])
                    if modelo in ("helmert3d", "rigid3d", "helmert2d"):
                        peor[0] = max(peor[0], abs(float(L(fit.scale) / ref.s - 1)))
                        peor[1] = max(peor[1], float(np.max(np.abs(fit.rotation.astype(L) - ref.R))))
                    elif modelo == "affine2d":
                        peor[1] = max(peor[1], float(np.max(np.abs(fit.matrix.astype(L) - ref.matriz()))))
                    if not modelo.startswith("poly"):
                        t0 = ref.imagen(np.zeros((1, dim)))[0]
                        peor[2] = max(peor[2], float(np.max(np.abs(fit.translation.astype(L) - t0))))
                    peor[3] = max(peor[3], float(np.max(np.abs(fit.apply(S[dentro]).astype(L) - ref.imagen(S[dentro])))))
                f = [f"{x:.1e}" for x in peor]
                if modelo not in ("helmert3d", "rigid3d", "helmert2d"):
                    f[0] = "-"
                if modelo.startswith("poly"):
                    f[1] = f[2] = "-"
                metros = [x if x == "-" else x + " m" for x in f[2:]]
                print(f"| {modelo} | {pesos} | {'yes' if depura else 'no'} | {f[0]} | {f[1]} | {metros[0]} | {metros[1]} |")
                sys.stdout.flush()


if __name__ == "__main__":
    main()
