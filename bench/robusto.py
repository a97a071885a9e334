#!/usr/bin/python3
"""orienta's robust fits (orienta_robusto, through ctypes) side by side with OpenCV's RANSAC
estimators on the same pairs: 1000 pairs, half of them moved 0.5–100 m in a random direction,
centimetre noise on the rest.

    /usr/bin/python3 bench/robusto.py [liborienta.so] [repetitions]

Each repetition draws a new set; every method runs once on it, interleaved, so a change in the
load of the machine falls on all alike. The table gives medians over the repetitions of the time,
of the RMS distance between the fitted and the true images of the good sources (the accuracy a
user gets), and of the good pairs rejected and blunders accepted. OpenCV's 3D estimator fits a
general affine map (12 parameters) where orienta fits the similarity, so that row compares the
search, not the model. Coordinates are local (a 2 km site about the origin): OpenCV computes in
single precision in places and projected coordinates of 10⁶ m would cost it its accuracy.
"""
import ctypes as C
import os
import statistics
import sys
import time

import numpy as np

import cv2

HELMERT3D, HELMERT2D, AFIN2D = 1, 2, 3
MSAC, HUBER = 1, 2


class Pares(C.Structure):
    _fields_ = [("origen", C.c_void_p), ("paso_origen", C.c_int64), ("destino", C.c_void_p),
                ("paso_destino", C.c_int64), ("n", C.c_uint32), ("sigma", C.c_void_p),
                ("sigmas_por_par", C.c_int32), ("umbral", C.c_double)]


class Transformacion(C.Structure):
    _fields_ = [("modelo", C.c_int32), ("dim", C.c_int32), ("centro_origen", C.c_double * 3),
                ("centro_destino", C.c_double * 3), ("matriz", C.c_double * 9), ("escala", C.c_double),
                ("rotacion", C.c_double * 9), ("angulos", C.c_double * 3), ("coef_x", C.c_double * 9),
                ("coef_y", C.c_double * 9)]


class Opciones(C.Structure):
    _fields_ = [("metodo", C.c_int32), ("max_iteraciones", C.c_uint32), ("umbral", C.c_double),
                ("confianza", C.c_double), ("semilla", C.c_uint64), ("max_pasos", C.c_uint32),
                ("reservado", C.c_uint32)]


class Info(C.Structure):
    _fields_ = [("iteraciones", C.c_uint32), ("degeneradas", C.c_uint32), ("mejoras_locales", C.c_uint32),
                ("inliers", C.c_uint32), ("iteraciones_irls", C.c_uint32), ("convergido", C.c_int32),
                ("umbral_de_sigma", C.c_int32), ("reservado", C.c_int32), ("umbral", C.c_double),
                ("coste", C.c_double), ("escala", C.c_double), ("cambio", C.c_double)]


def biblioteca(ruta):
    lib = C.CDLL(ruta)
    lib.orienta_robusto.restype = C.c_int32
    lib.orienta_robusto.argtypes = [C.c_int32, C.POINTER(Pares), C.POINTER(Opciones), C.POINTER(Transformacion),
                                    C.c_void_p, C.c_void_p, C.c_void_p, C.c_void_p, C.POINTER(Info)]
    return lib


def orienta(lib, modelo, metodo, S, T, umbral):
    S, T = np.ascontiguousarray(S), np.ascontiguousarray(T)
    d = S.shape[1]
    p = Pares(S.ctypes.data, 8 * d, T.ctypes.data, 8 * d, len(S), None, 1, 0.0)
    op = Opciones(metodo, 0, umbral, 0.999, 1, 0, 0)
    t, info = Transformacion(), Info()
    dentro = np.zeros(len(S), np.uint8)
    st = lib.orienta_robusto(modelo, C.byref(p), C.byref(op), C.byref(t), None, None,
                             dentro.ctypes.data, None, C.byref(info))
    if st != 0:
        raise RuntimeError(f"orienta_robusto: status {st}")
    M = np.array(t.matriz).reshape(3, 3)[:d, :d]
    co, cd = np.array(t.centro_origen)[:d], np.array(t.centro_destino)[:d]
    return (lambda X: cd + (X - co) @ M.T), dentro.astype(bool)


def opencv(funcion, S, T, umbral):
    if funcion is cv2.estimateAffine3D:  # no iteration cap there, and a status first
        _, A, dentro = funcion(S, T, ransacThreshold=umbral, confidence=0.999)
    else:
        A, dentro = funcion(S, T, method=cv2.RANSAC, ransacReprojThreshold=umbral, maxIters=10000,
                            confidence=0.999)
    if A is None:
        raise RuntimeError(f"{funcion.__name__} found no model")
    d = S.shape[1]
    return (lambda X: X @ A[:, :d].T + A[:, d]), dentro.ravel().astype(bool)


def skimage_ransac(modelo, S, T, umbral):
    # scikit-image's ransac with its own similarity or affine transform classes (2D only), the
    # same threshold and trial cap; its model maps the source rows to the target rows.
    from skimage.measure import ransac
    m, dentro = ransac((S, T), modelo, min_samples=2 if modelo.__name__ == "SimilarityTransform" else 3,
                       residual_threshold=umbral, max_trials=10000, stop_probability=0.999, random_state=1)
    if m is None:
        raise RuntimeError("skimage.measure.ransac found no model")
    return (lambda X: m(X)), dentro.astype(bool)


def datos(rng, dim, n=1000, fraccion=0.5):
    S = rng.uniform(-1000, 1000, (n, dim))
    if dim == 3:
        S[:, 2] *= 0.1
        a, b = 0.4, -0.3
        R = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]]) @ \
            np.array([[1, 0, 0], [0, np.cos(b), -np.sin(b)], [0, np.sin(b), np.cos(b)]])
        cierto = lambda X: 1.0002 * X @ R.T + [812.5, -407.25, 33.0]
    else:
        a = 2.1
        R = np.array([[np.cos(a), -np.sin(a)], [np.sin(a), np.cos(a)]])
        cierto = lambda X: 0.99985 * X @ R.T + [512.5, -917.25]
    T = cierto(S) + rng.normal(0, 0.01, (n, dim))
    malo = np.zeros(n, bool)
    malo[rng.choice(n, int(fraccion * n), replace=False)] = True
    u = rng.normal(size=(malo.sum(), dim))
    T[malo] += u / np.linalg.norm(u, axis=1)[:, None] * rng.uniform(0.5, 100, (malo.sum(), 1))
    return S, T, malo, cierto


def main():
    raiz = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ruta = sys.argv[1] if len(sys.argv) > 1 else os.path.join(raiz, "build", "rel", "liborienta.so")
    repeticiones = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    lib = biblioteca(ruta)
    umbral = 0.1  # 10 σ: a good pair always passes it, the smallest blunder never
    grupos = [
        (3, [("orienta MSAC, 3D similarity", lambda S, T: orienta(lib, HELMERT3D, MSAC, S, T, umbral)),
             ("OpenCV estimateAffine3D (affine)", lambda S, T: opencv(cv2.estimateAffine3D, S, T, umbral))]),
        (2, [("orienta MSAC, 2D similarity", lambda S, T: orienta(lib, HELMERT2D, MSAC, S, T, umbral)),
             ("orienta Huber IRLS, 2D similarity", lambda S, T: orienta(lib, HELMERT2D, HUBER, S, T, umbral)),
             ("OpenCV estimateAffinePartial2D", lambda S, T: opencv(cv2.estimateAffinePartial2D, S, T, umbral)),
             ("orienta MSAC, 2D affine", lambda S, T: orienta(lib, AFIN2D, MSAC, S, T, umbral)),
             ("OpenCV estimateAffine2D", lambda S, T: opencv(cv2.estimateAffine2D, S, T, umbral))]),
    ]
    try:
        import skimage.transform as st
        grupos[1][1].extend([
            ("scikit-image ransac, SimilarityTransform", lambda S, T: skimage_ransac(st.SimilarityTransform, S, T, umbral)),
            ("scikit-image ransac, AffineTransform", lambda S, T: skimage_ransac(st.AffineTransform, S, T, umbral))])
    except ImportError:
        print("scikit-image (Debian's python3-skimage) is not installed: its rows are left out")
    rng = np.random.default_rng(2024)
    print(f"1000 pairs, 50 % blunders of 0.5–100 m, σ = 0.01 m, threshold {umbral} m; medians of "
          f"{repeticiones} sets (OpenCV {cv2.__version__})\n")
    print("| method | time | RMS error of the good images | good pairs rejected | blunders accepted |")
    print("|---|---|---|---|---|")
    for dim, metodos in grupos:
        filas = {nombre: ([], [], [], []) for nombre, _ in metodos}
        for _ in range(repeticiones):
            S, T, malo, cierto = datos(rng, dim)
            for nombre, f in metodos:
                t0 = time.perf_counter()
                ajuste, dentro = f(S, T)
                t = time.perf_counter() - t0
                e = np.sqrt(np.mean(np.sum((ajuste(S[~malo]) - cierto(S[~malo])) ** 2, axis=1)))
                fila = filas[nombre]
                fila[0].append(t), fila[1].append(e)
                fila[2].append(int(np.sum(~dentro & ~malo))), fila[3].append(int(np.sum(dentro & malo)))
        for nombre, (t, e, fuera, dentro) in filas.items():
            print(f"| {nombre} | {statistics.median(t) * 1e3:.2f} ms | {statistics.median(e) * 1e3:.2f} mm | "
                  f"{statistics.median(fuera):g} | {statistics.median(dentro):g} |")


if __name__ == "__main__":
    main()
