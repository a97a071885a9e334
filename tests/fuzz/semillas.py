#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: one file per case, in the byte format the targets'
reader takes (a form byte before each scalar; form 0 is the raw little-endian bits). The seeds are
the cases the unit tests know well: identities, quarter and half turns, gimbal lock, the worked
3D example, exact similarities and affine maps. Run from anywhere; rewrites tests/fuzz/corpus/."""
import math
import os
import shutil
import struct

AQUI = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(AQUI, "corpus")


def b(*valores):
    return bytes(v & 0xFF for v in valores)


def d(x):  # a double, raw bits
    return b(0) + struct.pack("<d", x)


def f(x):  # a float, raw bits
    return b(0) + struct.pack("<f", x)


def u32(x):
    return struct.pack("<I", x)


def escribe(objetivo, nombre, datos):
    carpeta = os.path.join(CORPUS, objetivo)
    os.makedirs(carpeta, exist_ok=True)
    with open(os.path.join(carpeta, nombre), "wb") as salida:
        salida.write(datos)


def senos_cosenos(w, p, k):
    return b"".join(d(v) for a in (w, p, k) for v in (math.sin(a), math.cos(a)))


def matriz_wpk(w, p, k):  # Rz(κ)·Ry(φ)·Rx(ω) by rows
    so, co, sp, cp, sk, ck = math.sin(w), math.cos(w), math.sin(p), math.cos(p), math.sin(k), math.cos(k)
    return [cp * ck, sp * so * ck - sk * co, so * sk + sp * co * ck,
            cp * sk, sp * so * sk + ck * co, sp * co * sk - so * ck,
            -sp, cp * so, cp * co]


def matrices():
    vectores = [(0.0, 0.0, 0.0), (math.pi, 0.0, 0.0), (2.0, 0.0, 0.0), (1e-9, -2e-9, 3e-9),
                (0.3, -1.2, 2.5), (1e30, 1e30, 0.0)]
    angulos = [(0.0, 0.0, 0.0), (0.1, math.pi / 2, -0.4), (0.3, 1.4, -2.0), (math.pi, -math.pi / 2, math.pi)]
    for i, (w, p, k) in enumerate(angulos):
        v = vectores[i % len(vectores)]
        fl = vectores[(i + 3) % len(vectores)]
        escribe("matrices", f"semilla{i}", senos_cosenos(w, p, k) + b"".join(d(x) for x in v) +
                b"".join(f(x) for x in fl))
    escribe("matrices", "pares_nulos", d(0) * 6 + d(0) * 3 + f(0) * 3)


def recupera():
    identidad = [1.0, 0, 0, 0, 1.0, 0, 0, 0, 1.0]
    definida = [4.0, 1.0, 0.5, 9, 2.0, 0.25, 9, 9, 3.0]
    escribe("recupera", "inversa_dbl", b(0) + b"".join(d(x) for x in definida) + d(7) * 3)
    escribe("recupera", "inversa_fl", b(1) + b"".join(f(x) for x in definida) + f(7) * 3)
    escribe("recupera", "inversa_singular", b(0) + d(0) * 9 + d(1) * 3)
    escribe("recupera", "rotacion_dbl", b(2) + b"".join(d(2 * x) for x in matriz_wpk(0.1, 0.2, 0.3)))
    escribe("recupera", "rotacion_fl", b(3) + b"".join(f(x) for x in identidad))
    escribe("recupera", "rotacion_nula", b(2) + d(0) * 9)
    rz = {  # Rz(θ) for quarter and half turns, exactly
        "rz_cuarto": [0, -1.0, 0, 1.0, 0, 0, 0, 0, 1.0],
        "rz_medio": [-1.0, 0, 0, 0, -1.0, 0, 0, 0, 1.0],
        "rz_menos_cuarto": [0, 1.0, 0, -1.0, 0, 0, 0, 0, 1.0],
        "identidad": identidad,
        "media_vuelta_x": [1.0, 0, 0, 0, -1.0, 0, 0, 0, -1.0],
        "gimbal": [0, 0, 0, 0, 0, 0, -1.0, 0, 0],
        "cerca_gimbal": matriz_wpk(0.3, 1.4, -2.0),
        "kappa_grande": matriz_wpk(0.1, 0.2, 2.5),
    }
    for nombre, m in rz.items():
        escribe("recupera", nombre, b(4, 0) + b"".join(d(x) for x in m) + u32(0xDEADBEEF) * 4)
    escribe("recupera", "desde_angulos", b(4, 1) + d(0.3) + d(-1.5) + d(2.9) + u32(7) * 4)


def medias():
    casos = {
        "envoltura": [(3.0, 0.5, 0.0), (-3.0, -0.5, 0.0)],
        "tres": [(3.0, 1.0, -1.0), (-3.1, 1.0, 0.0), (2.9, 1.0, 1.0)],
        "pi": [(math.pi, -math.pi, 0.0), (-math.pi, math.pi, 0.0)],
    }
    for nombre, triples in casos.items():
        datos = b(len(triples), 0)
        for t in triples:
            for a in t:
                datos += d(a) + f(1.0)
        escribe("medias", nombre, datos)
    escribe("medias", "vacio", b(0, 1))
    escribe("medias", "peso_cero", b(2, 0) + d(1.0) + f(1.0) + d(0) + f(1) + d(0) + f(1) +
            d(-1.0) + f(0.0) + d(0) + f(1) + d(0) + f(1))


def hel2d():
    for precision, escalar in ((0, d), (1, f)):
        for n, nombre in ((0, "vacio"), (1, "uno"), (4, "cuatro"), (12, "doce")):
            datos = b(precision, n, 1)
            for i in range(n):
                x, y = math.cos(i) * 10 + i, math.sin(i) * 5 - i
                # target: 2·Rz(0.5)·source + (100, -50)
                c, s = math.cos(0.5), math.sin(0.5)
                datos += escalar(x) + escalar(y) + escalar(2 * (c * x - s * y) + 100) + escalar(2 * (s * x + c * y) - 50)
            datos += b(5, 2, 9, 14)  # strides
            datos += b"".join(escalar(v) for v in (1, 2, 3, 4, 2, 0.6, 0.8))
            escribe("hel2d", f"{nombre}_{'dbl' if precision == 0 else 'fl'}", datos)
        escribe("hel2d", f"iguales_{precision}", b(precision, 6, 0) + escalar(1) * 2 + escalar(3) * 2 + b(0, 0, 0, 0))


def polinomica():
    for precision, escalar in ((0, d), (1, f)):
        for tipo in (0, 1, 2, 3, 4, 6, 7, 9):
            n = 12
            datos = b(precision, tipo, n)
            for i in range(n):
                x, y = (i % 4) * 3.0 - 4, (i // 4) * 2.0 - 2
                datos += escalar(x) + escalar(y) + escalar(1.5 * x - 0.25 * y + 7) + escalar(0.5 * x + 2 * y - 3)
            escribe("polinomica", f"estima_{tipo}_{precision}", datos)
        for tipo in (0, 3, 6, 7, 9):
            datos = b(2 + precision, tipo) + b"".join(escalar(v) for v in (1, 2, 10, 20))
            datos += b"".join(escalar(0.5 / (k + 1)) for k in range(18)) + escalar(3) + escalar(-4)
            escribe("polinomica", f"evalua_{tipo}_{precision}", datos)


def hel3d():
    origen = [(1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (-1.0, 0.0, 0.0), (0.0, -1.0, 0.0)]
    destino = [(10.0, 22.0, 30.0), (8.0, 20.0, 30.0), (10.0, 18.0, 30.0), (12.0, 20.0, 30.0)]
    for precision, escalar in ((0, d), (1, f)):
        for en_sitio in (0, 1):
            # n, form (odd: no sharing, no synthetic targets needs form % 2 == 0), general, centring, inverse
            datos = b(precision, 4, 2, 2, en_sitio) + (u32(1) if en_sitio else b"") + b(1)
            for o, t in zip(origen, destino):
                datos += b"".join(escalar(v) for v in o + t)
            escribe("hel3d", f"ejemplo_{precision}_{en_sitio}", datos)
        # Nine pairs on a rotation of 170° about x, the case only the general start gets right.
        datos = b(precision, 12, 2, 2, 0, 1)
        for i in range(12):
            p = (math.cos(i) * 5, math.sin(2 * i) * 3, (i % 5) - 2.0)
            c, s = math.cos(math.radians(170)), math.sin(math.radians(170))
            q = (p[0] + 1, c * p[1] - s * p[2] + 2, s * p[1] + c * p[2] + 3)
            datos += b"".join(escalar(v) for v in p + q)
        escribe("hel3d", f"general_170_{precision}", datos)
        # Synthetic similarity from angles, built by the target itself.
        datos = b(precision, 10, 1, 2, 0, 1) + b"".join(escalar(v) for v in range(60)) + d(0.4) + d(-1.0) + d(2.0) + b(0, 3, 20)
        escribe("hel3d", f"sintetico_{precision}", datos)
        datos = b(precision, 6, 0, 1, 1) + u32(1) + b(1, 3)
        datos += b"".join(escalar(v) for v in (1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 1, 2)) + b(0, 1, 2, 0, 1, 2, 2, 1, 0, 1, 0, 2)
        escribe("hel3d", f"compartidos_{precision}", datos)


if __name__ == "__main__":
    shutil.rmtree(CORPUS, ignore_errors=True)
    matrices()
    recupera()
    medias()
    hel2d()
    polinomica()
    hel3d()
